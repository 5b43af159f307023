#include "app/diagnosis/outlook_drawing.h"

#include <QPagedPaintDevice>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "app/chart/painter_surface.h"
#include "app/diagnosis/report_layout.h"

namespace ys {
namespace {

constexpr chart::Rgb kRangeFill{205, 220, 238};
constexpr chart::Rgb kRangeEdge{120, 150, 190};
constexpr chart::Rgb kExpectedLine{40, 40, 40};
constexpr chart::Rgb kGrid{215, 215, 215};

// The code points of a UTF-8 text, each as its bytes.
std::vector<std::string_view> Characters(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        n = std::min(n, s.size() - i);
        out.push_back(s.substr(i, n));
        i += n;
    }
    return out;
}

// A step of 1, 2 or 5 times a power of ten that gives at most `ticks` intervals up to `top`.
std::int64_t AxisStep(std::int64_t top, int ticks) {
    std::int64_t step = 1;
    while (true) {
        for (int f : {1, 2, 5}) {
            if (top <= step * f * ticks) return step * f;
        }
        step *= 10;
    }
}

std::string Kwh(std::int64_t v) {
    return std::to_string(v) + " kWh";
}

}  // namespace

chart::Rgb PositionColor(Position p) {
    switch (p) {
        case Position::kBelow:
            return {210, 40, 40};
        case Position::kAbove:
            return {30, 90, 200};
        case Position::kWithin:
            break;
    }
    return {30, 140, 60};
}

std::vector<std::string> WrapText(std::string_view utf8, int maxChars) {
    std::vector<std::string> lines;
    const auto chars = Characters(utf8);
    std::size_t start = 0;
    const auto width = static_cast<std::size_t>(std::max(maxChars, 1));
    while (start < chars.size()) {
        std::size_t end = std::min(chars.size(), start + width);
        if (end < chars.size()) {
            // Break after the last comma or full stop of the line when it is not too early.
            for (std::size_t k = end; k > start + width / 2; --k) {
                if (chars[k - 1] == "、" || chars[k - 1] == "。") {
                    end = k;
                    break;
                }
            }
        }
        std::string line;
        for (std::size_t k = start; k < end; ++k) line += chars[k];
        lines.push_back(std::move(line));
        start = end;
    }
    return lines;
}

void DrawOutlookChart(chart::DrawingSurface& s, int left, int top, int right, int bottom,
                      int fontHeight, const Outlook& o) {
    s.SaveState();
    s.SetBackground(chart::kWhite, false);
    s.SetTextColor(chart::kBlack);
    s.SetFont({kReportFontFace, fontHeight, 400});

    // Room for the axis labels on the left, the month and year labels and the legend below.
    const int plotLeft = left + 6 * fontHeight;
    const int plotRight = right - fontHeight;
    const int plotTop = top + 2 * fontHeight;
    const int plotBottom = bottom - 5 * fontHeight;
    if (plotRight <= plotLeft || plotBottom <= plotTop) {
        s.RestoreState();
        return;
    }

    std::int64_t maxValue = 1;
    for (const OutlookMonth& m : o.months)
        maxValue = std::max({maxValue, m.high, m.real, m.expected});
    const std::int64_t step = AxisStep(maxValue, 5);
    const std::int64_t axisTop = (maxValue + step - 1) / step * step;
    auto yOf = [&](std::int64_t v) {
        return plotBottom - static_cast<int>(std::llround(static_cast<double>(v) *
                                                          (plotBottom - plotTop) / axisTop));
    };

    // Grid and value axis.
    s.SetPen(kGrid, 1);
    for (std::int64_t v = 0; v <= axisTop; v += step) {
        const int y = yOf(v);
        s.Line(plotLeft, y, plotRight, y);
        s.Text(plotLeft - fontHeight / 2, y - fontHeight / 2, chart::TextAlign::kRight,
               std::to_string(v));
    }
    s.Text(plotLeft - fontHeight / 2, plotTop - fontHeight - fontHeight / 4,
           chart::TextAlign::kRight, "kWh");
    s.SetPen(chart::kBlack, 1);
    s.Line(plotLeft, plotTop, plotLeft, plotBottom);
    s.Line(plotLeft, plotBottom, plotRight, plotBottom);

    const int n = static_cast<int>(o.months.size());
    const double column = n > 0 ? static_cast<double>(plotRight - plotLeft) / n : 0;
    const int barHalf = std::max(1, static_cast<int>(column * 0.3));
    const int point = std::max(2, std::min(static_cast<int>(column * 0.3), fontHeight / 2));
    // A year label needs about four characters of room before the next one.
    const int yearLabelColumns =
        static_cast<int>(std::ceil(4.5 * fontHeight / std::max(column, 1.0)));
    // Month numbers only when they fit under their column.
    const bool monthLabels = column >= 1.3 * fontHeight;
    const int penWidth = std::max(1, fontHeight / 8);
    for (int i = 0; i < n; ++i) {
        const OutlookMonth& m = o.months[static_cast<std::size_t>(i)];
        const int cx = plotLeft + static_cast<int>(column * (i + 0.5));
        s.SetPen(kRangeEdge, 1);
        s.SetBrush(kRangeFill);
        s.Rectangle(cx - barHalf, yOf(m.high), cx + barHalf + 1, yOf(m.low) + 1);
        s.SetPen(kExpectedLine, penWidth);
        const int ye = yOf(m.expected);
        s.Line(cx - barHalf - penWidth, ye, cx + barHalf + penWidth, ye);
        const int yr = yOf(m.real);
        s.FillRect(cx - point, yr - point, cx + point + 1, yr + point + 1,
                   PositionColor(m.position));

        if (monthLabels) {
            s.Text(cx, plotBottom + fontHeight / 4, chart::TextAlign::kCenter,
                   std::to_string(m.month));
        }
        const bool firstLabel = i == 0 && (m.month == 1 || 13 - m.month >= yearLabelColumns);
        if (firstLabel || (i > 0 && m.month == 1)) {
            s.SetPen(chart::kBlack, 1);
            s.Line(cx, plotBottom, cx, plotBottom + fontHeight / 4);
            s.Text(cx, plotBottom + fontHeight + fontHeight / 3, chart::TextAlign::kLeft,
                   std::to_string(m.year) + "年");
        }
    }

    // The legend, one row under the labels.
    int x = plotLeft;
    const int y = bottom - 2 * fontHeight - fontHeight / 2;
    const int mid = y + fontHeight / 2;
    const int gap = fontHeight / 3;
    s.SetPen(kRangeEdge, 1);
    s.SetBrush(kRangeFill);
    s.Rectangle(x, y, x + fontHeight, y + fontHeight);
    s.Text(x + fontHeight + gap, y, chart::TextAlign::kLeft, "天候による範囲");
    x += 9 * fontHeight;
    s.SetPen(kExpectedLine, penWidth);
    s.Line(x, mid, x + fontHeight, mid);
    s.Text(x + fontHeight + gap, y, chart::TextAlign::kLeft, "シミュレーション値");
    x += 11 * fontHeight;
    s.Text(x, y, chart::TextAlign::kLeft, "実績：");
    x += 3 * fontHeight;
    for (Position p : {Position::kWithin, Position::kBelow, Position::kAbove}) {
        s.FillRect(x, mid - point, x + 2 * point + 1, mid + point + 1, PositionColor(p));
        const char* name = p == Position::kWithin  ? "範囲内"
                           : p == Position::kBelow ? "下回る"
                                                   : "上回る";
        s.Text(x + 2 * point + gap, y, chart::TextAlign::kLeft, name);
        x += 2 * point + gap + 4 * fontHeight;
    }
    s.RestoreState();
}

std::vector<std::string> OutlookSummaryLines(const Outlook& o, int maxChars) {
    std::vector<std::string> lines;
    const OutlookSummary& s = o.last12;
    lines.push_back("直近" + std::to_string(s.months) + "か月　発電実績 " + Kwh(s.real) +
                    "　シミュレーション値 " + Kwh(s.expected) + "　天候による範囲 " +
                    std::to_string(s.low) + "〜" + Kwh(s.high));
    for (std::string& l : WrapText(s.text, maxChars)) lines.push_back(std::move(l));
    for (std::string& l : WrapText(o.trendText, maxChars)) lines.push_back(std::move(l));
    return lines;
}

void DrawOutlookPage(chart::DrawingSurface& s, int width, int height, const Outlook& o) {
    const int left = static_cast<int>(0.1 * width);
    const int right = static_cast<int>(0.9 * width);
    const int unit = std::max(1, static_cast<int>(0.012 * height));  // text cell height
    s.SaveState();
    s.SetBackground(chart::kWhite, false);
    s.SetTextColor(chart::kBlack);

    s.SetFont({kReportFontFace, 2 * unit, 400});
    s.Text(left, static_cast<int>(0.07 * height), chart::TextAlign::kLeft, kOutlookTitle);

    const int chartTop = static_cast<int>(0.13 * height);
    const int chartBottom = static_cast<int>(0.55 * height);
    s.SetPen(chart::kBlack, 1);
    s.SetBrush(chart::kWhite);
    s.Rectangle(left, chartTop, right, chartBottom);
    DrawOutlookChart(s, left + unit / 2, chartTop + unit, right - unit / 2, chartBottom - unit / 2,
                     unit, o);

    int y = static_cast<int>(0.59 * height);
    s.SetFont({kReportFontFace, static_cast<int>(1.3 * unit), 400});
    s.Text(left, y, chart::TextAlign::kLeft, "直近12か月と経年変化");
    y += 2 * unit;
    const int maxChars = (right - left) / std::max(1, static_cast<int>(1.1 * unit));
    s.SetFont({kReportFontFace, static_cast<int>(1.1 * unit), 400});
    for (const std::string& line : OutlookSummaryLines(o, maxChars)) {
        s.Text(left, y, chart::TextAlign::kLeft, line);
        y += static_cast<int>(1.8 * unit);
    }
    s.SetFont({kReportFontFace, static_cast<int>(0.8 * unit), 400});
    int ys = static_cast<int>(0.92 * height);
    for (const std::string& line :
         WrapText(kOutlookSource, (right - left) / std::max(1, static_cast<int>(0.8 * unit)))) {
        s.Text(left, ys, chart::TextAlign::kLeft, line);
        ys += unit;
    }
    s.RestoreState();
}

bool PaintOutlookReport(QPagedPaintDevice& device, const Outlook& outlook) {
    QPainter painter;
    if (!painter.begin(&device)) return false;
    {
        chart::PainterSurface surface(painter);
        DrawOutlookPage(surface, device.width(), device.height(), outlook);
    }
    return painter.end();
}

}  // namespace ys
