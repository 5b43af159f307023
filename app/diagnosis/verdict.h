// The diagnosis: the last twelve recorded months of real generation against the simulation of
// the same calendar months, classified into a verdict with its fixed wording.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_data.h"

namespace ys {

// The page's `verdict`. The numbers are the ones `yieldscope-cli diagnose` prints.
enum class Verdict : int {
    kNone = 0,  // not diagnosed, or no data
    kGood = 1,  // at or above the simulation
    kFair = 2,  // less than 10 % below
    kPoor = 3,  // 10 % or more below
};
constexpr int VerdictNumber(Verdict verdict) {
    return static_cast<int>(verdict);
}

inline constexpr std::string_view kMsgNoGenerationData =
    "発電実績がないため、診断を行うことができません。";
inline constexpr std::string_view kHintContactSupport =
    "購入元と連絡が取れない場合は下のボタンを押してください。";
inline constexpr std::string_view kVerdictNotDetailed =
    "太陽電池設置情報の詳細が入力されていないため診断できません。";
inline constexpr std::string_view kVerdictNotRun = "診断未実施";

struct DiagnosisResult {
    Verdict verdict = Verdict::kNone;
    bool noData = true;  // either sum 0: the user is told, there is no verdict
    int months = 0;      // records compared
    std::int64_t realSum = 0;
    std::int64_t simSum = 0;
    double ratio = 0.0;  // realSum / simSum; 0 without data
};

// The records compared: the last twelve (or fewer) of the month table, as [first, end).
struct MonthWindow {
    int first = 0;
    int end = 0;
};
MonthWindow LastTwelveMonths(const UserData& data);

DiagnosisResult Diagnose(const UserData& data);

// The verdict text lines (UTF-8) of `verdict`, without the dealer line; "not entered" when the
// installation details were not entered, whatever the verdict.
std::vector<std::string_view> VerdictTextLines(const CUserInfo& info, Verdict verdict);
// Fair and poor verdicts end with the dealer line.
bool VerdictHasDealerLine(const CUserInfo& info, Verdict verdict);
// "販売店：%s　連絡先：%s" with the dealer's name and telephone (UTF-8).
std::string DealerLine(const CUserInfo& info);

// A line of the page's verdict area, in pixels from the area's top left.
struct VerdictLine {
    int x = 0;
    int y = 0;
    std::string text;  // UTF-8
};
std::vector<VerdictLine> VerdictAreaLines(const CUserInfo& info, Verdict verdict);

}  // namespace ys
