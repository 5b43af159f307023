#include "app/user_data_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/local_time.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "tests/support/temp_dir.h"

namespace ys {
namespace {

using test::ReadFile;
using test::TempDir;

constexpr std::size_t kEmptyFileSize = 11357;

// A record with something in every field and every table slot.
void Fill(UserData& d) {
    CUserInfo& u = d.userInfo;
    u.name = *codepage::Utf8ToCp932("山田 太郎");
    u.address = *codepage::Utf8ToCp932("東京都千代田区");
    u.phone = "03-1234-5678";
    u.email = "a@example.jp";
    u.regionNo = 44132;
    u.regionName = *codepage::Utf8ToCp932("東京");
    u.dealerName = "dealer";
    u.dealerTel = "0120";
    u.installYear = 2019;
    u.installMonth = 7;
    u.capacityKw = 4.32;
    u.detailed = 0;
    u.pcCode = "QPC-310A";
    u.pcProduct = "product";
    u.pcModel = "model";
    u.pcEfficiency = 0.945;
    u.azimuth = {-22.5, 0, 45, 90};
    u.tilt = {10, 20, 30, 40};
    u.booster = {1, 0, 1, 0};
    u.moduleWatt = {200, 210, 0};
    for (int i = 0; i < 12; ++i) u.moduleCount[i] = i + 1;
    u.surfaceKw = {1.1, 2.2, 0, 0.5};
    u.monitorModel = "QTX52A";
    u.monitorImport = 1;
    u.shadeLevel = 2;
    u.shadeText = "shade";
    u.shadeLoss = "10,10,10,10,10,10,10,10,10,10,10,10";
    d.simDone = 1;
    for (int i = 0; i < 12; ++i) d.simMonthly[i] = 300 + i;
    d.errorCount = 3;
    for (int i = 0; i < kMaxErrors; ++i) {
        d.errors[i].kind = static_cast<std::uint8_t>(i);
        d.errors[i].code = static_cast<std::uint8_t>(200 + i);
        d.errors[i].time = 1600000000 + i;
    }
    d.dayCount = 3;
    for (int i = 0; i < kMaxDays; ++i) {
        d.days[i].date = 1500000000 + i * 86400;
        d.days[i].generation = static_cast<std::int16_t>(-i);
        d.days[i].extra = {1, 2, 3, static_cast<std::int16_t>(i)};
        d.days[i].flags = {1, 2, 3, 4, static_cast<std::uint8_t>(i), 6};
    }
    d.monthCount = 60;
    for (int i = 0; i < kMaxMonths; ++i) {
        d.months[i].date = 1400000000 + i;
        d.months[i].generation = static_cast<std::int16_t>(40000);
        d.months[i].extra = {9, 8, 7, 6};
        d.months[i].flags = {5, 4, 3, 2, static_cast<std::uint8_t>(i)};
    }
}

std::int32_t Int32At(const std::string& b, std::size_t off) {
    std::int32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}

TEST(UserDataFile, AFileWithEmptyTextsHasTheFixedSizeAndLayout) {
    UserData d;
    d.simDone = 1;
    d.simMonthly[11] = 1234;
    d.errorCount = 5;
    d.dayCount = 6;
    d.monthCount = 7;
    std::string b = SerializeUserData(d);
    ASSERT_EQ(b.size(), kEmptyFileSize);
    const std::size_t u = 209;
    EXPECT_EQ(Int32At(b, 0), 1);
    EXPECT_EQ(Int32At(b, 4 + u), 1);
    EXPECT_EQ(Int32At(b, 8 + u + 44), 1234);
    EXPECT_EQ(Int32At(b, 56 + u), 5);
    EXPECT_EQ(Int32At(b, 560 + u), 6);
    EXPECT_EQ(Int32At(b, 9764 + u), 7);
    // The defaults of a new record: installation 2000/1, detailed 1, the surface azimuths.
    EXPECT_EQ(Int32At(b, 15), 2000);  // after four texts, regionNo and three texts
    EXPECT_EQ(Int32At(b, 19), 1);
    EXPECT_EQ(Int32At(b, 31), 1);  // detailed, after the capacity
}

TEST(UserDataFile, EachTextAddsItsByteLengthAndLongTextsTakeTheWidePrefix) {
    UserData d;
    d.userInfo.name = std::string(254, 'a');
    EXPECT_EQ(SerializeUserData(d).size(), kEmptyFileSize + 254);
    d.userInfo.name = std::string(255, 'a');
    std::string b = SerializeUserData(d);
    EXPECT_EQ(b.size(), kEmptyFileSize + 255 + 2);
    EXPECT_EQ(b.substr(4, 3), std::string("\xFF\xFF\x00", 3));
    UserData back;
    ASSERT_TRUE(DeserializeUserData(b, back).ok());
    EXPECT_EQ(back.userInfo.name, d.userInfo.name);
}

TEST(UserDataFile, EverythingRoundTripsIncludingSlotsBeyondTheCounts) {
    UserData d;
    Fill(d);
    std::string b = SerializeUserData(d);
    UserData back;
    ASSERT_TRUE(DeserializeUserData(b, back).ok());
    EXPECT_EQ(SerializeUserData(back), b);
    EXPECT_EQ(back.userInfo.azimuth, d.userInfo.azimuth);
    EXPECT_EQ(back.userInfo.moduleCount, d.userInfo.moduleCount);
    EXPECT_EQ(back.days[399].extra[3], 399);
    EXPECT_EQ(back.errors[49].code, 249);
    EXPECT_EQ(static_cast<std::uint16_t>(back.months[0].generation), 40000);
}

TEST(UserDataFile, TheSixthDayFlagKeepsWhatMemoryHeld) {
    UserData d;
    Fill(d);
    std::string b = SerializeUserData(d);
    UserData back;
    back.days[10].flags[5] = 0xEE;
    ASSERT_TRUE(DeserializeUserData(b, back).ok());
    EXPECT_EQ(back.days[10].flags[5], 0xEE);
    EXPECT_EQ(back.days[11].flags[5], 0);
    EXPECT_EQ(back.days[10].flags[4], 10);
}

TEST(UserDataFile, TheMarkerIsIgnoredOnLoading) {
    UserData d;
    Fill(d);
    std::string b = SerializeUserData(d);
    b[0] = 7;
    UserData back;
    EXPECT_TRUE(DeserializeUserData(b, back).ok());
    EXPECT_EQ(back.userInfo.name, d.userInfo.name);
}

TEST(UserDataFile, CountsOutsideTheCapacitiesRejectTheFile) {
    UserData d;
    const std::size_t u = 209;
    for (auto [offset, value] :
         {std::pair{56 + u, 51}, {56 + u, -1}, {560 + u, 401}, {9764 + u, 61}, {9764 + u, -5}}) {
        std::string b = SerializeUserData(d);
        std::memcpy(b.data() + offset, &value, 4);
        UserData target;
        target.userInfo.name = "unchanged";
        FileResult r = DeserializeUserData(b, target);
        EXPECT_EQ(r.outcome, FileOutcome::kCorrupt) << offset << " " << value;
        EXPECT_EQ(target.userInfo.name, "unchanged");
    }
}

TEST(UserDataFile, EveryTruncationFailsAndChangesNothing) {
    UserData d;
    Fill(d);
    const std::string b = SerializeUserData(d);
    UserData target;
    target.userInfo.name = "before";
    target.simMonthly[3] = 42;
    const std::string before = SerializeUserData(target);
    for (std::size_t cut = 0; cut < b.size(); ++cut) {
        FileResult r = DeserializeUserData(std::string_view(b).substr(0, cut), target);
        ASSERT_EQ(r.outcome, FileOutcome::kCorrupt) << cut;
        ASSERT_EQ(SerializeUserData(target), before) << cut;
    }
}

TEST(UserDataFile, ALengthPrefixLargerThanTheFileIsCorrupt) {
    UserData d;
    std::string b = SerializeUserData(d);
    b[4] = '\xFF';  // name: 0xFF 0xFFFF 0x7FFFFFFF claims far more than the file
    b.insert(5, std::string("\xFF\xFF\xFF\xFF\xFF\x7F", 6));
    UserData target;
    FileResult r = DeserializeUserData(b, target);
    EXPECT_EQ(r.outcome, FileOutcome::kCorrupt);
    EXPECT_NE(r.technical.find("past the end"), std::string::npos) << r.technical;
}

class UserDataFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override { app.dataDir = dir.path(); }
    TempDir dir;
    CYieldscopeApp app;
};

TEST_F(UserDataFileOnDisk, SaveAndLoadTheDefaultFile) {
    Fill(app);
    ASSERT_TRUE(SaveUserData(app, "").ok());
    EXPECT_EQ(ReadFile(dir.File("SolarData.sol")), SerializeUserData(app));
    CYieldscopeApp other;
    other.dataDir = dir.path();
    FileResult r = LoadUserData(other, "");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.path, dir.File("SolarData.sol"));
    EXPECT_EQ(SerializeUserData(other), SerializeUserData(app));
}

TEST_F(UserDataFileOnDisk, AMissingFileLoadsNothing) {
    app.userInfo.name = "keep";
    FileResult r = LoadUserData(app, "");
    EXPECT_EQ(r.outcome, FileOutcome::kCannotOpen);
    EXPECT_EQ(app.userInfo.name, "keep");
    EXPECT_EQ(app.userInfo.installYear, 2000);
}

TEST_F(UserDataFileOnDisk, ACorruptFileIsReportedByName) {
    std::string path = dir.Write("bad.sol", "short");
    FileResult r = LoadUserData(app, path);
    EXPECT_EQ(r.outcome, FileOutcome::kCorrupt);
    std::string msg = r.UserMessage();
    EXPECT_NE(msg.find(path), std::string::npos);
    EXPECT_NE(msg.find("読み込めません"), std::string::npos);
}

TEST_F(UserDataFileOnDisk, AFolderThatCannotBeWrittenGivesCannotOpen) {
    app.dataDir = dir.File("missing/folder");
    FileResult r = SaveUserData(app, "");
    EXPECT_EQ(r.outcome, FileOutcome::kCannotOpen);
    EXPECT_EQ(r.UserMessage(), "ファイルを開けません。");
}

TEST_F(UserDataFileOnDisk, ADiskFullSaveKeepsThePreviousFile) {
    Fill(app);
    ASSERT_TRUE(SaveUserData(app, "").ok());
    const std::string previous = ReadFile(dir.File("SolarData.sol"));
    app.userInfo.name = "changed";
    files::SetWriteLimitForTesting(4096);
    FileResult r = SaveUserData(app, "");
    files::SetWriteLimitForTesting(-1);
    EXPECT_EQ(r.outcome, FileOutcome::kWriteError);
    EXPECT_NE(r.UserMessage().find("以前のファイルはそのまま"), std::string::npos);
    EXPECT_EQ(ReadFile(dir.File("SolarData.sol")), previous);
    std::size_t files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 1u);
}

TEST(UserDataFileMessages, FormatMessageReplacesNumberedArguments) {
    EXPECT_EQ(FormatMessage("%1 から %2 まで", {"0", "65535"}), "0 から 65535 まで");
    EXPECT_EQ(FormatMessage("100%", {}), "100%");
    EXPECT_EQ(FormatMessage("%3", {"a"}), "%3");
}

}  // namespace
}  // namespace ys
