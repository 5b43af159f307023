// Speed of the postal-code search over the national file (beside grep -F for the same quoted
// code over the same file) and of opening the region dialog over the full region table.
//
// usage: settings_bench [PROGRAM_DIR] [benchmark options]   (default: the build's program folder)
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/settings/postal_lookup.h"
#include "app/settings/region_table.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"

extern char** environ;

namespace {

std::string g_programDir;

std::string Postal() {
    return ys::paths::Join(g_programDir, "KEN_ALL.CSV");
}

// One search as the dialog runs it: the file read afresh, every row tested.
void BM_PostalSearch(benchmark::State& state, const char* code, std::size_t expected) {
    for (auto _ : state) {
        auto found = ys::SearchPostalCode(Postal(), code);
        if (!found || found->size() != expected) {
            state.SkipWithError("unexpected result (is the national file installed?)");
            return;
        }
        benchmark::DoNotOptimize(found->data());
    }
}
BENCHMARK_CAPTURE(BM_PostalSearch, catch_all_row, "0600000", 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PostalSearch, code_with_66_rows, "4520961", 66)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PostalSearch, no_match, "9999999", 0)->Unit(benchmark::kMillisecond);

// grep -F for the same quoted code over the same file, started as a process.
void BM_GrepF(benchmark::State& state, const char* code) {
    const std::string key = std::string("\"") + code + "\"";
    const std::string file = Postal();
    std::vector<char*> argv = {const_cast<char*>("grep"),       const_cast<char*>("-F"),
                               const_cast<char*>("--"),         const_cast<char*>(key.c_str()),
                               const_cast<char*>(file.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 0x1 /* O_WRONLY */, 0);
    double childCpu = 0;
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawnp(&pid, "grep", &actions, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("grep cannot be started");
            break;
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        childCpu += usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
                    usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
    }
    // The process's own CPU time: the column above counts only this program's.
    state.counters["grep_cpu_ms"] =
        benchmark::Counter(childCpu, benchmark::Counter::kAvgIterations);
    posix_spawn_file_actions_destroy(&actions);
}
BENCHMARK_CAPTURE(BM_GrepF, catch_all_row, "0600000")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GrepF, code_with_66_rows, "4520961")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GrepF, no_match, "9999999")->Unit(benchmark::kMillisecond);

// Opening the region dialog: the table read and parsed, the prefecture list built, the current
// prefecture's regions listed.
void BM_RegionDialogOpen(benchmark::State& state) {
    const std::string table = ys::paths::Join(g_programDir, "insolation.csv");
    for (auto _ : state) {
        auto choices = ys::LoadRegionChoices(table, 44132);
        if (!choices || choices->rows.size() != 840) {
            state.SkipWithError("region table missing or not the full table");
            return;
        }
        auto regions = ys::RegionsOfPrefecture(*choices, choices->currentPrefecture);
        benchmark::DoNotOptimize(regions.data());
    }
}
BENCHMARK(BM_RegionDialogOpen)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
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
