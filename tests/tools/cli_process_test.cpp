// yieldscope-cli as a user runs it: exit codes, stdout and one-line errors on stderr.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "app/user_data_file.h"
#include "tests/support/temp_dir.h"

namespace ys {
namespace {

using test::ReadFile;
using test::TempDir;

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

CliRun RunCli(const std::string& args, const TempDir& dir) {
    const std::string errFile = dir.File("stderr.txt");
    const std::string cmd = test::ProgramDir() + "/yieldscope-cli " + args + " 2>" + errFile;
    CliRun r{};
    FILE* p = ::popen(cmd.c_str(), "r");
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int status = ::pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = ReadFile(errFile);
    return r;
}

TEST(CliProcess, DumpAndBuildRoundTripByteForByte) {
    TempDir dir;
    UserData d;
    d.userInfo.name = "\x8E\x52\x93\x63";  // 山田 in CP932
    d.dayCount = 2;
    d.days[5].generation = 17;
    std::string sol = dir.Write("in.sol", SerializeUserData(d));
    CliRun dump = RunCli("dump " + sol, dir);
    ASSERT_EQ(dump.code, 0) << dump.err;
    EXPECT_TRUE(dump.err.empty());
    std::string json = dir.Write("d.json", dump.out);
    CliRun build = RunCli("build " + json + " " + dir.File("out.sol"), dir);
    ASSERT_EQ(build.code, 0) << build.err;
    EXPECT_EQ(ReadFile(dir.File("out.sol")), ReadFile(sol));
}

TEST(CliProcess, ErrorsAreOneLineAndANonZeroExit) {
    TempDir dir;
    const std::string broken = dir.Write("broken.sol", "not a user data file");
    const std::string badJson = dir.Write("bad.json", R"({"dayCount": 999})");
    const std::string existing = dir.Write("keep.sol", "previous");
    struct Case {
        std::string args;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"", 2, "usage"},
        {"frobnicate", 2, "unknown command"},
        {"dump", 2, "usage"},
        {"dump " + dir.File("missing.sol"), 1, "cannot open"},
        {"dump " + broken, 1, "not a valid user data file"},
        {"build " + badJson + " " + existing, 1, "dayCount"},
        {"build " + badJson + " " + dir.File("no/dir/out.sol"), 1, "dayCount"},
    };
    // Without a command the usage goes to stderr: as many lines as --help prints.
    const std::string help = RunCli("--help", dir).out;
    const auto usageLines = std::count(help.begin(), help.end(), '\n');
    for (const Case& c : cases) {
        CliRun r = RunCli(c.args, dir);
        EXPECT_EQ(r.code, c.code) << c.args;
        EXPECT_NE(r.err.find(c.text), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.args.empty() ? usageLines : 1) << r.err;
    }
    EXPECT_EQ(ReadFile(existing), "previous");
}

}  // namespace
}  // namespace ys
