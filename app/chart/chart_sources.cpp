#include "app/chart/chart_sources.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/local_time.h"

namespace ys::chart {
namespace {

void Reset(ChartData& chart, const ChartStyle& style, int count) {
    chart.scale = 1.0;
    chart.originX = 0;
    chart.originY = 0;
    chart.columnWidth = style.columnWidth;
    chart.count = std::clamp(count, 0, kMaxChartColumns);
}

std::string Suffixed(int n, const char* suffix) {
    return std::to_string(n) + suffix;
}

std::int32_t Unsigned16(std::int16_t v) {
    return static_cast<std::uint16_t>(v);
}

}  // namespace

void FillSimulationChart(const UserData& data, ChartData& chart) {
    Reset(chart, kSimulationChart, 12);
    for (int i = 0; i < 12; ++i) {
        chart.seriesA[i] = data.simMonthly[i];
        chart.seriesB[i] = 0;
        chart.monthLabels[i] = Suffixed(i + 1, "月");
        chart.yearLabels[i] = i == 0 ? " " : "";
    }
}

void FillMonthlyChart(const UserData& data, ChartData& chart) {
    Reset(chart, kMonthlyChart, std::min(data.monthCount, kMaxMonths));
    for (int i = 0; i < chart.count; ++i) {
        const CMonthResult& m = data.months[i];
        const LocalDateTime t = ToLocal(m.date);
        chart.seriesA[i] = data.simMonthly[std::clamp(t.month, 1, 12) - 1];
        chart.seriesB[i] = Unsigned16(m.generation);
        chart.yearLabels[i] = (i == 0 || t.month == 1) ? Suffixed(t.year, "年") : "";
        chart.monthLabels[i] = Suffixed(t.month, "月");
    }
}

void FillDailyChart(const UserData& data, ChartData& chart) {
    Reset(chart, kDailyChart, std::min(data.dayCount, kMaxDays));
    for (int i = 0; i < chart.count; ++i) {
        const CDateResult& d = data.days[i];
        const LocalDateTime t = ToLocal(d.date);
        chart.seriesA[i] = Unsigned16(d.generation);
        chart.seriesB[i] = 0;
        chart.yearLabels[i] = (i == 0 || t.day == 1) ? Suffixed(t.month, "月") : "";
        char day[8];
        std::snprintf(day, sizeof day, "%2d", t.day);
        chart.monthLabels[i] = day;
    }
}

int ViewerChartWidth(const ChartStyle& style, int count) {
    return std::max(0, count) * style.columnWidth + 100;
}

}  // namespace ys::chart
