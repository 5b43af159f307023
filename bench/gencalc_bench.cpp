// Speed of the engine for a full request of 16 lines: the calculation in-process, and the whole
// gencalc process (start, read, compute, write) beside the start of a trivial process.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/constants.h"
#include "engine/generation.h"
#include "engine/request.h"
#include "engine/result_file.h"
#include "platform/atomic_file.h"

extern char** environ;

namespace {

using ys::gencalc::SimulationContext;
using ys::profile::Document;

const std::string kProgramDir = YS_BENCH_PROGRAM_DIR;

// Two power conditioners, sixteen roof surfaces in all directions, some with step-up units.
std::string SixteenLineRequest() {
    std::string t = "[SYSTEM]\r\nPV_SYSTEM=KESTREL\r\nPV_TOTAL_KW=48.000\r\n";
    t += "[PC]\r\nNUM=2\r\n0=QPC-310A,0.945\r\n1=QPC-550A,0.960\r\n[LINES]\r\nNUM=16\r\n";
    const char* azimuths[] = {"0.0",   "-22.5", "22.5",  "-45.0", "45.0",   "-90.0",
                              "90.0",  "0.0",   "-67.5", "67.5",  "-135.0", "135.0",
                              "180.0", "15.0",  "-15.0", "0.0"};
    for (int j = 0; j < 16; ++j) {
        t += std::to_string(j) + "=" + std::to_string(j % 2) + "," + static_cast<char>('A' + j) +
             "," + azimuths[j] + "," + std::to_string(10 + 3 * j) + "," +
             std::to_string(2000 + 100 * j) + "," + std::to_string(j % 5 == 4 ? 1 : 0) + "\r\n";
    }
    t += "[LOCATION]\r\nLATITUDE=35,41.2\r\nLONGITUDE=139,45.6\r\n";
    t += "SHADOW_LOSS=5,5,5,5,5,5,5,5,5,5,5,5\r\n[MONTHLY_AREA_DATA]\r\n";
    const char* months[] = {"2.43,0.95,3", "2.96,1.27,3", "3.40,1.74,0", "3.97,2.09,0",
                            "4.33,2.37,0", "3.57,2.23,0", "4.04,2.31,0", "4.20,2.22,0",
                            "3.19,1.79,0", "2.71,1.44,0", "2.39,1.05,0", "2.22,0.89,0"};
    for (int m = 0; m < 12; ++m) t += std::to_string(m + 1) + "M=" + months[m] + "\r\n";
    return t;
}

std::string ConstantsBytes() {
    auto bytes = ys::files::ReadWholeFile(kProgramDir + "/gencalc.ini");
    return bytes ? *bytes : std::string();
}

// The calculation alone, constants and request already read.
void BM_RunCalculation(benchmark::State& state) {
    SimulationContext base;
    if (ys::gencalc::LoadConstants(base, Document::Parse(ConstantsBytes())) != 0 ||
        !ys::gencalc::ReadRequest(base, Document::Parse(SixteenLineRequest())).ok()) {
        state.SkipWithError("constants or request refused");
        return;
    }
    for (auto _ : state) {
        SimulationContext ctx = base;
        ys::gencalc::RunCalculation(ctx);
        benchmark::DoNotOptimize(ctx.totalMonthly);
    }
}
BENCHMARK(BM_RunCalculation);

// Everything a run does in memory: parse both files, read, calculate, format the result.
void BM_InProcessRun(benchmark::State& state) {
    const std::string constants = ConstantsBytes();
    const std::string request = SixteenLineRequest();
    for (auto _ : state) {
        SimulationContext ctx;
        if (ys::gencalc::LoadConstants(ctx, Document::Parse(constants)) != 0 ||
            !ys::gencalc::ReadRequest(ctx, Document::Parse(request)).ok()) {
            state.SkipWithError("constants or request refused");
            return;
        }
        ys::gencalc::RunCalculation(ctx);
        std::string out = ys::gencalc::BuildResultDocument(ctx).Serialize();
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_InProcessRun);

class Folder {
public:
    Folder() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "gencalc-bench-XXXXXX").string();
        if (::mkdtemp(tmpl.data())) path_ = tmpl;
    }
    ~Folder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Starts a program and waits for it; its exit code, or -1 when it could not start.
int RunProcess(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

void BM_GencalcProcess(benchmark::State& state) {
    Folder dir;
    const std::string in = dir.path() + "/pc_in.ini";
    const std::string out = dir.path() + "/pc_out.ini";
    std::ofstream(in, std::ios::binary) << SixteenLineRequest();
    const std::vector<std::string> args = {kProgramDir + "/gencalc", in, out, "4b1d07a9e25c"};
    for (auto _ : state) {
        if (RunProcess(args) != 0) {
            state.SkipWithError("gencalc failed");
            return;
        }
    }
}
BENCHMARK(BM_GencalcProcess)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_TrueProcess(benchmark::State& state) {
    const std::vector<std::string> args = {"/bin/true"};
    for (auto _ : state) {
        if (RunProcess(args) != 0) {
            state.SkipWithError("/bin/true failed");
            return;
        }
    }
}
BENCHMARK(BM_TrueProcess)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Both processes in turn, so that a machine whose load changes during the run affects both alike;
// the counters give the mean time of each and their ratio.
void BM_GencalcVersusTrue(benchmark::State& state) {
    Folder dir;
    const std::string in = dir.path() + "/pc_in.ini";
    const std::string out = dir.path() + "/pc_out.ini";
    std::ofstream(in, std::ios::binary) << SixteenLineRequest();
    const std::vector<std::string> gencalc = {kProgramDir + "/gencalc", in, out, "4b1d07a9e25c"};
    const std::vector<std::string> trivial = {"/bin/true"};
    using Clock = std::chrono::steady_clock;
    Clock::duration gencalcTime{};
    Clock::duration trueTime{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int a = RunProcess(gencalc);
        const auto t1 = Clock::now();
        const int b = RunProcess(trivial);
        const auto t2 = Clock::now();
        if (a != 0 || b != 0) {
            state.SkipWithError("a process failed");
            return;
        }
        gencalcTime += t1 - t0;
        trueTime += t2 - t1;
    }
    auto us = [&state](Clock::duration d) {
        return std::chrono::duration<double, std::micro>(d).count() /
               static_cast<double>(state.iterations());
    };
    state.counters["gencalc_us"] = us(gencalcTime);
    state.counters["true_us"] = us(trueTime);
    state.counters["ratio"] = us(gencalcTime) / us(trueTime);
}
BENCHMARK(BM_GencalcVersusTrue)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
