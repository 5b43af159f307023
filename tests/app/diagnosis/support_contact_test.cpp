#include "app/errors/support_contact.h"

#include <gtest/gtest.h>

#include "app/local_time.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "tests/app/diagnosis/sample_user.h"
#include "tests/support/temp_dir.h"

namespace ys {
namespace {

class SupportFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::MakeSampleUser(app.data(), 0.8);
        app.dataDir = dir.File("data");
        ASSERT_TRUE(paths::MakeDirs(app.dataDir));
        SetToday(2011, 5, 3);
    }
    void SetToday(int y, int m, int d) {
        app.SetClock([=] { return MakeLocalTime(y, m, d, 14, 30); });
    }
    test::TempDir dir;
    CYieldscopeApp app;
};

TEST_F(SupportFileTest, NameOfTheDayAndTheInstructionLine) {
    EXPECT_EQ(SupportFileName(app.Now()), "PV_ERROR_20110503.sol");
    EXPECT_EQ(SupportFileName(MakeLocalTime(2025, 12, 31, 23, 59)), "PV_ERROR_20251231.sol");
    auto lines = InstructionLines("PV_ERROR_20110503.sol");
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines[0], "[データファイルを送信する]ボタンを押すと、メール送信の準備をします。");
    EXPECT_EQ(lines[1], " ");
    EXPECT_EQ(lines[6], "　　（マイ ドキュメント\\Norvane フォルダ）");
    EXPECT_EQ(lines[9],
              "　　（「 PV_ERROR_20110503.sol 」という名称のファイルを添付してください。）");
    EXPECT_EQ(lines[19], "　  その後、目的のウィンドウ上でマウスボタンをはなします。");
}

TEST_F(SupportFileTest, FileIsTheUserDataFileByteForByte) {
    const std::string docs = dir.File("Documents");
    SupportFile f = PrepareSupportFile(app, docs);
    ASSERT_TRUE(f.save.ok()) << f.save.UserMessage();
    EXPECT_EQ(f.folder, docs + "/Norvane");
    EXPECT_EQ(f.save.path, docs + "/Norvane/PV_ERROR_20110503.sol");
    ASSERT_TRUE(SaveUserData(app, "").ok());
    const std::string expected = test::ReadFile(app.dataDir + "/SolarData.sol");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(test::ReadFile(f.save.path), expected);
}

TEST_F(SupportFileTest, SameDayOverwritesAnotherDayAddsAFile) {
    const std::string docs = dir.File("Documents");
    SupportFile first = PrepareSupportFile(app, docs);
    ASSERT_TRUE(first.save.ok());
    app.userInfo.name = "Suzuki";
    SupportFile again = PrepareSupportFile(app, docs);
    ASSERT_TRUE(again.save.ok());
    EXPECT_EQ(again.save.path, first.save.path);
    EXPECT_EQ(test::ReadFile(again.save.path), SerializeUserData(app.data()));

    SetToday(2011, 5, 4);
    SupportFile next = PrepareSupportFile(app, docs);
    EXPECT_EQ(next.fileName, "PV_ERROR_20110504.sol");
    EXPECT_TRUE(files::FileExists(first.save.path));
    EXPECT_TRUE(files::FileExists(next.save.path));
}

TEST_F(SupportFileTest, FolderThatCannotBeMadeFailsTheSaveWithItsMessage) {
    const std::string blocker = dir.Write("Documents", "a file, not a folder");
    SupportFile f = PrepareSupportFile(app, blocker);
    EXPECT_FALSE(f.save.ok());
    EXPECT_EQ(f.save.outcome, FileOutcome::kCannotOpen);
    EXPECT_EQ(f.save.UserMessage(), "ファイルを開けません。");
    EXPECT_EQ(f.fileName, "PV_ERROR_20110503.sol");
    EXPECT_EQ(test::ReadFile(blocker), "a file, not a folder");
}

TEST(SupportMailTest, AddressFromAdminIniOrTheDefault) {
    test::TempDir dir;
    EXPECT_EQ(SupportMailAddress(dir.path()), kDefaultSupportMail);
    dir.Write("admin.ini", "[PC]\r\nA=1\r\n[SUPPORT]\r\nMAIL=\r\n");
    EXPECT_EQ(SupportMailAddress(dir.path()), kDefaultSupportMail);
    dir.Write("admin.ini", "[PC]\r\nA=1\r\n[Support]\r\nmail = \"desk@dealer.example.jp\" \r\n");
    EXPECT_EQ(SupportMailAddress(dir.path()), "desk@dealer.example.jp");
}

TEST(SupportMailTest, LinkIsPercentEncodedUtf8) {
    EXPECT_EQ(BuildSupportMailLink("pv-support@norvane-solar.example"),
              "mailto:pv-support@norvane-solar.example?subject=SOLAR_ERROR_REPORT&body="
              "%E3%82%BD%E3%83%BC%E3%83%A9%E3%83%BC%E3%82%B7%E3%82%B9%E3%83%86%E3%83%A0"
              "%E3%83%BB%E8%A8%BA%E6%96%AD%E3%83%87%E3%83%BC%E3%82%BF%E9%80%81%E4%BF%A1");
    // Characters that would end the address or start a header field are encoded.
    EXPECT_EQ(BuildSupportMailLink("a&b?c d%e#f@x.jp").substr(0, 31),
              "mailto:a%26b%3Fc%20d%25e%23f@x.");
}

}  // namespace
}  // namespace ys
