// yieldscope-cli diagnose and report as a dealer or the support desk runs them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "app/diagnosis/outlook.h"
#include "app/user_data_file.h"
#include "devices/monitor_unit/demo_history.h"
#include "tests/app/diagnosis/sample_user.h"
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

CliRun RunCommand(const std::string& cmd, const TempDir& dir) {
    const std::string errFile = dir.File("stderr.txt");
    CliRun r{};
    FILE* p = ::popen((cmd + " 2>" + errFile).c_str(), "r");
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int status = ::pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = ReadFile(errFile);
    return r;
}

CliRun RunCli(const std::string& args, const TempDir& dir) {
    return RunCommand(test::ProgramDir() + "/yieldscope-cli " + args, dir);
}

class DiagnosisCliTest : public ::testing::Test {
protected:
    std::string Write(const UserData& d, const char* name = "user.sol") {
        return dir.Write(name, SerializeUserData(d));
    }
    TempDir dir;
};

TEST_F(DiagnosisCliTest, DiagnosePrintsVerdictRatioAndText) {
    UserData d;
    d.simDone = 1;
    d.simMonthly = {80, 80, 80, 80, 80, 80, 80, 80, 80, 80, 100, 100};
    d.userInfo.dealerName = "\x83\x54\x83\x93";  // サン in CP932
    test::SetMonths(d, 2025, 1, {75, 75, 75, 75, 75, 75, 75, 75, 75, 75, 75, 75});
    CliRun r = RunCli("diagnose " + Write(d), dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "verdict: 2\nmonths: 12\nreal: 900 kWh\nsimulated: 1000 kWh\nratio: 0.9000\n"
              "発電量とシミュレーション値の誤差が１０％以内に収まっており、概ね\n"
              "順調に稼働していると思われます。引き続きシミュレーション値を下回り\n"
              "続けるようであれば、購入元の販売店にご相談ください。\n"
              "販売店：サン　連絡先：\n");
    EXPECT_TRUE(r.err.empty());
}

TEST_F(DiagnosisCliTest, DiagnoseWithoutDataOrDetailsFails) {
    UserData d;
    d.simDone = 1;
    d.simMonthly.fill(100);
    test::SetMonths(d, 2025, 1, {0, 0, 0});
    CliRun r = RunCli("diagnose " + Write(d), dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("verdict: 0\n"), std::string::npos);
    EXPECT_NE(r.out.find("ratio: -\n"), std::string::npos);
    EXPECT_NE(r.out.find("診断未実施"), std::string::npos);
    EXPECT_EQ(r.err, "yieldscope-cli: 発電実績がないため、診断を行うことができません。\n");

    test::SetMonths(d, 2025, 1, {300, 300, 300});
    d.userInfo.detailed = 0;
    r = RunCli("diagnose " + Write(d), dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("verdict: 0\n"), std::string::npos);
    EXPECT_NE(r.out.find("ratio: 3.0000\n"), std::string::npos);
    EXPECT_NE(r.out.find("太陽電池設置情報の詳細が入力されていないため診断できません。"),
              std::string::npos);

    d.simDone = 0;
    r = RunCli("diagnose " + Write(d), dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("no simulation result"), std::string::npos);

    r = RunCli("diagnose " + dir.Write("bad.sol", "garbage"), dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(RunCli("diagnose", dir).code, 2);
}

// A household the program folder's region table knows: Tokyo, with an efficiency to simulate.
UserData OutlookHousehold(double ratio) {
    UserData d;
    test::MakeSampleUser(d, ratio);
    d.userInfo.regionNo = 44132;
    d.userInfo.pcCode = "QPC-450A";
    d.userInfo.pcEfficiency = 0.955;
    return d;
}

// The program folder's sample household holds the demo unit's five years, and they look like a
// real roof in Tokyo: each calendar month averages the expected generation less the slight
// ageing, a bad or a fine month now and then, no season off the weather's range.
TEST(SampleHousehold, IsTheDemoUnitsHistoryAndFitsTheWeather) {
    UserData data;
    ASSERT_TRUE(DeserializeUserData(ReadFile(test::ProgramDir() + "/samples/demo.sol"), data).ok());
    const monitor_unit::MonitorHistory unit =
        monitor_unit::GenerateDemoHistory({.capacityKw = 4.5,
                                           .installYear = 2020,
                                           .installMonth = 4,
                                           .todayYear = 2026,
                                           .todayMonth = 12,
                                           .todayDay = 1});
    ASSERT_EQ(data.monthCount, static_cast<int>(unit.months.entries.size()));
    for (const auto& e : unit.months.entries)
        EXPECT_EQ(GetMonthGeneration(data.months.data(), data.monthCount,
                                     monitor_unit::kBaseYear + e.date.yearOffset, e.date.month),
                  e.generation)
            << e.date.yearOffset << "/" << e.date.month;

    const auto range = HouseholdWeatherRange(data.userInfo, test::ProgramDir());
    ASSERT_TRUE(range.ok()) << range.error();
    const Outlook outlook = BuildOutlook(data, *range);
    std::array<double, 12> ratio{};
    std::array<int, 12> years{};
    int outside = 0;
    for (const OutlookMonth& m : outlook.months) {
        ratio[static_cast<std::size_t>(m.month - 1)] +=
            static_cast<double>(m.real) / static_cast<double>(m.expected);
        ++years[static_cast<std::size_t>(m.month - 1)];
        outside += m.position != Position::kWithin;
    }
    for (std::size_t i = 0; i < 12; ++i) {
        ASSERT_EQ(years[i], 5) << "month " << i + 1;
        EXPECT_NEAR(ratio[i] / 5, 0.98, 0.035) << "month " << i + 1;  // ~4 years of 0.5 % ageing
    }
    EXPECT_LE(outside, 6);
    EXPECT_EQ(outlook.last12.position, Position::kWithin);
    ASSERT_TRUE(outlook.trend.has_value());
    EXPECT_EQ(outlook.trend->pairs, 48);
    EXPECT_LT(outlook.trend->percentPerYear, 0.0);
    EXPECT_GT(outlook.trend->percentPerYear, -2.0);
}

TEST_F(DiagnosisCliTest, OutlookPrintsTheJsonShape) {
    CliRun r = RunCli("outlook " + Write(OutlookHousehold(1.0)) + " --json", dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(
        r.out.rfind("{\"months\": [\n  {\"month\": \"2024-10\", \"real\": 450, \"expected\": 450, "
                    "\"low\": ",
                    0),
        0u)
        << r.out;
    // Fifteen months, and no trend before two years.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 15 + 4) << r.out;
    EXPECT_NE(r.out.find("\"last12\": {\"real\": 6040, \"expected\": 6040, \"low\": "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"position\": \"within\", \"text\": \"直近12か月の発電量は"),
              std::string::npos);
    EXPECT_NE(r.out.find("\"trend\": null,"), std::string::npos);

    // 80 % of the expectation is below even the dullest years.
    r = RunCli("outlook " + Write(OutlookHousehold(0.8)), dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(": below\n直近12か月の発電量はシミュレーション値を"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("機器異常の可能性があります。"), std::string::npos) << r.out;
}

TEST_F(DiagnosisCliTest, OutlookRefusesWhatTheDiagnosisRefuses) {
    struct Case {
        const char* name;
        void (*spoil)(UserData&);
        const char* error;  // after "yieldscope-cli: "
    } cases[] = {
        {"no simulation", [](UserData& d) { d.simDone = 0; }, "holds no simulation result"},
        {"no generation",
         [](UserData& d) {
             for (auto& m : d.months) m.generation = 0;
         },
         "発電実績がないため、診断を行うことができません。"},
        {"no details", [](UserData& d) { d.userInfo.detailed = 0; },
         "太陽電池設置情報の詳細が入力されていないため診断できません。"},
        {"no region", [](UserData& d) { d.userInfo.regionNo = 99999; },
         "no weather range for region 99999"},
    };
    for (const Case& c : cases) {
        UserData d = OutlookHousehold(1.0);
        c.spoil(d);
        CliRun r = RunCli("outlook " + Write(d) + " --pdf " + dir.File("o.pdf"), dir);
        EXPECT_EQ(r.code, 1) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << c.name << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name;
        EXPECT_EQ(ReadFile(dir.File("o.pdf")), "") << c.name;
    }
    EXPECT_EQ(RunCli("outlook", dir).code, 2);
    EXPECT_EQ(RunCli("outlook a.sol b.sol", dir).code, 2);
    EXPECT_EQ(RunCli("outlook a.sol --yaml", dir).code, 2);
}

#ifdef YS_CLI_REPORT
// The value of a "Name:   value" line of pdfinfo's output.
std::string InfoField(const std::string& info, const std::string& name) {
    const auto at = info.find("\n" + name + ":");
    if (at == std::string::npos) return {};
    auto begin = info.find_first_not_of(' ', at + name.size() + 2);
    return info.substr(begin, info.find('\n', begin) - begin);
}

bool HavePoppler() {
    return std::system("command -v pdfinfo >/dev/null 2>&1") == 0;
}

TEST_F(DiagnosisCliTest, ReportIsOnePdfPageInPortraitOrLandscape) {
    UserData d;
    test::MakeSampleUser(d, 0.8);
    const std::string sol = Write(d);
    CliRun r = RunCli("report " + sol + " " + dir.File("p.pdf"), dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFile(dir.File("p.pdf")).substr(0, 5), "%PDF-");
    r = RunCli("report --landscape " + sol + " " + dir.File("l.pdf"), dir);
    ASSERT_EQ(r.code, 0) << r.err;
    if (!HavePoppler()) GTEST_SKIP() << "pdfinfo is not installed";

    CliRun info = RunCommand("pdfinfo " + dir.File("p.pdf"), dir);
    EXPECT_EQ(InfoField(info.out, "Pages"), "1");
    EXPECT_EQ(InfoField(info.out, "Page size"), "595 x 842 pts (A4)");
    EXPECT_EQ(InfoField("\n" + info.out, "Title"), "ヘリオミル結果");
    info = RunCommand("pdfinfo " + dir.File("l.pdf"), dir);
    EXPECT_EQ(InfoField(info.out, "Pages"), "1");
    EXPECT_EQ(InfoField(info.out, "Page size"), "842 x 595 pts (A4)");

    CliRun text = RunCommand("pdftotext -layout " + dir.File("p.pdf") + " -", dir);
    for (const char* expected :
         {"ヘリオミル結果", "お名前", "山田 太郎 様", "設置面4", "影の影響はほとんどない",
          "発電量がシミュレーション値を１０％以上下回っております。", "ｼﾐｭﾚｰｼｮﾝ値"}) {
        EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
    }
    EXPECT_EQ(text.out.find("販売店："), std::string::npos);
}

TEST_F(DiagnosisCliTest, ReportFailuresLeaveNoFileBehind) {
    UserData d;
    test::MakeSampleUser(d, 1.0);
    const std::string sol = Write(d);
    CliRun r = RunCli("report " + sol + " " + dir.File("missing/dir/out.pdf"), dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;

    const std::string keep = dir.Write("keep.pdf", "previous");
    d.simDone = 0;
    r = RunCli("report " + Write(d, "nosim.sol") + " " + keep, dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(ReadFile(keep), "previous");

    EXPECT_EQ(RunCli("report " + sol + " " + keep + " --paper Foolscap", dir).code, 2);
    EXPECT_EQ(RunCli("report " + sol, dir).code, 2);
    EXPECT_EQ(ReadFile(keep), "previous");
}

TEST_F(DiagnosisCliTest, OutlookPdfIsOnePage) {
    CliRun r =
        RunCli("outlook " + Write(OutlookHousehold(0.95)) + " --pdf " + dir.File("o.pdf"), dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFile(dir.File("o.pdf")).substr(0, 5), "%PDF-");
    if (!HavePoppler()) GTEST_SKIP() << "pdfinfo is not installed";
    CliRun info = RunCommand("pdfinfo " + dir.File("o.pdf"), dir);
    EXPECT_EQ(InfoField(info.out, "Pages"), "1");
    EXPECT_EQ(InfoField(info.out, "Page size"), "595 x 842 pts (A4)");
    CliRun text = RunCommand("pdftotext -layout " + dir.File("o.pdf") + " -", dir);
    for (const char* expected : {"天候との比較", "天候による範囲", "直近12か月", "2025年",
                                 "MONSOLA-11", "経年変化はまだ求められません"}) {
        EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
    }
}

#endif  // YS_CLI_REPORT

}  // namespace
}  // namespace ys
