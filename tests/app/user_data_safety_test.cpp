// Damaged, hostile and unusual user data files: refused without changing anything, kept aside
// at start, and no value that passes the loader drives undefined arithmetic.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>

#include "app/app_data.h"
#include "app/local_time.h"
#include "app/monitor/result_input.h"
#include "app/user_data_file.h"
#include "tests/support/temp_dir.h"

namespace ys {
namespace {

using test::ReadFile;
using test::TempDir;

TEST(UserDataSafety, ValuesOutsideWhatTheProgramProducesRefuseTheFile) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* key;
        std::function<void(UserData&)> spoil;
        const char* label;
    };
    const Case cases[] = {
        {"userInfo.installYear", [](UserData& d) { d.userInfo.installYear = INT_MIN; }, "設置年"},
        {"userInfo.installYear", [](UserData& d) { d.userInfo.installYear = INT_MAX; }, "設置年"},
        {"userInfo.installMonth", [](UserData& d) { d.userInfo.installMonth = 13; }, "設置月"},
        {"userInfo.capacityKw", [](UserData& d) { d.userInfo.capacityKw = 1e300; }, "設置容量"},
        {"userInfo.capacityKw", [&](UserData& d) { d.userInfo.capacityKw = nan; }, "設置容量"},
        {"userInfo.pcEfficiency", [](UserData& d) { d.userInfo.pcEfficiency = -1; }, "変換効率"},
        {"userInfo[2].tilt", [](UserData& d) { d.userInfo.tilt[2] = 91; }, "傾斜角"},
        {"userInfo[0].azimuth", [](UserData& d) { d.userInfo.azimuth[0] = 1e9; }, "方位角"},
        {"userInfo[4].moduleCount", [](UserData& d) { d.userInfo.moduleCount[4] = -1; },
         "モジュール枚数"},
        {"userInfo[1].moduleWatt", [](UserData& d) { d.userInfo.moduleWatt[1] = INT_MAX; },
         "モジュール出力"},
        {"simMonthly[0]", [](UserData& d) { d.simMonthly[0] = INT_MAX; }, "シミュレーション結果"},
        {"days[399].date", [](UserData& d) { d.days[399].date = INT64_MIN; },
         "日別データ 400 件目"},
        {"months[0].date", [](UserData& d) { d.months[0].date = INT64_MAX; }, "月別データ 1 件目"},
        {"errors[3].time", [](UserData& d) { d.errors[3].time = 1LL << 60; },
         "エラーデータ 4 件目"},
        {"userInfo.pcCode",
         [](UserData& d) { d.userInfo.pcCode.assign(kMaxStoredTextBytes + 1, 'x'); },
         "文字列の長さ"},
    };
    for (const Case& c : cases) {
        UserData bad;
        c.spoil(bad);
        auto problem = CheckUserData(bad);
        ASSERT_TRUE(problem) << c.key;
        EXPECT_EQ(problem->key, c.key);

        UserData target;
        target.userInfo.name = "unchanged";
        FileResult r = DeserializeUserData(SerializeUserData(bad), target);
        EXPECT_EQ(r.outcome, FileOutcome::kCorrupt) << c.key;
        EXPECT_NE(r.detail.find(c.label), std::string::npos) << r.detail;
        EXPECT_NE(r.technical.find(c.key), std::string::npos) << r.technical;
        EXPECT_EQ(target.userInfo.name, "unchanged");
    }
    EXPECT_FALSE(CheckUserData(UserData{}));
}

TEST(UserDataSafety, ExtremeYearsNeverOverflowTheYearListOrTheMonthTable) {
    // Values that a loaded record can no longer hold, but that a page may still be given.
    for (int year : {INT_MIN, INT_MIN + 1, -1, 0, 1995, 2026, 9999, INT_MAX}) {
        const std::vector<int> years = monitor::BuildYearList(year, 2026);
        EXPECT_LE(years.size(), 6u) << year;
        if (!years.empty()) {
            EXPECT_EQ(years.back(), 2026);
        }
        for (int month : {INT_MIN, 1, 12, INT_MAX}) {
            UserData d;
            d.userInfo.installYear = year;
            d.userInfo.installMonth = month;
            RebuildMonthTable(d, MakeLocalTime(2026, 12, 7));
            EXPECT_GE(d.monthCount, 0);
            EXPECT_LE(d.monthCount, kMaxMonths);
        }
    }
    EXPECT_EQ(MakeLocalTime(INT_MIN, 1, 1), -1);
}

TEST(UserDataSafety, TheReadErrorNamesTheOffsetInJapanese) {
    const std::string b = SerializeUserData(UserData{});
    UserData target;
    FileResult r = DeserializeUserData(std::string_view(b).substr(0, 3000), target);
    EXPECT_EQ(r.detail, "ファイルが 3000 バイト目で途中で終わっています");
    EXPECT_NE(r.technical.find("stopped at byte 3000 of 3000"), std::string::npos) << r.technical;
    EXPECT_EQ(r.UserMessage().find("unexpected"), std::string::npos);
}

TEST(UserDataSafety, ALoneHighSurrogateBecomesOneCharacterAndKeepsTheNext) {
    UserData d;
    std::string b = SerializeUserData(d);
    // name in the wide form: 0xFF 0xFFFE, 3 units: D800 'A' 'B'.
    const std::string wide("\xFF\xFE\xFF\x03\x00\xD8\x41\x00\x42\x00", 10);
    b.replace(4, 1, wide);
    UserData back;
    ASSERT_TRUE(DeserializeUserData(b, back).ok());
    EXPECT_EQ(back.userInfo.name, "?AB");
}

class UserDataOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        app.dataDir = dir.path();
        app.SetClock([] { return MakeLocalTime(2026, 12, 8, 10, 15, 0); });
    }
    std::string DefaultFile() const { return dir.File("SolarData.sol"); }
    TempDir dir;
    CYieldscopeApp app;
};

TEST_F(UserDataOnDisk, OnlyARegularFileOfPossibleSizeIsRead) {
    const std::string fifo = dir.File("fifo.sol");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = dir.Write("big.sol", "");
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(kMaxUserDataFileBytes + 1)), 0);
    const std::string sparse = dir.Write("sparse.sol", "");
    ASSERT_EQ(::truncate(sparse.c_str(), 3LL << 30), 0);
    struct Case {
        std::string path;
        const char* detail;
    } cases[] = {{fifo, "通常のファイルではありません"},
                 {dir.path(), "通常のファイルではありません"},
                 {big, "ファイルが大きすぎます（863378 バイト、上限 863377 バイト）"},
                 {sparse, "ファイルが大きすぎます（3221225472 バイト"}};
    for (const Case& c : cases) {
        app.userInfo.name = "kept";
        FileResult r = LoadUserData(app, c.path);
        EXPECT_EQ(r.outcome, FileOutcome::kCorrupt) << c.path;
        EXPECT_NE(r.detail.find(c.detail), std::string::npos) << r.detail;
        EXPECT_EQ(app.userInfo.name, "kept");
    }
}

TEST_F(UserDataOnDisk, ARefusedDefaultFileIsKeptAsideAndSurvivesTheNextSave) {
    const std::string damaged = SerializeUserData(UserData{}).substr(0, 11356);
    dir.Write("SolarData.sol", damaged);
    FileResult r = LoadDefaultUserDataAtStart(app);
    ASSERT_EQ(r.outcome, FileOutcome::kCorrupt);
    const std::string kept = dir.File("SolarData.sol.damaged-20261208-101500");
    EXPECT_EQ(r.keptAs, kept);
    const std::string message = r.UserMessage();
    EXPECT_NE(message.find(kept), std::string::npos) << message;
    EXPECT_EQ(message.find("データは変更されていません"), std::string::npos);

    ASSERT_TRUE(SaveUserData(app, {}).ok());
    EXPECT_EQ(ReadFile(kept), damaged);
    EXPECT_EQ(ReadFile(DefaultFile()), SerializeUserData(app));

    // A second refusal in the same second takes the next free name.
    dir.Write("SolarData.sol", "x");
    EXPECT_EQ(LoadDefaultUserDataAtStart(app).keptAs, kept + "-2");
    EXPECT_EQ(ReadFile(kept), damaged);
}

TEST_F(UserDataOnDisk, ADefaultFileThatCannotBeKeptAsideIsNeverWritten) {
    dir.Write("SolarData.sol", "damaged");
    const std::string base = DefaultFile() + ".damaged-20261208-101500";
    dir.Write("SolarData.sol.damaged-20261208-101500", "older");
    for (int n = 2; n < 100; ++n) {
        std::filesystem::create_directory(base + "-" + std::to_string(n));
    }
    FileResult r = LoadDefaultUserDataAtStart(app);
    EXPECT_TRUE(r.notKept);
    EXPECT_NE(r.UserMessage().find("このファイルには保存しません"), std::string::npos);
    FileResult save = SaveUserData(app, {});
    EXPECT_FALSE(save.ok());
    EXPECT_NE(save.UserMessage().find(kMsgDefaultFileProtected), std::string::npos);
    EXPECT_EQ(ReadFile(DefaultFile()), "damaged");
    // Other files are still written.
    EXPECT_TRUE(SaveUserData(app, dir.File("other.sol")).ok());
}

TEST_F(UserDataOnDisk, SavesKeepTheModeAndTheLinkAndCreatePrivateFiles) {
    ::umask(022);
    ASSERT_TRUE(SaveUserData(app, {}).ok());
    struct stat st {};
    ASSERT_EQ(::stat(DefaultFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ::chmod(DefaultFile().c_str(), 0640);
    ASSERT_TRUE(SaveUserData(app, {}).ok());
    ASSERT_EQ(::stat(DefaultFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    const std::string real = dir.File("elsewhere/real.sol");
    dir.Write("elsewhere/real.sol", "old");
    ::chmod(real.c_str(), 0600);
    ::unlink(DefaultFile().c_str());
    ASSERT_EQ(::symlink("elsewhere/real.sol", DefaultFile().c_str()), 0);
    app.userInfo.name = "through the link";
    ASSERT_TRUE(SaveUserData(app, {}).ok());
    ASSERT_EQ(::lstat(DefaultFile().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(real), SerializeUserData(app));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace ys
