// yieldscope-cli diagnose: the verdict of a user data file, as the diagnosis page gives it.
#include <charconv>
#include <cstdio>
#include <iostream>

#include "app/diagnosis/verdict.h"
#include "app/user_data_file.h"
#include "platform/atomic_file.h"
#include "tools/cli/commands.h"
#include "tools/cli/diagnosis_input.h"

namespace ys::cli {

Result<UserData> ReadUserDataFile(const std::string& path) {
    auto bytes = files::ReadWholeFile(path);
    if (!bytes) return Error{path + ": cannot open: " + bytes.error()};
    UserData data;
    FileResult r = DeserializeUserData(*bytes, data);
    if (!r.ok()) return Error{path + ": not a valid user data file: " + r.detail};
    return data;
}

int CmdDiagnose(const Context&, Args args) {
    if (args.size() != 1) {
        PrintError("usage: yieldscope-cli diagnose FILE.sol");
        return kExitUsage;
    }
    auto data = ReadUserDataFile(args[0]);
    if (!data) {
        PrintError(data.error());
        return kExitFailure;
    }
    if (data->simDone == 0) {
        PrintError(args[0] + ": holds no simulation result to compare with");
        return kExitFailure;
    }
    const DiagnosisResult r = Diagnose(*data);
    // The page diagnoses only installations whose details were entered.
    const Verdict verdict = data->userInfo.detailed != 0 ? r.verdict : Verdict::kNone;
    char ratio[32] = "-";
    if (!r.noData) {
        auto [end, ec] =
            std::to_chars(ratio, ratio + sizeof ratio - 1, r.ratio, std::chars_format::fixed, 4);
        (void)ec;
        *end = '\0';
    }
    std::cout << "verdict: " << VerdictNumber(verdict) << "\n"
              << "months: " << r.months << "\n"
              << "real: " << r.realSum << " kWh\n"
              << "simulated: " << r.simSum << " kWh\n"
              << "ratio: " << ratio << "\n";
    for (const VerdictLine& line : VerdictAreaLines(data->userInfo, verdict)) {
        std::cout << line.text << "\n";
    }
    std::cout.flush();
    if (r.noData) {
        PrintError(std::string(kMsgNoGenerationData));
        return kExitFailure;
    }
    if (verdict == Verdict::kNone) {
        PrintError(std::string(kVerdictNotDetailed));
        return kExitFailure;
    }
    return std::cout ? kExitOk : kExitFailure;
}

}  // namespace ys::cli
