#include "app/monitor/result_input.h"

#include <charconv>
#include <cstdio>

#include "app/local_time.h"
#include "app/monitor/monitor_import.h"
#include "app/user_data_file.h"

namespace ys::monitor {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Restores the view's wait cursor on every path out of a blocking operation.
class WaitGuard {
public:
    explicit WaitGuard(ResultInputView& view) : view_(view) { view_.BeginWait(); }
    ~WaitGuard() { view_.EndWait(); }
    WaitGuard(const WaitGuard&) = delete;
    WaitGuard& operator=(const WaitGuard&) = delete;

private:
    ResultInputView& view_;
};

}  // namespace

FieldValue ParseMonthField(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    const bool whole = !text.empty() && end == text.data() + text.size() &&
                       (ec == std::errc() || ec == std::errc::result_out_of_range);
    if (!whole) return {std::nullopt, std::string(kMsgNotInteger)};
    if (ec == std::errc::result_out_of_range || v < kMinMonthValue || v > kMaxMonthValue) {
        return {std::nullopt, FormatMessage(kMsgIntegerRange, {std::to_string(kMinMonthValue),
                                                               std::to_string(kMaxMonthValue)})};
    }
    return {static_cast<int>(v), {}};
}

std::vector<int> BuildYearList(int installYear, int currentYear) {
    // 64-bit, so that no stored year can overflow the difference; never more than six years.
    const std::int64_t first = std::int64_t{currentYear} - installYear > 5
                                   ? std::int64_t{currentYear} - 5
                                   : std::int64_t{installYear};
    std::vector<int> years;
    for (std::int64_t y = first; y <= currentYear; ++y) years.push_back(static_cast<int>(y));
    return years;
}

bool MonthFieldEnabled(int year, int month, int installYear, int installMonth, int currentYear,
                       int currentMonth) {
    if (year < installYear) return false;
    if (year == installYear && month <= installMonth) return false;
    if (year == currentYear && month >= currentMonth) return false;
    return true;
}

std::string ImplausibleMonths(std::span<const CMonthResult> months,
                              const std::array<std::int32_t, 12>& simMonthly) {
    std::string list;
    for (const CMonthResult& m : months) {
        const LocalDateTime t = ToLocal(m.date);
        const long long g = static_cast<std::uint16_t>(m.generation);
        const long long s = simMonthly[static_cast<std::size_t>(t.month - 1)];
        // g < 0.5 s or g > 1.5 s, exactly
        if (2 * g < s || 2 * g > 3 * s) {
            char line[64];
            std::snprintf(line, sizeof line, "[ %04d年%02d月 ]  %3lld(kWh)\n", t.year, t.month, g);
            list += line;
        }
    }
    return list;
}

std::string ImplausibleQuestion(std::string_view list) {
    return std::string(list) + std::string(kMsgImplausibleTail);
}

ResultInput::ResultInput(CYieldscopeApp& app, ResultInputView& view, LinkIo io)
    : app_(app), view_(view), io_(std::move(io)) {}

std::optional<int> ResultInput::YearAt(int position) const {
    if (position < 0 || position >= static_cast<int>(years_.size())) return std::nullopt;
    return years_[static_cast<std::size_t>(position)];
}

void ResultInput::CopyMonthsToWork() {
    workMonths_ = app_.months;
    workMonthCount_ = app_.monthCount;
}

void ResultInput::EnterPage() {
    const std::optional<int> remembered = YearAt(yearPos_);
    const LocalDateTime today = ToLocal(app_.Now());
    years_ = BuildYearList(app_.userInfo.installYear, today.year);
    yearPos_ = years_.empty() ? -1 : static_cast<int>(years_.size()) - 1;
    for (std::size_t i = 0; remembered && i < years_.size(); ++i) {
        if (years_[i] == *remembered) yearPos_ = static_cast<int>(i);
    }
    view_.SetYearList(years_, yearPos_);
    CopyMonthsToWork();
    changed_ = false;
    suppressChange_ = false;
    LoadYear();
}

void ResultInput::LoadYear() {
    shownYear_ = YearAt(yearPos_);
    for (int m = 1; m <= 12; ++m) {
        int& v = monthValue_[static_cast<std::size_t>(m - 1)];
        v = shownYear_ ? GetMonthGeneration(workMonths_.data(), workMonthCount_, *shownYear_, m)
                       : -1;
        suppressChange_ = true;
        view_.SetMonthText(m, std::to_string(v));
        suppressChange_ = false;
    }
    RefreshFields();
}

void ResultInput::RefreshFields() {
    const LocalDateTime today = ToLocal(app_.Now());
    const CUserInfo& u = app_.userInfo;
    for (int m = 1; m <= 12; ++m) {
        bool enabled = false;
        if (view_.MonthText(m) == "-1") {
            suppressChange_ = true;
            view_.SetMonthText(m, "0");
            suppressChange_ = false;
        } else if (shownYear_) {
            enabled = MonthFieldEnabled(*shownYear_, m, u.installYear, u.installMonth, today.year,
                                        today.month);
        }
        view_.SetMonthEnabled(m, enabled);
    }
    view_.SetCompleteEnabled(changed_);
    view_.SetImportEnabled(u.monitorImport != 0);
}

bool ResultInput::StoreYear() {
    std::array<int, 12> values{};
    for (int m = 1; m <= 12; ++m) {
        const FieldValue f = ParseMonthField(view_.MonthText(m));
        if (!f.value) {
            view_.RefuseField(m, f.message);
            return false;
        }
        values[static_cast<std::size_t>(m - 1)] = *f.value;
    }
    monthValue_ = values;
    if (!shownYear_) return true;
    for (int m = 1; m <= 12; ++m) {
        SetMonthGeneration(workMonths_.data(), workMonthCount_, *shownYear_, m,
                           monthValue_[static_cast<std::size_t>(m - 1)]);
    }
    return true;
}

void ResultInput::ChangeYear(YearStep step, int position) {
    int selected = yearPos_;
    const int last = static_cast<int>(years_.size()) - 1;
    switch (step) {
        case YearStep::kPrevious:
            if (selected > 0) view_.SelectYearPosition(--selected);
            break;
        case YearStep::kNext:
            if (selected >= 0 && selected < last) view_.SelectYearPosition(++selected);
            break;
        case YearStep::kSelected:
            selected = position;
            break;
    }
    // A refused field has shown its message; that year's values are then not taken over.
    (void)StoreYear();
    yearPos_ = selected;
    LoadYear();
}

void ResultInput::CompleteEntry() {
    // A refused field keeps the focus and nothing is committed: the values are still the user's
    // to correct, and the button stays enabled.
    if (!StoreYear()) return;
    const std::string list = ImplausibleMonths(
        std::span(workMonths_.data(), static_cast<std::size_t>(workMonthCount_)), app_.simMonthly);
    if (!list.empty() && !view_.AskYesNo(ImplausibleQuestion(list))) return;
    app_.months = workMonths_;
    app_.monthCount = workMonthCount_;
    const FileResult saved = SaveUserData(app_, {});
    if (!saved.ok()) view_.ShowFileError(saved.UserMessage());
    changed_ = false;
    view_.SetCompleteEnabled(false);
}

bool ResultInput::CanLeavePage() {
    if (!StoreYear()) return false;
    if (changed_) return view_.AskYesNo(std::string(kMsgLeaveUncommitted));
    return true;
}

void ResultInput::OnMonthEdited() {
    if (suppressChange_) return;
    changed_ = true;
    view_.SetCompleteEnabled(true);
}

LinkResult ResultInput::ProbePort(int portNo) {
    LinkResult r;
    {
        WaitGuard wait(view_);
        r = ProbeMonitorUnit(portNo, io_);
    }
    view_.SetLamp(r == LinkResult::kSuccess);
    return r;
}

LinkResult ResultInput::Import(int portNo) {
    LinkResult r;
    {
        WaitGuard wait(view_);
        r = ReceiveMonitorImage(portNo, image_, io_);
    }
    view_.ShowNotice(std::string(ReceiveMessage(r)));
    if (r != LinkResult::kSuccess) return r;  // nothing changed, typed values stay
    const ImportSummary summary = ApplyMonitorImage(app_, image_);
    if (!summary.save.ok()) view_.ShowFileError(summary.save.UserMessage());
    // Typed values that were not completed give way to the imported ones.
    CopyMonthsToWork();
    changed_ = false;
    LoadYear();
    return r;
}

}  // namespace ys::monitor
