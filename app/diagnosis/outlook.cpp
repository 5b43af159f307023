#include "app/diagnosis/outlook.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include "app/diagnosis/verdict.h"
#include "app/local_time.h"
#include "app/settings/region_table.h"
#include "app/settings/simulation_request.h"
#include "engine/constants.h"
#include "engine/profile_list.h"
#include "engine/request.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace ys {
namespace {

constexpr std::size_t kRangeFields = 1 + 2 * gencalc::kMonths;

std::string Fixed(double v, int decimals) {
    // "-0.0" says nothing a reader wants to know.
    if (std::fabs(v) < 0.5 * std::pow(10.0, -decimals)) v = 0;
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0");
}

std::string Signed(double v) {
    std::string s = Fixed(v, 1);
    return s.front() == '-' || s == "0.0" ? s : "+" + s;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = line.find(',', start);
        out.push_back(
            line.substr(start, comma == std::string_view::npos ? line.npos : comma - start));
        if (comma == std::string_view::npos) return out;
        start = comma + 1;
    }
}

double Percentile(const std::vector<double>& sorted, double p) {
    const double pos = p * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(pos));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (sorted[above] - sorted[below]) * (pos - static_cast<double>(below));
}

std::string SummaryText(const OutlookSummary& s) {
    const std::string period = "直近" + std::to_string(s.months) + "か月の発電量は";
    const double shortfall = s.expected > 0 ? 100.0 * static_cast<double>(s.expected - s.real) /
                                                  static_cast<double>(s.expected)
                                            : 0;
    switch (s.position) {
        case Position::kBelow:
            return period + "シミュレーション値を" + Fixed(shortfall, 1) +
                   "％下回り、日照の少ない年に見込まれる範囲よりも少ないため、天候だけでは説明でき"
                   "ず、"
                   "機器異常の可能性があります。";
        case Position::kAbove:
            return period +
                   "日照の多い年に見込まれる範囲よりも多く、システムは順調に稼働していると思われま"
                   "す。";
        case Position::kWithin:
            break;
    }
    if (s.real < s.expected) {
        return period + "シミュレーション値を" + Fixed(shortfall, 1) +
               "％下回っていますが、天候による年ごとの変動の範囲内です。";
    }
    return period + "シミュレーション値以上で、天候による年ごとの変動の範囲内です。";
}

std::string TrendText(const std::optional<Trend>& trend, int monthCount) {
    if (monthCount < kTrendMinMonths) {
        return "発電実績が" + std::to_string(kTrendMinMonths) + "か月に満たないため（現在" +
               std::to_string(monthCount) + "か月）、経年変化はまだ求められません。";
    }
    if (!trend) return "前年同月の発電実績がそろっていないため、経年変化を求められません。";
    return "経年変化は1年あたり" + Signed(trend->percentPerYear) + "％です（前年同月との比較" +
           std::to_string(trend->pairs) + "組、範囲" + Signed(trend->low) + "〜" +
           Signed(trend->high) + "％）。";
}

std::string JsonString(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

Result<RegionExtremes> ParseRangeTable(std::string_view text, std::int32_t regionNo) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto fields = SplitFields(line);
        if (fields.size() < kRangeFields || fields[0].empty() || fields[0].front() == '#') continue;
        const std::int32_t number = gencalc::ParseInteger(fields[0]);
        if (number != regionNo || number <= 0) continue;
        RegionExtremes out;
        for (std::size_t m = 0; m < gencalc::kMonths; ++m) {
            out.dullest[m] = gencalc::ParseReal(fields[1 + m]);
            out.sunniest[m] = gencalc::ParseReal(fields[1 + gencalc::kMonths + m]);
            if (!(out.dullest[m] >= 0) || !(out.sunniest[m] >= out.dullest[m])) {
                return Error{"region " + std::to_string(regionNo) + ", month " +
                             std::to_string(m + 1) + ": the dullest year is above the sunniest"};
            }
        }
        return out;
    }
    return Error{"no weather range for region " + std::to_string(regionNo)};
}

Result<RegionExtremes> LoadRangeTable(const std::string& path, std::int32_t regionNo) {
    auto text = files::ReadWholeFile(path);
    if (!text) return Error{path + ": cannot open: " + text.error()};
    auto row = ParseRangeTable(*text, regionNo);
    if (!row) return Error{path + ": " + row.error()};
    return row;
}

Result<gencalc::WeatherRange> HouseholdWeatherRange(const CUserInfo& info,
                                                    const std::string& programDir) {
    if (!SimulationPreconditionMet(info)) return Error{"no region chosen or no capacity"};
    auto extremes =
        LoadRangeTable(paths::Join(programDir, std::string(kRangeTableFile)), info.regionNo);
    if (!extremes) return Error{extremes.error()};
    const std::string regionPath = paths::Join(programDir, std::string(kRegionTableFile));
    auto row = ReadRegionFields(regionPath, info.regionNo);
    if (!row) return Error{row.error()};
    if ((*row)[8].empty()) {
        return Error{regionPath + ": no row for region " + std::to_string(info.regionNo)};
    }
    const std::string constantsPath =
        paths::Join(programDir, std::string(gencalc::kConstantsFileName));
    auto ctx = std::make_unique<gencalc::SimulationContext>();
    if (gencalc::LoadConstants(*ctx, constantsPath) != 0) {
        return Error{constantsPath + ": the engine's constants cannot be read"};
    }
    const auto request = profile::Document::Parse(BuildSimulationRequest(info, *row));
    if (Status s = gencalc::ReadRequest(*ctx, request); !s.ok()) {
        return Error{"the installation cannot be simulated: " + s.error()};
    }
    return gencalc::ComputeWeatherRange(*ctx, extremes->dullest, extremes->sunniest);
}

std::string_view PositionName(Position p) {
    switch (p) {
        case Position::kBelow:
            return "below";
        case Position::kAbove:
            return "above";
        case Position::kWithin:
            break;
    }
    return "within";
}

Position PositionOf(double real, double low, double high) {
    if (real < low) return Position::kBelow;
    if (real > high) return Position::kAbove;
    return Position::kWithin;
}

std::optional<Trend> YearOnYearTrend(const UserData& data) {
    const int n = std::clamp(data.monthCount, 0, kMaxMonths);
    std::map<int, double> ratios;  // year * 12 + month index → real / expected
    for (int k = 0; k < n; ++k) {
        const LocalDateTime t = ToLocal(data.months[k].date);
        const auto real = static_cast<std::uint16_t>(data.months[k].generation);
        const std::int32_t expected = data.simMonthly[static_cast<std::size_t>(t.month - 1)];
        if (real == 0 || expected <= 0) continue;
        ratios[t.year * 12 + t.month - 1] = static_cast<double>(real) / expected;
    }
    std::vector<double> changes;
    for (const auto& [key, ratio] : ratios) {
        const auto next = ratios.find(key + 12);
        if (next != ratios.end()) changes.push_back(100.0 * (next->second / ratio - 1.0));
    }
    if (changes.empty()) return std::nullopt;
    std::sort(changes.begin(), changes.end());
    return Trend{Percentile(changes, 0.5), static_cast<int>(changes.size()),
                 Percentile(changes, 0.16), Percentile(changes, 0.84)};
}

Outlook BuildOutlook(const UserData& data, const gencalc::WeatherRange& range) {
    Outlook out;
    const int n = std::clamp(data.monthCount, 0, kMaxMonths);
    for (int k = 0; k < n; ++k) {
        const LocalDateTime t = ToLocal(data.months[k].date);
        const auto c = static_cast<std::size_t>(t.month - 1);
        OutlookMonth m;
        m.year = t.year;
        m.month = t.month;
        m.real = static_cast<std::uint16_t>(data.months[k].generation);
        m.expected = data.simMonthly[c];
        m.low = range.low[c];
        m.high = range.high[c];
        m.position = PositionOf(static_cast<double>(m.real), static_cast<double>(m.low),
                                static_cast<double>(m.high));
        out.months.push_back(m);
    }

    // No year is the dullest in every month: the months' spreads add as variances.
    const MonthWindow w = LastTwelveMonths(data);
    double variance = 0;
    for (int k = w.first; k < w.end; ++k) {
        const OutlookMonth& m = out.months[static_cast<std::size_t>(k)];
        out.last12.real += m.real;
        out.last12.expected += m.expected;
        const double sigma = static_cast<double>(m.high - m.low) / kRangeInSigmas;
        variance += sigma * sigma;
        ++out.last12.months;
    }
    OutlookSummary& s = out.last12;
    s.sigma = std::sqrt(variance);
    s.low = std::llround(static_cast<double>(s.expected) - kSummarySigmas * s.sigma);
    s.high = std::llround(static_cast<double>(s.expected) + kSummarySigmas * s.sigma);
    s.position = PositionOf(static_cast<double>(s.real), static_cast<double>(s.low),
                            static_cast<double>(s.high));
    s.text = SummaryText(s);

    out.trend = n >= kTrendMinMonths ? YearOnYearTrend(data) : std::nullopt;
    out.trendText = TrendText(out.trend, n);
    return out;
}

std::string MonthLabel(const OutlookMonth& m) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d", m.year, m.month);
    return buf;
}

std::string OutlookJson(const Outlook& o) {
    std::string j = "{\"months\": [";
    for (std::size_t i = 0; i < o.months.size(); ++i) {
        const OutlookMonth& m = o.months[i];
        j += i == 0 ? "\n  " : ",\n  ";
        j += "{\"month\": " + JsonString(MonthLabel(m)) + ", \"real\": " + std::to_string(m.real) +
             ", \"expected\": " + std::to_string(m.expected) +
             ", \"low\": " + std::to_string(m.low) + ", \"high\": " + std::to_string(m.high) +
             ", \"position\": " + JsonString(PositionName(m.position)) + "}";
    }
    const OutlookSummary& s = o.last12;
    j += "],\n \"last12\": {\"real\": " + std::to_string(s.real) +
         ", \"expected\": " + std::to_string(s.expected) + ", \"low\": " + std::to_string(s.low) +
         ", \"high\": " + std::to_string(s.high) +
         ", \"position\": " + JsonString(PositionName(s.position)) +
         ", \"text\": " + JsonString(s.text) + ", \"months\": " + std::to_string(s.months) + "},\n";
    if (o.trend) {
        j += " \"trend\": {\"percentPerYear\": " + Fixed(o.trend->percentPerYear, 1) +
             ", \"pairs\": " + std::to_string(o.trend->pairs) +
             ", \"low\": " + Fixed(o.trend->low, 1) + ", \"high\": " + Fixed(o.trend->high, 1) +
             "},\n";
    } else {
        j += " \"trend\": null,\n";
    }
    j += " \"trendText\": " + JsonString(o.trendText) + "}\n";
    return j;
}

}  // namespace ys
