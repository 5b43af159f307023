#include "app/chart/chart_sources.h"

#include <gtest/gtest.h>

#include <memory>

#include "app/local_time.h"

namespace ys::chart {
namespace {

TEST(ChartSources, SimulationChartHasTwelveMonthsAndASpaceAboveTheFirst) {
    UserData data;
    for (int i = 0; i < 12; ++i) data.simMonthly[i] = 100 + i;
    auto chart = std::make_unique<ChartData>();
    FillSimulationChart(data, *chart);
    EXPECT_EQ(chart->count, 12);
    EXPECT_EQ(chart->columnWidth, 45);
    EXPECT_EQ(chart->yearLabels[0], " ");
    EXPECT_EQ(chart->yearLabels[1], "");
    EXPECT_EQ(chart->monthLabels[0], "1月");
    EXPECT_EQ(chart->monthLabels[11], "12月");
    EXPECT_EQ(chart->seriesA[11], 111);
    EXPECT_EQ(chart->seriesB[11], 0);
}

TEST(ChartSources, MonthlyChartPairsEachMonthWithItsExpectedValue) {
    UserData data;
    for (int i = 0; i < 12; ++i) data.simMonthly[i] = 10 * (i + 1);
    data.monthCount = 3;
    data.months[0].date = MakeLocalTime(2025, 11, 1);
    data.months[0].generation = 300;
    data.months[1].date = MakeLocalTime(2025, 12, 1);
    data.months[1].generation = static_cast<std::int16_t>(-1);  // 65535 read unsigned
    data.months[2].date = MakeLocalTime(2026, 1, 1);
    data.months[2].generation = 7;
    auto chart = std::make_unique<ChartData>();
    FillMonthlyChart(data, *chart);
    EXPECT_EQ(chart->count, 3);
    EXPECT_EQ(chart->columnWidth, 40);
    EXPECT_EQ(chart->yearLabels[0], "2025年");
    EXPECT_EQ(chart->yearLabels[1], "");
    EXPECT_EQ(chart->yearLabels[2], "2026年");
    EXPECT_EQ(chart->monthLabels[1], "12月");
    EXPECT_EQ(chart->seriesA[0], 110);
    EXPECT_EQ(chart->seriesA[2], 10);
    EXPECT_EQ(chart->seriesB[1], 65535);
    EXPECT_EQ(ViewerChartWidth(kMonthlyChart, 60), 2500);
}

TEST(ChartSources, DailyChartLabelsDaysAndStartsAGroupOnEachFirstOfAMonth) {
    UserData data;
    data.dayCount = kMaxDays;
    for (int i = 0; i < kMaxDays; ++i) {
        data.days[i].date = MakeLocalTime(2025, 1, 30 + i);
        data.days[i].generation = static_cast<std::int16_t>(i % 30);
    }
    auto chart = std::make_unique<ChartData>();
    FillDailyChart(data, *chart);
    EXPECT_EQ(chart->count, 400);
    EXPECT_EQ(chart->columnWidth, 18);
    EXPECT_EQ(chart->yearLabels[0], "1月");
    EXPECT_EQ(chart->monthLabels[0], "30");
    EXPECT_EQ(chart->yearLabels[1], "");
    EXPECT_EQ(chart->yearLabels[2], "2月");  // 2025-02-01
    EXPECT_EQ(chart->monthLabels[2], " 1");
    EXPECT_EQ(chart->seriesA[2], 2);
    int groups = 0;
    for (int i = 0; i < 400; ++i) groups += chart->yearLabels[i].empty() ? 0 : 1;
    EXPECT_EQ(groups, 15);  // January 2025 to March 2026: the most 400 days can span
    EXPECT_EQ(ViewerChartWidth(kDailyChart, 400), 7300);
}

}  // namespace
}  // namespace ys::chart
