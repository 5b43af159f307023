// Conversion between the CP932 byte strings the system stores and UTF-8 / UTF-16LE text.
#pragma once

#include <string>
#include <string_view>

#include "platform/result.h"

namespace ys::codepage {

// Each conversion fails as a whole, with a message naming the offending offset, when the input
// holds a sequence that the target cannot represent or that is malformed; nothing is replaced.
Result<std::string> Cp932ToUtf8(std::string_view cp932);
Result<std::string> Utf8ToCp932(std::string_view utf8);
Result<std::string> Utf16LeToUtf8(std::string_view utf16le);
Result<std::string> Utf8ToUtf16Le(std::string_view utf8);
Result<std::string> Utf16LeToCp932(std::string_view utf16le);

// For display only: invalid input becomes U+FFFD instead of an error.
std::string Cp932ToUtf8Lossy(std::string_view cp932);

// True when every byte is 7-bit ASCII (no conversion needed either way).
bool IsAscii(std::string_view text);

}  // namespace ys::codepage
