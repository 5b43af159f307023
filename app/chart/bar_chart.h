// The one chart routine of the program: a value axis, one column per entry with one or two bars,
// two label rows and a value table, in virtual units scaled onto any drawing surface (a pixmap
// for the pages, the printer for the report).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/chart/drawing_surface.h"

namespace ys::chart {

inline constexpr int kMaxChartColumns = 400;

// Chart types by their number; the table rows and bars each one draws:
// 1 kActual      one group-coloured bar of A; row "実績値" (A)
// 2 kSimulation  one cyan bar of A; row "ｼﾐｭﾚｰｼｮﾝ値" (A); total column
// 3 kComparison  cyan bar of A, group-coloured bar of B; rows A, B, deviation; total column
// 4 kMonthly     one group-coloured bar of B; rows A, B, deviation
enum class ChartType { kActual = 1, kSimulation = 2, kComparison = 3, kMonthly = 4 };

struct ChartData {
    DrawingSurface* surface = nullptr;
    double scale = 1.0;  // device units per virtual unit, for coordinates and the font height
    int columnWidth = 50;
    int originX = 0;  // device position of the virtual origin
    int originY = 0;
    int count = 0;  // columns, at most kMaxChartColumns
    std::array<std::int32_t, kMaxChartColumns> seriesA{};
    std::array<std::int32_t, kMaxChartColumns> seriesB{};
    // UTF-8. The upper row names a group (a year, or a month on the daily chart) on its first
    // column only; a column with both labels empty ends the chart.
    std::array<std::string, kMaxChartColumns> yearLabels;
    std::array<std::string, kMaxChartColumns> monthLabels;
};

// Clears (0,0)-(width,height) in white when fillBackground, then draws the chart of `type` with
// an axis rounded up to the next multiple of 10^roundExponent. Leaves the surface's pen, brush,
// font and background as it found them.
void DrawBarChart(int width, int height, ChartType type, bool fillBackground, int roundExponent,
                  const ChartData& data);

// Geometry and texts the routine uses, for callers and tests.
inline constexpr char kChartFace[] = "UI ゴシック";
inline constexpr int kChartFontHeight = 12;
inline constexpr Rgb kCyan{0, 255, 255};
inline constexpr std::array<Rgb, 6> kGroupColours = {Rgb{255, 0, 255},   Rgb{255, 152, 36},
                                                     Rgb{255, 64, 255},  Rgb{255, 152, 72},
                                                     Rgb{255, 128, 255}, Rgb{255, 152, 98}};
// The text of a deviation cell whose expected value is 0.
inline constexpr char kNoDeviation[] = "－";

// The top of the value axis: always above `maximum`, in steps of 10^roundExponent.
std::int64_t AxisTop(std::int64_t maximum, int roundExponent);
// The colour of group 1, 2, ... (the cycle of six; group 0, before the first upper label, takes
// the first colour).
Rgb GroupColour(int group);
// "+12%" or "-3%" for actual against expected; kNoDeviation when expected is 0.
std::string FormatDeviation(std::int64_t actual, std::int64_t expected);

}  // namespace ys::chart
