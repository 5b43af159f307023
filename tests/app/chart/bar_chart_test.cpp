#include "app/chart/bar_chart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/chart/recording_surface.h"

namespace ys::chart {
namespace {

using Kind = DrawOp::Kind;

struct Pt {
    int x1, y1, x2, y2;
    bool operator==(const Pt&) const = default;
};

Pt Ends(const DrawOp& op) {
    return {op.x1, op.y1, op.x2, op.y2};
}

std::vector<Pt> Lines(const RecordingSurface& s) {
    std::vector<Pt> out;
    for (const DrawOp& op : s.Of(Kind::kLine)) out.push_back(Ends(op));
    return out;
}

bool HasLine(const RecordingSurface& s, Pt p) {
    for (const Pt& l : Lines(s)) {
        if (l == p) return true;
    }
    return false;
}

// Expects a text at a point with an alignment and returns it.
const DrawOp& TextAt(const RecordingSurface& s, const std::string& text, int x, int y,
                     TextAlign align = TextAlign::kCenter) {
    for (const DrawOp& op : s.ops()) {
        if (op.kind == Kind::kText && op.text == text && op.x1 == x && op.y1 == y) {
            EXPECT_EQ(op.align, align) << text;
            return op;
        }
    }
    ADD_FAILURE() << "no text \"" << text << "\" at " << x << "," << y;
    static DrawOp none;
    return none;
}

class BarChartTest : public ::testing::Test {
protected:
    void SetUp() override { data.surface = &rec; }

    void Column(int i, int a, int b, const std::string& upper, const std::string& lower) {
        data.seriesA[i] = a;
        data.seriesB[i] = b;
        data.yearLabels[i] = upper;
        data.monthLabels[i] = lower;
    }

    RecordingSurface rec;
    ChartData data;
};

TEST(AxisTopTest, IsAlwaysAboveTheMaximumInRoundSteps) {
    EXPECT_EQ(AxisTop(0, 2), 100);
    EXPECT_EQ(AxisTop(99, 2), 100);
    EXPECT_EQ(AxisTop(300, 2), 400);
    EXPECT_EQ(AxisTop(400, 2), 500);
    EXPECT_EQ(AxisTop(401, 2), 500);
    EXPECT_EQ(AxisTop(0, 1), 10);
    EXPECT_EQ(AxisTop(45, 1), 50);
    EXPECT_EQ(AxisTop(65535, 1), 65540);
}

TEST(DeviationTest, SignedPercentRoundedAndADashForNoExpectation) {
    EXPECT_EQ(FormatDeviation(110, 100), "+10%");
    EXPECT_EQ(FormatDeviation(100, 100), "+0%");
    EXPECT_EQ(FormatDeviation(95, 100), "-5%");
    EXPECT_EQ(FormatDeviation(0, 300), "-100%");
    EXPECT_EQ(FormatDeviation(2, 3), "-33%");
    EXPECT_EQ(FormatDeviation(200, 0), "－");
    EXPECT_EQ(FormatDeviation(0, 0), "－");
}

TEST(GroupColourTest, CyclesThroughSixColours) {
    EXPECT_EQ(GroupColour(1), (Rgb{255, 0, 255}));
    EXPECT_EQ(GroupColour(2), (Rgb{255, 152, 36}));
    EXPECT_EQ(GroupColour(6), (Rgb{255, 152, 98}));
    EXPECT_EQ(GroupColour(7), GroupColour(1));
    EXPECT_EQ(GroupColour(15), GroupColour(3));
    EXPECT_EQ(GroupColour(0), GroupColour(1));  // bars before the first upper label
}

TEST_F(BarChartTest, SimulationChartGeometryTextsAndColours) {
    data.columnWidth = 45;
    data.count = 12;
    const int values[12] = {310, 350, 450, 500, 540, 470, 500, 540, 420, 380, 320, 300};
    for (int i = 0; i < 12; ++i) {
        Column(i, values[i], 0, i == 0 ? " " : "", std::to_string(i + 1) + "月");
    }
    DrawBarChart(674, 280, ChartType::kSimulation, true, 2, data);

    const auto& ops = rec.ops();
    ASSERT_FALSE(ops.empty());
    EXPECT_EQ(ops[0].kind, Kind::kFillRect);
    EXPECT_EQ(Ends(ops[0]), (Pt{0, 0, 674, 280}));
    EXPECT_EQ(ops[0].fill, kWhite);

    // Axis: maximum 540 gives 600.
    const DrawOp& kwh = TextAt(rec, "(kWh)", 77, 3, TextAlign::kRight);
    EXPECT_EQ(kwh.state.font, (FontSpec{"UI ゴシック", 12, 400}));
    EXPECT_EQ(kwh.state.textColor, kBlack);
    EXPECT_TRUE(kwh.state.opaque);
    EXPECT_EQ(kwh.state.background, kWhite);
    TextAt(rec, "600", 72, 15, TextAlign::kRight);
    TextAt(rec, "300", 72, 105, TextAlign::kRight);
    TextAt(rec, "0", 72, 195, TextAlign::kRight);
    for (int y : {20, 110, 200}) EXPECT_TRUE(HasLine(rec, {75, y, 80, y})) << y;
    EXPECT_TRUE(HasLine(rec, {75, 20, 75, 200}));

    // One row header, frame of three rows.
    TextAt(rec, "ｼﾐｭﾚｰｼｮﾝ値", 42, 237);
    EXPECT_EQ(rec.FindText("実績値"), nullptr);
    EXPECT_EQ(rec.FindText("差異"), nullptr);
    EXPECT_TRUE(HasLine(rec, {5, 208, 5, 250}));
    EXPECT_TRUE(HasLine(rec, {79, 208, 79, 250}));
    for (int y : {208, 235, 250}) EXPECT_TRUE(HasLine(rec, {5, y, 80, y}));
    EXPECT_FALSE(HasLine(rec, {5, 265, 80, 265}));

    // Bars: cyan, 36 wide, height trunc(v * 180 / 600), one column per 45 units from 90.
    auto bars = rec.Of(Kind::kRectangle);
    ASSERT_EQ(bars.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        const int x = 90 + 45 * i;
        const int h = values[i] * 180 / 600;
        EXPECT_EQ(Ends(bars[i]), (Pt{x, 200 - h, x + 36, 200})) << i;
        EXPECT_EQ(bars[i].state.brush, kCyan);
        EXPECT_EQ(bars[i].state.pen, kBlack);
        EXPECT_EQ(bars[i].state.penWidth, 1);
        TextAt(rec, std::to_string(i + 1) + "月", x + 18, 222);
        TextAt(rec, std::to_string(values[i]), x + 18, 237);
        EXPECT_TRUE(HasLine(rec, {x + 40, 208, x + 40, 250})) << i;  // x + 40.5 truncated
    }
    TextAt(rec, " ", 108, 210);

    // Total column after the twelfth: x = 630.
    TextAt(rec, "合計", 648, 217);
    TextAt(rec, "5080", 648, 237);
    EXPECT_TRUE(HasLine(rec, {670, 208, 670, 250}));
    for (int y : {208, 235, 250}) EXPECT_TRUE(HasLine(rec, {80, y, 670, y}));

    // The surface is left as found.
    EXPECT_EQ(rec.saveDepth(), 0);
    EXPECT_EQ(rec.state(), SurfaceState{});
}

TEST_F(BarChartTest, ScaleAndOriginTruncateEveryCoordinate) {
    data.columnWidth = 45;
    data.scale = 0.7;
    data.originX = 100;
    data.originY = 50;
    data.count = 1;
    Column(0, 250, 0, " ", "1月");
    DrawBarChart(2000, 2000, ChartType::kSimulation, false, 2, data);

    EXPECT_EQ(rec.Of(Kind::kFillRect).size(), 0u);  // no background fill
    const DrawOp& kwh = TextAt(rec, "(kWh)", 100 + 53, 50 + 2, TextAlign::kRight);  // 53.9, 2.1
    EXPECT_EQ(kwh.state.font.height, 8);                                            // 8.4
    TextAt(rec, "300", 100 + 50, 50 + 10, TextAlign::kRight);                       // 50.4, 10.5
    // Bar of 250 under 300: 150 units high, from y 50 to 200 virtual.
    auto bars = rec.Of(Kind::kRectangle);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(Ends(bars[0]),
              (Pt{100 + 62, 50 + 35, 100 + 88, 50 + 140}));  // 63 → 62.99..; 126 × 0.7
    TextAt(rec, "1月", 100 + 75, 50 + 155);                  // 75.6, 155.4
    EXPECT_TRUE(HasLine(rec, {100 + 91, 50 + 145, 100 + 91, 50 + 175}));  // 130.5 × 0.7 = 91.35
}

TEST_F(BarChartTest, ComparisonChartDrawsTwoBarsDeviationsAndTotals) {
    data.columnWidth = 45;
    data.count = 12;
    Column(0, 300, 330, "2025年", "11月");
    Column(1, 200, 150, "", "12月");
    Column(2, 0, 120, "2026年", "1月");  // no expectation: a dash
    // Columns 3.. have no labels: the chart ends after three.
    DrawBarChart(674, 312, ChartType::kComparison, true, 2, data);

    // Axis over both series: 330 → 400.
    TextAt(rec, "400", 72, 15, TextAlign::kRight);
    TextAt(rec, "ｼﾐｭﾚｰｼｮﾝ値", 42, 237);
    TextAt(rec, "実績値", 42, 252);
    TextAt(rec, "差異", 42, 267);
    EXPECT_TRUE(HasLine(rec, {5, 208, 5, 280}));
    for (int y : {208, 235, 250, 265, 280}) EXPECT_TRUE(HasLine(rec, {5, y, 80, y}));

    auto bars = rec.Of(Kind::kRectangle);
    ASSERT_EQ(bars.size(), 6u);
    // Column 1: cyan expected bar 18 wide, then the actual bar in the first group colour.
    EXPECT_EQ(Ends(bars[0]), (Pt{90, 200 - 135, 108, 200}));
    EXPECT_EQ(bars[0].state.brush, kCyan);
    EXPECT_EQ(Ends(bars[1]), (Pt{108, 200 - 148, 126, 200}));  // 330 * 180 / 400 = 148.5
    EXPECT_EQ(bars[1].state.brush, GroupColour(1));
    EXPECT_EQ(bars[3].state.brush, GroupColour(1));
    EXPECT_EQ(bars[5].state.brush, GroupColour(2));  // the new year starts a new colour
    TextAt(rec, "330", 108, 252);
    TextAt(rec, "+10%", 108, 267);
    TextAt(rec, "-25%", 153, 267);
    TextAt(rec, "－", 198, 267);

    // Totals after three columns (x = 225): 500 expected, 600 actual.
    TextAt(rec, "合計", 243, 217);
    TextAt(rec, "500", 243, 237);
    TextAt(rec, "600", 243, 252);
    TextAt(rec, "+20%", 243, 267);
    EXPECT_TRUE(HasLine(rec, {265, 208, 265, 280}));
    for (int y : {208, 235, 250, 265, 280}) EXPECT_TRUE(HasLine(rec, {80, y, 265, y}));
    EXPECT_EQ(rec.FindText("4月"), nullptr);
}

TEST_F(BarChartTest, TotalDeviationWithoutExpectationIsADash) {
    data.columnWidth = 45;
    data.count = 2;
    Column(0, 0, 120, "2026年", "1月");
    Column(1, 0, 80, "", "2月");
    DrawBarChart(674, 312, ChartType::kComparison, true, 2, data);
    TextAt(rec, "0", 198, 237);  // the expected total
    TextAt(rec, "200", 198, 252);
    TextAt(rec, "－", 198, 267);
}

TEST_F(BarChartTest, MonthlyChartFollowsTheActualSeriesAlone) {
    data.columnWidth = 40;
    data.count = 2;
    Column(0, 1000, 250, "2025年", "12月");
    Column(1, 900, 180, "2026年", "1月");
    DrawBarChart(180, 312, ChartType::kMonthly, true, 2, data);

    TextAt(rec, "300", 72, 15, TextAlign::kRight);  // expected 1000 does not raise the axis
    auto bars = rec.Of(Kind::kRectangle);
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(Ends(bars[0]), (Pt{90, 200 - 150, 122, 200}));  // B, 32 wide
    EXPECT_EQ(bars[0].state.brush, GroupColour(1));
    EXPECT_EQ(Ends(bars[1]), (Pt{130, 200 - 108, 162, 200}));
    EXPECT_EQ(bars[1].state.brush, GroupColour(2));
    TextAt(rec, "1000", 106, 237);
    TextAt(rec, "250", 106, 252);
    TextAt(rec, "-75%", 106, 267);
    TextAt(rec, "-80%", 146, 267);
    EXPECT_TRUE(HasLine(rec, {126, 208, 126, 280}));
    // No total column; the rows end at the last column's border (170 - 4).
    EXPECT_EQ(rec.FindText("合計"), nullptr);
    for (int y : {208, 235, 250, 265, 280}) EXPECT_TRUE(HasLine(rec, {80, y, 166, y}));
}

TEST_F(BarChartTest, DailyChartColoursByGroupAndTheSeventhGroupStartsTheCycleAgain) {
    data.columnWidth = 18;
    data.count = 8;
    for (int i = 0; i < 8; ++i) Column(i, 10 * (i + 1), 0, std::to_string(i + 1) + "月", " 1");
    DrawBarChart(300, 312, ChartType::kActual, true, 1, data);

    TextAt(rec, "実績値", 42, 237);
    EXPECT_EQ(rec.FindText("ｼﾐｭﾚｰｼｮﾝ値"), nullptr);
    TextAt(rec, "90", 72, 15, TextAlign::kRight);  // 80 with e = 1
    TextAt(rec, "45", 72, 105, TextAlign::kRight);
    auto bars = rec.Of(Kind::kRectangle);
    ASSERT_EQ(bars.size(), 8u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(bars[i].state.brush, kGroupColours[i]) << i;
    EXPECT_EQ(bars[6].state.brush, kGroupColours[0]);
    EXPECT_EQ(bars[7].state.brush, kGroupColours[1]);
    EXPECT_EQ(Ends(bars[0]), (Pt{90, 180, 104, 200}));  // width trunc(14.4), 10 * 180 / 90
    TextAt(rec, "1月", 97, 210);                        // 90 + 7.2
    // Rows end at the last border: x = 234, minus 1.8.
    for (int y : {208, 235, 250}) EXPECT_TRUE(HasLine(rec, {80, y, 232, y}));
    EXPECT_FALSE(HasLine(rec, {5, 265, 80, 265}));
}

TEST_F(BarChartTest, AllZeroValuesGiveAnAxisOfOneStepAndFlatBars) {
    data.columnWidth = 45;
    data.count = 2;
    Column(0, 0, 0, " ", "1月");
    Column(1, 0, 0, "", "2月");
    DrawBarChart(300, 280, ChartType::kSimulation, true, 2, data);
    TextAt(rec, "100", 72, 15, TextAlign::kRight);
    TextAt(rec, "50", 72, 105, TextAlign::kRight);
    for (const DrawOp& bar : rec.Of(Kind::kRectangle)) EXPECT_EQ(bar.y1, 200);
    TextAt(rec, "0", 108, 237);
    TextAt(rec, "0", 153, 237);
}

TEST_F(BarChartTest, AColumnWithOnlyAnUpperLabelTakesItsPlaceWithoutBarOrValues) {
    data.columnWidth = 18;
    data.count = 4;
    Column(0, 50, 0, "3月", "31");
    Column(1, 70, 0, "4月", "");  // no bar, but the group changes
    Column(2, 60, 0, "", " 2");
    Column(3, 40, 0, "", "");  // ends the chart
    DrawBarChart(300, 280, ChartType::kActual, true, 1, data);

    auto bars = rec.Of(Kind::kRectangle);
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(bars[0].x1, 90);
    EXPECT_EQ(bars[1].x1, 126);  // the third column
    EXPECT_EQ(bars[1].state.brush, GroupColour(2));
    EXPECT_EQ(rec.FindText("70"), nullptr);
    TextAt(rec, "4月", 115, 210);
    // Axis from the first `count` values, including those of columns without bars.
    TextAt(rec, "80", 72, 15, TextAlign::kRight);
    // The rows end at the third column's border: x = 144 - 1.8.
    EXPECT_TRUE(HasLine(rec, {80, 208, 142, 208}));
}

TEST_F(BarChartTest, NegativeAndHugeValuesStayInsideTheChart) {
    data.columnWidth = 45;
    data.count = 2;
    Column(0, -50, 0, " ", "1月");
    Column(1, 2147483647, 0, "", "2月");
    DrawBarChart(300, 280, ChartType::kSimulation, true, 2, data);
    auto bars = rec.Of(Kind::kRectangle);
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(bars[0].y1, 200);
    EXPECT_GE(bars[1].y1, 20);
    TextAt(rec, "2147483700", 72, 15, TextAlign::kRight);
    TextAt(rec, "2147483597", 198, 237);  // the total does not wrap
}

TEST_F(BarChartTest, NoSurfaceDrawsNothing) {
    data.surface = nullptr;
    data.count = 1;
    DrawBarChart(10, 10, ChartType::kActual, true, 1, data);  // must not crash
    SUCCEED();
}

}  // namespace
}  // namespace ys::chart
