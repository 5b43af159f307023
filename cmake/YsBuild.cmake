# Shared compile settings for every target of the project.

add_library(ys_options INTERFACE)
target_compile_options(ys_options INTERFACE -Wall -Wextra -Wpedantic)
target_include_directories(ys_options INTERFACE ${PROJECT_SOURCE_DIR})
if(YS_WERROR)
  target_compile_options(ys_options INTERFACE -Werror)
endif()

if(YS_SANITIZE)
  add_compile_options(-fsanitize=${YS_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${YS_SANITIZE})
endif()

# ys_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [QT])
# One GoogleTest executable; its cases are registered with ctest one by one. QT: a widget test
# (QApplication on the offscreen platform, message boxes answered through the test seam).
function(ys_add_test)
  cmake_parse_arguments(T "QT" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  if(T_QT)
    set(support ys_testsupport_qt)
  else()
    set(support ys_testsupport)
  endif()
  target_link_libraries(${T_NAME} PRIVATE ys_options ${support} ${T_LIBS} GTest::gtest)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # One value per property: gtest_discover_tests flattens PROPERTIES into one list, so a value
  # holding ";" would spill into the next property (the test mains set the time zone and the Qt
  # platform themselves; the folders have compiled-in defaults).
  set(props ENVIRONMENT "TZ=Asia/Tokyo")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${T_NAME}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests
    PROPERTIES ${props}
    DISCOVERY_TIMEOUT 60)
endfunction()
