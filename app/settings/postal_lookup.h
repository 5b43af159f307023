// The postal-code lookup over the national postal-code file (KEN_ALL.CSV): every address whose
// row carries the seven-digit code, in file order. Texts are CP932.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace ys {

inline constexpr std::string_view kPostalCodeFile = "KEN_ALL.CSV";
inline constexpr std::size_t kPostalLineBuffer = 1024;  // lines of at most 1023 bytes
inline constexpr std::size_t kMaxPostalResults = 100;

// The addresses of the rows whose field 2 is the code in double quotes: prefecture, blank, city
// and, unless the row is the municipality's catch-all row, blank and town. At most 100.
std::vector<std::string> SearchPostalCodeText(std::string_view fileText, std::string_view code);
// The same over the file; an error when it cannot be read.
Result<std::vector<std::string>> SearchPostalCode(const std::string& path, std::string_view code);

}  // namespace ys
