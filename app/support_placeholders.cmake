# cmake -DDIR=<program folder> -DFILES=<a;b;c> -P support_placeholders.cmake
# Creates each missing file empty; an existing file is left exactly as it is.
foreach(name IN LISTS FILES)
  if(NOT EXISTS "${DIR}/${name}")
    file(TOUCH "${DIR}/${name}")
    message(STATUS "Empty stand-in for the missing support file ${name}")
  endif()
endforeach()
