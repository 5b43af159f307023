#include "app/startup.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <filesystem>

#include "app/app_data.h"
#include "app/message_box.h"
#include "tests/support/temp_dir.h"

namespace ys::gui {
namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override { MessageBox::SetTestMode(true); }

    void Present(std::initializer_list<const char*> files) {
        for (const char* f : files) program.Write(f, "");
    }
    // The texts of the boxes shown by one start-up attempt.
    QStringList Start(bool expected) {
        MessageBox::ClearShown();
        CYieldscopeApp app;
        EXPECT_EQ(PrepareStartup(app, program.path(), data.File("Norvane")), expected);
        EXPECT_EQ(app.programDir, program.path());
        QStringList texts;
        for (const ShownMessage& m : MessageBox::Shown()) {
            EXPECT_EQ(m.title, ApplicationName());
            EXPECT_EQ(m.icon, MsgIcon::kWarning);
            EXPECT_EQ(m.buttons, MsgButtons::kOk);
            texts << m.text;
        }
        return texts;
    }

    test::TempDir program;
    test::TempDir data;
};

TEST_F(StartupTest, EachMissingFileInTurnEndsStartUpWithItsOwnMessage) {
    EXPECT_EQ(Start(false), QStringList{QStringLiteral("ファイルが見つかりません。(admin.ini)")});
    Present({"admin.ini"});
    EXPECT_EQ(Start(false),
              QStringList{QStringLiteral("ファイルが見つかりません。(insolation.csv)")});
    Present({"insolation.csv"});
    EXPECT_EQ(Start(false), QStringList{QStringLiteral("ファイルが見つかりません。(KEN_ALL.CSV)")});
    Present({"KEN_ALL.CSV"});
    EXPECT_EQ(Start(false), QStringList{QStringLiteral("ファイルが見つかりません。(gencalc)")});
    Present({"gencalc"});
    EXPECT_EQ(Start(false), QStringList{QStringLiteral("ファイルが見つかりません。(gencalc.ini)")});
    Present({"gencalc.ini"});
    EXPECT_EQ(Start(true), QStringList{});  // empty files pass
}

TEST_F(StartupTest, OnlyTheFirstOfSeveralMissingFilesIsReported) {
    Present({"admin.ini", "insolation.csv", "gencalc"});
    EXPECT_EQ(Start(false), QStringList{QStringLiteral("ファイルが見つかりません。(KEN_ALL.CSV)")});
}

TEST_F(StartupTest, TheDataFolderIsCreatedEvenWhenStartUpFails) {
    EXPECT_EQ(Start(false).size(), 1);
    EXPECT_TRUE(std::filesystem::is_directory(data.File("Norvane")));
    // An existing folder is fine.
    Present({"admin.ini", "insolation.csv", "KEN_ALL.CSV", "gencalc", "gencalc.ini"});
    EXPECT_TRUE(Start(true).isEmpty());
}

TEST_F(StartupTest, ADataFolderThatCannotBeMadeIsNotReported) {
    Present({"admin.ini", "insolation.csv", "KEN_ALL.CSV", "gencalc", "gencalc.ini"});
    data.Write("Norvane", "a file in the way");
    EXPECT_TRUE(Start(true).isEmpty());
}

}  // namespace
}  // namespace ys::gui
