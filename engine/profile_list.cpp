#include "engine/profile_list.h"

#include <locale.h>
#include <stdlib.h>

#include <cerrno>
#include <cmath>
#include <limits>

namespace ys::gencalc {
namespace {

constexpr std::string_view kNotFound = "NOT_FOUND";

// Length in UTF-16 units, the unit in which the buffers were sized.
std::size_t WideLength(std::string_view utf8) {
    std::size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) == 0x80) continue;
        units += (c >= 0xF0) ? 2 : 1;
    }
    return units;
}

// Cuts UTF-8 text after `maxUnits` UTF-16 units, never inside a character.
std::string_view CutWide(std::string_view utf8, std::size_t maxUnits) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xC0) == 0x80) continue;
        std::size_t width = (c >= 0xF0) ? 2 : 1;
        if (units + width > maxUnits) return utf8.substr(0, i);
        units += width;
    }
    return utf8;
}

locale_t CLocale() {
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

}  // namespace

int ReadProfileList(std::string_view section, std::string_view key,
                    const ys::profile::Document& file, SimulationContext& ctx) {
    for (auto& field : ctx.listBuffer) field.clear();
    auto found = file.Find(section, key);
    if (!found || *found == kNotFound) return kListMissing;
    const std::string_view value = *found;
    // A value cut by the reader's buffer would silently lose fields.
    if (WideLength(value) > kProfileValueChars) return kListTooLong;

    int count = 0;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = value.find(',', start);
        std::string_view field = value.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (count == kListFields || WideLength(field) > kListFieldChars) return kListTooLong;
        ctx.listBuffer[static_cast<std::size_t>(count++)].assign(field);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return count;
}

std::string ReadProfileString(std::string_view section, std::string_view key, std::string_view def,
                              const ys::profile::Document& file) {
    auto found = file.Find(section, key);
    return std::string(CutWide(found ? std::string_view(*found) : def, kProfileValueChars));
}

double ParseReal(std::string_view text) {
    const std::string copy(text);  // strtod needs the terminator
    const int savedErrno = errno;
    double value = ::strtod_l(copy.c_str(), nullptr, CLocale());
    errno = savedErrno;
    return value;
}

double ParseListReal(std::string_view text) {
    // Narrowing a value beyond the float range gives infinity, as the conversion always did.
    double wide = ParseReal(text);
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    if (std::fabs(wide) > kFloatMax) {
        return std::copysign(std::numeric_limits<double>::infinity(), wide);
    }
    return static_cast<double>(static_cast<float>(wide));
}

std::int32_t ParseInteger(std::string_view text) {
    std::size_t i = 0;
    auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr long long kLimit = 1LL << 31;
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (v <= kLimit) v = v * 10 + (text[i] - '0');
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

}  // namespace ys::gencalc
