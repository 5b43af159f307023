#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>

#include "app/app_data.h"
#include "app/local_time.h"
#include "app/message_box.h"
#include "app/sub_dlg.h"
#include "app/user_data_file.h"
#include "tests/support/temp_dir.h"

namespace ys::gui {
namespace {

struct Call {
    int page;
    int leaving;
    int exitFlag;
    bool operator==(const Call&) const = default;
};

// A page that records every page-change call and refuses to be left when told to.
class RecordingPage : public CSubDlg {
public:
    RecordingPage(CYieldscopeDlg& dlg, CYieldscopeApp& app, int index, std::vector<Call>& log)
        : CSubDlg(dlg, app, &dlg), index_(index), log_(log) {}
    int OnPageChange(int leaving, int exitFlag) override {
        log_.push_back({index_, leaving, exitFlag});
        return (leaving && refuse) ? 0 : 1;
    }
    bool refuse = false;

private:
    int index_;
    std::vector<Call>& log_;
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBox::SetTestMode(true);
        app.dataDir = dir.path();
        app.SetClock([] { return MakeLocalTime(2026, 12, 7); });
    }
    std::unique_ptr<CYieldscopeDlg> Make() {
        auto dlg = std::make_unique<CYieldscopeDlg>(
            app, nullptr, [this](CYieldscopeDlg& d, CYieldscopeApp& a) {
                std::array<CSubDlg*, kPageCount> out{};
                for (int i = 0; i < kPageCount; ++i) {
                    pages[i] = new RecordingPage(d, a, i, log);
                    out[i] = pages[i];
                }
                return out;
            });
        return dlg;
    }

    test::TempDir dir;
    CYieldscopeApp app;
    std::vector<Call> log;
    std::array<RecordingPage*, kPageCount> pages{};
};

TEST_F(MainWindowTest, OpensOnTheUserPageWithTheMonthTableRebuilt) {
    auto dlg = Make();
    EXPECT_EQ(dlg->currentPage(), pages[0]);
    EXPECT_EQ(log, (std::vector<Call>{{0, 0, 0}}));
    EXPECT_EQ(app.monthCount, 60);  // installation 2000/1: the last 60 months
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("ヘリオミルシステム"));
}

TEST_F(MainWindowTest, PageButtonsAskTheOldPageThenShowTheNewOne) {
    auto dlg = Make();
    log.clear();
    dlg->pageButton(Page::kResultCheck)->click();
    EXPECT_EQ(log, (std::vector<Call>{{0, 1, 0}, {3, 0, 0}}));
    EXPECT_EQ(dlg->currentPage(), pages[3]);
    EXPECT_TRUE(pages[3]->isVisibleTo(dlg.get()));
    EXPECT_FALSE(pages[0]->isVisibleTo(dlg.get()));

    // The button of the page already shown does nothing.
    log.clear();
    dlg->pageButton(Page::kResultCheck)->click();
    EXPECT_TRUE(log.empty());
}

TEST_F(MainWindowTest, ARefusingPageStaysShown) {
    auto dlg = Make();
    pages[0]->refuse = true;
    log.clear();
    EXPECT_EQ(dlg->ShowPage(Page::kSolarSim), 0);
    EXPECT_EQ(log, (std::vector<Call>{{0, 1, 0}}));
    EXPECT_EQ(dlg->currentPage(), pages[0]);
}

TEST_F(MainWindowTest, ExitAsksOnlyTheUserPageWithTheExitFlag) {
    {
        auto dlg = Make();
        log.clear();
        pages[0]->refuse = true;
        dlg->button(1094)->click();
        EXPECT_EQ(log, (std::vector<Call>{{0, 1, 1}}));
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
        pages[0]->refuse = false;
        dlg->setResult(-1);
        dlg->button(1094)->click();
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
    }
    {
        auto dlg = Make();
        dlg->ShowPage(Page::kResultCheck);
        log.clear();
        pages[3]->refuse = true;
        dlg->button(1094)->click();
        EXPECT_TRUE(log.empty());
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
    }
}

TEST_F(MainWindowTest, CloseCommandAsksTheUserPageWithoutTheExitFlagAndAccepts) {
    auto dlg = Make();
    dlg->show();
    log.clear();
    pages[0]->refuse = true;
    EXPECT_FALSE(dlg->close());
    EXPECT_EQ(log, (std::vector<Call>{{0, 1, 0}}));
    pages[0]->refuse = false;
    EXPECT_TRUE(dlg->close());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

TEST_F(MainWindowTest, EscapeAndEnterCloseNothing) {
    auto dlg = Make();
    dlg->show();
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(dlg.get(), &press);
        EXPECT_TRUE(dlg->isVisible());
    }
}

TEST_F(MainWindowTest, LoadingWhileARefusingPageIsShownLoadsAndRefreshesTheUserPage) {
    CYieldscopeApp other;
    other.userInfo.name = "LOADED";
    other.dataDir = dir.path();
    std::string file = dir.File("chosen.sol");
    ASSERT_TRUE(SaveUserData(other, file).ok());

    auto dlg = Make();
    dlg->ShowPage(Page::kResultInput);
    pages[2]->refuse = true;
    log.clear();
    dlg->SetFileChooser([&](QWidget*) { return QString::fromStdString(file); });
    dlg->button(1010)->click();
    EXPECT_EQ(app.userInfo.name, "LOADED");
    EXPECT_EQ(log, (std::vector<Call>{{0, 0, 0}, {2, 1, 0}}));
    EXPECT_EQ(dlg->currentPage(), pages[2]);
}

TEST_F(MainWindowTest, LoadingACorruptFileChangesNothingAndNamesTheFile) {
    std::string file = dir.Write("broken.sol", std::string(100, '\x01'));
    auto dlg = Make();
    app.userInfo.name = "KEPT";
    MessageBox::ClearShown();
    dlg->LoadUserDataFrom(QString::fromStdString(file));
    EXPECT_EQ(app.userInfo.name, "KEPT");
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_EQ(MessageBox::Shown()[0].title, QStringLiteral("エラー"));
    EXPECT_TRUE(MessageBox::Shown()[0].text.contains(QString::fromStdString(file)));
}

TEST_F(MainWindowTest, CancelledFileDialogDoesNothing) {
    auto dlg = Make();
    log.clear();
    dlg->SetFileChooser([](QWidget*) { return QString(); });
    dlg->button(1010)->click();
    EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace ys::gui
