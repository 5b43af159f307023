// yieldscope-cli simulate: re-runs the expected generation of a user data file, as leaving the
// user page does (request in the data folder, engine, results stored, file saved).
#include <cstdio>
#include <iostream>

#include "app/app_data.h"
#include "app/settings/simulation_request.h"
#include "app/user_data_file.h"
#include "platform/paths.h"
#include "tools/cli/commands.h"

namespace ys::cli {
namespace {

// The program's messages have several lines; the command's errors are one line each.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace

int CmdSimulate(const Context& ctx, Args args) {
    if (args.size() > 1) {
        PrintError("usage: yieldscope-cli simulate [FILE.sol]");
        return kExitUsage;
    }
    CYieldscopeApp app;
    app.programDir = ctx.programDir;
    app.dataDir = ctx.dataDir;
    paths::MakeDirs(app.dataDir, paths::kDataDirMode);
    const std::string path = ResolveUserDataPath(app, args.empty() ? std::string() : args[0]);

    FileResult loaded = LoadUserData(app, path);
    if (loaded.outcome == FileOutcome::kCannotOpen) {
        PrintError(path + ": cannot open: " + loaded.detail);
        return kExitFailure;
    }
    if (!loaded.ok()) {
        PrintError(path + ": not a valid user data file: " + loaded.detail);
        return kExitFailure;
    }
    if (!SimulationPreconditionMet(app.userInfo)) {
        PrintError(path + ": nothing to simulate: " +
                   (app.userInfo.regionNo == 0 ? std::string("no region chosen")
                                               : std::string("installed capacity is 0")));
        return kExitFailure;
    }

    SimulationResult sim = RunSimulation(app);
    if (!sim.ok()) {
        PrintError(OneLine(sim.UserTitle() + ": " + sim.UserMessage()));
        return kExitFailure;
    }
    FileResult saved = SaveUserData(app, path);
    if (!saved.ok()) {
        PrintError(OneLine(saved.UserMessage()));
        return kExitFailure;
    }
    for (int m = 0; m < 12; ++m) std::printf("%dM=%d\n", m + 1, app.simMonthly[m]);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

}  // namespace ys::cli
