// An unpaced import (transfer, decoding, month table, save) through qtxportd --simulate (the
// pseudo-terminal, the bridge, qtxvcom64, qtxusb64, the simulated bus and the unit's model)
// beside the same import through monitor-sim's own pseudo-terminal, in the same run, the two
// alternating. Printed with the protocol's fixed waits (as the user sees it) and without them
// (what the layers cost).
// Run from the build folder: bench/qtxportd_bench [RUNS]
#include <algorithm>
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

struct Figures {
    double min = 1e9, max = 0, sum = 0;
    int n = 0, failed = 0;
    void Add(double s) {
        min = std::min(min, s);
        max = std::max(max, s);
        sum += s;
        ++n;
    }
    double mean() const { return n ? sum / n : 0; }
};

// The import, or with an empty `file` the transfer alone (no decoding, no saving).
void ImportOnce(int port, const ys::monitor::LinkIo& io, const std::string& file, Figures& f) {
    ys::CYieldscopeApp app;
    const auto start = Clock::now();
    ys::monitor::MemoryImage image{};
    if (ys::monitor::ReceiveMonitorImage(port, image, io) != ys::monitor::LinkResult::kSuccess ||
        (!file.empty() && !ys::monitor::ApplyMonitorImage(app, image, file).save.ok())) {
        ++f.failed;
        return;
    }
    f.Add(std::chrono::duration<double>(Clock::now() - start).count());
}

void Print(const char* title, const Figures& f) {
    std::printf("  %-34s mean %.4f s  min %.4f s  max %.4f s  (%d runs, %d failed)\n", title,
                f.mean(), f.min, f.max, f.n, f.failed);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const std::string program = ys::paths::ProgramDir() + "/../bin";
    ys::test::TempDir dir;
    ys::test::ScopedEnv ports("NORVANE_PORT_DIR", dir.File("ports"));
    const std::vector<std::string> demo = {"--demo",  "--install",  "2020-04",
                                           "--today", "2024-06-15", "--quiet"};

    std::vector<std::string> simArgs = {program + "/monitor-sim", "--port", "4", "--unpaced"};
    simArgs.insert(simArgs.end(), demo.begin(), demo.end());
    std::vector<std::string> portdArgs = {program + "/qtxportd", "--simulate"};
    portdArgs.insert(portdArgs.end(), demo.begin(), demo.end());
    ys::test::ChildProcess sim(simArgs);
    ys::test::ChildProcess portd(portdArgs);
    if (sim.ReadLine().empty() || portd.ReadLine().empty()) {
        std::fprintf(stderr, "a server did not start: %s%s\n", sim.err().c_str(),
                     portd.err().c_str());
        return 1;
    }

    const ys::monitor::LinkIo real = ys::monitor::DefaultLinkIo();
    ys::monitor::LinkIo noWaits = real;
    noWaits.sleep = [](std::chrono::milliseconds) {};
    struct Variant {
        const char* title;
        ys::monitor::LinkIo io;
        bool save;
    };
    for (const auto& [title, io, save] :
         {Variant{"import, with the protocol's fixed waits", real, true},
          Variant{"import, without the fixed waits", noWaits, true},
          Variant{"transfer alone, without the fixed waits", noWaits, false}}) {
        Figures viaSim, viaStack;
        const auto file = [&](const char* name) { return save ? dir.File(name) : std::string(); };
        ImportOnce(4, io, file("warm.sol"), viaSim);  // warm-up, not counted
        ImportOnce(3, io, file("warm.sol"), viaStack);
        viaSim = viaStack = Figures{};
        for (int i = 0; i < runs; ++i) {
            ImportOnce(4, io, file("sim.sol"), viaSim);
            ImportOnce(3, io, file("stack.sol"), viaStack);
        }
        std::printf("unpaced %s:\n", title);
        Print("monitor-sim's pseudo-terminal", viaSim);
        Print("qtxportd --simulate (whole stack)", viaStack);
        std::printf("  ratio stack / monitor-sim: %.2f (goal: within 1.5)\n",
                    viaStack.mean() / viaSim.mean());
    }
    return 0;
}
