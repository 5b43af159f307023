// The entry page's logic through a recording view: year list, enabling, field exchange, the
// plausibility question, the leave question, and the import with its messages.
#include "app/monitor/result_input.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "app/local_time.h"
#include "app/monitor/image_encoder.h"
#include "app/user_data_file.h"
#include "platform/atomic_file.h"
#include "tests/app/monitor/unit_on_pty.h"
#include "tests/support/temp_dir.h"

namespace ys::monitor {
namespace {

struct Message {
    std::string kind;  // "refuse", "ask", "error", "notice"
    std::string text;
    int month = 0;
};

class RecordingView : public ResultInputView {
public:
    void SetYearList(std::span<const int> y, int selected) override {
        years.assign(y.begin(), y.end());
        position = selected;
    }
    void SelectYearPosition(int p) override { position = p; }
    std::string MonthText(int m) const override { return text.at(m - 1); }
    void SetMonthText(int m, const std::string& t) override { text.at(m - 1) = t; }
    void SetMonthEnabled(int m, bool e) override { enabled.at(m - 1) = e; }
    void SetCompleteEnabled(bool e) override { completeEnabled = e; }
    void SetImportEnabled(bool e) override { importEnabled = e; }
    void SetLamp(bool ok) override { lamp = ok ? "OK" : "NG"; }
    void RefuseField(int m, const std::string& msg) override {
        messages.push_back({"refuse", msg, m});
        focus = m;
    }
    bool AskYesNo(const std::string& q) override {
        messages.push_back({"ask", q});
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << q;
            return false;
        }
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void ShowFileError(const std::string& m) override { messages.push_back({"error", m}); }
    void ShowNotice(const std::string& m) override { messages.push_back({"notice", m}); }
    void BeginWait() override { ++waitDepth, ++waits; }
    void EndWait() override { --waitDepth; }

    std::vector<int> years;
    int position = -2;
    std::array<std::string, 12> text{};
    std::array<bool, 12> enabled{};
    bool completeEnabled = true;
    bool importEnabled = false;
    std::string lamp = "none";
    int focus = 0;
    std::vector<Message> messages;
    std::deque<bool> answers;
    int waitDepth = 0;
    int waits = 0;
};

// A page on 2024-06-15 for an installation of April 2021 (months 2021-05 to 2024-05).
class ResultInputTest : public ::testing::Test {
protected:
    ResultInputTest() {
        app.dataDir = dir.path();
        app.SetClock([] { return MakeLocalTime(2024, 6, 15, 12); });
        app.userInfo.installYear = 2021;
        app.userInfo.installMonth = 4;
        app.RebuildMonthTable();
        SetMonth(2024, 3, 300);
        SetMonth(2024, 4, 420);
    }
    void SetMonth(int y, int m, int v) {
        SetMonthGeneration(app.months.data(), app.monthCount, y, m, v);
    }
    int Month(int y, int m) const {
        return GetMonthGeneration(app.months.data(), app.monthCount, y, m);
    }
    int WorkMonth(const ResultInput& page, int y, int m) const {
        return GetMonthGeneration(page.workMonths().data(), page.workMonthCount(), y, m);
    }
    void Type(ResultInput& page, int month, const std::string& t) {
        view.text.at(month - 1) = t;
        page.OnMonthEdited();
    }
    int PositionOf(int year) const {
        for (std::size_t i = 0; i < view.years.size(); ++i) {
            if (view.years[i] == year) return static_cast<int>(i);
        }
        return -1;
    }
    std::string SavedFile() const { return test::ReadFile(dir.File("SolarData.sol")); }

    test::TempDir dir;
    CYieldscopeApp app;
    RecordingView view;
};

TEST(ResultInputRules, YearListEndsWithTheCurrentYearAndHoldsAtMostSix) {
    EXPECT_EQ(BuildYearList(2021, 2024), (std::vector{2021, 2022, 2023, 2024}));
    EXPECT_EQ(BuildYearList(2019, 2024), (std::vector{2019, 2020, 2021, 2022, 2023, 2024}));
    EXPECT_EQ(BuildYearList(2000, 2024), (std::vector{2019, 2020, 2021, 2022, 2023, 2024}));
    EXPECT_EQ(BuildYearList(2024, 2024), (std::vector{2024}));
    EXPECT_TRUE(BuildYearList(2025, 2024).empty());
}

TEST(ResultInputRules, MonthsAreOpenAfterTheInstallationAndBeforeTheCurrentMonth) {
    // (year, month) with installation 2021/4 and today 2024/6
    EXPECT_FALSE(MonthFieldEnabled(2020, 12, 2021, 4, 2024, 6));
    EXPECT_FALSE(MonthFieldEnabled(2021, 4, 2021, 4, 2024, 6));
    EXPECT_TRUE(MonthFieldEnabled(2021, 5, 2021, 4, 2024, 6));
    EXPECT_TRUE(MonthFieldEnabled(2024, 5, 2021, 4, 2024, 6));
    EXPECT_FALSE(MonthFieldEnabled(2024, 6, 2021, 4, 2024, 6));
    EXPECT_FALSE(MonthFieldEnabled(2024, 12, 2021, 4, 2024, 6));
}

TEST(ResultInputRules, FieldExchangeTakesWholeNumbersThatFitTheRecord) {
    EXPECT_EQ(ParseMonthField("0").value, 0);
    EXPECT_EQ(ParseMonthField(" 123 ").value, 123);
    EXPECT_EQ(ParseMonthField("65535").value, 65535);
    const std::string range = "0 から 65535 までの整数を入力してください。";
    EXPECT_EQ(ParseMonthField("65536").message, range);
    EXPECT_EQ(ParseMonthField("999999").message, range);
    EXPECT_EQ(ParseMonthField("99999999999999999999").message, range);
    EXPECT_EQ(ParseMonthField("-1").message, range);
    EXPECT_EQ(ParseMonthField("").message, "整数を入力してください。");
    EXPECT_EQ(ParseMonthField("12a").message, "整数を入力してください。");
    EXPECT_EQ(ParseMonthField("1.5").message, "整数を入力してください。");
    EXPECT_EQ(ParseMonthField("１２").message, "整数を入力してください。");
}

TEST(ResultInputRules, MonthValuesReadBackUnsigned) {
    CYieldscopeApp app;
    app.SetClock([] { return MakeLocalTime(2024, 6, 15); });
    app.RebuildMonthTable();
    EXPECT_EQ(SetMonthGeneration(app.months.data(), app.monthCount, 2024, 1, 65535), 0);
    EXPECT_EQ(GetMonthGeneration(app.months.data(), app.monthCount, 2024, 1), 65535);
    EXPECT_EQ(SetMonthGeneration(app.months.data(), app.monthCount, 2024, 1, 40000), 65535);
    EXPECT_EQ(GetMonthGeneration(app.months.data(), app.monthCount, 2024, 1), 40000);
    EXPECT_EQ(GetMonthGeneration(app.months.data(), app.monthCount, 2024, 6), -1);
}

TEST_F(ResultInputTest, EnterPageShowsTheCurrentYearWithOnlyPastMonthsOpen) {
    app.userInfo.monitorImport = 1;
    ResultInput page(app, view);
    page.EnterPage();
    EXPECT_EQ(view.years, (std::vector{2021, 2022, 2023, 2024}));
    EXPECT_EQ(view.position, 3);
    EXPECT_EQ(view.text[2], "300");
    EXPECT_EQ(view.text[3], "420");
    for (int m = 1; m <= 12; ++m) {
        EXPECT_EQ(view.enabled[m - 1], m <= 5) << m;
        if (m >= 6) {
            EXPECT_EQ(view.text[m - 1], "0") << m;  // not in the table
        }
    }
    EXPECT_FALSE(view.completeEnabled);
    EXPECT_TRUE(view.importEnabled);
    EXPECT_FALSE(page.changed());

    app.userInfo.monitorImport = 0;
    page.EnterPage();
    EXPECT_FALSE(view.importEnabled);
}

TEST_F(ResultInputTest, TheInstallationYearOpensOnlyTheMonthsAfterTheInstallation) {
    ResultInput page(app, view);
    page.EnterPage();
    page.ChangeYear(ResultInput::YearStep::kSelected, PositionOf(2021));
    EXPECT_EQ(page.shownYear(), 2021);
    for (int m = 1; m <= 12; ++m) EXPECT_EQ(view.enabled[m - 1], m >= 5) << m;
}

TEST_F(ResultInputTest, MonthsOutsideTheTableShowZeroAndStayClosed) {
    app.userInfo.installYear = 2010;  // the table holds 2019-06 to 2024-05
    app.RebuildMonthTable();
    ResultInput page(app, view);
    page.EnterPage();
    EXPECT_EQ(view.years.front(), 2019);
    page.ChangeYear(ResultInput::YearStep::kSelected, 0);
    for (int m = 1; m <= 12; ++m) {
        EXPECT_EQ(view.enabled[m - 1], m >= 6) << m;
        EXPECT_EQ(view.text[m - 1], "0") << m;
    }
}

TEST_F(ResultInputTest, AnInstallationInTheFutureLeavesTheListEmptyAndEveryFieldClosed) {
    app.userInfo.installYear = 2025;
    app.RebuildMonthTable();
    ResultInput page(app, view);
    page.EnterPage();
    EXPECT_TRUE(view.years.empty());
    EXPECT_EQ(view.position, -1);
    for (int m = 1; m <= 12; ++m) EXPECT_FALSE(view.enabled[m - 1]);
    page.ChangeYear(ResultInput::YearStep::kNext);
    page.ChangeYear(ResultInput::YearStep::kPrevious);
    EXPECT_TRUE(page.CanLeavePage());
}

TEST_F(ResultInputTest, TypedValuesMoveWithTheYearAndReachTheDataOnlyOnCompletion) {
    ResultInput page(app, view);
    page.EnterPage();
    Type(page, 5, "510");
    EXPECT_TRUE(page.changed());
    EXPECT_TRUE(view.completeEnabled);
    page.ChangeYear(ResultInput::YearStep::kPrevious);
    EXPECT_EQ(view.position, 2);
    EXPECT_EQ(page.shownYear(), 2023);
    EXPECT_EQ(WorkMonth(page, 2024, 5), 510);
    EXPECT_EQ(Month(2024, 5), 0);
    Type(page, 12, "65535");
    page.ChangeYear(ResultInput::YearStep::kNext);
    page.ChangeYear(ResultInput::YearStep::kNext);  // at the last year: store and reload
    EXPECT_EQ(page.shownYear(), 2024);
    EXPECT_EQ(view.text[4], "510");
    page.ChangeYear(ResultInput::YearStep::kPrevious);
    EXPECT_EQ(view.text[11], "65535");

    view.answers = {false};
    page.CompleteEntry();  // no simulation: every month above 0 is listed
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].kind, "ask");
    EXPECT_EQ(Month(2024, 5), 0);  // "No": nothing committed
    EXPECT_TRUE(page.changed());

    view.answers = {true};
    page.CompleteEntry();
    EXPECT_EQ(Month(2024, 5), 510);
    EXPECT_EQ(Month(2023, 12), 65535);
    EXPECT_FALSE(page.changed());
    EXPECT_FALSE(view.completeEnabled);
    UserData saved;
    ASSERT_TRUE(DeserializeUserData(SavedFile(), saved).ok());
    EXPECT_EQ(GetMonthGeneration(saved.months.data(), saved.monthCount, 2023, 12), 65535);
    EXPECT_TRUE(page.CanLeavePage());  // nothing uncommitted: no question
    EXPECT_EQ(view.messages.size(), 2u);
}

TEST_F(ResultInputTest, AYearIsRememberedAcrossVisits) {
    ResultInput page(app, view);
    page.EnterPage();
    page.ChangeYear(ResultInput::YearStep::kSelected, PositionOf(2022));
    page.EnterPage();
    EXPECT_EQ(page.shownYear(), 2022);
    EXPECT_EQ(view.years[static_cast<std::size_t>(view.position)], 2022);
}

TEST_F(ResultInputTest, ARefusedFieldIsReportedAndItsYearIsNotTakenOver) {
    ResultInput page(app, view);
    page.EnterPage();
    Type(page, 1, "111");
    Type(page, 2, "70000");
    page.ChangeYear(ResultInput::YearStep::kPrevious);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].kind, "refuse");
    EXPECT_EQ(view.messages[0].month, 2);
    EXPECT_EQ(view.messages[0].text, "0 から 65535 までの整数を入力してください。");
    EXPECT_EQ(page.shownYear(), 2023);       // the change went on
    EXPECT_EQ(WorkMonth(page, 2024, 1), 0);  // not even the valid field of that year

    Type(page, 3, "abc");
    EXPECT_FALSE(page.CanLeavePage());  // refused field: the page stays, no question
    EXPECT_EQ(view.messages.back().text, "整数を入力してください。");
    EXPECT_EQ(view.focus, 3);
    EXPECT_EQ(view.text[2], "abc");  // what the user typed stays
}

TEST_F(ResultInputTest, CompleteEntryAfterARefusedFieldCommitsNothingAndStaysPending) {
    app.simMonthly.fill(0);
    const std::string before = SerializeUserData(app);
    ResultInput page(app, view);
    page.EnterPage();
    Type(page, 1, "0");
    page.ChangeYear(ResultInput::YearStep::kPrevious);
    Type(page, 6, "x");
    view.answers = {true};
    page.CompleteEntry();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].kind, "refuse");
    EXPECT_EQ(SerializeUserData(app), before);
    EXPECT_TRUE(page.changed());  // the button stays enabled
}

TEST_F(ResultInputTest, PlausibilityListsOnlyMonthsOutsideHalfToOneAndAHalf) {
    app.simMonthly.fill(100);
    for (int i = 0; i < app.monthCount; ++i) app.months[i].generation = 100;
    SetMonth(2024, 1, 50);   // exactly half: fine
    SetMonth(2024, 2, 150);  // exactly one and a half: fine
    SetMonth(2024, 3, 49);
    SetMonth(2024, 4, 151);
    SetMonth(2023, 7, 1234);
    ResultInput page(app, view);
    page.EnterPage();
    view.answers = {false};
    page.CompleteEntry();
    ASSERT_EQ(view.messages.size(), 1u);
    const std::string list =
        "[ 2023年07月 ]  1234(kWh)\n"
        "[ 2024年03月 ]   49(kWh)\n"
        "[ 2024年04月 ]  151(kWh)\n";
    EXPECT_EQ(ImplausibleMonths(std::span(app.months.data(), app.monthCount), app.simMonthly),
              list);
    EXPECT_EQ(view.messages[0].text,
              list +
                  "\n上記の月の入力値が、シミュレーション値と大きく異なっています。\n"
                  "設定値をご確認ください。\nこのまま更新するのであれば「はい」を押してください。");
    EXPECT_TRUE(SavedFile().empty());  // "No": nothing committed or saved

    SetMonth(2024, 3, 50);
    SetMonth(2024, 4, 150);
    SetMonth(2023, 7, 100);
    view.messages.clear();
    page.EnterPage();
    page.CompleteEntry();  // all within range: commits without a question
    EXPECT_TRUE(view.messages.empty());
    EXPECT_FALSE(SavedFile().empty());
}

TEST_F(ResultInputTest, ValuesAboveSignedSixteenBitsAreComparedUnsigned) {
    app.simMonthly.fill(40000);
    for (int i = 0; i < app.monthCount; ++i)
        app.months[i].generation = static_cast<std::int16_t>(40000);
    EXPECT_TRUE(
        ImplausibleMonths(std::span(app.months.data(), app.monthCount), app.simMonthly).empty());
}

TEST_F(ResultInputTest, LeavingWithUncommittedValuesAsksFirst) {
    ResultInput page(app, view);
    page.EnterPage();
    Type(page, 5, "77");
    view.answers = {false};
    EXPECT_FALSE(page.CanLeavePage());
    EXPECT_EQ(view.messages.back().kind, "ask");
    EXPECT_EQ(
        view.messages.back().text,
        "入力中のデータがあります。\n入力中のデータは「入力完了」ボタンを押して確定します。\n\n"
        "このまま、画面を切り替えると入力中の内容は無効になりますが\n画面を切り替えますか？\n");
    EXPECT_EQ(view.text[4], "77");
    EXPECT_TRUE(page.changed());

    view.answers = {true};
    EXPECT_TRUE(page.CanLeavePage());
    EXPECT_EQ(Month(2024, 5), 0);  // discarded, not saved
    page.EnterPage();              // the next visit starts again from the month table
    EXPECT_EQ(view.text[4], "0");
    EXPECT_FALSE(page.changed());
}

TEST_F(ResultInputTest, AFailedSaveOnCompletionIsShownAndTheCommitStands) {
    app.dataDir = dir.File("missing/folder");
    app.simMonthly.fill(0);
    ResultInput page(app, view);
    page.EnterPage();
    Type(page, 1, "0");
    view.answers = {true};  // the months of 300 and 420 kWh are listed without a simulation
    page.CompleteEntry();
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[1].kind, "error");
    EXPECT_EQ(view.messages[1].text, "ファイルを開けません。");
    EXPECT_FALSE(page.changed());
    EXPECT_FALSE(view.completeEnabled);
}

// An image holding three error events, a few days and the months January to April 2024.
MemoryImage SmallHistory() {
    MonitorHistory h;
    h.errors.entries = {
        {1, 12, 29, 2, 3, 10, 20}, {2, 4, 29, 3, 9, 11, 0}, {0x81, 0, 29, 5, 1, 8, 5}};
    for (int d = 1; d <= 5; ++d)
        h.days.entries.push_back({{29, 6, d}, static_cast<std::int16_t>(d * 10)});
    for (int m = 1; m <= 4; ++m) {
        h.months.entries.push_back({{29, m, 1}, static_cast<std::int16_t>(m * 100)});
    }
    h.months.entries.push_back({{21, 1, 1}, 999});  // before the installation: dropped
    return *EncodeMemoryImage(h);
}

TEST_F(ResultInputTest, ImportReplacesTheTablesSavesAndDiscardsTypedValues) {
    const MemoryImage source = SmallHistory();
    test::UnitOnPty unit(source);
    app.errorCount = 7;
    app.dayCount = 9;
    ResultInput page(app, view, unit.Io());
    page.EnterPage();
    Type(page, 2, "5");
    EXPECT_EQ(page.Import(test::UnitOnPty::kPortNo), LinkResult::kSuccess);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].kind, "notice");
    EXPECT_EQ(view.messages[0].text, "発電データの受信を完了しました。");
    EXPECT_EQ(view.waits, 1);
    EXPECT_EQ(view.waitDepth, 0);
    EXPECT_EQ(app.errorCount, 3);
    EXPECT_EQ(app.dayCount, 5);
    EXPECT_EQ(app.monthCount, 37);  // fitted to 2021-05 .. 2024-05
    EXPECT_EQ(Month(2024, 2), 200);
    EXPECT_EQ(Month(2024, 3), 300);
    EXPECT_EQ(Month(2024, 5), 0);  // not reported: 0
    EXPECT_EQ(Month(2021, 5), 0);
    EXPECT_EQ(view.text[1], "200");  // the typed 5 gave way
    EXPECT_FALSE(page.changed());
    EXPECT_FALSE(view.completeEnabled);
    UserData saved;
    ASSERT_TRUE(DeserializeUserData(SavedFile(), saved).ok());
    EXPECT_EQ(saved.errorCount, 3);
    EXPECT_EQ(GetMonthGeneration(saved.months.data(), saved.monthCount, 2024, 4), 400);
    EXPECT_TRUE(std::equal(page.image().begin(), page.image().end(), source.begin()));
}

TEST_F(ResultInputTest, AFailedImportChangesNothingAndKeepsTypedValues) {
    ASSERT_TRUE(SaveUserData(app, {}).ok());
    const std::string fileBefore = SavedFile();
    const std::string memoryBefore = SerializeUserData(app.data());
    for (const char* fault : {"bad-header", "bad-block:100", "silence:30", "no-answer"}) {
        monitor_unit::FaultConfig f;
        ASSERT_TRUE(monitor_unit::ParseFault(fault, f));
        test::UnitOnPty unit(SmallHistory(), f);
        RecordingView v;
        ResultInput page(app, v, unit.Io());
        page.EnterPage();
        v.text[1] = "5";
        page.OnMonthEdited();
        v.lamp = "unchanged";
        EXPECT_EQ(page.Import(test::UnitOnPty::kPortNo), LinkResult::kReplyFailed) << fault;
        ASSERT_EQ(v.messages.size(), 1u);
        EXPECT_EQ(v.messages[0].text, "発電データを受信できませんでした。");
        EXPECT_EQ(v.text[1], "5");
        EXPECT_TRUE(page.changed());
        EXPECT_EQ(v.lamp, "unchanged");
        EXPECT_EQ(v.waitDepth, 0);
        EXPECT_EQ(SerializeUserData(app.data()), memoryBefore) << fault;
        EXPECT_EQ(SavedFile(), fileBefore) << fault;
    }
    // No port at all.
    RecordingView v;
    ResultInput page(app, v);
    page.EnterPage();
    EXPECT_EQ(page.Import(250), LinkResult::kOpenFailed);
    EXPECT_EQ(SerializeUserData(app.data()), memoryBefore);
}

TEST_F(ResultInputTest, AnImportOfNothingEmptiesTheTablesAndKeepsTheMonthsAtZero) {
    test::UnitOnPty unit(SmallHistory(), {monitor_unit::Fault::kAnnounceZero, 0});
    app.errorCount = 4;
    ResultInput page(app, view, unit.Io());
    page.EnterPage();
    EXPECT_EQ(page.Import(test::UnitOnPty::kPortNo), LinkResult::kSuccess);
    EXPECT_EQ(view.messages[0].text, "発電データの受信を完了しました。");
    EXPECT_EQ(app.errorCount, 0);
    EXPECT_EQ(app.dayCount, 0);
    EXPECT_EQ(app.monthCount, 37);
    for (int i = 0; i < app.monthCount; ++i) EXPECT_EQ(app.months[i].generation, 0);
}

TEST_F(ResultInputTest, AFailedSaveAfterAnImportIsShownAndTheDataStays) {
    test::UnitOnPty unit(SmallHistory());
    ResultInput page(app, view, unit.Io());
    page.EnterPage();
    files::SetWriteLimitForTesting(100);
    const LinkResult r = page.Import(test::UnitOnPty::kPortNo);
    files::SetWriteLimitForTesting(-1);
    EXPECT_EQ(r, LinkResult::kSuccess);
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[1].kind, "error");
    EXPECT_NE(view.messages[1].text.find("ファイルの書き込みに失敗しました。"), std::string::npos);
    EXPECT_EQ(app.errorCount, 3);
    EXPECT_EQ(view.text[2], "300");
}

TEST_F(ResultInputTest, AProbeSetsTheLamp) {
    test::UnitOnPty unit(SmallHistory());
    ResultInput page(app, view, unit.Io());
    EXPECT_EQ(page.ProbePort(test::UnitOnPty::kPortNo), LinkResult::kSuccess);
    EXPECT_EQ(view.lamp, "OK");
    EXPECT_EQ(page.ProbePort(240), LinkResult::kOpenFailed);
    EXPECT_EQ(view.lamp, "NG");
    EXPECT_EQ(view.waitDepth, 0);
    EXPECT_EQ(view.waits, 2);
}

}  // namespace
}  // namespace ys::monitor
