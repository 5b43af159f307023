#include "app/support_files.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace ys {
namespace {

TEST(SupportFiles, TheFirstMissingFileInOrderIsReported) {
    test::TempDir dir;
    auto missing = FindMissingSupportFile(dir.path());
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->message, "ファイルが見つかりません。(admin.ini)");

    dir.Write("admin.ini", "");  // empty files pass
    dir.Write("insolation.csv", "x");
    dir.Write("gencalc", "x");
    missing = FindMissingSupportFile(dir.path());
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->file, "KEN_ALL.CSV");
    EXPECT_EQ(missing->message, "ファイルが見つかりません。(KEN_ALL.CSV)");

    dir.Write("KEN_ALL.CSV", "");
    missing = FindMissingSupportFile(dir.path());
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->message, "ファイルが見つかりません。(gencalc.ini)");

    dir.Write("gencalc.ini", "");
    EXPECT_FALSE(FindMissingSupportFile(dir.path()));
}

TEST(SupportFiles, TheEngineIsNamedWithoutExe) {
    test::TempDir dir;
    for (auto f : {"admin.ini", "insolation.csv", "KEN_ALL.CSV", "gencalc.exe", "gencalc.ini"}) {
        dir.Write(f, "");
    }
    auto missing = FindMissingSupportFile(dir.path());
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->message, "ファイルが見つかりません。(gencalc)");
}

}  // namespace
}  // namespace ys
