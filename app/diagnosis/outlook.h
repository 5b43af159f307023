// The outlook: each month's real generation against the natural range of the weather (the
// expected generation of the dullest and of the sunniest year of 1981-2009), the same for the
// twelve months the diagnosis uses, and the year-on-year trend of the installation's yield.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_data.h"
#include "engine/weather_range.h"
#include "platform/result.h"

namespace ys {

inline constexpr std::string_view kRangeTableFile = "insolation_range.csv";

// The expected range of 29 normal samples is about 4.1 standard deviations.
inline constexpr double kRangeInSigmas = 4.1;
// The twelve-month range: expected ± 2 σ, about 95 % of years.
inline constexpr double kSummarySigmas = 2.0;
// Year-on-year pairs need two years of records.
inline constexpr int kTrendMinMonths = 24;

// A region's dullest and sunniest year, monthly mean daily global horizontal insolation.
struct RegionExtremes {
    gencalc::MonthTable dullest{};   // kWh/m2/day, January first
    gencalc::MonthTable sunniest{};  // kWh/m2/day
};
// The row of `regionNo` in the range table's text; an error when it has none.
Result<RegionExtremes> ParseRangeTable(std::string_view text, std::int32_t regionNo);
Result<RegionExtremes> LoadRangeTable(const std::string& path, std::int32_t regionNo);

// The installation's expected monthly generation in the mean, dullest and sunniest year, run by
// the engine in-process with the program folder's region table, range table and constants.
Result<gencalc::WeatherRange> HouseholdWeatherRange(const CUserInfo& info,
                                                    const std::string& programDir);

enum class Position { kBelow, kWithin, kAbove };
std::string_view PositionName(Position p);  // "below", "within", "above"
Position PositionOf(double real, double low, double high);

struct OutlookMonth {
    int year = 0;
    int month = 0;  // 1-12
    std::int64_t real = 0;
    std::int64_t expected = 0;
    std::int64_t low = 0;
    std::int64_t high = 0;
    Position position = Position::kWithin;
};

struct OutlookSummary {
    int months = 0;  // records in the diagnosis window
    std::int64_t real = 0;
    std::int64_t expected = 0;
    std::int64_t low = 0;  // expected - 2 σ, whole kWh
    std::int64_t high = 0;
    double sigma = 0;  // kWh
    Position position = Position::kWithin;
    std::string text;  // UTF-8
};

struct Trend {
    double percentPerYear = 0;  // median of the year-on-year changes
    int pairs = 0;
    double low = 0;   // 16th percentile
    double high = 0;  // 84th percentile
};

struct Outlook {
    std::vector<OutlookMonth> months;  // the whole month table, oldest first
    OutlookSummary last12;
    std::optional<Trend> trend;
    std::string trendText;  // UTF-8; says why when there is no trend
};

// The outlook of the user's month table for a weather range (indexed by calendar month). The
// expected generation is the stored simulation's.
Outlook BuildOutlook(const UserData& data, const gencalc::WeatherRange& range);

// The median and the 16th and 84th percentiles (linear between order statistics) of the
// year-on-year changes of each calendar month's real/expected ratio, in percent per year; months
// without generation or without expectation take no part. nullopt without a pair.
std::optional<Trend> YearOnYearTrend(const UserData& data);

// {"months": [...], "last12": {...}, "trend": {...} | null, "trendText": "..."}
std::string OutlookJson(const Outlook& outlook);

// "YYYY-MM".
std::string MonthLabel(const OutlookMonth& m);

}  // namespace ys
