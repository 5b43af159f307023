// The one parser of whole numbers in text: the complete text must be the number, in range.
#pragma once

#include <charconv>
#include <concepts>
#include <optional>
#include <string_view>

namespace ys {

// The integer that `text` spells out entirely (no blanks, no sign for an unsigned type, no
// trailing characters); nullopt when it is anything else or does not fit `T`.
template <std::integral T>
std::optional<T> ParseNumber(std::string_view text, int base = 10) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc() || p != end) return std::nullopt;
    return value;
}

}  // namespace ys
