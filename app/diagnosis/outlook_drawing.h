// Drawing of the outlook: the chart of each month's weather range with the expected and the real
// generation, and the one-page printout with the twelve-month summary and the trend. Everything
// is drawn through the chart's drawing surface, so screen, printer and PDF show the same.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/chart/drawing_surface.h"
#include "app/diagnosis/outlook.h"

class QPagedPaintDevice;

namespace ys {

inline constexpr const char* kOutlookTitle = "天候との比較";
inline constexpr const char* kOutlookSource =
    "天候の範囲：NEDO 日射量データベース MONSOLA-11（1981〜2009年）で日照の最も少ない年と最も多い"
    "年の日射量から計算した発電量";

// Colours of the real value by its position.
chart::Rgb PositionColor(Position p);

// The chart in the rectangle [left, right) × [top, bottom): axis, one range bar per month, the
// expected value as a line across it, the real value as a point, month and year labels and the
// legend. `fontHeight` is the label font's cell height in device units.
void DrawOutlookChart(chart::DrawingSurface& surface, int left, int top, int right, int bottom,
                      int fontHeight, const Outlook& outlook);

// The summary lines under the chart (UTF-8): the twelve months' figures, their sentence and the
// trend, each at most `maxChars` characters wide.
std::vector<std::string> OutlookSummaryLines(const Outlook& outlook, int maxChars);

// The whole page on a W × H device: title, chart, summary, trend and the data source.
void DrawOutlookPage(chart::DrawingSurface& surface, int width, int height, const Outlook& outlook);

// Paints the page on a printer or PDF writer as one page; false when the device could not be
// painted on.
bool PaintOutlookReport(QPagedPaintDevice& device, const Outlook& outlook);

// Splits `utf8` into lines of at most `maxChars` characters, preferring to break after "、" or
// "。".
std::vector<std::string> WrapText(std::string_view utf8, int maxChars);

}  // namespace ys
