// yieldscope-cli simulate, run as a process from a program folder of its own with a stand-in
// engine beside it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/app_data.h"
#include "app/user_data_file.h"
#include "platform/paths.h"
#include "tests/app/settings/settings_fixtures.h"

namespace ys {
namespace {

namespace fs = std::filesystem;

constexpr int kResults[12] = {250, 290, 380, 420, 450, 400, 430, 460, 360, 320, 260, 230};

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class SimulateCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(paths::Join(test::ProgramDir(), "yieldscope-cli"),
                      program.File("yieldscope-cli"));
        program.Write("insolation.csv", test::FullRegionLine("12", "東京", "13", "東京都"));
        test::WriteScript(program, "gencalc",
                          "cp \"$1\" \"$(dirname \"$0\")/request\"\ncat > \"$2\" <<'END'\n" +
                              test::ResultFileText(kResults) + "END\n");
        app.dataDir = paths::Join(xdg.path(), "Norvane");
        app.userInfo.regionNo = 12;
        app.userInfo.capacityKw = 4.5;
        app.userInfo.detailed = 0;
    }
    CliRun Simulate(const std::string& args) {
        const std::string cmd = "XDG_DATA_HOME='" + xdg.path() + "' '" +
                                program.File("yieldscope-cli") + "' simulate " + args + " >'" +
                                xdg.File("out") + "' 2>'" + xdg.File("err") + "'";
        CliRun r;
        const int status = std::system(cmd.c_str());
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = test::ReadFile(xdg.File("out"));
        r.err = test::ReadFile(xdg.File("err"));
        return r;
    }
    static std::string ExpectedOutput() {
        std::string s;
        for (int m = 0; m < 12; ++m)
            s += std::to_string(m + 1) + "M=" + std::to_string(kResults[m]) + "\n";
        return s;
    }

    test::TempDir program;
    test::TempDir xdg;
    CYieldscopeApp app;
};

TEST_F(SimulateCommandTest, DefaultFileIsSimulatedSavedAndPrinted) {
    paths::MakeDirs(app.dataDir);
    ASSERT_TRUE(SaveUserData(app, "").ok());
    const CliRun r = Simulate("");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, ExpectedOutput());
    EXPECT_EQ(r.err, "");
    // The request went through the data folder, as from the user page.
    EXPECT_EQ(test::ReadFile(program.File("request")),
              test::ReadFile(paths::Join(app.dataDir, "pc_in.ini")));
    CYieldscopeApp saved;
    saved.dataDir = app.dataDir;
    ASSERT_TRUE(LoadUserData(saved, "").ok());
    EXPECT_EQ(saved.simDone, 1);
    EXPECT_EQ(saved.simMonthly[11], 230);
}

TEST_F(SimulateCommandTest, NamedFileIsUpdatedInPlace) {
    const std::string customer = xdg.File("customer.sol");
    ASSERT_TRUE(SaveUserData(app, customer).ok());
    const CliRun r = Simulate("'" + customer + "'");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, ExpectedOutput());
    CYieldscopeApp saved;
    ASSERT_TRUE(LoadUserData(saved, customer).ok());
    EXPECT_EQ(saved.simMonthly[0], 250);
    EXPECT_FALSE(fs::exists(paths::Join(app.dataDir, "SolarData.sol")));
}

TEST_F(SimulateCommandTest, EngineFailureLeavesTheFileAlone) {
    const std::string customer = xdg.File("customer.sol");
    app.simDone = 1;
    app.simMonthly.fill(9);
    ASSERT_TRUE(SaveUserData(app, customer).ok());
    const std::string before = test::ReadFile(customer);
    test::WriteScript(program, "gencalc", "echo '発電量計算に失敗しました' >&2\nexit 255\n");
    const CliRun r = Simulate("'" + customer + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("gencalc : エラー"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("発電量計算に失敗しました"), std::string::npos);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(test::ReadFile(customer), before);
}

TEST_F(SimulateCommandTest, NothingToSimulateOrNoFile) {
    app.userInfo.regionNo = 0;
    const std::string customer = xdg.File("customer.sol");
    ASSERT_TRUE(SaveUserData(app, customer).ok());
    CliRun r = Simulate("'" + customer + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no region chosen"), std::string::npos) << r.err;
    r = Simulate("'" + xdg.File("missing.sol") + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;
    r = Simulate("a b");
    EXPECT_EQ(r.exitCode, 2);
}

}  // namespace
}  // namespace ys
