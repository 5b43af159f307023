// monitor-sim as its users run it: a child process publishing its port, served to the link over
// the tty backend, surviving its clients, and cleaning up when told to end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/monitor/image_decoder.h"
#include "app/monitor/monitor_link.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/child_process.h"

namespace ys::test {
namespace {

using monitor::LinkResult;

std::string Sim() {
    return ProgramDir() + "/monitor-sim";
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The tty backend with real time-outs, but without the protocol's fixed waits.
monitor::LinkIo FastIo() {
    return {serial::TtyPortFactory(), [](std::chrono::milliseconds) {}};
}

class MonitorSimProcess : public ::testing::Test {
protected:
    std::string Ports() const { return dir.File("ports"); }
    std::vector<std::string> Args(std::vector<std::string> more) const {
        std::vector<std::string> a = {Sim(), "--port-dir", Ports(), "--quiet"};
        a.insert(a.end(), more.begin(), more.end());
        return a;
    }
    TempDir dir;
    ScopedEnv env{"NORVANE_PORT_DIR", dir.File("ports")};
};

TEST_F(MonitorSimProcess, ServesItsDemoHistoryToManyClientsAndCleansUpOnSigterm) {
    const std::vector<std::string> demo = {"--demo",  "--capacity", "5.2",       "--install",
                                           "2019-07", "--today",    "2024-06-15"};
    std::vector<std::string> dump = Args(demo);
    dump.insert(dump.end(), {"--dump-image", dir.File("demo.img")});
    ASSERT_EQ(RunProgram(dump).exitCode, 0);
    const std::string expected = ReadFile(dir.File("demo.img"));
    ASSERT_EQ(expected.size(), monitor::kImageSize);

    std::vector<std::string> serve = Args(demo);
    serve.insert(serve.end(), {"--port", "6", "--unpaced"});
    ChildProcess sim(serve);
    const std::string ready = sim.ReadLine();
    ASSERT_EQ(ready.rfind("monitor-sim: COM6 -> /dev/pts/", 0), 0u) << ready << sim.err();
    EXPECT_TRUE(Exists(Ports() + "/COM6"));

    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(monitor::ProbeMonitorUnit(6, FastIo()), LinkResult::kSuccess);
    monitor::MemoryImage image{};
    ASSERT_EQ(monitor::ReadMonitorImage(6, image, FastIo()), LinkResult::kSuccess);
    EXPECT_EQ(std::string(image.begin(), image.end()), expected);
    EXPECT_EQ(monitor::ProbeMonitorUnit(6, FastIo()), LinkResult::kSuccess);

    // The history runs up to the day before "today", within the installation period.
    UserData data;
    monitor::DecodeMemoryImage(image, data);
    EXPECT_EQ(data.dayCount, 400);
    EXPECT_EQ(data.monthCount, 59);  // 2019-07 to 2024-05
    EXPECT_GT(data.errorCount, 10);

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(Exists(Ports() + "/COM6"));
    EXPECT_FALSE(Exists(Ports() + "/.COM6.lock"));
    EXPECT_EQ(monitor::ProbeMonitorUnit(6, FastIo()), LinkResult::kOpenFailed);
}

TEST_F(MonitorSimProcess, ServesAnImageFileAtTheLinesPaceAndWithFaults) {
    std::string bytes(monitor::kImageSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + 7);
    const std::string file = dir.Write("unit.img", bytes);
    {
        ChildProcess sim(Args({"--port", "9", "--image", file}));  // paced
        ASSERT_FALSE(sim.ReadLine().empty()) << sim.err();
        EXPECT_EQ(monitor::ProbeMonitorUnit(9, FastIo()), LinkResult::kSuccess);
    }
    {
        ChildProcess sim(
            Args({"--port", "9", "--image", file, "--unpaced", "--fault", "bad-header"}));
        ASSERT_FALSE(sim.ReadLine().empty()) << sim.err();
        monitor::MemoryImage image{};
        EXPECT_EQ(monitor::ReadMonitorImage(9, image, FastIo()), LinkResult::kReplyFailed);
    }
    {
        ChildProcess sim(
            Args({"--port", "9", "--image", file, "--unpaced", "--fault", "count-over"}));
        ASSERT_FALSE(sim.ReadLine().empty()) << sim.err();
        monitor::MemoryImage image{};
        EXPECT_EQ(monitor::ReadMonitorImage(9, image, FastIo()), LinkResult::kSuccess);
        EXPECT_EQ(std::string(image.begin(), image.end()), bytes);
    }
}

TEST_F(MonitorSimProcess, RefusesAPortThatIsTakenAndReplacesOneLeftBehind) {
    ChildProcess first(Args({"--port", "4", "--demo", "--unpaced"}));
    ASSERT_FALSE(first.ReadLine().empty()) << first.err();
    const RunResult second = RunProgram(Args({"--port", "4", "--demo"}));
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("COM4 is already served"), std::string::npos) << second.err;
    EXPECT_EQ(monitor::ProbeMonitorUnit(4, FastIo()), LinkResult::kSuccess);

    // Another publisher's live port is left alone.
    ASSERT_EQ(::symlink("/dev/null", (Ports() + "/COM8").c_str()), 0);
    const RunResult foreign = RunProgram(Args({"--port", "8", "--demo"}));
    EXPECT_EQ(foreign.exitCode, 1);
    EXPECT_NE(foreign.err.find("already exists"), std::string::npos) << foreign.err;
    EXPECT_TRUE(Exists(Ports() + "/COM8"));

    // What a simulator that was killed left behind is taken over.
    ASSERT_EQ(::symlink("/dev/pts/no-such", (Ports() + "/COM11").c_str()), 0);
    dir.Write("ports/.COM11.lock", "");
    ChildProcess next(Args({"--port", "11", "--demo", "--unpaced"}));
    ASSERT_FALSE(next.ReadLine().empty()) << next.err();
    EXPECT_EQ(monitor::ProbeMonitorUnit(11, FastIo()), LinkResult::kSuccess);
}

TEST_F(MonitorSimProcess, BadCommandLinesAreRefused) {
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--demo"},                                 // no port
             {"--port", "3"},                            // no image
             {"--port", "3", "--demo", "--image", "x"},  // both
             {"--port", "0", "--demo"},
             {"--port", "3", "--demo", "--fault", "bad-block"},  // needs K
             {"--port", "3", "--demo", "--install", "1990-01"},  // before the base year
             {"--port", "3", "--demo", "--capacity", "-1"},
             {"--port", "3", "--demo", "--pace", "slow"},
         }) {
        const RunResult r = RunProgram(Args(bad));
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_NE(r.err.find("usage:"), std::string::npos);
    }
    const RunResult shortImage =
        RunProgram(Args({"--port", "3", "--image", dir.Write("s.img", "abc")}));
    EXPECT_EQ(shortImage.exitCode, 1);
    EXPECT_NE(shortImage.err.find("32768"), std::string::npos);
}

}  // namespace
}  // namespace ys::test
