// Whole-file reads and atomic whole-file writes for the files the program keeps for the user.
#pragma once

#include <string>
#include <string_view>

#include "platform/result.h"

namespace ys::files {

enum class WriteFailure { kNone, kCannotCreate, kWriteError };

struct WriteOutcome {
    WriteFailure failure = WriteFailure::kNone;
    std::string message;  // system error text when failed
    bool ok() const { return failure == WriteFailure::kNone; }
};

// Writes `bytes` to a temporary file beside `path`, flushes and syncs it, then renames it over
// `path`. On any failure the temporary file is removed and `path` is left as it was.
WriteOutcome WriteFileAtomically(const std::string& path, std::string_view bytes);

// Test seam: when set, the next writes fail after this many bytes as if the disk were full.
void SetWriteLimitForTesting(long long bytes);  // negative: no limit

// The whole content of a file; an error when it cannot be opened or read.
Result<std::string> ReadWholeFile(const std::string& path);

bool FileExists(const std::string& path);

}  // namespace ys::files
