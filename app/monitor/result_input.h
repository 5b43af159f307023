// The logic of the generation data entry page, free of widgets: the year list, the enabling of
// the month fields and buttons, the exchange between the fields and a working copy of the month
// table, the plausibility check before a commit, the question before leaving, and the import.
// The page's widgets implement ResultInputView and only copy values and show messages.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_data.h"
#include "app/monitor/monitor_link.h"

namespace ys::monitor {

inline constexpr std::string_view kMsgNotInteger = "整数を入力してください。";
inline constexpr std::string_view kMsgIntegerRange = "%1 から %2 までの整数を入力してください。";
inline constexpr std::string_view kMsgLeaveUncommitted =
    "入力中のデータがあります。\n入力中のデータは「入力完了」ボタンを押して確定します。\n\n"
    "このまま、画面を切り替えると入力中の内容は無効になりますが\n画面を切り替えますか？\n";
// Everything after the list of months in the plausibility question.
inline constexpr std::string_view kMsgImplausibleTail =
    "\n上記の月の入力値が、シミュレーション値と大きく異なっています。\n設定値をご確認ください。\n"
    "このまま更新するのであれば「はい」を押してください。";

// A month value must fit the record's 16-bit generation, which is read unsigned.
inline constexpr int kMinMonthValue = 0;
inline constexpr int kMaxMonthValue = 65535;

// The field exchange of one month field: a whole number from 0 to 65535, or the message that
// refuses the text.
struct FieldValue {
    std::optional<int> value;
    std::string message;  // UTF-8, when refused
};
FieldValue ParseMonthField(std::string_view text);

// The years the page offers: from the installation year, but at most five years back, to the
// current year. Empty when the installation lies in the future.
std::vector<int> BuildYearList(int installYear, int currentYear);

// Whether month m (1-12) of `year` may be typed: after the installation month and before the
// current month. A month without a table entry is disabled as well.
bool MonthFieldEnabled(int year, int month, int installYear, int installMonth, int currentYear,
                       int currentMonth);

// The months whose generation lies below half or above one and a half times the simulated value
// of their calendar month, one line each ("[ 2023年05月 ]  123(kWh)\n"); empty when none.
std::string ImplausibleMonths(std::span<const CMonthResult> months,
                              const std::array<std::int32_t, 12>& simMonthly);
// The question that shows such a list.
std::string ImplausibleQuestion(std::string_view list);

// What the page's widgets do for the logic. Months are 1-12. Writes made through this interface
// are the page's own and never count as the user's edits.
class ResultInputView {
public:
    virtual ~ResultInputView() = default;
    // Replaces the year list; `selected` is a position or -1 for none.
    virtual void SetYearList(std::span<const int> years, int selected) = 0;
    virtual void SelectYearPosition(int position) = 0;
    virtual std::string MonthText(int month) const = 0;
    virtual void SetMonthText(int month, const std::string& text) = 0;
    virtual void SetMonthEnabled(int month, bool enabled) = 0;
    virtual void SetCompleteEnabled(bool enabled) = 0;
    virtual void SetImportEnabled(bool enabled) = 0;
    virtual void SetLamp(bool ok) = 0;
    // A refused field: its message with the exclamation icon, then the focus on that field.
    virtual void RefuseField(int month, const std::string& message) = 0;
    // "確認" with Yes and No and the exclamation icon; true on Yes.
    virtual bool AskYesNo(const std::string& question) = 0;
    // "エラー" with the stop icon.
    virtual void ShowFileError(const std::string& message) = 0;
    // The application's name as title, OK, no icon.
    virtual void ShowNotice(const std::string& message) = 0;
    // The wait cursor around a blocking operation.
    virtual void BeginWait() = 0;
    virtual void EndWait() = 0;
};

class ResultInput {
public:
    ResultInput(CYieldscopeApp& app, ResultInputView& view, LinkIo io = DefaultLinkIo());

    // The page is about to be shown: year list, working copy from the month table, fields.
    void EnterPage();
    // The main window wants to switch away: false keeps the page.
    bool CanLeavePage();
    // Shows the selected year in the fields.
    void LoadYear();
    // Takes the fields into the working copy for the year shown; false after a refused field.
    bool StoreYear();

    enum class YearStep { kPrevious, kNext, kSelected };
    // "＜前へ", "後へ＞", or a new selection in the year list (at `position`).
    void ChangeYear(YearStep step, int position = -1);
    // "入力完了".
    void CompleteEntry();
    // The user changed the text of a month field.
    void OnMonthEdited();

    // The user picked another port: probe it under the wait cursor and set the lamp.
    LinkResult ProbePort(int portNo);
    // "取込実行" with the port of the port list.
    LinkResult Import(int portNo);

    const std::array<CMonthResult, kMaxMonths>& workMonths() const { return workMonths_; }
    int workMonthCount() const { return workMonthCount_; }
    const std::array<int, 12>& monthValue() const { return monthValue_; }
    const std::vector<int>& years() const { return years_; }
    int yearPos() const { return yearPos_; }
    std::optional<int> shownYear() const { return shownYear_; }
    bool changed() const { return changed_; }
    const MemoryImage& image() const { return image_; }

private:
    void CopyMonthsToWork();
    void RefreshFields();
    std::optional<int> YearAt(int position) const;

    CYieldscopeApp& app_;
    ResultInputView& view_;
    LinkIo io_;
    std::array<CMonthResult, kMaxMonths> workMonths_{};
    int workMonthCount_ = 0;
    std::array<int, 12> monthValue_{};  // wider than the record so that 65535 shows as such
    std::vector<int> years_;
    int yearPos_ = -1;
    std::optional<int> shownYear_;  // the year whose values the fields hold
    bool changed_ = false;
    bool suppressChange_ = false;
    MemoryImage image_{};
};

}  // namespace ys::monitor
