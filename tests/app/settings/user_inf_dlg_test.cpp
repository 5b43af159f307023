#include "app/settings/user_inf_dlg.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "app/main_window.h"
#include "app/message_box.h"
#include "app/settings/near_pos_dlg.h"
#include "app/settings/zip_input_dlg.h"
#include "app/user_data_file.h"
#include "tests/app/settings/gui_fixture.h"

namespace ys::gui {
namespace {

using test::Sjis;

constexpr int kResults[12] = {250, 290, 380, 420, 450, 400, 430, 460, 360, 320, 260, 230};

class UserPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBox::ClearShown();
        test::PrepareProgramFolder(program);
        test::PrepareApp(app, program, data);
        test::WriteScript(program, "gencalc",
                          "cat > \"$2\" <<'END'\n" + test::ResultFileText(kResults) + "END\n");
    }
    void Open() {
        window = std::make_unique<CYieldscopeDlg>(app);
        page = static_cast<CUserInfDlg*>(window->page(Page::kUserInfo));
    }
    // Every required field, the Tokyo region and 4.50 kW in four surfaces.
    void FillPage() {
        page->nameEdit()->setText(QStringLiteral("山田 太郎"));
        page->addressBox()->setEditText(QStringLiteral("東京都 千代田区 千代田"));
        page->phoneEdit()->setText(QStringLiteral("03-1234-5678"));
        page->dealerNameEdit()->setText(QStringLiteral("ひかり電設"));
        page->dealerTelEdit()->setText(QStringLiteral("03-9876-5432"));
        page->SetRegionDialogRunner([](CNearPosDlg& dlg) {
            dlg.prefectureList()->setCurrentIndex(
                dlg.prefectureList()->findText(QStringLiteral("東京都")));
            dlg.regionList()->setCurrentIndex(dlg.regionList()->findText(QStringLiteral("東京")));
            dlg.OnOK();
            return dlg.result();
        });
        page->OnRegionButton();
        page->moduleWattEdit(0)->setText(QStringLiteral("250"));
        const char* counts[4] = {"6", "4", "4", "4"};
        for (int s = 0; s < 4; ++s)
            page->moduleCountEdit(0, s)->setText(QString::fromLatin1(counts[s]));
    }
    QStringList Texts() const {
        QStringList out;
        for (const ShownMessage& m : MessageBox::Shown()) out << m.text;
        return out;
    }

    test::TempDir program;
    test::TempDir data;
    CYieldscopeApp app;
    std::unique_ptr<CYieldscopeDlg> window;
    CUserInfDlg* page = nullptr;
};

TEST_F(UserPageTest, NewRecordShowsTheDefaults) {
    Open();
    EXPECT_EQ(window->currentPage(), page);
    EXPECT_EQ(page->yearList()->currentText(), QStringLiteral("2000"));
    EXPECT_EQ(page->yearList()->itemText(0), QStringLiteral("1995"));
    EXPECT_EQ(page->yearList()->itemText(page->yearList()->count() - 1), QStringLiteral("2026"));
    EXPECT_EQ(page->monthList()->currentText(), QStringLiteral("1"));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(page->capacityDigit(i)->text(), QStringLiteral("0"));
        EXPECT_TRUE(page->capacityDigit(i)->isReadOnly());
        EXPECT_EQ(page->capacityDigit(i)->maxLength(), 1);  // one digit per box
    }
    EXPECT_TRUE(page->detailRadio()->isChecked());
    EXPECT_EQ(page->azimuthList(0)->currentText(), QStringLiteral("0°(真南)"));
    EXPECT_EQ(page->azimuthList(1)->currentText(), QStringLiteral("-90°(東)"));
    EXPECT_EQ(page->azimuthList(2)->currentText(), QStringLiteral("90°(西)"));
    EXPECT_EQ(page->azimuthList(3)->currentText(), QStringLiteral("0°(真南)"));
    for (int s = 0; s < 4; ++s) {
        EXPECT_EQ(page->tiltList(s)->currentText(), QStringLiteral("30°"));
        EXPECT_EQ(page->boosterList(s)->currentText(), QStringLiteral("使用しない"));
        EXPECT_EQ(page->boosterList(s)->isEnabled(), s != 0);
    }
    EXPECT_EQ(page->tiltList(0)->itemText(17), QStringLiteral("17°(3寸)"));
    EXPECT_EQ(page->productList()->currentIndex(), 0);
    EXPECT_EQ(page->modelList()->currentText(), QStringLiteral("QPC-310A"));
    EXPECT_EQ(page->monitorList()->currentIndex(), 0);
    EXPECT_EQ(page->shadeList()->currentData().toInt(), 0);
    EXPECT_EQ(page->shadeList()->currentText(), QStringLiteral("影なし"));
    EXPECT_EQ(page->totalEdit()->text(), QStringLiteral("0.00"));
    EXPECT_FALSE(page->monitorPicture(0)->isHidden());
    EXPECT_TRUE(page->monitorPicture(1)->isHidden());
    EXPECT_TRUE(page->monitorPicture(2)->isHidden());
}

TEST_F(UserPageTest, TypedModulesShowCapacityAndDigits) {
    Open();
    page->moduleWattEdit(0)->setText(QStringLiteral("250"));
    page->moduleCountEdit(0, 0)->setText(QStringLiteral("10"));
    page->moduleCountEdit(0, 1)->setText(QStringLiteral("4"));
    EXPECT_EQ(page->surfaceKwEdit(0)->text(), QStringLiteral("2.50"));
    EXPECT_EQ(page->surfaceKwEdit(1)->text(), QStringLiteral("1.00"));
    EXPECT_EQ(page->totalEdit()->text(), QStringLiteral("3.50"));
    const char* digits[4] = {"0", "3", "5", "0"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(page->capacityDigit(i)->text(), QString::fromLatin1(digits[i]));
}

TEST_F(UserPageTest, ChoosingEstimateAsksAndNoKeepsDetails) {
    Open();
    page->estimateRadio()->click();  // the test seam answers No
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_EQ(MessageBox::Shown()[0].title, QStringLiteral("確認"));
    EXPECT_TRUE(MessageBox::Shown()[0].text.startsWith(
        QStringLiteral("太陽電池設置情報の詳細を入力されない場合")));
    EXPECT_TRUE(page->detailRadio()->isChecked());
    EXPECT_FALSE(page->estimateRadio()->isChecked());
    EXPECT_TRUE(page->productList()->isEnabled());
    MessageBox::SetNextAnswer(MsgAnswer::kYes);
    page->estimateRadio()->click();
    EXPECT_TRUE(page->estimateRadio()->isChecked());
    EXPECT_FALSE(page->productList()->isEnabled());
    EXPECT_FALSE(page->modelList()->isEnabled());
    EXPECT_FALSE(page->moduleWattEdit(0)->isEnabled());
    EXPECT_FALSE(page->azimuthList(2)->isEnabled());
    EXPECT_FALSE(page->boosterList(2)->isEnabled());
    EXPECT_FALSE(page->totalEdit()->isEnabled());
    EXPECT_FALSE(page->capacityDigit(0)->isReadOnly());
    page->detailRadio()->click();
    EXPECT_TRUE(page->modelList()->isEnabled());
    EXPECT_TRUE(page->boosterList(3)->isEnabled());
    EXPECT_FALSE(page->boosterList(0)->isEnabled());
}

TEST_F(UserPageTest, ProductWithoutModelsDisablesTheModelList) {
    Open();
    page->productList()->setCurrentIndex(
        page->productList()->findText(QStringLiteral("その他のパワーコンディショナ")));
    EXPECT_EQ(page->modelList()->count(), 0);
    EXPECT_FALSE(page->modelList()->isEnabled());
    page->productList()->setCurrentIndex(0);
    EXPECT_EQ(page->modelList()->count(), 4);
    EXPECT_TRUE(page->modelList()->isEnabled());
}

TEST_F(UserPageTest, CharacterOutsideCp932IsRefusedAtTheField) {
    Open();
    page->nameEdit()->setText(QStringLiteral("山田"));
    page->nameEdit()->end(false);
    test::TypeText(page->nameEdit(), QStringLiteral("😀"));
    EXPECT_EQ(page->nameEdit()->text(), QStringLiteral("山田"));
    EXPECT_TRUE(page->lastRefusal().contains(QStringLiteral("😀")));
    test::TypeText(page->addressBox()->lineEdit(), QStringLiteral("𠮷"));
    EXPECT_EQ(page->addressBox()->currentText(), QString());
    EXPECT_TRUE(page->lastRefusal().contains(QStringLiteral("𠮷")));
    // CP932 characters, the NEC extensions included, are taken.
    test::TypeText(page->nameEdit(), QStringLiteral("①髙"));
    EXPECT_EQ(page->nameEdit()->text(), QStringLiteral("山田①髙"));
}

TEST_F(UserPageTest, BadCapacityDigitRefusesToLeave) {
    Open();
    MessageBox::SetNextAnswer(MsgAnswer::kYes);
    page->estimateRadio()->click();
    MessageBox::ClearShown();
    page->capacityDigit(1)->setText(QString());
    EXPECT_EQ(page->OnPageChange(1, 0), 0);
    EXPECT_EQ(Texts(), QStringList{QStringLiteral("整数を入力してください。")});
    page->capacityDigit(1)->setText(QStringLiteral("12"));
    EXPECT_EQ(page->capacityDigit(1)->text(), QStringLiteral("1"));  // one digit per box
    page->capacityDigit(1)->setMaxLength(2);  // as a damaged record would show it
    page->capacityDigit(1)->setText(QStringLiteral("12"));
    EXPECT_EQ(page->OnPageChange(1, 1), 0);
    EXPECT_EQ(Texts().back(), QStringLiteral("0 から 9 までの整数を入力してください。"));
    EXPECT_EQ(window->ShowPage(Page::kSolarSim), 0);
    EXPECT_EQ(window->currentPage(), page);
}

TEST_F(UserPageTest, RequiredFieldsMessageKeepsThePage) {
    Open();
    window->button(1001)->click();
    EXPECT_EQ(window->currentPage(), page);
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_EQ(MessageBox::Shown()[0].text,
              QStringLiteral("お客様情報は必須項目になります。\n全てご入力ください。"));
    EXPECT_EQ(MessageBox::Shown()[0].title, QStringLiteral("確認"));
    EXPECT_EQ(MessageBox::Shown()[0].icon, MsgIcon::kWarning);
}

TEST_F(UserPageTest, FilledPageRunsTheSimulationAndSaves) {
    Open();
    FillPage();
    EXPECT_EQ(page->regionEdit()->text(), QStringLiteral("東京都 東京"));
    EXPECT_EQ(page->totalEdit()->text(), QStringLiteral("4.50"));
    page->nextButton()->click();
    EXPECT_TRUE(MessageBox::Shown().empty()) << Texts().join("|").toStdString();
    EXPECT_EQ(window->currentPage(), window->page(Page::kSolarSim));
    EXPECT_EQ(app.simDone, 1);
    EXPECT_EQ(app.simMonthly[7], 460);
    EXPECT_EQ(app.userInfo.regionNo, 44132);
    EXPECT_EQ(test::Utf8(app.userInfo.name), "山田 太郎");
    EXPECT_EQ(app.userInfo.pcCode, "QPC-310A");
    EXPECT_DOUBLE_EQ(app.userInfo.pcEfficiency, 0.945);
    EXPECT_EQ(app.userInfo.monitorModel, "QTX52A");
    EXPECT_EQ(app.userInfo.monitorImport, 1);
    const std::string request = test::ReadFile(paths::Join(app.dataDir, "pc_in.ini"));
    EXPECT_NE(request.find("\r\nNUM=4\r\n0=0,A,0.0,30,1500,0\r\n1=0,B,-90.0,30,1000,0\r\n"),
              std::string::npos)
        << request;
    CYieldscopeApp saved;
    saved.dataDir = app.dataDir;
    ASSERT_TRUE(LoadUserData(saved, "").ok());
    EXPECT_EQ(saved.simMonthly[7], 460);
    EXPECT_EQ(saved.userInfo.regionName, Sjis("東京都 東京"));
    // Shown again, the page reloads the record.
    window->ShowPage(Page::kUserInfo);
    EXPECT_EQ(page->totalEdit()->text(), QStringLiteral("4.50"));
    EXPECT_EQ(page->moduleCountEdit(0, 0)->text(), QStringLiteral("6"));
}

TEST_F(UserPageTest, TenKilowattsIsAskedAndNoStays) {
    Open();
    FillPage();
    page->moduleCountEdit(0, 0)->setText(QStringLiteral("28"));  // 7.00 + 3 x 1.00 = 10.00 kW
    EXPECT_EQ(page->totalEdit()->text(), QStringLiteral("10.00"));
    EXPECT_EQ(page->OnPageChange(1, 0), 0);
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_EQ(MessageBox::Shown()[0].text,
              QStringLiteral("「設置容量」が10kWを超えています。\nこのまま設定しますか。"));
    EXPECT_EQ(app.simDone, 0);
}

TEST_F(UserPageTest, EngineFailureIsShownAndResultsAreKept) {
    test::WriteScript(program, "gencalc", "echo '発電量計算に失敗しました' >&2\nexit 255\n");
    Open();
    FillPage();
    app.simMonthly.fill(7);
    page->nextButton()->click();
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_EQ(MessageBox::Shown()[0].title, QStringLiteral("gencalc : エラー"));
    EXPECT_TRUE(MessageBox::Shown()[0].text.startsWith(QStringLiteral("発電量計算に失敗しました")));
    EXPECT_EQ(MessageBox::Shown()[0].icon, MsgIcon::kError);
    EXPECT_EQ(app.simDone, 0);
    EXPECT_EQ(app.simMonthly[0], 7);
    // The entries themselves were saved, and the page was left.
    EXPECT_EQ(window->currentPage(), window->page(Page::kSolarSim));
    CYieldscopeApp saved;
    saved.dataDir = app.dataDir;
    ASSERT_TRUE(LoadUserData(saved, "").ok());
    EXPECT_EQ(saved.userInfo.regionNo, 44132);
}

TEST_F(UserPageTest, WindowPaintsButTakesNoInputOrCloseWhileTheEngineRuns) {
    const std::string fifo = program.File("go");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    test::WriteScript(program, "gencalc",
                      "read x < \"$(dirname \"$0\")/go\"\ncat > \"$2\" <<'END'\n" +
                          test::ResultFileText(kResults) + "END\n");
    Open();
    FillPage();
    bool released = false;
    bool waitCursor = false;
    bool stillOpen = false;
    QTimer timer;
    // Events are delivered during the wait (this timer is one): the engine is released from here.
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (released) return;
        waitCursor = QApplication::overrideCursor() != nullptr;
        window->close();  // a close request must not end the program in the middle
        stillOpen = window->isVisible();
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) return;
        released = ::write(fd, "go\n", 3) == 3;
        ::close(fd);
    });
    timer.start(5);
    window->show();
    EXPECT_EQ(page->OnPageChange(1, 0), 1);
    EXPECT_TRUE(released);
    EXPECT_TRUE(waitCursor);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(app.simMonthly[0], 250);
    EXPECT_TRUE(MessageBox::Shown().empty());
}

TEST_F(UserPageTest, PostalResultsReplaceTheAddressList) {
    Open();
    page->addressBox()->setEditText(QStringLiteral("手で入力した住所"));
    program.Write("KEN_ALL.CSV", "1,\"2\",\"1000001\",a,b,c,\"" + Sjis("東京都") + "\",\"" +
                                     Sjis("千代田区") + "\",\"" + Sjis("千代田") + "\",0\r\n" +
                                     "1,\"2\",\"1000001\",a,b,c,\"" + Sjis("東京都") + "\",\"" +
                                     Sjis("千代田区") + "\",\"" + Sjis("丸の内") + "\",0\r\n");
    page->SetZipDialogRunner([](CZipInputDlg& dlg) {
        dlg.codeEdit()->setText(QStringLiteral("1000001"));
        dlg.OnSearch();
        return dlg.result();
    });
    page->OnZipButton();
    ASSERT_EQ(page->addressBox()->count(), 2);
    EXPECT_EQ(page->addressBox()->currentText(), QStringLiteral("東京都 千代田区 千代田"));
    EXPECT_EQ(page->addressBox()->itemText(1), QStringLiteral("東京都 千代田区 丸の内"));
    // "閉じる" changes nothing.
    page->SetZipDialogRunner([](CZipInputDlg&) { return int(QDialog::Rejected); });
    page->OnZipButton();
    EXPECT_EQ(page->addressBox()->count(), 2);
}

TEST_F(UserPageTest, LoadedRecordOutsideTheListsKeepsItsValues) {
    app.userInfo.installYear = 1990;
    app.userInfo.azimuth[2] = 10.0;
    app.userInfo.monitorModel = "QTX40";
    ASSERT_TRUE(SaveUserData(app, "").ok());
    Open();
    EXPECT_EQ(page->monitorList()->currentIndex(), 2);
    EXPECT_FALSE(page->monitorPicture(2)->isHidden());
    EXPECT_EQ(page->yearList()->currentIndex(), -1);
    EXPECT_EQ(page->azimuthList(2)->currentIndex(), -1);
    EXPECT_EQ(page->OnPageChange(1, 1), 1);
    EXPECT_EQ(app.userInfo.installYear, 1990);
    EXPECT_EQ(app.userInfo.azimuth[2], 10.0);
    EXPECT_EQ(app.userInfo.monitorModel, "QTX40");
}

}  // namespace
}  // namespace ys::gui
