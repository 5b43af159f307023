#include "app/diagnosis/diagnosis_drawing.h"

#include <QPagedPaintDevice>
#include <QPainter>
#include <memory>

#include "app/chart/painter_surface.h"
#include "app/diagnosis/comparison_chart.h"

namespace ys {

void FillComparisonChart(const UserData& data, chart::ChartData& chart) {
    const ComparisonChart c = BuildComparisonChart(data);
    chart.scale = 1.0;
    chart.originX = 0;
    chart.originY = 0;
    chart.columnWidth = ComparisonChart::kColumnWidth;
    chart.count = ComparisonChart::kCount;
    for (int i = 0; i < ComparisonChart::kCount; ++i) {
        chart.yearLabels[i] = c.columns[i].yearLabel;
        chart.monthLabels[i] = c.columns[i].monthLabel;
        chart.seriesA[i] = c.columns[i].simulated;
        chart.seriesB[i] = c.columns[i].real;
    }
}

void DrawDiagnosisReport(chart::DrawingSurface& surface, const ReportLayout& layout,
                         const UserData& data) {
    surface.SaveState();
    // The frame with the surface's own pen and brush, then the chart inside it.
    surface.Rectangle(layout.frameLeft, layout.frameTop, layout.frameRight, layout.frameBottom);
    auto chart = std::make_unique<chart::ChartData>();
    FillComparisonChart(data, *chart);
    chart->surface = &surface;
    chart->scale = layout.m;
    chart->originX = layout.chartOriginX;
    chart->originY = layout.chartOriginY;
    chart::DrawBarChart(layout.width, layout.height, chart::ChartType::kComparison, false,
                        ComparisonChart::kRoundExponent, *chart);

    surface.SetTextColor(chart::kBlack);
    surface.SetBackground(chart::kWhite, false);
    for (const ReportText& t : layout.texts) {
        surface.SetFont({kReportFontFace, t.cellHeight, 400});
        surface.Text(t.x, t.y, chart::TextAlign::kLeft, t.text);
    }
    surface.RestoreState();
}

bool PaintDiagnosisReport(QPagedPaintDevice& device, const UserData& data, Verdict verdict) {
    QPainter painter;
    if (!painter.begin(&device)) return false;
    const ReportLayout layout =
        LayoutDiagnosisReport(device.width(), device.height(), data, verdict);
    {
        chart::PainterSurface surface(painter);
        DrawDiagnosisReport(surface, layout, data);
    }
    return painter.end();
}

}  // namespace ys
