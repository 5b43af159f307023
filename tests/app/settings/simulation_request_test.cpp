#include "app/settings/simulation_request.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/app_data.h"
#include "platform/paths.h"
#include "tests/app/settings/settings_fixtures.h"

namespace ys {
namespace {

using test::FullRegionLine;
using test::Sjis;

constexpr int kOld[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
constexpr int kNew[12] = {250, 290, 380, 420, 450, 400, 430, 460, 360, 320, 260, 230};

std::string MonthlyAreaLines() {
    std::string s;
    for (int m = 1; m <= 12; ++m) {
        s += std::to_string(m) + "M=g" + std::to_string(m) + ",d" + std::to_string(m) + ",a" +
             std::to_string(m) + "\r\n";
    }
    return s;
}

class SimulationTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.programDir = program.path();
        app.dataDir = data.path() + "/data dir;$(x)";  // no shell ever sees these paths
        paths::MakeDirs(app.dataDir);
        program.Write("insolation.csv", Sjis("番号,地域名,コード,都道府県\r\n") +
                                            FullRegionLine("12", "東京", "13", "東京都"));
        CUserInfo& u = app.userInfo;
        u.regionNo = 12;
        u.capacityKw = 4.5;
        u.detailed = 0;
        u.shadeLoss = "0,0,0,0,0,0,0,0,0,0,0,0";
        std::copy(std::begin(kOld), std::end(kOld), app.simMonthly.begin());
        app.simDone = 1;
    }
    std::string RequestPath() const { return paths::Join(app.dataDir, "pc_in.ini"); }
    std::string ResultPath() const { return paths::Join(app.dataDir, "pc_out.ini"); }
    // An engine that writes these results, as the real one does after deleting its file.
    void GoodEngine(const int (&months)[12]) {
        test::WriteScript(program, "gencalc",
                          "cat > \"$2\" <<'END'\n" + test::ResultFileText(months) + "END\n");
    }
    void ExpectResultsKept() {
        EXPECT_EQ(app.simDone, 1);
        for (int m = 0; m < 12; ++m) EXPECT_EQ(app.simMonthly[m], kOld[m]) << m;
    }

    test::TempDir program;
    test::TempDir data;
    CYieldscopeApp app;
};

TEST_F(SimulationTest, DetailedRequestLabelsLinesInTheOrderWritten) {
    CUserInfo& u = app.userInfo;
    u.detailed = 1;
    u.capacityKw = 4.7;
    u.pcCode = "QPC-450A";
    u.pcEfficiency = 0.955;
    u.surfaceKw = {3.2, 0.0, 1.5, 0.0};
    u.azimuth = {-22.5, -90.0, 90.0, 0.0};
    u.tilt = {30, 30, 20, 30};
    u.booster = {0, 0, 1, 0};
    RegionFields row = ParseRegionFields(FullRegionLine("12", "x", "13", "y"), 12);
    EXPECT_EQ(BuildSimulationRequest(u, row),
              "[SYSTEM]\r\nPV_SYSTEM=KESTREL\r\nPV_TOTAL_KW=4.700\r\n[PC]\r\nNUM=1\r\n"
              "0=QPC-450A,0.955\r\n[LINES]\r\nNUM=2\r\n0=0,A,-22.5,30,3200,0\r\n"
              "1=0,B,90.0,20,1500,1\r\n[LOCATION]\r\nLATITUDE=35,41.1\r\nLONGITUDE=139,45.6\r\n"
              "SHADOW_LOSS=0,0,0,0,0,0,0,0,0,0,0,0\r\n[MONTHLY_AREA_DATA]\r\n" +
                  MonthlyAreaLines());
}

TEST_F(SimulationTest, RequestWithoutDetailsIsTheFixedBody) {
    CUserInfo& u = app.userInfo;
    u.pcCode = "IGNORED";
    u.surfaceKw = {9.0, 9.0, 0, 0};
    const std::string req = BuildSimulationRequest(u, ParseRegionFields("", 12));
    EXPECT_NE(req.find("\r\nPV_TOTAL_KW=4.500\r\n[PC]\r\nNUM=1\r\n0=QPC-310A,0.945\r\n[LINES]\r\n"
                       "NUM=1\r\n0=0,A,0.0,30,4500,0\r\n[LOCATION]\r\n"),
              std::string::npos)
        << req;
    // A region not in the table: empty location and area values.
    EXPECT_NE(req.find("\r\nLATITUDE=,\r\nLONGITUDE=,\r\n"), std::string::npos);
    EXPECT_NE(req.find("\r\n1M=,,\r\n"), std::string::npos);
    EXPECT_NE(req.find("\r\n12M=,,\r\n"), std::string::npos);
}

TEST_F(SimulationTest, SurfaceWithoutCapacityGetsNoLineAndLettersMoveUp) {
    CUserInfo& u = app.userInfo;
    u.detailed = 1;
    u.surfaceKw = {0.0, 0.001, 2.0, 0.0015};  // modules counted at 0 W give 0 kW
    u.azimuth = {0.0, -90.0, 45.0, 0.0};
    u.booster = {0, 1, 0, 1};
    const std::string req = BuildSimulationRequest(u, RegionFields{});
    EXPECT_NE(
        req.find("[LINES]\r\nNUM=2\r\n0=0,A,45.0,30,2000,0\r\n1=0,B,0.0,30,2,1\r\n[LOCATION]"),
        std::string::npos)
        << req;
}

TEST_F(SimulationTest, WattsAreRoundedByTheFormatting) {
    CUserInfo& u = app.userInfo;
    u.detailed = 1;
    u.surfaceKw = {3.2 + 0.0004, 0, 0, 0};
    u.capacityKw = 12.3456;
    const std::string req = BuildSimulationRequest(u, RegionFields{});
    EXPECT_NE(req.find("0=0,A,0.0,30,3200,0\r\n"), std::string::npos);
    EXPECT_NE(req.find("PV_TOTAL_KW=12.346\r\n"), std::string::npos);
}

TEST_F(SimulationTest, WritesRequestRunsEngineAndStoresResults) {
    // The engine copies what it got, so the test sees the request as it was when it ran.
    test::WriteScript(program, "gencalc",
                      "printf '%s\\n' \"$#\" \"$1\" \"$2\" \"$3\" > \"$(dirname \"$0\")/args\"\n"
                      "cp \"$1\" \"$(dirname \"$0\")/request\"\n"
                      "cat > \"$2\" <<'END'\n" +
                          test::ResultFileText(kNew) + "END\n");
    const SimulationResult r = RunSimulation(app);
    EXPECT_EQ(r.outcome, SimulationOutcome::kDone);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(app.simDone, 1);
    for (int m = 0; m < 12; ++m) EXPECT_EQ(app.simMonthly[m], kNew[m]);
    EXPECT_EQ(test::ReadFile(program.File("args")),
              "3\n" + RequestPath() + "\n" + ResultPath() + "\n4b1d07a9e25c\n");
    const std::string request = test::ReadFile(program.File("request"));
    EXPECT_EQ(request, test::ReadFile(RequestPath()));
    EXPECT_NE(request.find("\r\n1M=g1,d1,a1\r\n"), std::string::npos);
    EXPECT_NE(request.find("\r\nLATITUDE=35,41.1\r\n"), std::string::npos);
}

TEST_F(SimulationTest, TextsThatWouldChangeTheRequestsStructureAreRefused) {
    GoodEngine(kNew);
    struct Case {
        int detailed;
        std::string pcCode;
        std::string shadeLoss;
        const char* label;  // empty: the request is written and the engine runs
    };
    const Case cases[] = {
        {1, "QPC-310A\r\n[LINES]\r\nNUM=1\r\n0=0,A,0,30,99999999,0", "0", "識別コード"},
        {1, "QPC,310A", "0", "識別コード"},
        {1, std::string("QPC\0A", 5), "0", "識別コード"},
        {1, "QPC-310A", "10,10\n[SYSTEM]", "損失率"},
        {1, "QPC-310A", std::string("10\r", 3), "損失率"},
        // Without details the code is not sent at all; a list's commas are its own.
        {0, "QPC,310A", "10,10,10", ""},
        {1, "QPC-310A[=]", "5,5,5,5,5,5,5,5,5,5,5,5", ""},
    };
    for (const Case& c : cases) {
        app.userInfo.detailed = c.detailed;
        app.userInfo.pcCode = c.pcCode;
        app.userInfo.pcEfficiency = 0.95;
        app.userInfo.surfaceKw = {4.5, 0, 0, 0};
        app.userInfo.shadeLoss = c.shadeLoss;
        std::copy(std::begin(kOld), std::end(kOld), app.simMonthly.begin());
        ::unlink(RequestPath().c_str());
        const SimulationResult r = RunSimulation(app);
        if (*c.label == '\0') {
            EXPECT_EQ(r.outcome, SimulationOutcome::kDone) << c.pcCode;
            EXPECT_NE(test::ReadFile(RequestPath()).find("SHADOW_LOSS=" + c.shadeLoss + "\r\n"),
                      std::string::npos);
            continue;
        }
        EXPECT_EQ(r.outcome, SimulationOutcome::kUnsafeText) << c.pcCode;
        EXPECT_NE(r.UserMessage().find(c.label), std::string::npos) << r.UserMessage();
        EXPECT_NE(r.UserMessage().find("結果は更新されていません"), std::string::npos);
        EXPECT_EQ(test::ReadFile(RequestPath()), "");  // not written
        ExpectResultsKept();
    }
}

TEST_F(SimulationTest, PreconditionLeavesEverythingUntouched) {
    const std::string oldRequest = test::ReadFile(data.Write("data dir;$(x)/pc_in.ini", "old"));
    data.Write("data dir;$(x)/pc_out.ini", test::ResultFileText(kNew));
    GoodEngine(kNew);
    for (auto change :
         {+[](CUserInfo& u) { u.regionNo = 0; }, +[](CUserInfo& u) { u.capacityKw = 0; }}) {
        CYieldscopeApp copy = app;
        change(copy.userInfo);
        const SimulationResult r = RunSimulation(copy);
        EXPECT_EQ(r.outcome, SimulationOutcome::kSkipped);
        EXPECT_TRUE(r.ok());
        EXPECT_EQ(r.UserMessage(), "");
        for (int m = 0; m < 12; ++m) EXPECT_EQ(copy.simMonthly[m], kOld[m]);
    }
    EXPECT_EQ(test::ReadFile(RequestPath()), "old");
    EXPECT_EQ(test::ReadFile(ResultPath()), test::ResultFileText(kNew));
}

TEST_F(SimulationTest, EngineMissingIsReportedAndResultsKept) {
    data.Write("data dir;$(x)/pc_out.ini", test::ResultFileText(kNew));  // an earlier run's
    const SimulationResult r = RunSimulation(app);
    EXPECT_EQ(r.outcome, SimulationOutcome::kEngineNotStarted);
    EXPECT_EQ(r.UserTitle(), "エラー");
    EXPECT_NE(r.UserMessage().find("発電量計算プログラムを起動できません。"), std::string::npos);
    EXPECT_NE(r.UserMessage().find(program.File("gencalc")), std::string::npos);
    EXPECT_NE(r.UserMessage().find("No such file"), std::string::npos);
    ExpectResultsKept();
}

TEST_F(SimulationTest, EngineIsNeverSearchedOnThePath) {
    test::TempDir elsewhere;
    GoodEngine(kNew);
    ::rename(program.File("gencalc").c_str(), elsewhere.File("gencalc").c_str());
    test::ScopedEnv path("PATH", elsewhere.path() + ":/usr/bin:/bin");
    EXPECT_EQ(RunSimulation(app).outcome, SimulationOutcome::kEngineNotStarted);
    ExpectResultsKept();
}

TEST_F(SimulationTest, EngineThatCannotBeExecutedIsReported) {
    const std::string engine = program.Write("gencalc", "not a program");
    ::chmod(engine.c_str(), 0644);
    const SimulationResult r = RunSimulation(app);
    EXPECT_EQ(r.outcome, SimulationOutcome::kEngineNotStarted);
    EXPECT_NE(r.UserMessage().find("Permission denied"), std::string::npos);
    ExpectResultsKept();
}

TEST_F(SimulationTest, EngineFailureShowsWhatItWroteAndKeepsResults) {
    data.Write("data dir;$(x)/pc_out.ini", test::ResultFileText(kNew));
    test::WriteScript(program, "gencalc", "echo '発電量計算に失敗しました' >&2\nexit 255\n");
    const SimulationResult r = RunSimulation(app);
    EXPECT_EQ(r.outcome, SimulationOutcome::kEngineFailed);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.engine.exitCode, 255);
    EXPECT_EQ(r.UserTitle(), "gencalc : エラー");
    EXPECT_EQ(r.UserMessage(),
              "発電量計算に失敗しました\n\n発電シミュレーションの結果は更新されていません。");
    ExpectResultsKept();
    // The earlier run's result file is gone, so it can never pass for this run's.
    EXPECT_FALSE(::access(ResultPath().c_str(), F_OK) == 0);
}

TEST_F(SimulationTest, EngineFailureWithoutTextNamesTheExitCode) {
    test::WriteScript(program, "gencalc", "exit 3\n");
    const SimulationResult r = RunSimulation(app);
    EXPECT_EQ(r.outcome, SimulationOutcome::kEngineFailed);
    EXPECT_NE(r.UserMessage().find("終了コード 3"), std::string::npos);
    ExpectResultsKept();
    test::WriteScript(program, "gencalc", "kill -9 $$\n");
    EXPECT_EQ(RunSimulation(app).outcome, SimulationOutcome::kEngineFailed);
    ExpectResultsKept();
}

TEST_F(SimulationTest, EngineThatWritesNoResultIsNoSimulation) {
    // An earlier run's file must not be read as this run's.
    data.Write("data dir;$(x)/pc_out.ini", test::ResultFileText(kNew));
    test::WriteScript(program, "gencalc", "echo '引数が不正です' >&2\nexit 0\n");
    SimulationResult r = RunSimulation(app);
    EXPECT_EQ(r.outcome, SimulationOutcome::kNoResult);
    EXPECT_EQ(r.UserTitle(), "gencalc : エラー");
    EXPECT_EQ(r.UserMessage().rfind("引数が不正です\n\n", 0), 0u);
    ExpectResultsKept();
    test::WriteScript(program, "gencalc", "exit 0\n");
    r = RunSimulation(app);
    EXPECT_EQ(r.outcome, SimulationOutcome::kNoResult);
    EXPECT_NE(r.UserMessage().find("結果ファイルが作成されませんでした"), std::string::npos);
    ExpectResultsKept();
    // A value the user data file could not hold is no result either.
    constexpr int kAbsurd[12] = {1, 2, 2147483647, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    GoodEngine(kAbsurd);
    r = RunSimulation(app);
    EXPECT_EQ(r.outcome, SimulationOutcome::kResultOutOfRange);
    EXPECT_NE(r.UserMessage().find("範囲外"), std::string::npos);
    ExpectResultsKept();
}

TEST_F(SimulationTest, UnreadableRegionTableRunsNoEngine) {
    ::unlink(program.File("insolation.csv").c_str());
    data.Write("data dir;$(x)/pc_in.ini", "old");
    test::WriteScript(program, "gencalc", "touch \"$(dirname \"$0\")/ran\"\n");
    const SimulationResult r = RunSimulation(app);
    EXPECT_EQ(r.outcome, SimulationOutcome::kRegionTableUnreadable);
    EXPECT_EQ(r.UserTitle(), "エラー");
    EXPECT_EQ(r.UserMessage().rfind("地域データファイルが開けません。", 0), 0u);
    EXPECT_EQ(test::ReadFile(RequestPath()), "old");
    EXPECT_FALSE(::access(program.File("ran").c_str(), F_OK) == 0);
    ExpectResultsKept();
}

TEST_F(SimulationTest, UnwritableRequestRunsNoEngine) {
    app.dataDir = data.Write("not-a-folder", "x");
    test::WriteScript(program, "gencalc", "touch \"$(dirname \"$0\")/ran\"\n");
    const SimulationResult r = RunSimulation(app);
    EXPECT_EQ(r.outcome, SimulationOutcome::kRequestUnwritable);
    EXPECT_EQ(r.UserMessage().rfind("シミュレーション要求ファイルを書き込めません。", 0), 0u);
    EXPECT_FALSE(::access(program.File("ran").c_str(), F_OK) == 0);
    ExpectResultsKept();
}

TEST_F(SimulationTest, MissingResultKeysReadAsZero) {
    test::WriteScript(program, "gencalc",
                      "printf '[MONTHLY_RESULT]\\r\\n1M=7\\r\\n3M=x\\r\\n' > \"$2\"\n");
    EXPECT_EQ(RunSimulation(app).outcome, SimulationOutcome::kDone);
    EXPECT_EQ(app.simMonthly[0], 7);
    EXPECT_EQ(app.simMonthly[1], 0);
    EXPECT_EQ(app.simMonthly[2], 0);
}

TEST_F(SimulationTest, WaitingHookRunsWhileTheEngineRuns) {
    // The engine waits on a pipe that only the hook opens: the run can only end if the hook
    // was called while the engine was running.
    const std::string fifo = program.File("go");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    test::WriteScript(program, "gencalc",
                      "read x < \"$(dirname \"$0\")/go\"\ncat > \"$2\" <<'END'\n" +
                          test::ResultFileText(kNew) + "END\n");
    int calls = 0;
    bool released = false;
    const SimulationResult r = RunSimulation(app, [&] {
        ++calls;
        if (released) return;
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) return;  // the engine has not opened its end yet
        released = ::write(fd, "go\n", 3) == 3;
        ::close(fd);
    });
    EXPECT_TRUE(released);
    EXPECT_GE(calls, 1);
    EXPECT_EQ(r.outcome, SimulationOutcome::kDone);
    EXPECT_EQ(app.simMonthly[11], kNew[11]);
}

// The engine of the build with its constants and the shipped region table.
TEST(RealEngine, TokyoInstallationGivesPlausibleMonths) {
    const std::string programDir = test::ProgramDir();
    if (::access(paths::Join(programDir, "gencalc").c_str(), X_OK) != 0) {
        GTEST_SKIP() << "no gencalc in " << programDir;
    }
    test::TempDir data;
    CYieldscopeApp app;
    app.programDir = programDir;
    app.dataDir = data.path();
    app.userInfo.regionNo = 44132;  // Tokyo
    app.userInfo.capacityKw = 4.5;
    app.userInfo.detailed = 0;
    app.userInfo.shadeLoss = "0,0,0,0,0,0,0,0,0,0,0,0";
    const SimulationResult r = RunSimulation(app);
    ASSERT_EQ(r.outcome, SimulationOutcome::kDone) << r.UserMessage();
    EXPECT_EQ(app.simDone, 1);
    int year = 0;
    for (int m = 0; m < 12; ++m) {
        EXPECT_GT(app.simMonthly[m], 150) << m;
        EXPECT_LT(app.simMonthly[m], 900) << m;
        year += app.simMonthly[m];
    }
    // Around 1,000 to 1,300 kWh a year per kW facing south in Tokyo, before shade.
    EXPECT_GT(year, 4500 * 8 / 10);
    EXPECT_LT(year, 4500 * 14 / 10);
}

TEST(EngineProcess, StderrIsCollectedEvenWhenLarge) {
    test::TempDir dir;
    const std::string engine = test::WriteScript(
        dir, "e", "head -c 200000 /dev/zero | tr '\\0' x >&2\necho done >&2\nexit 4\n");
    const EngineRun run = RunEngineAndWait({engine, {}});
    EXPECT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.stderrText.size(), 64u * 1024u);
}

}  // namespace
}  // namespace ys
