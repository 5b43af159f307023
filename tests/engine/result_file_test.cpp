#include "engine/result_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace ys::gencalc {
namespace {

// "異方位あり" and "異方位なし" in CP932.
const std::string kMixedCp932 = "\x88\xd9\x95\xfb\x88\xca\x82\xa0\x82\xe8";
const std::string kNotMixedCp932 = "\x88\xd9\x95\xfb\x88\xca\x82\xc8\x82\xb5";

TEST(FormatHourly, MatchesPrintfTwoDecimals) {
    const double values[] = {0,      0.004, 0.005,   0.015,   1.005, 2.675, 12.345,
                             99.995, 1e7,   123.456, 1.0 / 3, 0.125, 1e-300};
    for (double v : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.2f", v);
        EXPECT_EQ(FormatHourly(v), expected) << v;
    }
}

TEST(BuildResultDocument, WritesMonthsHoursAndPowerConditionersInOrder) {
    SimulationContext ctx;
    ctx.pcCount = 2;
    ctx.mixedOrientation = {false, true};
    for (int m = 0; m < 12; ++m) ctx.totalMonthly[m] = m * 100 + 0.99;
    ctx.totalMonthly[0] = 123.99;
    ctx.totalMonthly[1] = -0.5;
    ctx.totalHourly[0][12] = 45.678;
    ctx.totalHourly[0][23] = 0.004;

    std::string expected = "[MONTHLY_RESULT]\r\n1M=123\r\n2M=0\r\n";
    for (int m = 3; m <= 12; ++m) {
        expected += std::to_string(m) + "M=" + std::to_string((m - 1) * 100) + "\r\n";
    }
    expected += "[HOURLY_RESULT]\r\n";
    for (int m = 1; m <= 12; ++m) {
        std::string hours;
        for (int h = 0; h < 24; ++h) {
            std::string v = "0.00";
            if (m == 1 && h == 12) v = "45.68";
            hours += (h ? "," : "") + v;
        }
        expected += std::to_string(m) + "M=" + hours + "\r\n";
    }
    expected += "[INFO]\r\nPOWER_CON1=" + kNotMixedCp932 + "\r\nPOWER_CON2=" + kMixedCp932 + "\r\n";
    EXPECT_EQ(BuildResultDocument(ctx).Serialize(), expected);
}

TEST(WriteResult, ReplacesTheOldFileInsteadOfMergingIntoIt) {
    test::TempDir dir;
    const std::string path =
        dir.Write("pc_out.ini", "[OLD]\r\nX=1\r\n[MONTHLY_RESULT]\r\n13M=5\r\n1M=999\r\n");
    SimulationContext ctx;
    ctx.pcCount = 1;
    ctx.totalMonthly[0] = 7.5;
    ASSERT_TRUE(WriteResult(ctx, path).ok());
    const std::string bytes = test::ReadFile(path);
    EXPECT_EQ(bytes.rfind("[MONTHLY_RESULT]\r\n1M=7\r\n2M=0\r\n", 0), 0u);
    EXPECT_EQ(bytes.find("OLD"), std::string::npos);
    EXPECT_EQ(bytes.find("13M"), std::string::npos);
}

TEST(WriteResult, FailsWhenTheFileCannotBeWritten) {
    test::TempDir dir;
    SimulationContext ctx;
    ctx.pcCount = 1;
    EXPECT_FALSE(WriteResult(ctx, dir.File("missing/pc_out.ini")).ok());
    // A folder in the result file's place is neither removed nor replaced.
    const std::string folder = dir.File("pc_out.ini");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_FALSE(WriteResult(ctx, folder).ok());
    struct stat st {};
    EXPECT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // No temporary file is left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace ys::gencalc
