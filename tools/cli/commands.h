// The subcommands of yieldscope-cli. Each returns the process exit code and writes its errors as
// one line on stderr.
#pragma once

#include <span>
#include <string>

namespace ys {
struct Outlook;
}

namespace ys::cli {

struct Context {
    std::string programDir;  // support files and the engine
    std::string dataDir;     // default user data file and the exchange files
};

using Args = std::span<const std::string>;

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,  // the operation failed (bad file, device fault, ...)
    kExitUsage = 2,    // the command line was wrong
    // import: the monitor link's results
    kExitPortOpen = 3,   // the port could not be opened (or no unit answered on any port)
    kExitNoRequest = 4,  // the request could not be sent
    kExitNoReply = 5,    // the unit's reply was missing, short or corrupt
};

int CmdDump(const Context& ctx, Args args);
int CmdBuild(const Context& ctx, Args args);
int CmdImport(const Context& ctx, Args args);
int CmdDiagnose(const Context& ctx, Args args);
#ifdef YS_CLI_REPORT
int CmdReport(const Context& ctx, Args args);  // needs Qt Gui
#endif
int CmdSimulate(const Context& ctx, Args args);
int CmdOutlook(const Context& ctx, Args args);
#ifdef YS_CLI_REPORT
// The outlook as a one-page PDF at `path` (needs Qt Gui); the exit code.
int WriteOutlookPdf(const Outlook& outlook, const std::string& path);
#endif

// Prints "yieldscope-cli: <text>" on stderr.
void PrintError(const std::string& text);

}  // namespace ys::cli
