// The simulation request: the user's installation record written as the engine's request file,
// the engine run, and the expected monthly generation read back from its result file.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/records.h"
#include "app/settings/engine_process.h"
#include "app/settings/region_table.h"

namespace ys {

class CYieldscopeApp;

inline constexpr std::string_view kRequestFile = "pc_in.ini";
inline constexpr std::string_view kResultFile = "pc_out.ini";
inline constexpr std::string_view kEngineProgram = "gencalc";
inline constexpr std::string_view kEngineToken = "4b1d07a9e25c";
// The body sent when the installation details were not entered.
inline constexpr std::string_view kDefaultPcModel = "QPC-310A";
inline constexpr double kDefaultPcEfficiency = 0.945;

// A region must be chosen and the capacity must not be 0, else nothing is run at all.
bool SimulationPreconditionMet(const CUserInfo& info);

// The first text that cannot go into the request as it is, because the engine would read part of
// it as structure (a line break or NUL anywhere, a comma where it separates values); its label
// for the user (Japanese), or empty when every text is safe.
std::string UnsafeRequestText(const CUserInfo& info, const RegionFields& row);

// The request file content: CP932 text with CRLF line ends.
std::string BuildSimulationRequest(const CUserInfo& info, const RegionFields& row);

// `programDir`/gencalc with the request file, the result file and the access token.
EngineCommand MakeEngineCommand(const std::string& programDir, const std::string& requestPath,
                                const std::string& resultPath);

// The twelve MONTHLY_RESULT values (January first), 0 where a key is missing.
std::array<std::int32_t, 12> ReadSimulationResult(const std::string& resultPath);

enum class SimulationOutcome {
    kDone,                   // results stored
    kSkipped,                // no region or no capacity: nothing done
    kRegionTableUnreadable,  // engine not run
    kRequestUnwritable,      // engine not run
    kResultNotRemovable,     // an earlier result file is in the way; engine not run
    kUnsafeText,             // a text would change the request's structure; engine not run
    kEngineNotStarted,
    kEngineFailed,      // non-zero exit code
    kNoResult,          // ended with 0 but wrote no result file in this run
    kResultOutOfRange,  // a month's value that the user data file could not hold
};

struct SimulationResult {
    SimulationOutcome outcome = SimulationOutcome::kSkipped;
    std::string path;    // the file concerned
    std::string detail;  // system error text
    EngineRun engine;

    // True when nothing needs to be told: the results were stored, or nothing was to be done.
    bool ok() const {
        return outcome == SimulationOutcome::kDone || outcome == SimulationOutcome::kSkipped;
    }
    // Title and text of the message the user sees (UTF-8); empty when ok().
    std::string UserTitle() const;
    std::string UserMessage() const;
};

// Writes the request into `dataDir`, runs the engine from `programDir` (calling `whileWaiting`
// while it runs) and stores simMonthly and simDone. Whatever goes wrong, simMonthly and simDone
// keep their values; a result file of an earlier run is never taken for this one's.
SimulationResult RunSimulation(CYieldscopeApp& app, const std::function<void()>& whileWaiting = {});

}  // namespace ys
