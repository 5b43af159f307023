// yieldscope-cli: the user data file and the program's operations without the GUI, for support
// desks, dealers and scripts.
#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/paths.h"
#include "tools/cli/commands.h"

namespace ys::cli {

void PrintError(const std::string& text) {
    std::fprintf(stderr, "yieldscope-cli: %s\n", text.c_str());
}

namespace {

struct Command {
    std::string_view name;
    std::string_view usage;
    int (*run)(const Context&, Args);
};

constexpr Command kCommands[] = {
    {"dump", "dump FILE.sol            print the whole user data file as JSON", CmdDump},
    {"build", "build FILE.json OUT.sol  write a user data file from such JSON", CmdBuild},
    {"import", "import --port N|auto [FILE.sol]  read the monitor unit's history into FILE.sol",
     CmdImport},
    {"diagnose", "diagnose FILE.sol        the verdict of the last twelve months and its ratio",
     CmdDiagnose},
#ifdef YS_CLI_REPORT
    {"report",
     "report FILE.sol OUT.pdf  the printed diagnosis report as a one-page PDF (A4 portrait;\n"
     "                           --landscape, --paper A4|A3|B4|B5|Letter)",
     CmdReport},
#endif
    {"simulate",
     "simulate [FILE.sol]      re-run and print the expected generation (default: SolarData.sol)",
     CmdSimulate},
    {"outlook",
     "outlook FILE.sol [--json] [--pdf OUT.pdf]  each month against the weather's range, and the trend",
     CmdOutlook},
};

void PrintUsage(std::FILE* to) {
    std::fprintf(to, "usage: yieldscope-cli COMMAND ...\n");
    for (const Command& c : kCommands)
        std::fprintf(to, "  %.*s\n", int(c.usage.size()), c.usage.data());
}

}  // namespace
}  // namespace ys::cli

int main(int argc, char** argv) {
    using namespace ys::cli;
    tzset();
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return kExitOk;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    Context ctx{ys::paths::ProgramDir(), ys::paths::DataDir()};
    for (const Command& c : kCommands) {
        if (c.name != name) continue;
        // Last line of defence: whatever a command's input does, the tool ends with a message
        // and exit code 1, never with an abort.
        try {
            return c.run(ctx, args);
        } catch (const std::exception& e) {
            PrintError(std::string(name) + ": " + e.what());
            return kExitFailure;
        }
    }
    PrintError("unknown command \"" + std::string(name) + "\"; see yieldscope-cli --help");
    return kExitUsage;
}
