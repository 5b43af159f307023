#include "app/diagnosis/outlook.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "app/local_time.h"
#include "tests/app/diagnosis/sample_user.h"
#include "tests/support/temp_dir.h"

namespace ys {
namespace {

using test::TempDir;

// A range of ±15 % around 400 kWh in every month but July (300 … 520).
gencalc::WeatherRange FlatRange() {
    gencalc::WeatherRange r;
    r.expected.fill(400);
    r.low.fill(340);
    r.high.fill(460);
    r.low[6] = 300;
    r.high[6] = 520;
    return r;
}

UserData Household(int year, int month, std::initializer_list<int> generation) {
    UserData d;
    d.simDone = 1;
    d.userInfo.detailed = 1;
    d.simMonthly.fill(400);
    test::SetMonths(d, year, month, generation);
    return d;
}

TEST(OutlookRangeTable, ReadsTheRegionsRowAndRefusesWhatIsNotARange) {
    const std::string text =
        "# NEDO 日射量データベース MONSOLA-11\n"
        "site_code,low_01,low_02,low_03,low_04,low_05,low_06,low_07,low_08,low_09,low_10,low_11,"
        "low_12,high_01,high_02,high_03,high_04,high_05,high_06,high_07,high_08,high_09,high_10,"
        "high_11,high_12\r\n"
        "11001,1,1,1,1,1,1,1,1,1,1,1,1.5,2,2,2,2,2,2,2,2,2,2,2,2.5\r\n"
        "44132,2.10,2.14,2.15,3.32,4.01,3.21,2.71,3.26,1.97,2.07,1.80,1.94,"
        "3.02,3.71,4.08,5.17,5.39,5.01,6.02,5.40,3.87,3.41,2.99,2.73\n"
        "50000,2,2,2,2,2,2,2,2,2,2,2,2,1,3,3,3,3,3,3,3,3,3,3,3\n";
    auto tokyo = ParseRangeTable(text, 44132);
    ASSERT_TRUE(tokyo.ok()) << tokyo.error();
    EXPECT_DOUBLE_EQ(tokyo->dullest[0], 2.10);
    EXPECT_DOUBLE_EQ(tokyo->dullest[11], 1.94);
    EXPECT_DOUBLE_EQ(tokyo->sunniest[6], 6.02);
    EXPECT_DOUBLE_EQ(ParseRangeTable(text, 11001)->sunniest[11], 2.5);

    struct Case {
        std::int32_t region;
        const char* error;
    } cases[] = {
        {12345, "no weather range for region 12345"},
        {0, "no weather range for region 0"},
        {50000, "region 50000, month 1: the dullest year is above the sunniest"},
    };
    for (const Case& c : cases) {
        auto r = ParseRangeTable(text, c.region);
        ASSERT_FALSE(r.ok()) << c.region;
        EXPECT_EQ(r.error(), c.error);
    }
}

TEST(OutlookRangeTable, AProgramFolderWithoutTheRangeFileSaysWhatIsMissing) {
    TempDir dir;
    const std::string source = test::SourceDir() + "/resources/program/";
    dir.Write("gencalc.ini", test::ReadFile(source + "gencalc.ini"));
    dir.Write("insolation.csv", test::ReadFile(source + "insolation.csv"));
    UserData d;
    test::MakeSampleUser(d, 1.0);
    d.userInfo.regionNo = 44132;
    d.userInfo.pcCode = "NPC-55A";
    d.userInfo.pcEfficiency = 0.955;
    auto r = HouseholdWeatherRange(d.userInfo, dir.path());
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().find(dir.File("insolation_range.csv") + ": cannot open"), std::string::npos)
        << r.error();

    // With the file the engine gives a range around the mean year in every month.
    dir.Write("insolation_range.csv", test::ReadFile(source + "insolation_range.csv"));
    auto ok = HouseholdWeatherRange(d.userInfo, dir.path());
    ASSERT_TRUE(ok.ok()) << ok.error();
    for (std::size_t m = 0; m < 12; ++m) {
        EXPECT_LT(ok->low[m], ok->expected[m]) << m;
        EXPECT_GT(ok->high[m], ok->expected[m]) << m;
    }
}

TEST(Outlook, EachMonthsPositionAgainstItsRange) {
    // July 2025 first: 299 below, 300 and 520 on the bounds, 521 above; then August's bounds.
    const UserData d = Household(2025, 7, {299, 300, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 520, 521});
    const Outlook o = BuildOutlook(d, FlatRange());
    ASSERT_EQ(o.months.size(), 14u);
    struct Expect {
        std::size_t index;
        const char* label;
        std::int64_t low;
        std::int64_t high;
        Position position;
    } cases[] = {
        {0, "2025-07", 300, 520, Position::kBelow},
        {1, "2025-08", 340, 460, Position::kBelow},
        {12, "2026-07", 300, 520, Position::kWithin},
        {13, "2026-08", 340, 460, Position::kAbove},
    };
    for (const Expect& c : cases) {
        const OutlookMonth& m = o.months[c.index];
        EXPECT_EQ(MonthLabel(m), c.label);
        EXPECT_EQ(m.expected, 400);
        EXPECT_EQ(m.low, c.low);
        EXPECT_EQ(m.high, c.high);
        EXPECT_EQ(m.position, c.position) << c.label;
    }
    EXPECT_EQ(PositionOf(300, 300, 520), Position::kWithin);
    EXPECT_EQ(PositionOf(520, 300, 520), Position::kWithin);
}

TEST(Outlook, TheTwelveMonthRangeAddsVariancesNotExtremes) {
    const UserData d =
        Household(2025, 1, {400, 400, 400, 400, 400, 400, 400, 400, 400, 400, 400, 400});
    const Outlook o = BuildOutlook(d, FlatRange());
    const OutlookSummary& s = o.last12;
    EXPECT_EQ(s.months, 12);
    EXPECT_EQ(s.expected, 4800);
    const double sigma = std::sqrt(11 * std::pow(120 / 4.1, 2) + std::pow(220 / 4.1, 2));
    EXPECT_NEAR(s.sigma, sigma, 1e-9);
    EXPECT_EQ(s.low, std::llround(4800 - 2 * sigma));
    EXPECT_EQ(s.high, std::llround(4800 + 2 * sigma));
    // Far narrower than the sum of the months' extremes (4080 … 5580).
    EXPECT_GT(s.low, 11 * 340 + 300);
    EXPECT_LT(s.high, 11 * 460 + 520);
}

TEST(Outlook, TheSentenceTellsTheWeatherFromAFault) {
    struct Case {
        int monthly;
        Position position;
        const char* phrase;
    } cases[] = {
        {300, Position::kBelow, "25.0％下回り、日照の少ない年に見込まれる範囲よりも少ないため"},
        {390, Position::kWithin, "2.5％下回っていますが、天候による年ごとの変動の範囲内です。"},
        {400, Position::kWithin, "シミュレーション値以上で、天候による年ごとの変動の範囲内です。"},
        {450, Position::kAbove, "日照の多い年に見込まれる範囲よりも多く"},
    };
    for (const Case& c : cases) {
        UserData d = Household(2025, 1, {});
        std::vector<int> g(12, c.monthly);
        test::SetMonths(d, 2025, 1,
                        {c.monthly, c.monthly, c.monthly, c.monthly, c.monthly, c.monthly,
                         c.monthly, c.monthly, c.monthly, c.monthly, c.monthly, c.monthly});
        const Outlook o = BuildOutlook(d, FlatRange());
        EXPECT_EQ(o.last12.position, c.position) << c.monthly;
        EXPECT_NE(o.last12.text.find(c.phrase), std::string::npos) << o.last12.text;
        EXPECT_EQ(o.last12.text.rfind("直近12か月の発電量は", 0), 0u);
    }
}

// A household losing 2 % a year, with a weather that changes every month by up to 3 %.
UserData LosingTwoPercent(int monthCount) {
    UserData d = Household(2021, 1, {});
    for (int i = 0; i < monthCount; ++i) {
        const double weather = 1.0 + 0.03 * std::sin(i * 2.3) * std::cos(i * 0.7);
        const double ageing = std::pow(0.98, i / 12.0);
        CMonthResult& m = d.months[i];
        m = CMonthResult{};
        m.date = MakeLocalTime(2021, 1 + i, 1);
        m.generation = static_cast<std::int16_t>(std::lround(400 * weather * ageing));
    }
    d.monthCount = monthCount;
    return d;
}

TEST(Outlook, TheYearOnYearTrend) {
    // The weather differs from year to year, so single pairs scatter widely; the median holds.
    const Outlook four = BuildOutlook(LosingTwoPercent(48), FlatRange());
    ASSERT_TRUE(four.trend.has_value());
    EXPECT_NEAR(four.trend->percentPerYear, -2.0, 0.3);
    EXPECT_EQ(four.trend->pairs, 36);
    EXPECT_LT(four.trend->low, four.trend->percentPerYear);
    EXPECT_GT(four.trend->high, four.trend->percentPerYear);
    EXPECT_NE(four.trendText.find("経年変化は1年あたり"), std::string::npos) << four.trendText;

    const Outlook two = BuildOutlook(LosingTwoPercent(24), FlatRange());
    ASSERT_TRUE(two.trend.has_value());
    EXPECT_EQ(two.trend->pairs, 12);

    // Months without generation take no part.
    UserData gaps = LosingTwoPercent(36);
    gaps.months[13].generation = 0;
    EXPECT_EQ(YearOnYearTrend(gaps)->pairs, 22);
}

TEST(Outlook, NoTrendBeforeTwoYears) {
    for (int n : {1, 12, 23}) {
        const Outlook o = BuildOutlook(LosingTwoPercent(n), FlatRange());
        EXPECT_FALSE(o.trend.has_value()) << n;
        EXPECT_EQ(o.trendText, "発電実績が24か月に満たないため（現在" + std::to_string(n) +
                                   "か月）、経年変化はまだ求められません。");
    }
    // Two years whose months were never entered give no pair either.
    UserData empty = Household(2023, 1, {});
    empty.monthCount = 24;
    for (int i = 0; i < 24; ++i) empty.months[i].date = MakeLocalTime(2023, 1 + i, 1);
    const Outlook o = BuildOutlook(empty, FlatRange());
    EXPECT_FALSE(o.trend.has_value());
    EXPECT_EQ(o.trendText, "前年同月の発電実績がそろっていないため、経年変化を求められません。");
}

TEST(Outlook, JsonShape) {
    using nlohmann::ordered_json;
    const auto check = [](const Outlook& o, bool withTrend) {
        const ordered_json j = ordered_json::parse(OutlookJson(o));
        std::vector<std::string> keys;
        for (const auto& [k, v] : j.items()) keys.push_back(k);
        EXPECT_EQ(keys, (std::vector<std::string>{"months", "last12", "trend", "trendText"}));
        ASSERT_EQ(j["months"].size(), o.months.size());
        const ordered_json& m = j["months"][0];
        std::vector<std::string> monthKeys;
        for (const auto& [k, v] : m.items()) monthKeys.push_back(k);
        EXPECT_EQ(monthKeys, (std::vector<std::string>{"month", "real", "expected", "low", "high",
                                                       "position"}));
        EXPECT_EQ(m["month"], MonthLabel(o.months[0]));
        EXPECT_EQ(m["real"], o.months[0].real);
        const ordered_json& s = j["last12"];
        EXPECT_EQ(s["real"], o.last12.real);
        EXPECT_EQ(s["expected"], o.last12.expected);
        EXPECT_EQ(s["low"], o.last12.low);
        EXPECT_EQ(s["high"], o.last12.high);
        EXPECT_EQ(s["position"], std::string(PositionName(o.last12.position)));
        EXPECT_EQ(s["text"], o.last12.text);
        if (withTrend) {
            EXPECT_TRUE(j["trend"]["percentPerYear"].is_number());
            EXPECT_EQ(j["trend"]["pairs"], o.trend->pairs);
            EXPECT_NEAR(j["trend"]["low"].get<double>(), o.trend->low, 0.05);
            EXPECT_NEAR(j["trend"]["high"].get<double>(), o.trend->high, 0.05);
        } else {
            EXPECT_TRUE(j["trend"].is_null());
        }
    };
    check(BuildOutlook(LosingTwoPercent(40), FlatRange()), true);
    check(BuildOutlook(LosingTwoPercent(5), FlatRange()), false);
    UserData quoted = LosingTwoPercent(3);
    const Outlook o = BuildOutlook(quoted, FlatRange());
    EXPECT_EQ(PositionName(Position::kBelow), "below");
    EXPECT_EQ(PositionName(Position::kWithin), "within");
    EXPECT_EQ(PositionName(Position::kAbove), "above");
    EXPECT_EQ(OutlookJson(o).rfind("{\"months\": [\n  {\"month\": \"2021-01\", \"real\": ", 0), 0u);
}

}  // namespace
}  // namespace ys
