// The chart data of the simulation page and of the generation data viewer, filled from the
// user data with their column widths, chart types and label rules.
#pragma once

#include "app/app_data.h"
#include "app/chart/bar_chart.h"

namespace ys::chart {

struct ChartStyle {
    ChartType type;
    int columnWidth;
    int roundExponent;
};

inline constexpr ChartStyle kSimulationChart{ChartType::kSimulation, 45, 2};
inline constexpr ChartStyle kMonthlyChart{ChartType::kMonthly, 40, 2};
inline constexpr ChartStyle kDailyChart{ChartType::kActual, 18, 1};

// Twelve expected monthly values, labels "1月".."12月" and one space above the first column.
void FillSimulationChart(const UserData& data, ChartData& chart);
// The month table: bars of the real generation coloured by year, expected values beside them.
void FillMonthlyChart(const UserData& data, ChartData& chart);
// The day table: bars coloured by month, labelled with the day of the month.
void FillDailyChart(const UserData& data, ChartData& chart);

// The width in device units of a viewer chart of `count` columns.
int ViewerChartWidth(const ChartStyle& style, int count);

}  // namespace ys::chart
