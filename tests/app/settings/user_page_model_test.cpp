#include "app/settings/user_page_model.h"

#include <gtest/gtest.h>

#include "app/app_data.h"
#include "app/local_time.h"
#include "app/settings/installation_tables.h"
#include "app/user_data_file.h"
#include "platform/paths.h"
#include "tests/app/settings/settings_fixtures.h"

namespace ys {
namespace {

using test::Sjis;

ChoiceCatalogue Catalogue() {
    ChoiceCatalogue c;
    c.powerConditioners = {{"P1", "QPC-310A", "QPC-310A", 945},
                           {"P1", "QPC-450A", "QPC-450A", 955},
                           {"P2", "", "OTHER", 940},
                           {"P3", "X9", "CODE-X9", 960}};
    c.monitorUnits = {{"A", "QTX52A", 1}, {"E", "QTX52E", 1}, {"N", "QTX40", 0}};
    c.shades = {{0, "none", "0,0,0,0,0,0,0,0,0,0,0,0"}, {1, "some", "5,5,5,5,5,5,5,5,5,5,5,5"}};
    return c;
}

// Records what the page would have asked or shown, in order.
struct RecordingPrompts : UserPagePrompts {
    void RequiredFieldsMissing() override { log.push_back("required"); }
    bool ConfirmLargeCapacity() override {
        log.push_back("10kW?");
        return answer;
    }
    void SimulationProblem(const SimulationResult& r) override {
        log.push_back("problem:" + r.UserTitle());
        message = r.UserMessage();
    }
    void SaveFailed(const FileResult&) override { log.push_back("save failed"); }
    void SimulationStarting() override { log.push_back("start"); }
    void SimulationEnded() override { log.push_back("end"); }
    std::vector<std::string> log;
    std::string message;
    bool answer = false;
};

class UserPageModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.programDir = program.path();
        app.dataDir = data.path();
        app.SetClock([] { return MakeLocalTime(2026, 12, 7); });
    }
    // A record with every required field filled.
    void FillRequired(UserPageModel& m) {
        UserPageState& st = m.state();
        st.name = Sjis("山田");
        st.address = Sjis("東京都 千代田区");
        st.phone = "03-0000-0000";
        st.regionNo = 12;
        st.regionName = Sjis("東京都 東京");
        st.dealerName = Sjis("販売店");
        st.dealerTel = "03-1111-1111";
        st.capacityDigits = {0, 4, 5, 0};
    }
    test::TempDir program;
    test::TempDir data;
    CYieldscopeApp app;
};

TEST_F(UserPageModelTest, NewRecordShowsTheDefaults) {
    UserPageModel m(Catalogue(), 2026);
    m.ShowRecord(CUserInfo{});
    const UserPageState& st = m.state();
    EXPECT_EQ(m.years().front(), 1995);
    EXPECT_EQ(m.years().back(), 2026);
    EXPECT_EQ(m.years()[st.yearIndex], 2000);
    EXPECT_EQ(st.monthIndex, 0);
    EXPECT_EQ(st.capacityDigits, (std::array<std::int32_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(st.detailMode, 0);
    EXPECT_EQ(kAzimuthTable[st.azimuthIndex[0]].label, "0°(真南)");
    EXPECT_EQ(kAzimuthTable[st.azimuthIndex[1]].label, "-90°(東)");
    EXPECT_EQ(kAzimuthTable[st.azimuthIndex[2]].label, "90°(西)");
    EXPECT_EQ(kAzimuthTable[st.azimuthIndex[3]].label, "0°(真南)");
    for (int s = 0; s < 4; ++s) {
        EXPECT_EQ(TiltLabel(st.tiltIndex[s]), "30°");
        EXPECT_EQ(st.boosterIndex[s], 0);
    }
    EXPECT_EQ(m.products()[st.productIndex], "P1");
    EXPECT_EQ(m.models()[st.modelIndex], "QPC-310A");
    EXPECT_EQ(st.monitorIndex, 0);
    EXPECT_EQ(m.catalogue().shades[st.shadeIndex].value, 0);
}

TEST(InstallationTables, TiltLabelsAndAzimuths) {
    EXPECT_EQ(TiltLabel(0), "0°(水平)");
    EXPECT_EQ(TiltLabel(14), "14°(2.5寸)");
    EXPECT_EQ(TiltLabel(15), "15°");
    EXPECT_EQ(TiltLabel(90), "90°(垂直)");
    EXPECT_EQ(AzimuthIndexOf(-157.5), 2);
    EXPECT_EQ(AzimuthIndexOf(22.4), -1);
    EXPECT_EQ(MonitorPictureIndex(0), 0);
    EXPECT_EQ(MonitorPictureIndex(1), 1);
    EXPECT_EQ(MonitorPictureIndex(2), 2);
    EXPECT_EQ(MonitorPictureIndex(-1), 2);
}

TEST_F(UserPageModelTest, CapacityFromModuleCounts) {
    UserPageModel m(Catalogue(), 2026);
    UserPageState& st = m.state();
    st.moduleWatt = {250, 0, 0};
    st.moduleCount[0] = {10, 4, 0, 0};
    const CapacityTexts t = m.RecomputeCapacity();
    EXPECT_EQ(t.surface[0], "2.50");
    EXPECT_EQ(t.surface[1], "1.00");
    EXPECT_EQ(t.surface[2], "0.00");
    EXPECT_EQ(t.total, "3.50");
    EXPECT_TRUE(t.digitsSet);
    EXPECT_EQ(st.capacityDigits, (std::array<std::int32_t, 4>{0, 3, 5, 0}));
    EXPECT_DOUBLE_EQ(st.totalKw, 3.5);
    // Three types on one surface.
    st.moduleWatt = {185, 210, 95};
    st.moduleCount = {};
    st.moduleCount[0][3] = 7;
    st.moduleCount[1][3] = 3;
    st.moduleCount[2][3] = 1;
    EXPECT_EQ(m.RecomputeCapacity().surface[3], "2.02");
}

TEST_F(UserPageModelTest, CapacityDigitsAreProtectedAgainstLostHundredths) {
    EXPECT_EQ(CapacityDigitsOf(12.3399999), (std::array<std::int32_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(FormatKw(12.3399999), "12.34");
    EXPECT_EQ(CapacityDigitsOf(0.29), (std::array<std::int32_t, 4>{0, 0, 2, 9}));
    EXPECT_EQ(CapacityDigitsOf(4.35), (std::array<std::int32_t, 4>{0, 4, 3, 5}));
    EXPECT_EQ(CapacityDigitsOf(99.99), (std::array<std::int32_t, 4>{9, 9, 9, 9}));
    EXPECT_DOUBLE_EQ(CapacityFromDigits({1, 2, 3, 4}), 12.34);
    // The total the digits come from is the two-decimal text read back.
    UserPageModel m(Catalogue(), 2026);
    m.state().moduleWatt = {1, 0, 0};
    m.state().moduleCount[0] = {4115, 8225, 0, 0};  // 4.115 + 8.225 = 12.34 shown
    const CapacityTexts t = m.RecomputeCapacity();
    EXPECT_EQ(t.total, "12.34");
    EXPECT_EQ(m.state().capacityDigits, (std::array<std::int32_t, 4>{1, 2, 3, 4}));
}

TEST_F(UserPageModelTest, EstimateModeKeepsTheTypedCapacity) {
    UserPageModel m(Catalogue(), 2026);
    m.state().detailMode = 1;
    m.state().capacityDigits = {0, 5, 5, 0};
    m.state().moduleWatt = {100, 0, 0};
    m.state().moduleCount[0][0] = 10;
    const CapacityTexts t = m.RecomputeCapacity();
    EXPECT_FALSE(t.digitsSet);
    EXPECT_EQ(t.total, "1.00");
    EXPECT_EQ(m.state().capacityDigits, (std::array<std::int32_t, 4>{0, 5, 5, 0}));
}

TEST_F(UserPageModelTest, ModuleNumbersAndDigitChecks) {
    EXPECT_EQ(ModuleNumber("12"), 12);
    EXPECT_EQ(ModuleNumber(""), 0);
    EXPECT_EQ(ModuleNumber("x"), 0);
    EXPECT_EQ(ParseCapacityDigit("7").value, 7);
    EXPECT_EQ(ParseCapacityDigit(" 7 ").check, DigitCheck::kOk);
    EXPECT_EQ(ParseCapacityDigit("").check, DigitCheck::kNotInteger);
    EXPECT_EQ(ParseCapacityDigit("a").check, DigitCheck::kNotInteger);
    EXPECT_EQ(ParseCapacityDigit("1.5").check, DigitCheck::kNotInteger);
    EXPECT_EQ(ParseCapacityDigit("10").check, DigitCheck::kOutOfRange);
    EXPECT_EQ(ParseCapacityDigit("-1").check, DigitCheck::kOutOfRange);
}

TEST_F(UserPageModelTest, EnablingFollowsTheDetailMode) {
    UserPageModel m(Catalogue(), 2026);
    DetailModeEnabling e = m.Enabling();
    EXPECT_TRUE(e.productList && e.modelList && e.moduleWatt && e.surfaceLists && e.moduleCounts &&
                e.surfaceKw);
    EXPECT_TRUE(e.capacityDigitsReadOnly);
    EXPECT_EQ(e.booster, (std::array<bool, 4>{false, true, true, true}));
    m.state().detailMode = 1;
    e = m.Enabling();
    EXPECT_FALSE(e.productList || e.modelList || e.moduleWatt || e.surfaceLists || e.moduleCounts ||
                 e.surfaceKw);
    EXPECT_FALSE(e.capacityDigitsReadOnly);
    EXPECT_EQ(e.booster, (std::array<bool, 4>{false, false, false, false}));
}

TEST_F(UserPageModelTest, ProductWithoutModelsLeavesTheModelListEmptyAndDisabled) {
    UserPageModel m(Catalogue(), 2026);
    m.state().productIndex = 1;  // P2: its only row has no model
    m.RefillModelList();
    EXPECT_TRUE(m.models().empty());
    EXPECT_EQ(m.state().modelIndex, -1);
    EXPECT_FALSE(m.Enabling().modelList);
    // Saving stores the empty model and finds the row's code by product and empty model.
    m.StoreRecord(app);
    EXPECT_EQ(app.userInfo.pcProduct, "P2");
    EXPECT_EQ(app.userInfo.pcModel, "");
    EXPECT_EQ(app.userInfo.pcCode, "OTHER");
    EXPECT_DOUBLE_EQ(app.userInfo.pcEfficiency, 0.94);
}

TEST_F(UserPageModelTest, ShowRecordFindsTheProductByCodeAndTheSelections) {
    CUserInfo u;
    u.installYear = 2011;
    u.installMonth = 7;
    u.capacityKw = 5.55;
    u.detailed = 0;
    u.pcCode = "QPC-450A";
    u.azimuth = {-22.5, 180.0, 10.0, 0.0};  // 10 degrees is not in the list
    u.tilt = {14, 0, 90, 30};
    u.booster = {1, 0, 2, 1};
    u.monitorModel = "QTX40";
    u.shadeLevel = 1;
    u.moduleWatt = {200, 0, 0};
    UserPageModel m(Catalogue(), 2026);
    m.ShowRecord(u);
    const UserPageState& st = m.state();
    EXPECT_EQ(m.years()[st.yearIndex], 2011);
    EXPECT_EQ(st.monthIndex, 6);
    EXPECT_EQ(st.capacityDigits, (std::array<std::int32_t, 4>{0, 5, 5, 5}));
    EXPECT_EQ(st.detailMode, 1);
    EXPECT_EQ(m.products()[st.productIndex], "P1");
    EXPECT_EQ(m.models()[st.modelIndex], "QPC-450A");
    EXPECT_EQ(st.azimuthIndex[0], 14);
    EXPECT_EQ(st.azimuthIndex[1], 32);
    EXPECT_EQ(st.azimuthIndex[2], -1);  // outside the list: nothing selected
    EXPECT_EQ(st.tiltIndex, (std::array<int, 4>{14, 0, 90, 30}));
    EXPECT_EQ(st.boosterIndex, (std::array<int, 4>{1, 0, 0, 1}));
    EXPECT_EQ(st.monitorIndex, 2);
    EXPECT_EQ(st.shadeIndex, 1);
    EXPECT_EQ(st.moduleWatt[0], 200);
    // An unknown code: the first product and its first model.
    u.pcCode = "NOPE";
    m.ShowRecord(u);
    EXPECT_EQ(m.state().productIndex, 0);
    EXPECT_EQ(m.state().modelIndex, 0);
}

TEST_F(UserPageModelTest, StoreRecordTakesThePage) {
    UserPageModel m(Catalogue(), 2026);
    FillRequired(m);
    UserPageState& st = m.state();
    st.yearIndex = 2020 - 1995;
    st.monthIndex = 3;
    st.productIndex = 0;
    m.RefillModelList();
    st.modelIndex = 1;
    st.azimuthIndex = {14, 8, 24, 16};
    st.tiltIndex = {30, 0, 20, 90};
    st.boosterIndex = {0, 1, 0, 1};
    st.moduleWatt = {250, 0, 0};
    st.moduleCount[0] = {10, 0, 6, 0};
    m.RecomputeCapacity();
    st.monitorIndex = 1;
    st.shadeIndex = 1;
    m.StoreRecord(app);
    const CUserInfo& u = app.userInfo;
    EXPECT_EQ(u.name, Sjis("山田"));
    EXPECT_EQ(u.regionNo, 12);
    EXPECT_EQ(u.installYear, 2020);
    EXPECT_EQ(u.installMonth, 4);
    EXPECT_EQ(app.monthCount, 60);        // the date changed: months up to November 2026
    EXPECT_DOUBLE_EQ(u.capacityKw, 4.0);  // the digits followed the counts: 2.50 + 1.50
    EXPECT_EQ(u.detailed, 1);
    EXPECT_EQ(u.pcProduct, "P1");
    EXPECT_EQ(u.pcModel, "QPC-450A");
    EXPECT_EQ(u.pcCode, "QPC-450A");
    EXPECT_DOUBLE_EQ(u.pcEfficiency, 0.955);
    EXPECT_EQ(u.azimuth, (std::array<double, 4>{-22.5, -90.0, 90.0, 0.0}));
    EXPECT_EQ(u.tilt, (std::array<std::int32_t, 4>{30, 0, 20, 90}));
    EXPECT_EQ(u.booster, (std::array<std::int32_t, 4>{0, 1, 0, 1}));
    EXPECT_EQ(u.ModuleCount(0, 2), 6);
    EXPECT_EQ(u.surfaceKw, (std::array<double, 4>{2.5, 0.0, 1.5, 0.0}));
    EXPECT_EQ(u.monitorModel, "QTX52E");
    EXPECT_EQ(u.monitorImport, 1);
    EXPECT_EQ(u.shadeLevel, 1);
    EXPECT_EQ(u.shadeText, "some");
    EXPECT_EQ(u.shadeLoss, "5,5,5,5,5,5,5,5,5,5,5,5");
}

TEST_F(UserPageModelTest, ListsWithoutSelectionKeepTheRecordsValues) {
    CUserInfo& u = app.userInfo;
    u.installYear = 1990;  // before the year list
    u.azimuth[0] = 10.0;   // not in the list
    u.tilt[1] = 95;
    u.monitorModel = "OLD";
    u.monitorImport = 1;
    u.shadeLevel = 7;
    u.shadeText = "old";
    u.shadeLoss = "9";
    ChoiceCatalogue c = Catalogue();
    c.monitorUnits.clear();
    c.shades.clear();
    UserPageModel m(c, 2026);
    m.ShowRecord(u);
    EXPECT_EQ(m.state().yearIndex, -1);
    EXPECT_EQ(m.state().azimuthIndex[0], -1);
    EXPECT_EQ(m.state().tiltIndex[1], -1);
    m.StoreRecord(app);
    EXPECT_EQ(u.installYear, 1990);
    EXPECT_EQ(u.azimuth[0], 10.0);
    EXPECT_EQ(u.tilt[1], 95);
    EXPECT_EQ(u.monitorModel, "OLD");
    EXPECT_EQ(u.monitorImport, 1);
    EXPECT_EQ(u.shadeLevel, 7);
    EXPECT_EQ(u.shadeText, "old");
    EXPECT_EQ(u.shadeLoss, "9");
}

TEST_F(UserPageModelTest, RequiredFieldsAreCheckedUnlessTheProgramEnds) {
    UserPageModel m(Catalogue(), 2026);
    m.state().regionNo = 0;  // nothing to simulate either way
    RecordingPrompts p;
    EXPECT_EQ(m.LeavePage(app, 0, p), 0);
    EXPECT_EQ(p.log, (std::vector<std::string>{"required"}));
    // The record was updated before the check.
    m.state().name = Sjis("佐藤");
    m.LeavePage(app, 0, p);
    EXPECT_EQ(app.userInfo.name, Sjis("佐藤"));
    // "終　了": no check, and the record is saved.
    p.log.clear();
    EXPECT_EQ(m.LeavePage(app, 1, p), 1);
    EXPECT_EQ(p.log, (std::vector<std::string>{"start", "end"}));
    CYieldscopeApp loaded;
    loaded.dataDir = app.dataDir;
    ASSERT_TRUE(LoadUserData(loaded, "").ok());
    EXPECT_EQ(loaded.userInfo.name, Sjis("佐藤"));
}

TEST_F(UserPageModelTest, EachRequiredFieldButEmail) {
    UserPageModel m(Catalogue(), 2026);
    FillRequired(m);
    m.state().regionNo = 0;
    m.state().email.clear();
    RecordingPrompts p;
    EXPECT_EQ(m.LeavePage(app, 0, p), 1);
    for (std::string UserPageState::*field :
         {&UserPageState::name, &UserPageState::address, &UserPageState::phone,
          &UserPageState::regionName, &UserPageState::dealerName, &UserPageState::dealerTel}) {
        UserPageModel copy = m;
        (copy.state().*field).clear();
        RecordingPrompts q;
        EXPECT_EQ(copy.LeavePage(app, 0, q), 0);
        EXPECT_EQ(q.log, (std::vector<std::string>{"required"}));
    }
    UserPageModel zero = m;
    zero.state().capacityDigits = {0, 0, 0, 0};
    RecordingPrompts q;
    EXPECT_EQ(zero.LeavePage(app, 0, q), 0);
}

TEST_F(UserPageModelTest, TenKilowattsOrMoreIsAsked) {
    UserPageModel m(Catalogue(), 2026);
    FillRequired(m);
    m.state().regionNo = 0;
    m.state().detailMode = 1;
    m.state().capacityDigits = {1, 0, 0, 0};
    RecordingPrompts no;
    EXPECT_EQ(m.LeavePage(app, 0, no), 0);
    EXPECT_EQ(no.log, (std::vector<std::string>{"10kW?"}));
    RecordingPrompts yes;
    yes.answer = true;
    EXPECT_EQ(m.LeavePage(app, 0, yes), 1);
    EXPECT_EQ(yes.log, (std::vector<std::string>{"10kW?", "start", "end"}));
    m.state().capacityDigits = {0, 9, 9, 9};
    RecordingPrompts below;
    EXPECT_EQ(m.LeavePage(app, 0, below), 1);
    EXPECT_EQ(below.log, (std::vector<std::string>{"start", "end"}));
    // Ending the program skips the required fields but still asks about the capacity.
    UserPageModel empty(Catalogue(), 2026);
    empty.state().detailMode = 1;
    empty.state().capacityDigits = {1, 2, 0, 0};
    RecordingPrompts ending;
    EXPECT_EQ(empty.LeavePage(app, 1, ending), 0);
    EXPECT_EQ(ending.log, (std::vector<std::string>{"10kW?"}));
}

TEST_F(UserPageModelTest, LeavingRunsTheSimulationThenSaves) {
    program.Write("insolation.csv", test::FullRegionLine("12", "東京", "13", "東京都"));
    const int months[12] = {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100, 1200};
    // The engine checks that the request is there and that the user data file was not yet
    // saved with results.
    test::WriteScript(program, "gencalc",
                      "test -s \"$1\" || exit 9\n"
                      "test -e \"$(dirname \"$1\")/SolarData.sol\" && exit 8\n"
                      "cat > \"$2\" <<'END'\n" +
                          test::ResultFileText(months) + "END\n");
    UserPageModel m(Catalogue(), 2026);
    FillRequired(m);
    m.state().detailMode = 1;
    RecordingPrompts p;
    EXPECT_EQ(m.LeavePage(app, 0, p), 1);
    EXPECT_EQ(p.log, (std::vector<std::string>{"start", "end"})) << p.message;
    EXPECT_EQ(app.simDone, 1);
    CYieldscopeApp saved;
    saved.dataDir = app.dataDir;
    ASSERT_TRUE(LoadUserData(saved, "").ok());
    EXPECT_EQ(saved.simDone, 1);
    EXPECT_EQ(saved.simMonthly[11], 1200);
    EXPECT_DOUBLE_EQ(saved.userInfo.capacityKw, 4.5);
}

TEST_F(UserPageModelTest, EngineFailureIsShownAndTheEntriesAreStillSaved) {
    program.Write("insolation.csv", test::FullRegionLine("12", "東京", "13", "東京都"));
    test::WriteScript(program, "gencalc", "echo '発電量計算に失敗しました' >&2\nexit 255\n");
    app.simMonthly.fill(42);
    UserPageModel m(Catalogue(), 2026);
    FillRequired(m);
    m.state().detailMode = 1;
    RecordingPrompts p;
    EXPECT_EQ(m.LeavePage(app, 0, p), 1);
    EXPECT_EQ(p.log, (std::vector<std::string>{"start", "end", "problem:gencalc : エラー"}));
    EXPECT_NE(p.message.find("発電量計算に失敗しました"), std::string::npos);
    EXPECT_EQ(app.simDone, 0);
    EXPECT_EQ(app.simMonthly[0], 42);
    CYieldscopeApp saved;
    saved.dataDir = app.dataDir;
    ASSERT_TRUE(LoadUserData(saved, "").ok());
    EXPECT_EQ(saved.userInfo.name, Sjis("山田"));
    EXPECT_EQ(saved.simMonthly[0], 42);
}

TEST_F(UserPageModelTest, LoadChoiceListsReadsTheProgramFolder) {
    program.Write("admin.ini", Sjis("[パワーコンディショナー仕様]\r\n1=P,M,C,0.945\r\n"));
    program.Write("gencalc.ini", Sjis("[影の影響]\r\nNUM=1\r\n0=なし,0,0\r\n"));
    const ChoiceCatalogue c = UserPageModel::LoadChoiceLists(program.path());
    ASSERT_EQ(c.powerConditioners.size(), 1u);
    EXPECT_EQ(c.powerConditioners[0].efficiencyPermille, 945);
    ASSERT_EQ(c.shades.size(), 1u);
    EXPECT_EQ(c.shades[0].lossList, "0,0");
}

}  // namespace
}  // namespace ys
