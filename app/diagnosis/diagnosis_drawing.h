// Drawing of the diagnosis: the comparison chart's data for the chart renderer, and the printed
// report on any drawing surface or paged device (printer, PDF writer).
#pragma once

#include "app/app_data.h"
#include "app/chart/bar_chart.h"
#include "app/chart/drawing_surface.h"
#include "app/diagnosis/report_layout.h"

class QPagedPaintDevice;

namespace ys {

// Columns, labels and series of the comparison chart at scale 1 and origin (0, 0).
void FillComparisonChart(const UserData& data, chart::ChartData& chart);

// The report of `layout`: the chart's frame, the chart, then every text.
void DrawDiagnosisReport(chart::DrawingSurface& surface, const ReportLayout& layout,
                         const UserData& data);

// Lays the report out on the device's printable area and paints it as one page. False when the
// device could not be painted on (the printer or the file could not be opened).
bool PaintDiagnosisReport(QPagedPaintDevice& device, const UserData& data, Verdict verdict);

}  // namespace ys
