#include "devices/monitor_unit/demo_history.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>

namespace ys::monitor_unit {
namespace {

// Clear-sky-ish yield in kWh per kW and day, January to December, for a south-facing roof in
// Tokyo; with the weather below each month averages what the simulation expects there, about
// 1,050 kWh per kW a year.
constexpr std::array<double, 12> kDailyYield = {3.14, 3.56, 3.62, 3.98, 3.82, 3.78,
                                                3.61, 3.40, 3.07, 3.04, 2.92, 2.84};
// Chance of a rainy day by month (dry winters, the rainy season in June and July, typhoons in
// September, the autumn rains).
constexpr std::array<double, 12> kRainChance = {0.1, 0.16, 0.24, 0.24, 0.22, 0.36,
                                                0.3, 0.2,  0.28, 0.26, 0.26, 0.1};
constexpr double kCloudChance = 0.3;
constexpr double kDegradationPerYear = 0.005;
constexpr int kInstallDay = 15;  // the day of the installation month the unit started

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
long long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy =
        (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct Civil {
    int y, m, d;
};
Civil CivilFromDays(long long z) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int y = static_cast<int>(yoe + era * 400) + (m <= 2);
    return {y, m, d};
}

// A small deterministic generator seeded by the date, so that a day looks the same in every run.
class Dice {
public:
    explicit Dice(std::uint64_t seed)
        : state_(seed * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }

private:
    std::uint64_t state_;
};

std::int16_t Clamp16(double v) {
    return static_cast<std::int16_t>(std::clamp(std::lround(v), 0L, 32767L));
}

struct DaySample {
    double kwh;
    std::uint8_t weather;  // 1 sunny, 2 cloudy, 3 rain
};

DaySample SampleDay(const DemoSite& site, long long day, const Civil& c) {
    Dice dice(static_cast<std::uint64_t>(day));
    const double w = dice.Unit();
    const double rain = kRainChance[static_cast<std::size_t>(c.m - 1)];
    DaySample s{};
    double factor;
    if (w < rain) {
        factor = 0.1 + 0.2 * dice.Unit();
        s.weather = 3;
    } else if (w < rain + kCloudChance) {
        factor = 0.5 + 0.4 * dice.Unit();
        s.weather = 2;
    } else {
        factor = 1.15 + 0.2 * dice.Unit();
        s.weather = 1;
    }
    const double years =
        static_cast<double>(day - DaysFromCivil(site.installYear, site.installMonth, 1)) / 365.25;
    const double ageing = 1.0 - kDegradationPerYear * std::max(0.0, years);
    s.kwh = site.capacityKw * kDailyYield[static_cast<std::size_t>(c.m - 1)] * factor * ageing;
    return s;
}

ErrorEntry SampleError(Dice& dice, const Civil& c) {
    ErrorEntry e;
    const int k = dice.Below(100);
    if (k < 70) {
        e.kind = 1;
        e.code = static_cast<std::uint8_t>(1 + dice.Below(15));
    } else if (k < 85) {
        e.kind = 2;
        e.code = static_cast<std::uint8_t>(1 + dice.Below(8));
    } else if (k < 95) {
        e.kind = 0x81;
        e.code = static_cast<std::uint8_t>(dice.Below(4));
    } else {
        e.kind = 0x82;
        e.code = static_cast<std::uint8_t>(dice.Below(4));
    }
    e.yearOffset = c.y - kBaseYear;
    e.month = c.m;
    e.day = c.d;
    e.hour = 7 + dice.Below(11);
    e.minute = dice.Below(60);
    return e;
}

template <class Entry>
Ring<Entry> LastOf(std::vector<Entry> all, int slots) {
    Ring<Entry> ring;
    ring.start = RingStartAfter(static_cast<long long>(all.size()), slots);
    const std::size_t keep = std::min(all.size(), static_cast<std::size_t>(slots));
    ring.entries.assign(all.end() - static_cast<std::ptrdiff_t>(keep), all.end());
    return ring;
}

}  // namespace

MonitorHistory GenerateDemoHistory(const DemoSite& site) {
    const long long first = DaysFromCivil(site.installYear, site.installMonth, kInstallDay);
    const long long today = DaysFromCivil(site.todayYear, site.todayMonth, site.todayDay);
    const long long thisMonth = DaysFromCivil(site.todayYear, site.todayMonth, 1);

    std::vector<ErrorEntry> errors;
    std::vector<GenerationEntry> days;
    struct MonthSum {
        double kwh = 0, sold = 0, bought = 0;
    };
    std::map<int, MonthSum> months;  // key year * 12 + month - 1, in date order
    for (long long day = first; day < today; ++day) {
        const Civil c = CivilFromDays(day);
        const DaySample s = SampleDay(site, day, c);
        Dice dice(static_cast<std::uint64_t>(day) ^ 0xE770);
        const double sold = s.kwh * (0.55 + 0.2 * dice.Unit());
        const double bought = 6.0 + 6.0 * dice.Unit();
        GenerationEntry e;
        e.date = {c.y - kBaseYear, c.m, c.d};
        e.generation = Clamp16(s.kwh);
        e.extra = {Clamp16(sold), Clamp16(bought), Clamp16(s.kwh - sold), 0};
        e.flags[0] = s.weather;
        days.push_back(e);
        if (day < thisMonth) {
            MonthSum& m = months[c.y * 12 + c.m - 1];
            m.kwh += s.kwh;
            m.sold += sold;
            m.bought += bought;
        }
        if (dice.Below(40) == 0) errors.push_back(SampleError(dice, c));
    }
    std::vector<GenerationEntry> monthEntries;
    for (const auto& [key, sum] : months) {
        GenerationEntry e;
        e.date = {key / 12 - kBaseYear, key % 12 + 1, 1};
        e.generation = Clamp16(sum.kwh);
        e.extra = {Clamp16(sum.sold), Clamp16(sum.bought), Clamp16(sum.kwh - sum.sold), 0};
        monthEntries.push_back(e);
    }
    return {LastOf(std::move(errors), kErrorTable.entries),
            LastOf(std::move(days), kDayTable.entries),
            LastOf(std::move(monthEntries), kMonthTable.entries)};
}

}  // namespace ys::monitor_unit
