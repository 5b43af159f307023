#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>

#include "app/message_box.h"
#include "app/settings/near_pos_dlg.h"
#include "app/settings/zip_input_dlg.h"
#include "tests/app/settings/gui_fixture.h"

namespace ys::gui {
namespace {

using test::Sjis;

class RegionDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBox::ClearShown();
        test::PrepareProgramFolder(program);
    }
    test::TempDir program;
};

TEST_F(RegionDialogTest, OpensOnTheCurrentRegion) {
    CNearPosDlg dlg(program.path(), 44132, Sjis("whatever"));
    EXPECT_EQ(dlg.prefectureList()->count(), 47);
    EXPECT_EQ(dlg.prefectureList()->itemText(0), QStringLiteral("北海道"));
    EXPECT_EQ(dlg.prefectureList()->currentText(), QStringLiteral("東京都"));
    EXPECT_EQ(dlg.regionList()->currentText(), QStringLiteral("東京"));
    EXPECT_TRUE(MessageBox::Shown().empty());
    dlg.OnOK();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.regionNo(), 44132);
    EXPECT_EQ(test::Utf8(dlg.regionName()), "東京都 東京");
}

TEST_F(RegionDialogTest, NoRegionOpensWithoutSelection) {
    CNearPosDlg dlg(program.path(), 0, "");
    EXPECT_EQ(dlg.prefectureList()->currentIndex(), -1);
    EXPECT_EQ(dlg.regionList()->count(), 0);
    dlg.OnOK();
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_EQ(MessageBox::Shown()[0].text, QStringLiteral("正しく設定されていません。"));
    EXPECT_EQ(MessageBox::Shown()[0].title, ApplicationName());
    EXPECT_EQ(MessageBox::Shown()[0].icon, MsgIcon::kNone);
    EXPECT_NE(dlg.result(), QDialog::Accepted);
}

TEST_F(RegionDialogTest, PrefectureChangeEmptiesTheRegionChoice) {
    CNearPosDlg dlg(program.path(), 44132, "");
    dlg.prefectureList()->setCurrentIndex(dlg.prefectureList()->findText(QStringLiteral("広島県")));
    EXPECT_EQ(dlg.regionList()->currentIndex(), -1);
    EXPECT_GT(dlg.regionList()->count(), 5);
    dlg.OnOK();
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    // A name found in two prefectures takes the row of the chosen one.
    dlg.regionList()->setCurrentIndex(dlg.regionList()->findText(QStringLiteral("府中")));
    dlg.OnOK();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(test::Utf8(dlg.regionName()), "広島県 府中");
    EXPECT_EQ(dlg.regionNo(), 67326);
}

TEST_F(RegionDialogTest, MissingTableIsReportedAndListsStayEmpty) {
    test::TempDir empty;
    CNearPosDlg dlg(empty.path(), 44132, "");
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_EQ(MessageBox::Shown()[0].text, QStringLiteral("地域データファイルが開けません。"));
    EXPECT_EQ(MessageBox::Shown()[0].title, QStringLiteral("エラー"));
    EXPECT_EQ(MessageBox::Shown()[0].icon, MsgIcon::kError);
    EXPECT_EQ(dlg.prefectureList()->count(), 0);
    dlg.OnOK();
    EXPECT_EQ(MessageBox::Shown().back().text, QStringLiteral("正しく設定されていません。"));
}

class ZipDialogTest : public ::testing::Test {
protected:
    void SetUp() override { MessageBox::ClearShown(); }
};

TEST_F(ZipDialogTest, EmptyCodeFindsNothingAndTheDialogStays) {
    test::TempDir program;
    program.Write("KEN_ALL.CSV", "13101,\"100  \",\"1000001\",a,b,c,p,q,r,0\r\n");
    CZipInputDlg dlg(program.path());
    dlg.OnSearch();
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_EQ(MessageBox::Shown()[0].text,
              QStringLiteral("指定の郵便番号に合致する住所が見つかりませんでした。"));
    EXPECT_EQ(MessageBox::Shown()[0].title, QStringLiteral("郵便番号検索"));
    EXPECT_EQ(MessageBox::Shown()[0].icon, MsgIcon::kWarning);
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.resultCount(), 0);
    dlg.codeEdit()->setText(QStringLiteral("1000001"));
    dlg.OnSearch();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.results(), (std::vector<std::string>{"p q r"}));
}

TEST_F(ZipDialogTest, OnlyDigitsCanBeTyped) {
    test::TempDir program;
    CZipInputDlg dlg(program.path());
    test::TypeText(dlg.codeEdit(), QStringLiteral("123"));
    test::TypeText(dlg.codeEdit(), QStringLiteral("-"));
    test::TypeText(dlg.codeEdit(), QStringLiteral("４"));
    test::TypeText(dlg.codeEdit(), QStringLiteral("4567"));
    EXPECT_EQ(dlg.codeEdit()->text(), QStringLiteral("1234567"));
}

TEST_F(ZipDialogTest, MissingOrEmptyFile) {
    test::TempDir program;
    CZipInputDlg dlg(program.path());
    dlg.codeEdit()->setText(QStringLiteral("1000001"));
    dlg.OnSearch();
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_EQ(MessageBox::Shown()[0].text, QStringLiteral("住所データファイルが開けません。"));
    EXPECT_EQ(MessageBox::Shown()[0].title, QStringLiteral("エラー"));
    EXPECT_EQ(MessageBox::Shown()[0].icon, MsgIcon::kError);
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    // The placeholder installed without the national file: the message says why.
    program.Write("KEN_ALL.CSV", "");
    dlg.OnSearch();
    EXPECT_TRUE(MessageBox::Shown().back().text.contains(QStringLiteral("KEN_ALL.CSV が空")));
}

TEST_F(ZipDialogTest, RealFileCodeWithSeveralRows) {
    const std::string real = paths::Join(test::ProgramDir(), "KEN_ALL.CSV");
    if (test::ReadFile(real).empty())
        GTEST_SKIP() << real << " missing: scripts/install-ken-all.sh";
    CZipInputDlg dlg(test::ProgramDir());
    dlg.codeEdit()->setText(QStringLiteral("0491321"));
    dlg.OnSearch();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    ASSERT_EQ(dlg.resultCount(), 3);
    EXPECT_EQ(test::Utf8(dlg.results()[0]), "北海道 松前郡福島町 月崎");
}

}  // namespace
}  // namespace ys::gui
