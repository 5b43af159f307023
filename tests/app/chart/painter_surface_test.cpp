#include "app/chart/painter_surface.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <memory>

#include "app/chart/bar_chart.h"
#include "app/chart/chart_pixmap.h"
#include "app/chart/chart_sources.h"

namespace ys::chart {
namespace {

std::unique_ptr<ChartData> SimulationChart() {
    UserData data;
    for (int i = 0; i < 12; ++i) data.simMonthly[i] = 500;
    auto chart = std::make_unique<ChartData>();
    FillSimulationChart(data, *chart);
    return chart;
}

QRgb Rgb32(Rgb c) {
    return qRgb(c.r, c.g, c.b);
}

TEST(PainterSurfaceTest, PaintsBarsFramesAndTextOnAnImage) {
    QImage image(674, 280, QImage::Format_RGB32);
    image.fill(Qt::black);
    auto chart = SimulationChart();
    {
        QPainter painter(&image);
        PainterSurface surface(painter);
        chart->surface = &surface;
        DrawBarChart(674, 280, ChartType::kSimulation, true, 2, *chart);
    }
    // Axis 600: bars of 150 units from y 50 to 200, 36 wide from x 90.
    EXPECT_EQ(image.pixel(100, 120), Rgb32(kCyan));  // inside the first bar
    EXPECT_EQ(image.pixel(90, 120), Rgb32(kBlack));  // its outline
    EXPECT_EQ(image.pixel(125, 120), Rgb32(kBlack));
    EXPECT_EQ(image.pixel(130, 120), Rgb32(kWhite));  // between bars
    EXPECT_EQ(image.pixel(75, 100), Rgb32(kBlack));   // the axis line
    EXPECT_EQ(image.pixel(600, 10), Rgb32(kWhite));   // background cleared
    // Some ink in the cell of "合計".
    int dark = 0;
    for (int y = 217; y < 229; ++y) {
        for (int x = 636; x < 660; ++x) dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
    }
    EXPECT_GT(dark, 10);
}

TEST(PainterSurfaceTest, OpaqueTextClearsItsCellTransparentTextDoesNot) {
    QImage image(200, 60, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, 255));
    {
        QPainter painter(&image);
        PainterSurface s(painter);
        s.SetFont({kChartFace, 12, 400});
        s.Text(10, 5, TextAlign::kLeft, "ii");
        s.SetBackground(kWhite, false);
        s.Text(10, 35, TextAlign::kLeft, "ii");
    }
    int white = 0;
    int whiteBelow = 0;
    for (int x = 10; x < 20; ++x) {
        white += image.pixel(x, 6) == qRgb(255, 255, 255) ? 1 : 0;
        whiteBelow += image.pixel(x, 36) == qRgb(255, 255, 255) ? 1 : 0;
    }
    EXPECT_GT(white, 0);
    EXPECT_EQ(whiteBelow, 0);
}

TEST(PainterSurfaceTest, ChartBitmapsFollowTheDevicePixelRatio) {
    auto chart = SimulationChart();
    QPixmap pm = RenderChartPixmap(QSize(674, 280), 2.0, ChartType::kSimulation, 2, *chart);
    EXPECT_EQ(pm.size(), QSize(1348, 560));
    EXPECT_EQ(pm.devicePixelRatio(), 2.0);
    EXPECT_EQ(chart->surface, nullptr);
    QImage image = pm.toImage();
    EXPECT_EQ(image.pixel(200, 240), Rgb32(kCyan));  // (100, 120) in device-independent units

    // Too wide for the painter at that ratio: the ratio is lowered instead of failing.
    QPixmap wide = RenderChartPixmap(QSize(20000, 100), 3.0, ChartType::kSimulation, 2, *chart);
    EXPECT_FALSE(wide.isNull());
    EXPECT_LE(wide.width(), 32767);
}

}  // namespace
}  // namespace ys::chart
