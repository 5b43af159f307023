// A whole import (transfer, decoding, month table, save) through monitor-sim, paced at 115200
// baud beside the wire time of the bytes exchanged plus the protocol's fixed waits, and unpaced.
// Run from the build folder: bench/monitor_import_bench [RUNS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_data.h"
#include "app/monitor/monitor_import.h"
#include "platform/paths.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kBaud = 115200.0;
constexpr int kBlocks = 256;
// Request, one ACK per block; header, the blocks.
constexpr int kHostBytes = 3 + 4 * kBlocks;
constexpr int kUnitBytes = 5 + 133 * kBlocks;
constexpr double kFixedWaits = 0.3;  // three waits of 100 ms

struct Figures {
    double transfer = 0;  // of the sum: the transfer alone
    double min = 1e9, max = 0, sum = 0;
    int n = 0;
    void Add(double s) {
        min = std::min(min, s);
        max = std::max(max, s);
        sum += s;
        ++n;
    }
    double mean() const { return n ? sum / n : 0; }
};

// Imports `runs` times from port 7; returns the number of imports that failed.
int Measure(int runs, const ys::monitor::LinkIo& io, const std::string& file, Figures& f) {
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        ys::CYieldscopeApp app;
        const auto start = Clock::now();
        ys::monitor::MemoryImage image{};
        const auto r = ys::monitor::ReceiveMonitorImage(7, image, io);
        if (r != ys::monitor::LinkResult::kSuccess) {
            ++failed;
            continue;
        }
        f.transfer += std::chrono::duration<double>(Clock::now() - start).count();
        const auto summary = ys::monitor::ApplyMonitorImage(app, image, file);
        if (!summary.save.ok()) {
            ++failed;
            continue;
        }
        f.Add(std::chrono::duration<double>(Clock::now() - start).count());
    }
    return failed;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string program = ys::paths::ProgramDir() + "/../bin";
    ys::test::TempDir dir;
    ys::test::ScopedEnv ports("NORVANE_PORT_DIR", dir.File("ports"));
    const std::string file = dir.File("bench.sol");
    const double wire = (kHostBytes + kUnitBytes) * 10.0 / kBaud;

    auto run = [&](const char* title, std::vector<std::string> simArgs,
                   const ys::monitor::LinkIo& io, int n) {
        std::vector<std::string> args = {program + "/monitor-sim", "--port", "7", "--demo",
                                         "--quiet"};
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        ys::test::ChildProcess sim(args);
        if (sim.ReadLine().empty()) {
            std::fprintf(stderr, "monitor-sim did not start: %s\n", sim.err().c_str());
            std::exit(1);
        }
        Figures f;
        const int failed = Measure(n, io, file, f);
        if (failed > 0) std::printf("%s: %d of %d imports failed\n", title, failed, n);
        if (f.n == 0) return f;
        std::printf(
            "%-36s mean %.3f s  min %.3f s  max %.3f s  (%d runs; transfer %.3f s, "
            "decode and save %.3f s)\n",
            title, f.mean(), f.min, f.max, f.n, f.transfer / f.n, f.mean() - f.transfer / f.n);
        return f;
    };

    std::printf(
        "bytes exchanged: %d (host %d, unit %d); wire time at 115200 8N1 %.3f s; "
        "fixed waits %.1f s; together %.3f s\n",
        kHostBytes + kUnitBytes, kHostBytes, kUnitBytes, wire, kFixedWaits, wire + kFixedWaits);
    const ys::monitor::LinkIo real = ys::monitor::DefaultLinkIo();
    const Figures paced = run("paced, whole frames", {}, real, runs);
    std::printf("  -> %.1f %% over wire time plus waits\n",
                (paced.mean() / (wire + kFixedWaits) - 1) * 100);
    const Figures bytes = run("paced, byte by byte", {"--pace", "byte"}, real, runs);
    std::printf("  -> %.1f %% over wire time plus waits\n",
                (bytes.mean() / (wire + kFixedWaits) - 1) * 100);
    run("unpaced", {"--unpaced"}, real, runs * 3);
    ys::monitor::LinkIo noWaits = real;
    noWaits.sleep = [](std::chrono::milliseconds) {};
    run("unpaced, without the fixed waits", {"--unpaced"}, noWaits, runs * 3);
    return 0;
}
