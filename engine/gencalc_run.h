// One run of the engine: command line checks, constants, request, calculation and result file,
// with the messages the user sees and the exit code.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ys::gencalc {

inline constexpr std::string_view kMsgArgumentCount = "引数の数が不正です";
inline constexpr std::string_view kMsgBadArgument = "引数が不正です";
inline constexpr std::string_view kMsgConstantsFailed =
    "設定ファイル（gencalc.ini）の読込みに失敗しました";
inline constexpr std::string_view kMsgCalculationFailed = "発電量計算に失敗しました";
inline constexpr std::string_view kMsgSaveFailed = "発電量計算結果の保存に失敗しました";

struct RunOutcome {
    int exitCode = 0;                   // 0, or -1 after a failure
    std::vector<std::string> messages;  // UTF-8, one per message box, in order
};

// `args` is the whole command line, program name first: request path, result path, token.
// `programDir` is the folder that holds gencalc.ini.
RunOutcome RunGencalc(std::span<const std::string_view> args, const std::string& programDir);

}  // namespace ys::gencalc
