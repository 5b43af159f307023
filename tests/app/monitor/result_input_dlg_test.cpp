// The entry page's widgets: what they show, that they pass the user's actions to the logic, the
// messages through the message-box seam, and the port discovery in the background.
#include "app/monitor/result_input_dlg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <climits>
#include <filesystem>

#include "app/app_data.h"
#include "app/local_time.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "app/monitor/image_encoder.h"
#include "tests/app/monitor/unit_on_pty.h"
#include "tests/support/temp_dir.h"

namespace ys::gui {
namespace {

using test::UnitOnPty;

class PlainPage : public CSubDlg {
public:
    using CSubDlg::CSubDlg;
};

// Types into a field as the user would: the field's edit notification fires.
void TypeInto(QLineEdit* field, const QString& text) {
    field->selectAll();
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(field, &press);
    }
}

monitor::MemoryImage History() {
    monitor::MonitorHistory h;
    for (int m = 1; m <= 5; ++m) {
        h.months.entries.push_back({{29, m, 1}, static_cast<std::int16_t>(m * 111)});
    }
    return *monitor::EncodeMemoryImage(h);
}

class ResultInputDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBox::SetTestMode(true);
        app.dataDir = dir.path();
        app.SetClock([] { return MakeLocalTime(2024, 6, 15, 12); });
        app.userInfo.installYear = 2021;
        app.userInfo.installMonth = 4;
        app.userInfo.monitorImport = 1;
    }
    void TearDown() override { MessageBox::SetTestMode(false); }

    // The main window with plain pages around the entry page under test.
    void Make(bool discover = false) {
        window = std::make_unique<CYieldscopeDlg>(
            app, nullptr, [&](CYieldscopeDlg& d, CYieldscopeApp& a) {
                std::array<CSubDlg*, kPageCount> out{};
                for (int i = 0; i < kPageCount; ++i) {
                    if (i == static_cast<int>(Page::kResultInput)) {
                        page = new CResultInputDlg(d, a, &d, unit.Io(), discover);
                        out[i] = page;
                    } else {
                        out[i] = new PlainPage(d, a, &d);
                    }
                }
                return out;
            });
        ASSERT_EQ(window->ShowPage(Page::kResultInput), 1);
    }
    std::vector<ShownMessage> Shown() const { return MessageBox::Shown(); }

    test::TempDir dir;
    UnitOnPty unit{History()};
    CYieldscopeApp app;
    std::unique_ptr<CYieldscopeDlg> window;
    CResultInputDlg* page = nullptr;
};

TEST_F(ResultInputDlgTest, ShowsTheGroupsListsAndFieldsOfThePage) {
    Make();
    QStringList groups;
    for (auto* g : page->findChildren<QGroupBox*>()) groups << g->title();
    EXPECT_EQ(groups, (QStringList{"発電データの入力", "発電データの自動取込"}));
    QStringList buttons;
    for (auto* b : page->findChildren<QPushButton*>()) buttons << b->text();
    EXPECT_EQ(buttons,
              (QStringList{"＜前へ", "後へ＞", "入力完了", "取込実行", "ヘリオミルへ進む"}));
    QStringList labels;
    for (auto* l : page->findChildren<QLabel*>()) {
        if (!l->text().isEmpty()) labels << l->text();
    }
    EXPECT_TRUE(labels.contains("１月"));
    EXPECT_TRUE(labels.contains("１２月"));
    EXPECT_TRUE(labels.contains("通信ポート："));
    EXPECT_TRUE(labels.contains("結果は上の入力欄に表示されます。"));

    ASSERT_EQ(page->yearList()->count(), 4);
    EXPECT_EQ(page->yearList()->itemText(0), "2021");
    EXPECT_EQ(page->yearList()->currentText(), "2024");
    ASSERT_EQ(page->portList()->count(), 255);
    EXPECT_EQ(page->portList()->itemText(0), "COM1");
    EXPECT_EQ(page->portList()->itemText(254), "COM255");
    EXPECT_EQ(page->portList()->itemData(254).toInt(), 255);
    EXPECT_EQ(page->portList()->currentIndex(), 0);
    EXPECT_FALSE(page->lampOk());

    EXPECT_EQ(page->monthField(5)->text(), "0");
    EXPECT_TRUE(page->monthField(5)->isEnabled());
    EXPECT_FALSE(page->monthField(6)->isEnabled());
    EXPECT_EQ(page->monthField(5)->alignment() & Qt::AlignRight, Qt::AlignRight);
    EXPECT_FALSE(page->completeButton()->isEnabled());
    EXPECT_TRUE(page->importButton()->isEnabled());
    app.userInfo.monitorImport = 0;
    page->OnPageChange(0, 0);
    EXPECT_FALSE(page->importButton()->isEnabled());
}

TEST_F(ResultInputDlgTest, TypingEnablesCompletionAndCompletionCommits) {
    Make();
    QLineEdit* may = page->monthField(5);
    TypeInto(may, "4x21");  // the field takes digits only
    EXPECT_EQ(may->text(), "421");
    EXPECT_TRUE(page->completeButton()->isEnabled());
    page->previousButton()->click();
    EXPECT_EQ(page->yearList()->currentText(), "2023");
    page->nextButton()->click();
    EXPECT_EQ(page->monthField(5)->text(), "421");

    MessageBox::SetNextAnswer(MsgAnswer::kYes);  // no simulation: 421 kWh is listed
    page->completeButton()->click();
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].title, "確認");
    EXPECT_EQ(Shown()[0].buttons, MsgButtons::kYesNo);
    EXPECT_EQ(Shown()[0].icon, MsgIcon::kWarning);
    EXPECT_TRUE(Shown()[0].text.startsWith("[ 2024年05月 ]  421(kWh)\n\n上記の月の入力値が"));
    EXPECT_EQ(GetMonthGeneration(app.months.data(), app.monthCount, 2024, 5), 421);
    EXPECT_FALSE(page->completeButton()->isEnabled());
}

TEST_F(ResultInputDlgTest, ARefusedFieldShowsItsMessage) {
    Make();
    TypeInto(page->monthField(2), "99999");
    page->yearList()->setCurrentIndex(0);
    emit page->yearList()->activated(0);
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].text, "0 から 65535 までの整数を入力してください。");
    EXPECT_EQ(Shown()[0].title, ApplicationName());
    EXPECT_EQ(Shown()[0].icon, MsgIcon::kWarning);
    EXPECT_EQ(page->yearList()->currentText(), "2021");
}

TEST_F(ResultInputDlgTest, LeavingWithTypedValuesAsksAndTheAnswerDecides) {
    Make();
    TypeInto(page->monthField(1), "5");
    MessageBox::SetNextAnswer(MsgAnswer::kNo);
    page->diagnosisButton()->click();
    EXPECT_EQ(window->currentPage(), page);
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_TRUE(Shown()[0].text.startsWith("入力中のデータがあります。"));
    EXPECT_EQ(page->monthField(1)->text(), "5");

    MessageBox::SetNextAnswer(MsgAnswer::kYes);
    page->diagnosisButton()->click();
    EXPECT_EQ(window->currentPage(), window->page(Page::kResultCheck));
    window->ShowPage(Page::kResultInput);
    EXPECT_EQ(page->monthField(1)->text(), "0");  // discarded
    EXPECT_FALSE(page->completeButton()->isEnabled());
}

TEST_F(ResultInputDlgTest, EndingTheProgramWithTypedValuesAsksFirst) {
    struct Case {
        bool exitButton;
        MsgAnswer answer;
    };
    for (const Case& c : {Case{true, MsgAnswer::kNo}, Case{true, MsgAnswer::kYes},
                          Case{false, MsgAnswer::kNo}, Case{false, MsgAnswer::kYes}}) {
        MessageBox::ClearShown();
        Make();
        window->show();
        TypeInto(page->monthField(1), "5");
        MessageBox::SetNextAnswer(c.answer);
        window->setResult(-1);
        if (c.exitButton) {
            window->button(1094)->click();
        } else {
            window->close();
        }
        ASSERT_EQ(Shown().size(), 1u) << c.exitButton;
        EXPECT_TRUE(Shown()[0].text.startsWith("入力中のデータがあります。"));
        const bool ended = c.answer == MsgAnswer::kYes;
        EXPECT_EQ(window->result() != -1, ended) << c.exitButton;
        EXPECT_EQ(window->isVisible(), !ended) << c.exitButton;
        if (!ended) {
            EXPECT_EQ(page->monthField(1)->text(), "5");
        }
    }
}

TEST_F(ResultInputDlgTest, ARefusedFieldOnCompletionSavesNothingAndKeepsTheFocus) {
    Make();
    window->show();
    TypeInto(page->monthField(3), "7");
    TypeInto(page->monthField(2), "99999");
    page->completeButton()->click();
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].text, "0 から 65535 までの整数を入力してください。");
    EXPECT_TRUE(page->completeButton()->isEnabled());
    EXPECT_EQ(window->focusWidget(), page->monthField(2));
    EXPECT_EQ(GetMonthGeneration(app.months.data(), app.monthCount, 2024, 3), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("SolarData.sol")));
}

TEST_F(ResultInputDlgTest, AbsurdInstallationYearsBuildABoundedYearList) {
    for (int year : {INT_MIN, -1, 0, 9999, INT_MAX}) {
        app.userInfo.installYear = year;
        app.userInfo.installMonth = year == 0 ? INT_MIN : 12;
        app.RebuildMonthTable();
        Make();
        EXPECT_LE(page->yearList()->count(), 6) << year;
    }
}

TEST_F(ResultInputDlgTest, ImportShowsTheResultAndTheImportedMonths) {
    Make();
    TypeInto(page->monthField(1), "7");
    page->portList()->setCurrentIndex(UnitOnPty::kPortNo - 1);
    page->importButton()->click();
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].text, "発電データの受信を完了しました。");
    EXPECT_EQ(Shown()[0].title, ApplicationName());
    EXPECT_EQ(Shown()[0].icon, MsgIcon::kNone);
    EXPECT_EQ(page->monthField(1)->text(), "111");
    EXPECT_EQ(page->monthField(5)->text(), "555");
    EXPECT_FALSE(page->completeButton()->isEnabled());
    EXPECT_FALSE(page->lampOk());  // an import does not touch the lamp

    MessageBox::ClearShown();
    page->portList()->setCurrentIndex(239);  // COM240: nothing there
    page->importButton()->click();
    EXPECT_EQ(Shown().at(0).text, "発電データを受信できませんでした。");
}

TEST_F(ResultInputDlgTest, ChoosingAPortProbesItAndSetsTheLamp) {
    Make();
    page->portList()->setCurrentIndex(UnitOnPty::kPortNo - 1);
    emit page->portList()->activated(UnitOnPty::kPortNo - 1);
    EXPECT_TRUE(page->lampOk());
    EXPECT_EQ(unit.unit().requestsReceived(), 1);
    page->portList()->setCurrentIndex(2);
    emit page->portList()->activated(2);
    EXPECT_FALSE(page->lampOk());
    // Selections made by the program probe nothing.
    page->portList()->setCurrentIndex(UnitOnPty::kPortNo - 1);
    EXPECT_EQ(unit.unit().requestsReceived(), 1);
}

TEST_F(ResultInputDlgTest, DiscoveryRunsInTheBackgroundAndSelectsTheAnsweringPort) {
    // COM1 to COM6 lead to devices that are gone; the unit answers on COM7.
    for (int n = 1; n < UnitOnPty::kPortNo; ++n) {
        ASSERT_EQ(::symlink("/dev/no-such-tty",
                            (serial::PortFolder() + "/COM" + std::to_string(n)).c_str()),
                  0);
    }
    Make(true);
    EXPECT_TRUE(page->discovering());
    EXPECT_FALSE(page->portList()->isEnabled());
    EXPECT_FALSE(page->importButton()->isEnabled());

    QEventLoop loop;
    QObject::connect(page, &CResultInputDlg::discoveryFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20'000, &loop, &QEventLoop::quit);  // only bounds a broken test
    if (page->discovering()) loop.exec();
    ASSERT_FALSE(page->discovering());
    EXPECT_EQ(page->portList()->currentIndex(), UnitOnPty::kPortNo - 1);
    EXPECT_TRUE(page->lampOk());
    EXPECT_TRUE(page->portList()->isEnabled());
    EXPECT_TRUE(page->importButton()->isEnabled());
    EXPECT_TRUE(unit.PortIsFree());
}

TEST_F(ResultInputDlgTest, ClosingDuringDiscoveryWaitsForItsWorker) {
    for (int n = 1; n < UnitOnPty::kPortNo; ++n) {
        ASSERT_EQ(::symlink("/dev/no-such-tty",
                            (serial::PortFolder() + "/COM" + std::to_string(n)).c_str()),
                  0);
    }
    Make(true);
    window.reset();  // stops the worker before the page goes; its queued calls are dropped
    QCoreApplication::processEvents();
    EXPECT_TRUE(unit.PortIsFree());
}

}  // namespace
}  // namespace ys::gui
