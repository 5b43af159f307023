#include "tools/monitor_sim/unit_options.h"

#include <cstdlib>

#include "devices/monitor_unit/image_encoder.h"
#include "platform/atomic_file.h"
#include "platform/number.h"

namespace ys::monitor_unit {
namespace {

// The whole of `s` as a number into `out`.
bool ParseInto(std::string_view s, int& out) {
    const std::optional<int> v = ParseNumber<int>(s);
    if (v) out = *v;
    return v.has_value();
}

}  // namespace

bool ParseDate(std::string_view s, int& y, int& m, int* d) {
    const std::size_t n = d ? 10 : 7;
    if (s.size() != n || s[4] != '-' || (d && s[7] != '-')) return false;
    if (!ParseInto(s.substr(0, 4), y) || !ParseInto(s.substr(5, 2), m) || m < 1 || m > 12) {
        return false;
    }
    return !d || (ParseInto(s.substr(8, 2), *d) && *d >= 1 && *d <= 31);
}

void SetToday(DemoSite& site, std::time_t now) {
    std::tm tm{};
    ::localtime_r(&now, &tm);
    site.todayYear = tm.tm_year + 1900;
    site.todayMonth = tm.tm_mon + 1;
    site.todayDay = tm.tm_mday;
}

UnitOption ParseUnitOption(std::string_view a,
                           const std::function<std::optional<std::string_view>()>& value,
                           UnitOptions& o, std::string& error) {
    if (a == "--demo") {
        o.demo = true;
        return UnitOption::kTaken;
    }
    if (a != "--image" && a != "--capacity" && a != "--install" && a != "--today" &&
        a != "--fault") {
        return UnitOption::kNotOne;
    }
    const std::optional<std::string_view> v = value();
    auto bad = [&](std::string what) {
        error = std::move(what);
        return UnitOption::kBad;
    };
    if (!v) return bad(std::string(a) + " needs a value");
    if (a == "--image") {
        o.imageFile = *v;
    } else if (a == "--capacity") {
        const std::string text(*v);
        char* end = nullptr;
        o.site.capacityKw = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(o.site.capacityKw > 0) || o.site.capacityKw > 1000) {
            return bad("--capacity takes kW, for example 4.5");
        }
    } else if (a == "--install") {
        if (!ParseDate(*v, o.site.installYear, o.site.installMonth, nullptr) ||
            o.site.installYear < 1996 || o.site.installYear > 2122) {
            return bad("--install takes YYYY-MM, from 1996 to 2122");
        }
    } else if (a == "--today") {
        if (!ParseDate(*v, o.site.todayYear, o.site.todayMonth, &o.site.todayDay)) {
            return bad("--today takes YYYY-MM-DD");
        }
    } else if (!ParseFault(*v, o.fault)) {
        return bad("unknown fault \"" + std::string(*v) + "\"");
    }
    return UnitOption::kTaken;
}

Result<std::vector<std::uint8_t>> LoadUnitImage(const UnitOptions& o) {
    if (o.demo) {
        auto encoded = EncodeMemoryImage(GenerateDemoHistory(o.site));
        if (!encoded) return Error{encoded.error()};
        return std::vector<std::uint8_t>(encoded->begin(), encoded->end());
    }
    auto bytes = files::ReadWholeFile(o.imageFile);
    if (!bytes) return Error{o.imageFile + ": " + bytes.error()};
    if (bytes->size() != kImageSize) {
        return Error{o.imageFile + ": " + std::to_string(bytes->size()) +
                     " bytes; a memory image has " + std::to_string(kImageSize)};
    }
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

}  // namespace ys::monitor_unit
