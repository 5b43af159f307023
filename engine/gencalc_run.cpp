#include "engine/gencalc_run.h"

#include <memory>

#include "engine/constants.h"
#include "engine/generation.h"
#include "engine/request.h"
#include "engine/result_file.h"
#include "engine/simulation_context.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace ys::gencalc {

RunOutcome RunGencalc(std::span<const std::string_view> args, const std::string& programDir) {
    RunOutcome out;
    auto fail = [&out](int code, std::string_view message) {
        out.exitCode = code;
        out.messages.emplace_back(message);
        return out;
    };

    // A refused command line ends with 0: the caller only ever reads the result file.
    if (args.size() != 4) return fail(0, kMsgArgumentCount);
    if (args[3] != kAccessToken) return fail(0, kMsgBadArgument);

    const std::string constantsPath = ys::paths::Join(programDir, std::string(kConstantsFileName));
    auto ctx = std::make_unique<SimulationContext>();
    if (LoadConstants(*ctx, constantsPath) != 0) {
        out.messages.push_back(constantsPath);
        return fail(-1, kMsgConstantsFailed);
    }

    const auto request = ys::profile::Document::Load(std::string(args[1]));
    if (!ReadRequest(*ctx, request).ok() || RunCalculation(*ctx) != 0 || !ResultsAreValid(*ctx)) {
        return fail(-1, kMsgCalculationFailed);
    }

    if (!WriteResult(*ctx, std::string(args[2])).ok()) return fail(-1, kMsgSaveFailed);
    return out;
}

}  // namespace ys::gencalc
