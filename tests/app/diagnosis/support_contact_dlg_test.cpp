#include "app/errors/support_contact_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "app/app_data.h"
#include "app/errors/support_contact.h"
#include "app/local_time.h"
#include "app/message_box.h"
#include "app/user_data_file.h"
#include "tests/app/diagnosis/sample_user.h"
#include "tests/support/temp_dir.h"

namespace ys::gui {
namespace {

void PressKey(QWidget* w, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

class ContactDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBox::ClearShown();
        test::MakeSampleUser(app.data(), 0.7);
        app.programDir = dir.path();
        app.dataDir = dir.File("data");
        app.SetClock([] { return MakeLocalTime(2011, 5, 3, 10, 0); });
        dir.Write("config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"" + dir.File("Docs") + "\"\n");
        CNVConnectionDlg::SetUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }
    void TearDown() override { CNVConnectionDlg::SetUrlOpener({}); }

    test::TempDir dir;
    test::ScopedEnv config{"XDG_CONFIG_HOME", dir.File("config")};
    CYieldscopeApp app;
    std::vector<QUrl> opened;
};

TEST_F(ContactDlgTest, OpeningWritesTheSupportFileAndFillsTheTexts) {
    CNVConnectionDlg dlg(app);
    const std::string file = dir.File("Docs/Norvane/PV_ERROR_20110503.sol");
    EXPECT_EQ(dlg.supportFilePath(), file);
    EXPECT_EQ(test::ReadFile(file), SerializeUserData(app.data()));
    EXPECT_TRUE(MessageBox::Shown().empty());

    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("ノルベインソーラーコーポーレーションへ連絡"));
    EXPECT_EQ(dlg.privacyText()->text(), QString::fromUtf8(kPrivacyText));
    ASSERT_EQ(dlg.instructions()->count(), 20);
    EXPECT_EQ(dlg.instructions()->item(9)->text(),
              QStringLiteral(
                  "　　（「 PV_ERROR_20110503.sol 」という名称のファイルを添付してください。）"));
    EXPECT_EQ(dlg.sendButton()->text(), QStringLiteral("データファイルを送信する"));
    EXPECT_TRUE(dlg.sendButton()->isDefault());
    EXPECT_EQ(dlg.closeButton()->text(), QStringLiteral("閉じる"));
}

TEST_F(ContactDlgTest, SendOpensTheFolderThenTheMailAndStaysOpen) {
    dir.Write("admin.ini", "[SUPPORT]\r\nMAIL=desk@dealer.example.jp\r\n");
    CNVConnectionDlg dlg(app);
    dlg.show();
    dlg.sendButton()->click();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(dir.File("Docs/Norvane"))));
    EXPECT_EQ(opened[1].toEncoded().toStdString(), BuildSupportMailLink("desk@dealer.example.jp"));
    EXPECT_EQ(opened[1].scheme(), QStringLiteral("mailto"));
    EXPECT_TRUE(opened[1]
                    .query(QUrl::FullyDecoded)
                    .contains(QStringLiteral("body=ソーラーシステム・診断データ送信")));
    EXPECT_TRUE(dlg.isVisible());

    dlg.sendButton()->click();  // again
    EXPECT_EQ(opened.size(), 4u);

    PressKey(&dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    PressKey(&dlg, Qt::Key_Return);  // the default button
    EXPECT_EQ(opened.size(), 6u);
    dlg.closeButton()->click();
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(ContactDlgTest, FolderThatCannotBeMadeIsReportedAndTheDialogStillWorks) {
    dir.Write("Docs", "a file where the documents folder should be");
    CNVConnectionDlg dlg(app);
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_EQ(MessageBox::Shown()[0].text, QStringLiteral("ファイルを開けません。"));
    EXPECT_EQ(MessageBox::Shown()[0].title, QStringLiteral("エラー"));
    EXPECT_EQ(MessageBox::Shown()[0].icon, MsgIcon::kError);
    EXPECT_EQ(dlg.instructions()->count(), 20);
    dlg.sendButton()->click();
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_EQ(test::ReadFile(dir.File("Docs")), "a file where the documents folder should be");
}

}  // namespace
}  // namespace ys::gui
