#include "platform/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace ys::files {
namespace {

using test::ReadFile;
using test::TempDir;

std::size_t CountFiles(const std::string& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

TEST(AtomicFile, WritesAndReplaces) {
    TempDir dir;
    std::string path = dir.File("f.bin");
    ASSERT_TRUE(WriteFileAtomically(path, std::string("one\0two", 7)).ok());
    EXPECT_EQ(ReadFile(path), std::string("one\0two", 7));
    ASSERT_TRUE(WriteFileAtomically(path, "x").ok());
    EXPECT_EQ(ReadFile(path), "x");
    EXPECT_EQ(CountFiles(dir.path()), 1u);
}

TEST(AtomicFile, AFailedWriteLeavesThePreviousFileAndNoTemporary) {
    TempDir dir;
    std::string path = dir.Write("f.bin", "previous content");
    SetWriteLimitForTesting(5);
    WriteOutcome w = WriteFileAtomically(path, std::string(5000, 'n'));
    SetWriteLimitForTesting(-1);
    EXPECT_EQ(w.failure, WriteFailure::kWriteError);
    EXPECT_FALSE(w.message.empty());
    EXPECT_EQ(ReadFile(path), "previous content");
    EXPECT_EQ(CountFiles(dir.path()), 1u);
}

TEST(AtomicFile, AMissingFolderCannotBeCreated) {
    TempDir dir;
    WriteOutcome w = WriteFileAtomically(dir.File("no/such/f.bin"), "x");
    EXPECT_EQ(w.failure, WriteFailure::kCannotCreate);
}

TEST(AtomicFile, ReadWholeFile) {
    TempDir dir;
    EXPECT_FALSE(ReadWholeFile(dir.File("missing")));
    EXPECT_FALSE(ReadWholeFile(dir.path()));
    std::string big(200000, 'q');
    EXPECT_EQ(*ReadWholeFile(dir.Write("big", big)), big);
    EXPECT_TRUE(FileExists(dir.File("big")));
    EXPECT_FALSE(FileExists(dir.path()));
}

}  // namespace
}  // namespace ys::files
