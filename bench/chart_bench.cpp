// Building the charts of the pages: filling the chart data and drawing it into an off-screen
// bitmap, as the viewer does when it is shown or its mode changes.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdlib>
#include <memory>

#include "app/app_data.h"
#include "app/chart/chart_pixmap.h"
#include "app/chart/chart_sources.h"
#include "app/fonts.h"
#include "app/local_time.h"

namespace {

ys::UserData FullData() {
    ys::UserData d;
    for (int i = 0; i < 12; ++i) d.simMonthly[i] = 300 + 20 * i;
    d.dayCount = ys::kMaxDays;
    for (int i = 0; i < ys::kMaxDays; ++i) {
        d.days[i].date = ys::MakeLocalTime(2025, 1, 1 + i);
        d.days[i].generation = static_cast<std::int16_t>(5 + i % 20);
    }
    d.monthCount = ys::kMaxMonths;
    for (int i = 0; i < ys::kMaxMonths; ++i) {
        d.months[i].date = ys::MakeLocalTime(2021, 1 + i, 1);
        d.months[i].generation = static_cast<std::int16_t>(250 + i * 3);
    }
    return d;
}

void Render(benchmark::State& state, const ys::chart::ChartStyle& style,
            void (*fill)(const ys::UserData&, ys::chart::ChartData&), int height, qreal dpr) {
    const ys::UserData data = FullData();
    for (auto _ : state) {
        auto chart = std::make_unique<ys::chart::ChartData>();
        fill(data, *chart);
        const int width = style.type == ys::chart::ChartType::kSimulation
                              ? 674
                              : ys::chart::ViewerChartWidth(style, chart->count);
        QPixmap pm = ys::chart::RenderChartPixmap(QSize(width, height), dpr, style.type,
                                                  style.roundExponent, *chart);
        benchmark::DoNotOptimize(pm);
    }
}

void BM_Daily400(benchmark::State& s) {
    Render(s, ys::chart::kDailyChart, ys::chart::FillDailyChart, 315, 1.0);
}
void BM_Daily400HighDensity(benchmark::State& s) {
    Render(s, ys::chart::kDailyChart, ys::chart::FillDailyChart, 315, 2.0);
}
void BM_Monthly60(benchmark::State& s) {
    Render(s, ys::chart::kMonthlyChart, ys::chart::FillMonthlyChart, 315, 1.0);
}
void BM_Simulation(benchmark::State& s) {
    Render(s, ys::chart::kSimulationChart, ys::chart::FillSimulationChart, 280, 1.0);
}

BENCHMARK(BM_Daily400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Daily400HighDensity)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Monthly60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Simulation)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("TZ", "Asia/Tokyo", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    ys::gui::InstallFontSubstitutions();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
