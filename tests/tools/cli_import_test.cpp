// yieldscope-cli import against monitor-sim: exit codes, the summary, and files left untouched
// by every failure.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "app/app_data.h"
#include "app/local_time.h"
#include "app/user_data_file.h"
#include "tests/platform/port_holder.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/child_process.h"

namespace ys::test {
namespace {

std::string Cli() {
    return ProgramDir() + "/yieldscope-cli";
}

class CliImport : public ::testing::Test {
protected:
    void SetUp() override {
        UserData data;
        data.userInfo.installYear = 2022;
        data.userInfo.installMonth = 10;
        data.errorCount = 1;
        data.errors[0].kind = 9;
        target = dir.Write("home.sol", SerializeUserData(data));
    }
    // A simulator serving a demo history that ends on 2024-06-14.
    std::unique_ptr<ChildProcess> StartSim(int port, std::vector<std::string> extra = {}) {
        std::vector<std::string> a = {ProgramDir() + "/monitor-sim",
                                      "--port",
                                      std::to_string(port),
                                      "--demo",
                                      "--install",
                                      "2022-10",
                                      "--today",
                                      "2024-06-15",
                                      "--unpaced",
                                      "--quiet"};
        a.insert(a.end(), extra.begin(), extra.end());
        auto sim = std::make_unique<ChildProcess>(a);
        EXPECT_FALSE(sim->ReadLine().empty()) << sim->err();
        return sim;
    }
    RunResult Import(std::vector<std::string> args) {
        std::vector<std::string> a = {Cli(), "import"};
        a.insert(a.end(), args.begin(), args.end());
        return RunProgram(a);
    }

    TempDir dir;
    ScopedEnv ports{"NORVANE_PORT_DIR", dir.File("ports")};
    ScopedEnv data{"XDG_DATA_HOME", dir.File("xdg")};
    std::string target;
};

TEST_F(CliImport, ImportsIntoTheNamedFileAndSummarises) {
    auto sim = StartSim(3);
    const RunResult r = Import({"--port", "3", "--today", "2024-06-15", target});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("発電データの受信を完了しました。\nport:   COM3\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("days:   400 (2023-05-12 .. 2024-06-14)\n"), std::string::npos) << r.out;
    // Fitted to 2022-11 .. 2024-05; the unit also reported the installation month.
    EXPECT_NE(r.out.find("months: 19 in the table (2022-11 .. 2024-05), 20 read\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("saved:  " + target), std::string::npos);

    UserData saved;
    ASSERT_TRUE(DeserializeUserData(ReadFile(target), saved).ok());
    EXPECT_EQ(saved.userInfo.installYear, 2022);  // the rest of the file is kept
    EXPECT_EQ(saved.dayCount, 400);
    EXPECT_EQ(saved.monthCount, 19);
    EXPECT_NE(saved.errors[0].kind, 9);
    EXPECT_GT(GetMonthGeneration(saved.months.data(), saved.monthCount, 2024, 5), 300);
}

TEST_F(CliImport, WithoutAFileItFillsTheDefaultUserDataFile) {
    auto sim = StartSim(1);
    const RunResult r = Import({"--port", "auto", "--today", "2024-06-15"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("port:   COM1\n"), std::string::npos);
    UserData saved;
    ASSERT_TRUE(DeserializeUserData(ReadFile(dir.File("xdg/Norvane/SolarData.sol")), saved).ok());
    EXPECT_EQ(saved.monthCount, 60);  // the defaults: installed 2000/1
}

TEST_F(CliImport, FailuresLeaveTheFileAsItWasAndSayWhy) {
    const std::string before = ReadFile(target);
    {
        const RunResult r = Import({"--port", "250", target});
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_NE(
            r.err.find("COM250: 発電データを受信できませんでした。 (the port could not be opened)"),
            std::string::npos)
            << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    {
        auto sim = StartSim(3, {"--fault", "bad-header"});
        const RunResult r = Import({"--port", "3", target});
        EXPECT_EQ(r.exitCode, 5);
        EXPECT_NE(r.err.find("nothing was changed"), std::string::npos);
    }
    {
        auto sim = StartSim(3, {"--fault", "bad-block:17"});
        EXPECT_EQ(Import({"--port", "3", target}).exitCode, 5);
    }
    EXPECT_EQ(ReadFile(target), before);

    // A corrupt file is not overwritten by an import.
    const std::string corrupt = dir.Write("bad.sol", "short");
    auto sim = StartSim(3);
    const RunResult r = Import({"--port", "3", corrupt});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(ReadFile(corrupt), "short");
    EXPECT_EQ(Import({"--port", "3", dir.File("missing.sol")}).exitCode, 1);
}

// A terminal program's port, published in the port folder: a pseudo-terminal that another
// process holds open at 9600 baud in canonical mode, without any lock.
class BusyPort {
public:
    BusyPort(const std::string& folder, int portNo) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        EXPECT_EQ(::grantpt(master_), 0);
        EXPECT_EQ(::unlockpt(master_), 0);
        const std::string path = ::ptsname(master_);
        watch_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        line_ = SetTerminalLine(watch_);
        holder_ = std::make_unique<PortHolder>(path, HoldLock::kNone);
        EXPECT_EQ(::symlink(path.c_str(), (folder + "/COM" + std::to_string(portNo)).c_str()), 0);
    }
    ~BusyPort() {
        holder_.reset();
        ::close(watch_);
        ::close(master_);
    }
    // Nothing was written to the port and its line is as the program left it.
    bool Untouched() const {
        int sent = -1;
        termios now{};
        return ::ioctl(master_, FIONREAD, &sent) == 0 && sent == 0 &&
               ::tcgetattr(watch_, &now) == 0 && SameLine(now, line_);
    }

private:
    int master_ = -1;
    int watch_ = -1;
    termios line_{};
    std::unique_ptr<PortHolder> holder_;
};

TEST_F(CliImport, APortAnotherProgramUsesIsNeitherWrittenNorChanged) {
    auto sim = StartSim(4);  // creates the port folder
    BusyPort busy(dir.File("ports"), 2);
    const std::string before = ReadFile(target);
    const RunResult refused = Import({"--port", "2", target});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_NE(refused.err.find("COM2: 発電データを受信できませんでした。 (the port could not be "
                               "opened)"),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(busy.Untouched());
    EXPECT_EQ(ReadFile(target), before);

    // The search passes over it to the unit on a later port.
    const RunResult found = Import({"--port", "auto", "--today", "2024-06-15", target});
    ASSERT_EQ(found.exitCode, 0) << found.err;
    EXPECT_NE(found.out.find("port:   COM4\n"), std::string::npos) << found.out;
    EXPECT_TRUE(busy.Untouched());
}

TEST_F(CliImport, BadCommandLines) {
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {},
             {"--port"},
             {"--port", "0"},
             {"--port", "256"},
             {"--port", "x"},
             {"--port", "3", "a.sol", "b.sol"},
             {"--port", "3", "--today", "2024-13-01"},
             {"--frobnicate"},
         }) {
        const RunResult r = Import(bad);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_FALSE(r.err.empty());
    }
}

}  // namespace
}  // namespace ys::test
