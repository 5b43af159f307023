// yieldscope-cli as a user runs it: exit codes, stdout and one-line errors on stderr.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.args.empty() ? usageLines : 1)
            << r.err;
    }
    EXPECT_EQ(ReadFile(existing), "previous");
}

TEST(CliProcess, BuildRefusesNumbersAndDatesOutsideTheirFieldNamingTheKey) {
    TempDir dir;
    const std::string out = dir.Write("out.sol", "previous");
    struct Case {
        const char* json;
        const char* key;
    };
    const Case cases[] = {
        {R"({"userInfo":{"capacityKw":1e400}})", "userInfo.capacityKw"},
        {R"({"simMonthly":[1,2,1e999]})", "simMonthly[2]"},
        {R"({"userInfo":{"capacityKw":1.2.3}})", "userInfo.capacityKw"},
        {R"({"userInfo":{"capacityKw":250}})", "userInfo.capacityKw"},
        {R"({"userInfo":{"installYear":-2147483648}})", "userInfo.installYear"},
        {R"({"days":[{"date":{"local":"2024-13-45"}}]})", "days[0].date.local"},
        {R"({"days":[{"date":{"local":"2024-01-01junk"}}]})", "days[0].date.local"},
        {R"({"days":[{"date":{"local":"-2147483648-01-01"}}]})", "days[0].date.local"},
        {R"({"months":[{},{"date":{"seconds":9223372036854775807}}]})", "months[1].date"},
        {R"({"errors":[{"time":{"local":"2024-02-30 10:00:00"}}]})", "errors[0].time.local"},
    };
    for (const Case& c : cases) {
        const std::string json = dir.Write("in.json", c.json);
        CliRun r = RunCli("build " + json + " " + out, dir);
        EXPECT_EQ(r.code, 1) << c.json << ": " << r.err;
        EXPECT_NE(r.err.find(c.key), std::string::npos) << c.json << ": " << r.err;
        EXPECT_EQ(ReadFile(out), "previous");
    }
    // A valid date still builds.
    const std::string good =
        dir.Write("good.json", R"({"days":[{"date":{"local":"2024-02-29"}}]})");
    EXPECT_EQ(RunCli("build " + good + " " + out, dir).code, 0);
}

TEST(CliProcess, DumpReadsOnlyWhatCanBeAUserDataFile) {
    TempDir dir;
    const std::string fifo = dir.File("fifo.sol");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string sparse = dir.Write("sparse.sol", "");
    ASSERT_EQ(::truncate(sparse.c_str(), 3LL << 30), 0);
    for (const auto& [path, text] : {std::pair{fifo, "not a regular file"},
                                     {sparse, "larger than a user data file can be"},
                                     {dir.path(), "not a regular file"}}) {
        CliRun r = RunCli("dump " + path, dir);
        EXPECT_EQ(r.code, 1) << path;
        EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace ys
