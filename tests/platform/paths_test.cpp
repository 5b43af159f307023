#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace ys::paths {
namespace {

using test::ScopedEnv;
using test::TempDir;

TEST(Paths, DataDirFollowsXdgDataHome) {
    TempDir dir;
    {
        ScopedEnv data("XDG_DATA_HOME", dir.path());
        EXPECT_EQ(DataDir(), dir.path() + "/Norvane");
    }
    {
        ScopedEnv data("XDG_DATA_HOME", "relative/is/ignored");
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(DataDir(), "/home/someone/.local/share/Norvane");
    }
}

TEST(Paths, DocumentsDirFromUserDirs) {
    TempDir dir;
    ScopedEnv home("HOME", dir.path());
    ScopedEnv config("XDG_CONFIG_HOME", dir.path() + "/cfg");
    EXPECT_EQ(DocumentsDir(), dir.path() + "/Documents");
    dir.Write("cfg/user-dirs.dirs", "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/書類\"\n");
    EXPECT_EQ(DocumentsDir(), dir.path() + "/書類");
}

TEST(Paths, MakeDirsCreatesParentsAndAcceptsExisting) {
    TempDir dir;
    std::string deep = dir.path() + "/a/b/c";
    EXPECT_TRUE(MakeDirs(deep));
    EXPECT_TRUE(MakeDirs(deep));
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    dir.Write("file", "x");
    EXPECT_FALSE(MakeDirs(dir.File("file") + "/sub"));

    const mode_t old = ::umask(022);
    const std::string data = dir.path() + "/share/Norvane";
    EXPECT_TRUE(MakeDirs(data, kDataDirMode));
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(data.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(Paths, ProgramDirIsTheExecutablesFolder) {
    std::string p = ProgramDir();
    EXPECT_TRUE(std::filesystem::exists(p + "/platform_tests")) << p;
    EXPECT_EQ(Join("/a", "b"), "/a/b");
    EXPECT_EQ(Join("/a/", "b"), "/a/b");
}

}  // namespace
}  // namespace ys::paths
