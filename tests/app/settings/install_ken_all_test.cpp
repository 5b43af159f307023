// scripts/install-ken-all.sh, run from a copy of the repository layout without the shared data.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "platform/paths.h"
#include "tests/app/settings/settings_fixtures.h"

namespace ys {
namespace {

namespace fs = std::filesystem;

const std::string kRow =
    "01101,\"060  \",\"0600000\",\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",0,0,0,0,0,0\r\n";

class InstallKenAllTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string script = paths::Join(test::SourceDir(), "scripts/install-ken-all.sh");
        fs::create_directories(repo.File("repo/scripts"));
        fs::copy_file(script, repo.File("repo/scripts/install-ken-all.sh"));
    }
    int Run(const std::string& args) {
        const std::string cmd = "bash '" + repo.File("repo/scripts/install-ken-all.sh") + "' " +
                                args + " '" + repo.File("bin") + "' 2>'" + repo.File("err") + "'";
        const int status = std::system(cmd.c_str());
        err = test::ReadFile(repo.File("err"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Installed() { return test::ReadFile(repo.File("bin/KEN_ALL.CSV")); }

    test::TempDir repo;
    std::string err;
};

TEST_F(InstallKenAllTest, WithoutAnySourceAnEmptyFileAndAPlainMessage) {
    EXPECT_EQ(Run("--no-download"), 0);
    EXPECT_TRUE(fs::exists(repo.File("bin/KEN_ALL.CSV")));
    EXPECT_EQ(fs::file_size(repo.File("bin/KEN_ALL.CSV")), 0u);
    EXPECT_NE(err.find("EMPTY"), std::string::npos) << err;
    EXPECT_NE(err.find("finds nothing until the real file is installed"), std::string::npos);
    EXPECT_NE(err.find("scripts/install-ken-all.sh --from"), std::string::npos);
}

TEST_F(InstallKenAllTest, NamedFileIsInstalledAndNeverReplacedByAnEmptyOne) {
    const std::string csv = repo.Write("mine/KEN_ALL.CSV", kRow);
    EXPECT_EQ(Run("--from '" + csv + "'"), 0) << err;
    EXPECT_EQ(Installed(), kRow);
    EXPECT_EQ(Run("--no-download"), 0) << err;
    EXPECT_EQ(Installed(), kRow);
    // A file that is not the national file is refused and the installed one stays.
    const std::string bad = repo.Write("bad.csv", "hello\n");
    EXPECT_EQ(Run("--from '" + bad + "'"), 1);
    EXPECT_NE(err.find("not Japan Post's KEN_ALL.CSV"), std::string::npos) << err;
    EXPECT_EQ(Installed(), kRow);
    EXPECT_EQ(Run("--from '" + repo.File("missing.zip") + "'"), 1);
    EXPECT_EQ(Installed(), kRow);
}

TEST_F(InstallKenAllTest, ZipFromTheSharedDataFolderBesideTheRepository) {
    fs::create_directories(repo.File("shared/data"));
    repo.Write("stage/KEN_ALL.CSV", kRow);
    const std::string zip = repo.File("shared/data/ken_all.zip");
    const std::string cmd = "cd '" + repo.File("stage") + "' && zip -q '" + zip + "' KEN_ALL.CSV";
    if (std::system(cmd.c_str()) != 0) {
        GTEST_SKIP() << "the zip tool is not installed";
    }
    EXPECT_EQ(Run("--no-download"), 0) << err;
    EXPECT_EQ(Installed(), kRow);
    EXPECT_NE(err.find("ken_all.zip"), std::string::npos) << err;
}

}  // namespace
}  // namespace ys
