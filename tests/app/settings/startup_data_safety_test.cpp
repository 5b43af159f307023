// The damaged default file through the real start-up and exit of the main window: the message
// says where the file was kept, and nothing the program does afterwards touches those bytes.
#include <gtest/gtest.h>

#include <QPushButton>
#include <memory>

#include "app/main_window.h"
#include "app/message_box.h"
#include "app/user_data_file.h"
#include "platform/codepage.h"
#include "tests/app/settings/gui_fixture.h"

namespace ys::gui {
namespace {

TEST(StartupDataSafety, ADamagedDefaultFileIsKeptAsideAndSurvivesPageChangesAndExit) {
    test::TempDir program;
    test::TempDir data;
    test::PrepareProgramFolder(program);
    {
        CYieldscopeApp app;
        test::PrepareApp(app, program, data);
        app.SetClock([] { return MakeLocalTime(2026, 12, 8, 10, 15, 0); });
        UserData household;
        household.userInfo.name = *codepage::Utf8ToCp932("山田 太郎");
        household.userInfo.capacityKw = 4.5;
        std::string bytes = SerializeUserData(household);
        bytes.pop_back();  // one byte cut off
        const std::string defaultFile = data.Write("SolarData.sol", bytes);
        const std::string kept = defaultFile + ".damaged-20261208-101500";

        MessageBox::ClearShown();
        auto window = std::make_unique<CYieldscopeDlg>(app);
        ASSERT_EQ(MessageBox::Shown().size(), 1u);
        const QString text = MessageBox::Shown()[0].text;
        EXPECT_EQ(MessageBox::Shown()[0].title, QStringLiteral("エラー"));
        EXPECT_TRUE(text.contains(QString::fromStdString(kept))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("初期値で起動します")));
        EXPECT_FALSE(text.contains(QStringLiteral("データは変更されていません")));
        EXPECT_FALSE(text.contains(QStringLiteral("unexpected")));
        EXPECT_EQ(app.userInfo.name, "");  // the defaults are shown

        // The user page asks for its required fields on a page change; "終　了" saves the
        // defaults to the default file.
        window->show();
        window->pageButton(Page::kErrorViewer)->click();
        window->setResult(-1);
        window->button(1094)->click();
        EXPECT_EQ(window->result(), QDialog::Rejected);
        window.reset();
        EXPECT_EQ(test::ReadFile(kept), bytes);
        EXPECT_EQ(test::ReadFile(defaultFile), SerializeUserData(app));
    }
}

}  // namespace
}  // namespace ys::gui
