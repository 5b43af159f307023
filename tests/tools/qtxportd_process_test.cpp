// qtxportd --simulate as its users run it: the memory image read through the whole stack
// (pseudo-terminal, bridge, qtxvcom64, qtxusb64, simulated bus, the unit's model) is exact, an
// import through it ends as one through monitor-sim does, fault modes included, and the link
// goes when the host is told to end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/app_data.h"
#include "app/monitor/monitor_link.h"
#include "app/user_data_file.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/child_process.h"

namespace ys::test {
namespace {

const std::vector<std::string> kDemo = {"--demo", "--install", "2022-10", "--today", "2024-06-15"};

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

class QtxportdProcess : public ::testing::Test {
protected:
    std::string Ports() const { return dir.File("ports"); }
    std::unique_ptr<ChildProcess> StartPortd(std::vector<std::string> more) {
        std::vector<std::string> a = {ProgramDir() + "/qtxportd", "--simulate", "--quiet"};
        a.insert(a.end(), more.begin(), more.end());
        auto p = std::make_unique<ChildProcess>(a);
        const std::string ready = p->ReadLine();
        EXPECT_EQ(ready.rfind("qtxportd: COM3 -> /dev/pts/", 0), 0u) << ready << p->err();
        return p;
    }
    std::unique_ptr<ChildProcess> StartSim(std::vector<std::string> more) {
        std::vector<std::string> a = {ProgramDir() + "/monitor-sim", "--port", "4", "--unpaced",
                                      "--quiet"};
        a.insert(a.end(), more.begin(), more.end());
        auto p = std::make_unique<ChildProcess>(a);
        EXPECT_FALSE(p->ReadLine().empty()) << p->err();
        return p;
    }
    RunResult Import(int port, const std::string& file) {
        return RunProgram({ProgramDir() + "/yieldscope-cli", "import", "--port",
                           std::to_string(port), "--today", "2024-06-15", file});
    }

    TempDir dir;
    ScopedEnv env{"NORVANE_PORT_DIR", dir.File("ports")};
    ScopedEnv data{"XDG_DATA_HOME", dir.File("xdg")};
};

TEST_F(QtxportdProcess, TheImageReadThroughTheWholeStackIsExact) {
    std::vector<std::string> dump = {ProgramDir() + "/monitor-sim", "--dump-image",
                                     dir.File("demo.img")};
    dump.insert(dump.end(), kDemo.begin(), kDemo.end());
    ASSERT_EQ(RunProgram(dump).exitCode, 0);
    const std::string expected = ReadFile(dir.File("demo.img"));
    ASSERT_EQ(expected.size(), monitor::kImageSize);

    for (const auto& serve : {kDemo, std::vector<std::string>{"--image", dir.File("demo.img"),
                                                              "--port-dir", Ports()}}) {
        auto portd = StartPortd(serve);
        EXPECT_TRUE(Exists(Ports() + "/COM3"));
        monitor::MemoryImage got{};
        ASSERT_EQ(monitor::ProbeMonitorUnit(3), monitor::LinkResult::kSuccess);
        ASSERT_EQ(monitor::ReadMonitorImage(3, got), monitor::LinkResult::kSuccess);
        EXPECT_EQ(std::string(got.begin(), got.end()), expected);
        portd->Signal(SIGTERM);
        EXPECT_EQ(portd->Wait(), 0) << portd->err();
        EXPECT_FALSE(Exists(Ports() + "/COM3"));  // removed on SIGTERM
    }
}

// The same import through monitor-sim's own pseudo-terminal and through the driver stack: the
// same exit code, the same words for the user, the same file.
TEST_F(QtxportdProcess, ImportsAndFaultsEndAsThroughTheSimulatorsOwnPort) {
    for (const std::string fault :
         {"none", "bad-header", "bad-block:17", "silence:5", "duplicate:3", "big-number:2",
          "count-zero", "count-negative", "no-answer"}) {
        SCOPED_TRACE(fault);
        std::vector<std::string> args = kDemo;
        args.insert(args.end(), {"--fault", fault});
        UserData household;
        household.userInfo.installYear = 2022;
        household.userInfo.installMonth = 10;
        const std::string viaSim = dir.Write("sim-" + fault + ".sol", SerializeUserData(household));
        const std::string viaStack =
            dir.Write("stack-" + fault + ".sol", SerializeUserData(household));
        RunResult a, b;
        {
            auto sim = StartSim(args);
            a = Import(4, viaSim);
        }
        {
            auto portd = StartPortd(args);
            b = Import(3, viaStack);
            portd->Signal(SIGINT);
            EXPECT_EQ(portd->Wait(), 0) << portd->err();
        }
        EXPECT_EQ(b.exitCode, a.exitCode) << b.err;
        // Alike but for the port and the file named.
        auto same = [&](std::string s) {
            for (auto [from, to] : {std::pair{std::string("COM3"), std::string("COM4")},
                                    std::pair{viaStack, viaSim}}) {
                for (std::size_t at; (at = s.find(from)) != std::string::npos;) {
                    s.replace(at, from.size(), to);
                }
            }
            return s;
        };
        EXPECT_EQ(same(b.err), a.err);
        EXPECT_EQ(same(b.out), a.out);
        EXPECT_EQ(ReadFile(viaStack), ReadFile(viaSim));
        if (fault == "none") {
            EXPECT_EQ(b.exitCode, 0);
        } else if (fault == "bad-header" || fault == "no-answer") {
            EXPECT_EQ(b.exitCode, 5);
            EXPECT_NE(b.err.find("nothing was changed"), std::string::npos) << b.err;
        }
    }
    EXPECT_FALSE(Exists(Ports() + "/COM3"));
}

TEST_F(QtxportdProcess, RefusesBadCommandLinesAndConfigurations) {
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--simulate"},
             {"--simulate", "--demo", "--image", "x.img"},
             {"--demo"},
             {"--simulate", "--demo", "--fault", "sometimes"},
             {"--simulate", "--demo", "--today", "2024-13-01"},
             {"--simulate", "--demo", "--config"},
             {"--frobnicate"},
         }) {
        std::vector<std::string> a = {ProgramDir() + "/qtxportd"};
        a.insert(a.end(), bad.begin(), bad.end());
        const RunResult r = RunProgram(a);
        EXPECT_EQ(r.exitCode, 2) << bad.back();
        EXPECT_NE(r.err.find("usage: qtxportd"), std::string::npos);
    }
    const RunResult noConfig = RunProgram(
        {ProgramDir() + "/qtxportd", "--simulate", "--demo", "--config", dir.File("none.ini")});
    EXPECT_EQ(noConfig.exitCode, 1);
    EXPECT_NE(noConfig.err.find("none.ini: cannot read the configuration file"), std::string::npos)
        << noConfig.err;
    const RunResult shortImage = RunProgram(
        {ProgramDir() + "/qtxportd", "--simulate", "--image", dir.Write("short.img", "abc")});
    EXPECT_EQ(shortImage.exitCode, 1);
    EXPECT_NE(shortImage.err.find("3 bytes; a memory image has 32768"), std::string::npos);
    EXPECT_FALSE(Exists(Ports() + "/COM3"));
}

TEST_F(QtxportdProcess, APortTakenByAnotherPublisherIsRefused) {
    auto first = StartPortd(kDemo);
    std::vector<std::string> a = {ProgramDir() + "/qtxportd", "--simulate", "--quiet"};
    a.insert(a.end(), kDemo.begin(), kDemo.end());
    const RunResult second = RunProgram(a);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("COM3"), std::string::npos) << second.err;
    EXPECT_TRUE(Exists(Ports() + "/COM3"));  // the first one's link is left alone
    EXPECT_EQ(monitor::ProbeMonitorUnit(3), monitor::LinkResult::kSuccess);
}

}  // namespace
}  // namespace ys::test
