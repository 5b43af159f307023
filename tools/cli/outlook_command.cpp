// yieldscope-cli outlook: each month's real generation against the weather's natural range, the
// twelve months of the diagnosis and the year-on-year trend.
#include <cstdio>
#include <iostream>

#include "app/diagnosis/outlook.h"
#include "app/diagnosis/verdict.h"
#include "tools/cli/commands.h"
#include "tools/cli/diagnosis_input.h"

namespace ys::cli {
namespace {

constexpr const char* kUsage = "usage: yieldscope-cli outlook FILE.sol [--json] [--pdf OUT.pdf]";

void PrintText(const Outlook& o) {
    std::printf("month     real  expected   low  high  position\n");
    for (const OutlookMonth& m : o.months) {
        std::printf("%s %6lld %9lld %5lld %5lld  %s\n", MonthLabel(m).c_str(),
                    static_cast<long long>(m.real), static_cast<long long>(m.expected),
                    static_cast<long long>(m.low), static_cast<long long>(m.high),
                    std::string(PositionName(m.position)).c_str());
    }
    const OutlookSummary& s = o.last12;
    std::printf("last %d months: real %lld kWh, expected %lld kWh, range %lld-%lld kWh: %s\n",
                s.months, static_cast<long long>(s.real), static_cast<long long>(s.expected),
                static_cast<long long>(s.low), static_cast<long long>(s.high),
                std::string(PositionName(s.position)).c_str());
    std::printf("%s\n", s.text.c_str());
    if (o.trend) {
        std::printf("trend: %.1f %%/year (%d pairs, 16th-84th percentile %.1f to %.1f)\n",
                    o.trend->percentPerYear, o.trend->pairs, o.trend->low, o.trend->high);
    } else {
        std::printf("trend: none\n");
    }
    std::printf("%s\n", o.trendText.c_str());
}

}  // namespace

int CmdOutlook(const Context& ctx, Args args) {
    std::string file;
    std::string pdf;
    bool json = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--pdf" && i + 1 < args.size()) {
            pdf = args[++i];
        } else if (args[i].starts_with("--") || !file.empty()) {
            PrintError(std::string("unexpected \"") + args[i] + "\"; " + kUsage);
            return kExitUsage;
        } else {
            file = args[i];
        }
    }
    if (file.empty()) {
        PrintError(kUsage);
        return kExitUsage;
    }
#ifndef YS_CLI_REPORT
    if (!pdf.empty()) {
        PrintError("this build draws no PDF");
        return kExitUsage;
    }
#endif

    auto data = ReadUserDataFile(file);
    if (!data) {
        PrintError(data.error());
        return kExitFailure;
    }
    // The diagnosis's own conditions: a simulation, entered details and some generation.
    if (data->simDone == 0) {
        PrintError(file + ": holds no simulation result to compare with");
        return kExitFailure;
    }
    if (data->userInfo.detailed == 0) {
        PrintError(std::string(kVerdictNotDetailed));
        return kExitFailure;
    }
    if (Diagnose(*data).noData) {
        PrintError(std::string(kMsgNoGenerationData));
        return kExitFailure;
    }
    auto range = HouseholdWeatherRange(data->userInfo, ctx.programDir);
    if (!range) {
        PrintError(range.error());
        return kExitFailure;
    }
    const Outlook outlook = BuildOutlook(*data, *range);
#ifdef YS_CLI_REPORT
    if (!pdf.empty()) {
        if (int rc = WriteOutlookPdf(outlook, pdf); rc != kExitOk) return rc;
    }
#endif
    if (json) {
        std::fputs(OutlookJson(outlook).c_str(), stdout);
    } else {
        PrintText(outlook);
    }
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

}  // namespace ys::cli
