// Runs the built gencalc as the GUI does and checks exit codes, messages and result files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <sstream>

#include "engine/constants.h"
#include "engine/generation.h"
#include "engine/request.h"
#include "platform/codepage.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace ys::gencalc {
namespace {

namespace fs = std::filesystem;
using test::RequestFields;
using test::RequestLine;

constexpr const char* kToken = "4b1d07a9e25c";

struct ProcessRun {
    int exitCode = -1;
    std::string err;
    std::string out;
};

ProcessRun Spawn(const std::string& exe, const std::vector<std::string>& args,
                 const test::TempDir& cwd) {
    std::vector<char*> argv;
    std::string arg0 = exe;
    argv.push_back(arg0.data());
    std::vector<std::string> copies = args;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string errPath = cwd.File("stderr.txt");
    const std::string outPath = cwd.File("stdout.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.path().c_str());
    pid_t pid = 0;
    ProcessRun run;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << exe;
    if (rc != 0) return run;
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    run.exitCode = WEXITSTATUS(status);
    run.err = test::ReadFile(errPath);
    run.out = test::ReadFile(outPath);
    fs::remove(errPath);
    fs::remove(outPath);
    return run;
}

std::string Gencalc() {
    return test::ProgramDir() + "/gencalc";
}

// A program folder of its own: a copy of gencalc beside the given constants file (none if empty).
std::string ProgramCopy(const test::TempDir& dir, const std::string& constantsBytes) {
    fs::create_directories(dir.File("prog"));
    const std::string exe = dir.File("prog/gencalc");
    fs::copy_file(Gencalc(), exe);
    if (!constantsBytes.empty()) dir.Write("prog/gencalc.ini", constantsBytes);
    return exe;
}

std::string DefaultConstantsBytes() {
    return test::ReadFile(test::DefaultConstantsPath());
}

std::string Utf8(const std::string& cp932) {
    auto r = codepage::Cp932ToUtf8(cp932);
    EXPECT_TRUE(r.ok());
    return r ? *r : std::string();
}

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "last line without CRLF";
        if (end == std::string::npos) break;
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Digits, a point and exactly two digits, as "%.2f" writes a non-negative value.
bool IsTwoDecimals(const std::string& v) {
    const auto point = v.find('.');
    if (point == std::string::npos || point == 0 || v.size() != point + 3) return false;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i != point && (v[i] < '0' || v[i] > '9')) return false;
    }
    return true;
}

const std::string kOldResult = "[MONTHLY_RESULT]\r\n1M=42\r\n";
const std::string kMsgConstants = "設定ファイル（gencalc.ini）の読込みに失敗しました\n";
const std::string kMsgCalc = "発電量計算に失敗しました\n";

class GencalcProcess : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(Gencalc())) GTEST_FAIL() << "gencalc is not built: " << Gencalc();
    }
    ProcessRun RunWith(const std::string& requestText, const std::string& exe = Gencalc()) {
        dir_.Write("pc_in.ini", requestText);
        return Spawn(exe, {"pc_in.ini", "pc_out.ini", kToken}, dir_);
    }
    std::string Result() const { return test::ReadFile(dir_.File("pc_out.ini")); }
    bool ResultExists() const { return fs::exists(dir_.File("pc_out.ini")); }

    test::TempDir dir_;
};

TEST_F(GencalcProcess, WritesTheResultFileByteForByteAsTheGuiReadsIt) {
    dir_.Write("pc_out.ini", "[STALE]\r\nX=1\r\n");
    const ProcessRun run = RunWith(test::RequestText(RequestFields{}));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");

    const std::string bytes = Result();
    ASSERT_FALSE(bytes.empty());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_EQ(bytes[i - 1], '\r') << "bare LF at " << i;
        }
    }
    const std::vector<std::string> lines = Lines(bytes);
    ASSERT_EQ(lines.size(), 1u + 12u + 1u + 12u + 1u + 1u);

    // The same calculation in-process gives the monthly values written.
    SimulationContext ctx = test::DefaultConstants();
    ASSERT_TRUE(ReadRequest(ctx, test::RequestDocument(RequestFields{})).ok());
    RunCalculation(ctx);

    EXPECT_EQ(lines[0], "[MONTHLY_RESULT]");
    for (int m = 1; m <= 12; ++m) {
        EXPECT_EQ(lines[m], std::to_string(m) +
                                "M=" + std::to_string(static_cast<int>(ctx.totalMonthly[m - 1])));
    }
    EXPECT_EQ(lines[13], "[HOURLY_RESULT]");
    for (int m = 1; m <= 12; ++m) {
        const std::string& line = lines[13 + m];
        const std::string key = std::to_string(m) + "M=";
        ASSERT_EQ(line.rfind(key, 0), 0u) << line;
        // Exactly 24 values with two decimals; they add up to the month before truncation, to
        // the precision of two decimals.
        std::istringstream values(line.substr(key.size()));
        double sum = 0;
        int count = 0;
        std::string v;
        while (std::getline(values, v, ',')) {
            EXPECT_TRUE(IsTwoDecimals(v)) << v;
            sum += std::stod(v);
            ++count;
        }
        EXPECT_EQ(count, 24) << line;
        EXPECT_NEAR(sum, ctx.totalMonthly[m - 1], 24 * 0.005);
    }
    EXPECT_EQ(lines[26], "[INFO]");
    EXPECT_EQ(Utf8(lines[27]), "POWER_CON1=異方位なし");
    // The temporary file of the atomic save is gone; nothing else was left behind.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"pc_in.ini", "pc_out.ini"}));
}

TEST_F(GencalcProcess, ReportsMixedOrientationPerPowerConditioner) {
    RequestFields req;
    req.pcs = {"QPC-310A,0.945", "QPC-550A,0.96"};
    req.lines = {RequestLine{0, "0.0"}, RequestLine{1, "-90.0"},
                 RequestLine{1, "90.0", "20", "1500", 1}};
    ASSERT_EQ(RunWith(test::RequestText(req)).exitCode, 0);
    const std::string text = Utf8(Result());
    EXPECT_NE(text.find("[INFO]\r\nPOWER_CON1=異方位なし\r\nPOWER_CON2=異方位あり\r\n"),
              std::string::npos);
}

TEST_F(GencalcProcess, NoLinesGiveZerosEverywhere) {
    RequestFields req;
    req.lines.clear();
    ASSERT_EQ(RunWith(test::RequestText(req)).exitCode, 0);
    const std::vector<std::string> lines = Lines(Result());
    ASSERT_EQ(lines.size(), 28u);
    std::string zeros;
    for (int h = 0; h < 24; ++h) zeros += h ? ",0.00" : "0.00";
    for (int m = 1; m <= 12; ++m) {
        EXPECT_EQ(lines[m], std::to_string(m) + "M=0");
        EXPECT_EQ(lines[13 + m], std::to_string(m) + "M=" + zeros);
    }
    EXPECT_EQ(Utf8(lines[27]), "POWER_CON1=異方位なし");
}

TEST_F(GencalcProcess, RefusesAWrongArgumentCountWithoutTouchingAnything) {
    dir_.Write("pc_out.ini", kOldResult);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"pc_in.ini", "pc_out.ini"}, {"pc_in.ini", "pc_out.ini", kToken, "x"}}) {
        const ProcessRun run = Spawn(Gencalc(), args, dir_);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.err, "引数の数が不正です\n");
    }
    EXPECT_EQ(Result(), kOldResult);
}

TEST_F(GencalcProcess, RefusesAWrongTokenWithoutTouchingAnything) {
    dir_.Write("pc_in.ini", test::RequestText(RequestFields{}));
    dir_.Write("pc_out.ini", kOldResult);
    for (const char* token : {"4B1D07A9E25C", "4b1d07a9e25", "4b1d07a9e25c ", ""}) {
        const ProcessRun run = Spawn(Gencalc(), {"pc_in.ini", "pc_out.ini", token}, dir_);
        EXPECT_EQ(run.exitCode, 0) << token;
        EXPECT_EQ(run.err, "引数が不正です\n") << token;
    }
    EXPECT_EQ(Result(), kOldResult);
}

TEST_F(GencalcProcess, MissingOrBrokenConstantsShowThePathAndLeaveTheResult) {
    auto broken = [](const std::string& key, const std::string& value) {
        std::string text = Utf8(DefaultConstantsBytes());
        auto at = text.find("\n" + key + "=");
        EXPECT_NE(at, std::string::npos) << key;
        text.replace(at + 1, text.find("\r\n", at + 1) - at - 1, value);
        return *codepage::Utf8ToCp932(text);
    };
    const std::pair<std::string, std::string> cases[] = {
        {"no file", ""},
        {"no list key", broken("通し日付", "")},
        {"divisor 0", broken("全天日射量計算定数", "全天日射量計算定数=0")},
        {"17 fields", broken("時角計算定数b", "時角計算定数b=1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1")},
        {"wrong section", [] {
             std::string text = Utf8(DefaultConstantsBytes());
             text.replace(text.find("\n[発電電力量計算]") + 1, 23, "[発電量]");
             return *codepage::Utf8ToCp932(text);
         }()}};
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        test::TempDir prog;
        const std::string exe = ProgramCopy(prog, bytes);
        dir_.Write("pc_out.ini", kOldResult);
        const ProcessRun run = RunWith(test::RequestText(RequestFields{}), exe);
        EXPECT_EQ(run.exitCode, 255);
        EXPECT_EQ(run.err, prog.File("prog/gencalc.ini") + "\n" + kMsgConstants);
        EXPECT_EQ(Result(), kOldResult);
    }
}

TEST_F(GencalcProcess, AFaultyRequestFailsAndLeavesTheResult) {
    auto without = [](const std::string& key) {
        std::string text = test::RequestText(RequestFields{});
        text.erase(text.find("\n" + key) + 1, 1);
        return text;
    };
    RequestFields threePcs;
    threePcs.pcs = {"A,0.9", "B,0.9", "C,0.9"};
    RequestFields foreignPc;
    foreignPc.lines = {RequestLine{1}};
    RequestFields seventeen;
    seventeen.lines.assign(17, RequestLine{});
    RequestFields overflowing;
    overflowing.monthly[6] = "1e38,1,0";
    const std::pair<std::string, std::string> cases[] = {
        {"no 12M", without("12M=")},
        {"no LATITUDE", without("LATITUDE=")},
        {"no line key", without("0=0,A")},
        {"[PC] NUM 3", test::RequestText(threePcs)},
        {"line of a second power conditioner", test::RequestText(foreignPc)},
        {"17 lines", test::RequestText(seventeen)},
        {"insolation beyond any sense", test::RequestText(overflowing)},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        dir_.Write("pc_out.ini", kOldResult);
        const ProcessRun run = RunWith(text);
        EXPECT_EQ(run.exitCode, 255);
        EXPECT_EQ(run.err, kMsgCalc);
        EXPECT_EQ(Result(), kOldResult);
    }

    fs::remove(dir_.File("pc_in.ini"));
    dir_.Write("pc_out.ini", kOldResult);
    const ProcessRun run = Spawn(Gencalc(), {"pc_in.ini", "pc_out.ini", kToken}, dir_);
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_EQ(run.err, kMsgCalc);
    EXPECT_EQ(Result(), kOldResult);
}

TEST_F(GencalcProcess, AnUnwritableResultFileFailsTheSave) {
    dir_.Write("pc_in.ini", test::RequestText(RequestFields{}));
    ProcessRun run = Spawn(Gencalc(), {"pc_in.ini", "no/such/folder/pc_out.ini", kToken}, dir_);
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_EQ(run.err, "発電量計算結果の保存に失敗しました\n");

    fs::create_directory(dir_.File("pc_out.ini"));
    run = Spawn(Gencalc(), {"pc_in.ini", "pc_out.ini", kToken}, dir_);
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_EQ(run.err, "発電量計算結果の保存に失敗しました\n");
    EXPECT_TRUE(fs::is_directory(dir_.File("pc_out.ini")));
}

TEST_F(GencalcProcess, TakesAbsolutePathsWhereverItIsStarted) {
    dir_.Write("data/pc_in.ini", test::RequestText(RequestFields{}));
    test::TempDir elsewhere;
    const ProcessRun run = Spawn(
        Gencalc(), {dir_.File("data/pc_in.ini"), dir_.File("data/pc_out.ini"), kToken}, elsewhere);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(test::ReadFile(dir_.File("data/pc_out.ini")).rfind("[MONTHLY_RESULT]\r\n1M=", 0), 0u);
}

}  // namespace
}  // namespace ys::gencalc
