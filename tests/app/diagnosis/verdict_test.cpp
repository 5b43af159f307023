#include "app/diagnosis/verdict.h"

#include <gtest/gtest.h>

#include "app/diagnosis/comparison_chart.h"
#include "app/local_time.h"
#include "platform/codepage.h"
#include "tests/app/diagnosis/sample_user.h"

namespace ys {
namespace {

using test::SetMonths;

// Twelve months of 2025 with a simulation that sums to 1000 kWh over the year.
UserData YearWithSimulationOf1000() {
    UserData d;
    d.simMonthly = {80, 80, 80, 80, 80, 80, 80, 80, 80, 80, 100, 100};
    d.simDone = 1;
    return d;
}

TEST(DiagnoseTest, RatioBoundariesAtNinetyAndHundredPercent) {
    UserData d = YearWithSimulationOf1000();
    SetMonths(d, 2025, 1, {75, 75, 75, 75, 75, 75, 75, 75, 75, 75, 75, 75});  // 900
    DiagnosisResult r = Diagnose(d);
    EXPECT_EQ(r.realSum, 900);
    EXPECT_EQ(r.simSum, 1000);
    EXPECT_DOUBLE_EQ(r.ratio, 0.9);
    EXPECT_EQ(r.verdict, Verdict::kFair);

    SetMonths(d, 2025, 1, {75, 75, 75, 75, 75, 75, 75, 75, 75, 75, 75, 74});  // 899
    EXPECT_EQ(Diagnose(d).verdict, Verdict::kPoor);

    SetMonths(d, 2025, 1, {75, 75, 75, 75, 75, 75, 75, 75, 75, 75, 75, 175});  // 1000
    r = Diagnose(d);
    EXPECT_EQ(r.realSum, 1000);
    EXPECT_EQ(r.verdict, Verdict::kGood);
    EXPECT_FALSE(r.noData);
}

TEST(DiagnoseTest, GenerationIsReadAsUnsigned) {
    UserData d;
    d.simMonthly[6] = 40000;
    SetMonths(d, 2025, 7, {40000});
    ASSERT_LT(d.months[0].generation, 0);  // as stored
    DiagnosisResult r = Diagnose(d);
    EXPECT_EQ(r.realSum, 40000);
    EXPECT_EQ(r.verdict, Verdict::kGood);
}

TEST(DiagnoseTest, ComparesOnlyTheLastTwelveRecords) {
    UserData d;
    d.simMonthly.fill(100);
    // Fifteen records: the first three are empty and would pull the ratio down to 0.8.
    SetMonths(d, 2024, 10, {0, 0, 0, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100});
    DiagnosisResult r = Diagnose(d);
    EXPECT_EQ(r.months, 12);
    EXPECT_EQ(r.simSum, 1200);
    EXPECT_EQ(r.verdict, Verdict::kGood);

    SetMonths(d, 2025, 1, {100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 50});
    r = Diagnose(d);
    EXPECT_EQ(r.months, 12);
    EXPECT_EQ(r.realSum, 1150);
    EXPECT_EQ(r.verdict, Verdict::kFair);

    SetMonths(d, 2025, 10, {50, 60, 70});
    r = Diagnose(d);
    EXPECT_EQ(r.months, 3);
    EXPECT_EQ(r.simSum, 300);
    EXPECT_EQ(r.realSum, 180);
    EXPECT_EQ(r.verdict, Verdict::kPoor);
}

TEST(DiagnoseTest, WithoutRealOrSimulatedGenerationThereIsNoVerdict) {
    UserData d;
    d.simMonthly.fill(100);
    SetMonths(d, 2025, 1, {0, 0, 0, 0});
    DiagnosisResult r = Diagnose(d);
    EXPECT_TRUE(r.noData);
    EXPECT_EQ(r.verdict, Verdict::kNone);

    d.simMonthly.fill(0);
    SetMonths(d, 2025, 1, {300, 300, 300});
    r = Diagnose(d);
    EXPECT_TRUE(r.noData);
    EXPECT_EQ(r.verdict, Verdict::kNone);

    UserData empty;
    empty.simMonthly.fill(100);
    EXPECT_TRUE(Diagnose(empty).noData);
}

TEST(DiagnoseTest, TwoRecordsOfOneMonthBothCountItsSimulation) {
    UserData d;
    d.simMonthly[2] = 500;
    SetMonths(d, 2025, 3, {450});
    d.months[1] = d.months[0];
    d.months[1].date = MakeLocalTime(2025, 3, 15);
    d.monthCount = 2;
    DiagnosisResult r = Diagnose(d);
    EXPECT_EQ(r.simSum, 1000);
    EXPECT_EQ(r.realSum, 900);
    EXPECT_EQ(r.verdict, Verdict::kFair);
}

TEST(DiagnoseTest, DamagedCountsStayInsideTheTable) {
    UserData d;
    d.simMonthly.fill(100);
    SetMonths(d, 2025, 1, {100});
    d.monthCount = 1000;
    EXPECT_EQ(Diagnose(d).months, 12);
    d.monthCount = -5;
    EXPECT_TRUE(Diagnose(d).noData);
}

std::vector<std::string> Texts(const std::vector<VerdictLine>& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(l.text);
    return out;
}

TEST(VerdictTextTest, LinesAndPositionsOfTheVerdictArea) {
    CUserInfo u;
    u.dealerName = *codepage::Utf8ToCp932("サンプル電設");
    u.dealerTel = "03-9876-5432";

    auto lines = VerdictAreaLines(u, Verdict::kNone);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "診断未実施");
    EXPECT_EQ(lines[0].x, 8);
    EXPECT_EQ(lines[0].y, 5);

    lines = VerdictAreaLines(u, Verdict::kGood);
    EXPECT_EQ(Texts(lines),
              (std::vector<std::string>{
                  "発電量がシミュレーション値を上回っており、システムは正常に稼働して",
                  "いると思われます。今後も定期的に診断を実施されることをお勧めします。"}));
    EXPECT_EQ(lines[1].y, 30);

    lines = VerdictAreaLines(u, Verdict::kFair);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2].text, "続けるようであれば、購入元の販売店にご相談ください。");
    EXPECT_EQ(lines[2].y, 55);
    EXPECT_EQ(lines[3].text, "販売店：サンプル電設　連絡先：03-9876-5432");
    EXPECT_EQ(lines[3].x, 20);
    EXPECT_EQ(lines[3].y, 80);

    lines = VerdictAreaLines(u, Verdict::kPoor);
    EXPECT_EQ(Texts(lines),
              (std::vector<std::string>{
                  "発電量がシミュレーション値を１０％以上下回っております。",
                  "機器異常の可能性も考えられますので、購入元の販売店にご相談ください。",
                  "販売店：サンプル電設　連絡先：03-9876-5432"}));
    EXPECT_EQ(lines[2].y, 80);
}

TEST(VerdictTextTest, DetailsNotEnteredOverrideEveryVerdict) {
    CUserInfo u;
    u.detailed = 0;
    for (Verdict v : {Verdict::kNone, Verdict::kGood, Verdict::kFair, Verdict::kPoor}) {
        auto lines = VerdictAreaLines(u, v);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, "太陽電池設置情報の詳細が入力されていないため診断できません。");
        EXPECT_EQ(lines[0].x, 8);
        EXPECT_EQ(lines[0].y, 5);
    }
}

TEST(VerdictTextTest, EmptyDealerFieldsStayEmpty) {
    CUserInfo u;
    EXPECT_EQ(DealerLine(u), "販売店：　連絡先：");
}

TEST(ComparisonChartTest, LastTwelveRecordsWithYearLabelsOnTheFirstColumnAndJanuary) {
    UserData d;
    test::MakeSampleUser(d, 1.0);  // October 2024 to December 2025
    ComparisonChart c = BuildComparisonChart(d);
    EXPECT_EQ(c.columns[0].yearLabel, "2025年");  // window starts in January 2025
    EXPECT_EQ(c.columns[0].monthLabel, "1月");
    EXPECT_EQ(c.columns[0].simulated, 410);
    EXPECT_EQ(c.columns[11].monthLabel, "12月");
    EXPECT_EQ(c.columns[11].yearLabel, "");

    d.monthCount = 13;  // the window is November 2024 to October 2025
    c = BuildComparisonChart(d);
    EXPECT_EQ(c.columns[0].yearLabel, "2024年");
    EXPECT_EQ(c.columns[0].monthLabel, "11月");
    EXPECT_EQ(c.columns[1].yearLabel, "");
    EXPECT_EQ(c.columns[2].yearLabel, "2025年");
    EXPECT_EQ(c.columns[2].monthLabel, "1月");
    EXPECT_EQ(c.columns[3].yearLabel, "");
    EXPECT_EQ(c.columns[11].monthLabel, "10月");
}

TEST(ComparisonChartTest, FewRecordsLeaveTheLaterColumnsEmpty) {
    UserData d;
    d.simMonthly.fill(100);
    SetMonths(d, 2025, 11, {50000, 20});
    ComparisonChart c = BuildComparisonChart(d);
    EXPECT_EQ(c.columns[0].yearLabel, "2025年");
    EXPECT_EQ(c.columns[0].real, 50000);
    EXPECT_EQ(c.columns[1].yearLabel, "");
    EXPECT_EQ(c.columns[1].monthLabel, "12月");
    for (int i = 2; i < 12; ++i) {
        EXPECT_EQ(c.columns[i].monthLabel, "");
        EXPECT_EQ(c.columns[i].yearLabel, "");
        EXPECT_EQ(c.columns[i].real, 0);
        EXPECT_EQ(c.columns[i].simulated, 0);
    }
}

}  // namespace
}  // namespace ys
