// Opening the region dialog over the full region table, widgets included (offscreen).
//
// usage: region_dialog_bench [PROGRAM_DIR] [benchmark options]
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <cstdlib>
#include <string>

#include "app/fonts.h"
#include "app/settings/near_pos_dlg.h"

namespace {

std::string g_programDir;

void BM_NearPosDlgOpen(benchmark::State& state) {
    for (auto _ : state) {
        ys::gui::CNearPosDlg dlg(g_programDir, 44132, "");
        benchmark::DoNotOptimize(dlg.regionList()->count());
    }
}
BENCHMARK(BM_NearPosDlgOpen)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ys::gui::InstallFontSubstitutions();
    g_programDir = YS_BENCH_PROGRAM_DIR;
    if (argc > 1 && argv[1][0] != '-') {
        g_programDir = argv[1];
        --argc;
        ++argv;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
