#include "app/chart/bar_chart.h"

#include <algorithm>
#include <cstdio>

namespace ys::chart {
namespace {

constexpr int kBaseline = 200;
constexpr int kBarSpan = 180;  // virtual height of the axis top above the baseline

// Virtual to device: scale and shift, truncating towards zero.
class Mapper {
public:
    explicit Mapper(const ChartData& d) : d_(d) {}
    int X(double x) const { return d_.originX + static_cast<int>(x * d_.scale); }
    int Y(double y) const { return d_.originY + static_cast<int>(y * d_.scale); }

private:
    const ChartData& d_;
};

std::string Number(std::int64_t v) {
    return std::to_string(v);
}

}  // namespace

std::int64_t AxisTop(std::int64_t maximum, int roundExponent) {
    std::int64_t step = 1;
    for (int i = 0; i < std::clamp(roundExponent, 0, 9); ++i) step *= 10;
    return (maximum / step + 1) * step;
}

Rgb GroupColour(int group) {
    if (group < 1) return kGroupColours[0];
    return kGroupColours[static_cast<std::size_t>(group - 1) % kGroupColours.size()];
}

std::string FormatDeviation(std::int64_t actual, std::int64_t expected) {
    if (expected == 0) return kNoDeviation;
    const double d = (static_cast<double>(actual) / static_cast<double>(expected) - 1.0) * 100.0;
    char buf[64];
    if (d >= 0) {
        std::snprintf(buf, sizeof buf, "+%.0f%%", d);
    } else {
        std::snprintf(buf, sizeof buf, "-%.0f%%", -d);
    }
    return buf;
}

void DrawBarChart(int width, int height, ChartType type, bool fillBackground, int roundExponent,
                  const ChartData& data) {
    if (!data.surface) return;
    DrawingSurface& s = *data.surface;
    const Mapper m(data);
    const int count = std::clamp(data.count, 0, kMaxChartColumns);
    const double cw = data.columnWidth;
    const bool twoRows = type == ChartType::kComparison || type == ChartType::kMonthly;
    const int frameBottom = twoRows ? 280 : 250;

    s.SaveState();
    if (fillBackground) s.FillRect(0, 0, width, height, kWhite);
    s.SetPen(kBlack, 1);
    s.SetBrush(kWhite);
    s.SetFont({kChartFace, std::max(1, static_cast<int>(kChartFontHeight * data.scale)), 400});
    s.SetTextColor(kBlack);
    s.SetBackground(kWhite, true);

    // Value axis.
    std::int64_t maximum = 0;
    for (int i = 0; i < count; ++i) {
        if (type != ChartType::kMonthly) maximum = std::max<std::int64_t>(maximum, data.seriesA[i]);
        if (twoRows) maximum = std::max<std::int64_t>(maximum, data.seriesB[i]);
    }
    const std::int64_t top = AxisTop(maximum, roundExponent);
    // Negative values draw no bar rather than one reaching into the table.
    auto barHeight = [top](std::int64_t v) {
        return static_cast<int>(std::clamp<std::int64_t>(v * kBarSpan / top, 0, kBarSpan));
    };

    s.Text(m.X(77), m.Y(3), TextAlign::kRight, "(kWh)");
    s.Text(m.X(72), m.Y(15), TextAlign::kRight, Number(top));
    s.Text(m.X(72), m.Y(105), TextAlign::kRight, Number(top / 2));
    s.Text(m.X(72), m.Y(195), TextAlign::kRight, "0");
    for (int y : {20, 110, 200}) s.Line(m.X(75), m.Y(y), m.X(80), m.Y(y));
    s.Line(m.X(75), m.Y(20), m.X(75), m.Y(200));

    // Row headers.
    if (type == ChartType::kActual) {
        s.Text(m.X(42), m.Y(237), TextAlign::kCenter, "実績値");
    } else {
        s.Text(m.X(42), m.Y(237), TextAlign::kCenter, "ｼﾐｭﾚｰｼｮﾝ値");
    }
    if (twoRows) {
        s.Text(m.X(42), m.Y(252), TextAlign::kCenter, "実績値");
        s.Text(m.X(42), m.Y(267), TextAlign::kCenter, "差異");
    }

    // Header cells.
    s.Line(m.X(5), m.Y(208), m.X(5), m.Y(frameBottom));
    s.Line(m.X(79), m.Y(208), m.X(79), m.Y(frameBottom));
    for (int y : {208, 235, 250, 265, 280}) {
        if (y > frameBottom) break;
        s.Line(m.X(5), m.Y(y), m.X(80), m.Y(y));
    }

    // Columns.
    const int barWidth = static_cast<int>((type == ChartType::kComparison ? 0.4 : 0.8) * cw);
    std::int64_t totalA = 0;
    std::int64_t totalB = 0;
    int group = 0;
    double x = 90;
    for (int i = 0; i < count; ++i) {
        const std::string& upper = data.yearLabels[i];
        const std::string& lower = data.monthLabels[i];
        if (!upper.empty()) ++group;
        const int cx = m.X(x + 0.4 * cw);
        if (!upper.empty()) s.Text(cx, m.Y(210), TextAlign::kCenter, upper);
        if (!lower.empty()) s.Text(cx, m.Y(222), TextAlign::kCenter, lower);
        if (!lower.empty()) {
            const std::int32_t a = data.seriesA[i];
            const std::int32_t b = data.seriesB[i];
            const bool cyan = type == ChartType::kSimulation || type == ChartType::kComparison;
            s.SetBrush(cyan ? kCyan : GroupColour(group));
            const int h = barHeight(type == ChartType::kMonthly ? b : a);
            s.Rectangle(m.X(x), m.Y(kBaseline - h), m.X(x + barWidth), m.Y(kBaseline));
            s.Text(cx, m.Y(237), TextAlign::kCenter, Number(a));
            totalA += a;
            if (twoRows) {
                totalB += b;
                if (type == ChartType::kComparison) {
                    s.SetBrush(GroupColour(group));
                    const int hb = barHeight(b);
                    s.Rectangle(m.X(x + barWidth), m.Y(kBaseline - hb), m.X(x + 2 * barWidth),
                                m.Y(kBaseline));
                }
                s.Text(cx, m.Y(252), TextAlign::kCenter, Number(b));
                s.Text(cx, m.Y(267), TextAlign::kCenter, FormatDeviation(b, a));
            }
            const int border = m.X(x + 0.9 * cw);
            s.Line(border, m.Y(208), border, m.Y(frameBottom));
        }
        if (upper.empty() && lower.empty()) break;
        x += cw;
    }

    // After the columns: the total column of types 2 and 3, and the table's horizontal lines.
    int right = m.X(x - 0.1 * cw);
    if (type == ChartType::kSimulation || type == ChartType::kComparison) {
        const int cx = m.X(x + 0.4 * cw);
        s.Text(cx, m.Y(217), TextAlign::kCenter, "合計");
        s.Text(cx, m.Y(237), TextAlign::kCenter, Number(totalA));
        if (type == ChartType::kComparison) {
            s.Text(cx, m.Y(252), TextAlign::kCenter, Number(totalB));
            s.Text(cx, m.Y(267), TextAlign::kCenter, FormatDeviation(totalB, totalA));
        }
        right = m.X(x + 0.9 * cw);
        s.Line(right, m.Y(208), right, m.Y(frameBottom));
    }
    for (int y : {208, 235, 250, 265, 280}) {
        if (y > frameBottom) break;
        s.Line(m.X(80), m.Y(y), right, m.Y(y));
    }

    s.RestoreState();
}

}  // namespace ys::chart
