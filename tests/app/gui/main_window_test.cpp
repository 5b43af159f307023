#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "app/about_dlg.h"
#include "app/app_data.h"
#include "app/dialog_units.h"
#include "app/local_time.h"
#include "app/message_box.h"
#include "app/sub_dlg.h"
#include "app/user_data_file.h"
#include "tests/app/gui/page_harness.h"
#include "tests/support/temp_dir.h"

namespace ys::gui {
namespace {

using test::Call;
using test::RecordingPage;
using MainWindowTest = test::PageHarness;

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

TEST_F(MainWindowTest, TheButtonColumnAndThePageArea) {
    auto dlg = Make();
    const std::pair<int, const char*> buttons[] = {
        {1000, "ユーザー情報"},     {1001, "発電シミュレーション"}, {1002, "発電データ入力"},
        {1004, "ヘリオミル"},       {1006, "発電データ表示"},       {1010, "ユーザーデータ読込"},
        {1007, "エラーデータ表示"}, {1008, "バージョン情報"},       {1094, "終　了"}};
    for (const auto& [id, text] : buttons) {
        QPushButton* b = dlg->button(id);
        ASSERT_NE(b, nullptr) << id;
        EXPECT_EQ(b->text(), QString::fromUtf8(text));
        EXPECT_TRUE(b->isEnabled());
        EXPECT_FALSE(b->autoDefault());  // Enter presses nothing
    }
    EXPECT_EQ(dlg->findChildren<QPushButton*>().size(), 9);
    int marks = 0;
    for (QLabel* l : dlg->findChildren<QLabel*>()) marks += l->text() == QStringLiteral("▼");
    EXPECT_EQ(marks, 3);

    // Every page sits right of the column's frame, inside the fixed window.
    QFrame* frame = dlg->findChild<QFrame*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_NE(frame, nullptr);
    EXPECT_GT(dlg->pageOrigin().x(), frame->geometry().right());
    EXPECT_EQ(dlg->pageOrigin().y(), 0);
    for (RecordingPage* p : pages) {
        dlg->ShowPage(p);
        EXPECT_EQ(p->pos(), dlg->pageOrigin());
        EXPECT_LE(p->geometry().right(), dlg->width() - 1);
        EXPECT_LE(p->geometry().bottom(), dlg->height() - 1);
    }
    EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());
    // At the dialog font's usual scale the pages start at 145 pixels.
    EXPECT_EQ(DialogUnits(7, 12).X(83), 145);
}

TEST_F(MainWindowTest, FocusFollowsTheButtonOnlyWhenThePageChanged) {
    auto dlg = Make();
    dlg->show();
    dlg->button(1010)->setFocus();
    log.clear();
    dlg->button(1000)->click();  // the page already shown
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(dlg->focusWidget(), dlg->button(1010));

    dlg->button(1001)->click();
    EXPECT_EQ(dlg->focusWidget(), dlg->button(1001));

    pages[1]->refuse = true;
    dlg->button(1007)->click();
    EXPECT_EQ(dlg->currentPage(), pages[1]);
    EXPECT_EQ(dlg->focusWidget(), dlg->button(1001));
}

TEST_F(MainWindowTest, ExitFromAnyOtherPageAsksOnlyTheDataEntryPage) {
    for (int i = 1; i < kPageCount; ++i) {
        auto dlg = Make();
        dlg->ShowPage(static_cast<Page>(i));
        for (RecordingPage* p : pages) p->refuse = true;
        log.clear();
        dlg->setResult(-1);
        dlg->OnExit();
        // Typed values of the data entry page would be lost: it is asked, as when it is left.
        const bool asks = static_cast<Page>(i) == Page::kResultInput;
        const std::vector<Call> expected =
            asks ? std::vector<Call>{{i, 1, 1}} : std::vector<Call>{};
        EXPECT_EQ(log, expected) << i;
        EXPECT_EQ(dlg->result(), asks ? -1 : QDialog::Rejected) << i;
    }
}

TEST_F(MainWindowTest, LoadingWhileTheUserPageIsShownRefreshesItInPlace) {
    CYieldscopeApp other;
    other.userInfo.name = "LOADED";
    other.monthCount = 0;
    std::string file = dir.File("chosen.sol");
    ASSERT_TRUE(SaveUserData(other, file).ok());

    auto dlg = Make();
    dlg->show();
    dlg->button(1010)->setFocus();
    log.clear();
    dlg->SetFileChooser([&](QWidget*) { return QString::fromStdString(file); });
    dlg->button(1010)->click();
    EXPECT_EQ(app.userInfo.name, "LOADED");
    EXPECT_EQ(app.monthCount, 0);  // the month table is not rebuilt after this load
    EXPECT_EQ(log, (std::vector<Call>{{0, 0, 0}}));
    EXPECT_EQ(dlg->focusWidget(), dlg->button(1010));
}

TEST_F(MainWindowTest, LoadingAFileThatCannotBeOpenedIsSilentAndShowsTheUserPage) {
    auto dlg = Make();
    dlg->ShowPage(Page::kErrorViewer);
    app.userInfo.name = "KEPT";
    MessageBox::ClearShown();
    log.clear();
    dlg->LoadUserDataFrom(QString::fromStdString(dir.File("missing.sol")));
    EXPECT_TRUE(MessageBox::Shown().empty());
    EXPECT_EQ(app.userInfo.name, "KEPT");
    EXPECT_EQ(log, (std::vector<Call>{{0, 0, 0}, {5, 1, 0}, {0, 0, 0}}));
    EXPECT_EQ(dlg->currentPage(), pages[0]);
    EXPECT_EQ(dlg->focusWidget(), dlg->button(1000));
}

TEST_F(MainWindowTest, EscapeInAPageClosesNothing) {
    auto dlg = Make();
    dlg->show();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(pages[0], &press);
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(MainWindowTest, TheVersionDialogShowsThePictureNameAndVersion) {
    auto dlg = Make();
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        seen = true;
        EXPECT_EQ(about->windowTitle(), QStringLiteral("バージョン情報"));
        QStringList texts;
        for (QLabel* l : about->findChildren<QLabel*>()) texts << l->text();
        EXPECT_TRUE(texts.contains(QStringLiteral("ヘリオミルシステム　ソフトウェア")));
        EXPECT_TRUE(texts.contains(QStringLiteral("Ver 1.04")));
        EXPECT_FALSE(about->picture()->pixmap().isNull());
        about->accept();
    });
    dlg->button(1008)->click();
    EXPECT_TRUE(seen);
    EXPECT_FALSE(dlg->windowIcon().isNull());
}

}  // namespace
}  // namespace ys::gui
