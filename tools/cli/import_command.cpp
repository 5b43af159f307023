// yieldscope-cli import: reads the monitor unit's history over its COM port into a user data
// file, as the entry page's import does, so that it can run unattended.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/local_time.h"
#include "app/monitor/monitor_import.h"
#include "platform/number.h"
#include "platform/paths.h"
#include "tools/cli/commands.h"

namespace ys::cli {
namespace {

constexpr char kImportUsage[] =
    "usage: yieldscope-cli import --port N|auto [--today YYYY-MM-DD] [FILE.sol] (default: the "
    "user data file; exit 3 port not opened, 4 request not sent, 5 no or bad reply, 1 file "
    "error)";

std::string Ymd(std::int64_t t, bool withDay) {
    const LocalDateTime l = ToLocal(t);
    char buf[32];
    if (withDay) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", l.year, l.month, l.day);
    } else {
        std::snprintf(buf, sizeof buf, "%04d-%02d", l.year, l.month);
    }
    return buf;
}

std::int64_t TimeOf(const CErrorData& e) {
    return e.time;
}
std::int64_t TimeOf(const CGenerationRecord& r) {
    return r.date;
}

// " (first .. last)" of a table's valid entries.
template <class Table>
std::string Span(const Table& table, int count, bool withDay) {
    if (count <= 0) return "";
    return " (" + Ymd(TimeOf(table[0]), withDay) + " .. " +
           Ymd(TimeOf(table[static_cast<std::size_t>(count - 1)]), withDay) + ")";
}

int ExitFor(monitor::LinkResult r) {
    switch (r) {
        case monitor::LinkResult::kSuccess:
            return kExitOk;
        case monitor::LinkResult::kOpenFailed:
            return kExitPortOpen;
        case monitor::LinkResult::kRequestNotWritten:
            return kExitNoRequest;
        case monitor::LinkResult::kReplyFailed:
            return kExitNoReply;
    }
    return kExitFailure;
}

bool ParseToday(std::string_view s, std::int64_t& out) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    const std::optional<int> y = ParseNumber<int>(s.substr(0, 4));
    const std::optional<int> m = ParseNumber<int>(s.substr(5, 2));
    const std::optional<int> d = ParseNumber<int>(s.substr(8, 2));
    if (!y || !m || !d || *m < 1 || *m > 12 || *d < 1 || *d > 31) return false;
    out = MakeLocalTime(*y, *m, *d, 12);
    return true;
}

}  // namespace

int CmdImport(const Context& ctx, Args args) {
    std::string portText, file, today;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--port" || a == "--today") && i + 1 < args.size()) {
            (a == "--port" ? portText : today) = args[++i];
        } else if (!a.empty() && a[0] != '-' && file.empty()) {
            file = a;
        } else {
            PrintError(kImportUsage);
            return kExitUsage;
        }
    }
    int portNo = 0;
    const bool autoPort = portText == "auto";
    if (!autoPort) {
        const std::optional<int> n = ParseNumber<int>(portText);
        if (!n || *n < 1 || *n > serial::kMaxPortNo) {
            PrintError("--port takes a number from 1 to 255, or auto");
            return kExitUsage;
        }
        portNo = *n;
    }

    CYieldscopeApp app;
    app.programDir = ctx.programDir;
    app.dataDir = ctx.dataDir;
    if (!today.empty()) {
        std::int64_t t = 0;
        if (!ParseToday(today, t)) {
            PrintError("--today takes YYYY-MM-DD");
            return kExitUsage;
        }
        app.SetClock([t] { return t; });
    }
    // The data the import goes into; the default file may not exist yet (a first import).
    const FileResult loaded = LoadUserData(app, file);
    if (!loaded.ok() && !(loaded.outcome == FileOutcome::kCannotOpen && file.empty())) {
        PrintError(loaded.path + ": " +
                   (loaded.outcome == FileOutcome::kCannotOpen ? "cannot open: " + loaded.detail
                                                               : loaded.UserMessage()));
        return kExitFailure;
    }
    if (file.empty() && !paths::MakeDirs(app.dataDir, paths::kDataDirMode)) {
        PrintError(app.dataDir + ": cannot create the data folder");
        return kExitFailure;
    }

    if (autoPort) {
        std::vector<int> ports;
        for (int n = 1; n <= serial::kMaxPortNo; ++n) ports.push_back(n);
        bool found = false;
        const int pos = monitor::FindMonitorPort(
            ports, [](int n) { return monitor::ProbeMonitorUnit(n); },
            [&](int, monitor::LinkResult r) {
                found = found || r == monitor::LinkResult::kSuccess;
            });
        if (!found) {
            PrintError(std::string(monitor::kMsgReceiveFailed) +
                       " (no monitor unit answered on the ports published in " +
                       serial::PortFolder() + ")");
            return kExitPortOpen;
        }
        portNo = ports[static_cast<std::size_t>(pos)];
    }

    monitor::MemoryImage image{};
    const monitor::LinkResult r = monitor::ReceiveMonitorImage(portNo, image);
    const std::string port = serial::PortName(portNo);
    if (r != monitor::LinkResult::kSuccess) {
        PrintError(port + ": " + std::string(monitor::kMsgReceiveFailed) + " (" +
                   std::string(monitor::DescribeLinkResult(r)) + "); nothing was changed");
        return ExitFor(r);
    }
    const monitor::ImportSummary s = monitor::ApplyMonitorImage(app, image, file);
    if (!s.save.ok()) {
        PrintError(s.save.UserMessage());
        return kExitFailure;
    }
    std::printf("%s\n", std::string(monitor::kMsgReceiveDone).c_str());
    std::printf("port:   %s\n", port.c_str());
    std::printf("errors: %d%s\n", s.errorCount, Span(app.errors, app.errorCount, true).c_str());
    std::printf("days:   %d%s\n", s.dayCount, Span(app.days, app.dayCount, true).c_str());
    std::printf("months: %d in the table%s, %d read\n", s.monthCount,
                Span(app.months, app.monthCount, false).c_str(), s.decodedMonths);
    std::printf("saved:  %s\n", s.save.path.c_str());
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

}  // namespace ys::cli
