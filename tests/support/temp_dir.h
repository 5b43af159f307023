// A fresh folder per test, removed with everything in it afterwards.
#pragma once

#include <string>
#include <string_view>

namespace ys::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(std::string_view name) const;

    // Writes a file (parents created) and returns its path.
    std::string Write(std::string_view name, std::string_view bytes) const;

private:
    std::string path_;
};

// Reads a whole file; empty when missing.
std::string ReadFile(const std::string& path);

// Sets an environment variable for the life of the object, restoring the old value afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool hadOld_;
};

// The source tree and the program folder of the build under test.
std::string SourceDir();
std::string ProgramDir();

}  // namespace ys::test
