#include "app/diagnosis/verdict.h"

#include <algorithm>

#include "app/local_time.h"
#include "platform/codepage.h"

namespace ys {
namespace {

constexpr std::string_view kGoodLines[] = {
    "発電量がシミュレーション値を上回っており、システムは正常に稼働して",
    "いると思われます。今後も定期的に診断を実施されることをお勧めします。",
};
constexpr std::string_view kFairLines[] = {
    "発電量とシミュレーション値の誤差が１０％以内に収まっており、概ね",
    "順調に稼働していると思われます。引き続きシミュレーション値を下回り",
    "続けるようであれば、購入元の販売店にご相談ください。",
};
constexpr std::string_view kPoorLines[] = {
    "発電量がシミュレーション値を１０％以上下回っております。",
    "機器異常の可能性も考えられますので、購入元の販売店にご相談ください。",
};

// Positions in the page's verdict area.
constexpr int kLineX = 8;
constexpr int kFirstLineY = 5;
constexpr int kLinePitch = 25;
constexpr int kDealerX = 20;
constexpr int kDealerY = 80;

}  // namespace

MonthWindow LastTwelveMonths(const UserData& data) {
    // A count outside the table (only from a damaged file) must not reach past it.
    const int n = std::clamp(data.monthCount, 0, kMaxMonths);
    return {std::max(n - 12, 0), n};
}

DiagnosisResult Diagnose(const UserData& data) {
    DiagnosisResult r;
    const MonthWindow w = LastTwelveMonths(data);
    for (int k = w.first; k < w.end; ++k) {
        const CMonthResult& m = data.months[k];
        const int month = ToLocal(m.date).month;  // 1-12
        r.realSum += static_cast<std::uint16_t>(m.generation);
        r.simSum += data.simMonthly[month - 1];
        ++r.months;
    }
    // A negative expectation can only come from a damaged result; it cannot be compared either.
    if (r.realSum == 0 || r.simSum <= 0) return r;
    r.noData = false;
    r.ratio = static_cast<double>(r.realSum) / static_cast<double>(r.simSum);
    if (r.ratio >= 1.0) {
        r.verdict = Verdict::kGood;
    } else if (r.ratio >= 0.9) {
        r.verdict = Verdict::kFair;
    } else {
        r.verdict = Verdict::kPoor;
    }
    return r;
}

std::vector<std::string_view> VerdictTextLines(const CUserInfo& info, Verdict verdict) {
    if (info.detailed == 0) return {kVerdictNotDetailed};
    switch (verdict) {
        case Verdict::kNone:
            break;
        case Verdict::kGood:
            return {std::begin(kGoodLines), std::end(kGoodLines)};
        case Verdict::kFair:
            return {std::begin(kFairLines), std::end(kFairLines)};
        case Verdict::kPoor:
            return {std::begin(kPoorLines), std::end(kPoorLines)};
    }
    return {kVerdictNotRun};
}

bool VerdictHasDealerLine(const CUserInfo& info, Verdict verdict) {
    return info.detailed != 0 && (verdict == Verdict::kFair || verdict == Verdict::kPoor);
}

std::string DealerLine(const CUserInfo& info) {
    return "販売店：" + codepage::Cp932ToUtf8Lossy(info.dealerName) + "　連絡先：" +
           codepage::Cp932ToUtf8Lossy(info.dealerTel);
}

std::vector<VerdictLine> VerdictAreaLines(const CUserInfo& info, Verdict verdict) {
    std::vector<VerdictLine> out;
    int y = kFirstLineY;
    for (std::string_view line : VerdictTextLines(info, verdict)) {
        out.push_back({kLineX, y, std::string(line)});
        y += kLinePitch;
    }
    if (VerdictHasDealerLine(info, verdict)) out.push_back({kDealerX, kDealerY, DealerLine(info)});
    return out;
}

}  // namespace ys
