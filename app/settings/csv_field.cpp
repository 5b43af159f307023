#include "app/settings/csv_field.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

namespace ys {
namespace {

bool IsTrimmed(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

std::string_view NextCsvField(std::string_view line, std::size_t& pos, bool& finished) {
    while (pos < line.size() && line[pos] == ',') ++pos;
    if (pos >= line.size()) {
        finished = true;
        return {};
    }
    const std::size_t start = pos;
    const std::size_t comma = line.find(',', start);
    if (comma == std::string_view::npos) {
        pos = line.size();
        return line.substr(start);
    }
    pos = comma + 1;
    return line.substr(start, comma - start);
}

std::string TreatCsvField(std::string_view field) {
    std::string out(field);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (IsCp932LeadByte(c) && i + 1 < out.size()) {
            ++i;
        } else if (c == '"') {
            out[i] = ' ';
        }
    }
    std::size_t b = 0;
    std::size_t e = out.size();
    while (b < e && IsTrimmed(out[b])) ++b;
    while (e > b && IsTrimmed(out[e - 1])) --e;
    return out.substr(b, e - b);
}

std::int32_t LeadingInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t v = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > kLimit) v = kLimit;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max()) v = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(v);
}

double LeadingReal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    double v = 0.0;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    auto r = std::from_chars(first, last, v, std::chars_format::general);
    return r.ec == std::errc() ? v : 0.0;
}

bool LineReader::Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const std::size_t limit = std::min(text_.size() - pos_, max_);
    const void* nl = std::memchr(text_.data() + pos_, '\n', limit);
    const std::size_t len =
        nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - (text_.data() + pos_)) + 1
           : limit;
    line = text_.substr(pos_, len);
    pos_ += len;
    return true;
}

}  // namespace ys
