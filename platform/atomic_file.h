// Whole-file reads and atomic whole-file writes for the files the program keeps for the user.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace ys::files {

enum class WriteFailure { kNone, kCannotCreate, kWriteError };

struct WriteOutcome {
    WriteFailure failure = WriteFailure::kNone;
    std::string message;  // system error text when failed
    int error = 0;        // its errno
    bool ok() const { return failure == WriteFailure::kNone; }
};

// Writes `bytes` to a temporary file beside `path`, flushes and syncs it, then renames it over
// `path`. On any failure the temporary file is removed and `path` is left as it was. A `path`
// that is a symbolic link is written through: the file it points to is replaced, the link stays.
// The replaced file's mode (and owner, where the process may set it) is kept; a new file is
// created with `newFileMode`.
WriteOutcome WriteFileAtomically(const std::string& path, std::string_view bytes,
                                 unsigned newFileMode = 0644);

// Test seam: when set, the next writes fail after this many bytes as if the disk were full.
void SetWriteLimitForTesting(long long bytes);  // negative: no limit

enum class ReadFailure { kNone, kCannotOpen, kNotRegular, kTooLarge, kReadError };

struct ReadOutcome {
    ReadFailure failure = ReadFailure::kNone;
    std::string bytes;
    std::string message;     // system error text when failed
    std::uint64_t size = 0;  // the file's size, as far as it is known
    bool ok() const { return failure == ReadFailure::kNone; }
};

inline constexpr std::uint64_t kNoSizeLimit = std::numeric_limits<std::uint64_t>::max();

// The whole content of a regular file of at most `maxBytes` bytes. A FIFO, a device or a folder
// is refused before anything is read (opening never blocks), and so is a larger file.
ReadOutcome ReadRegularFile(const std::string& path, std::uint64_t maxBytes = kNoSizeLimit);

// The whole content of a regular file; an error when it cannot be opened or read.
Result<std::string> ReadWholeFile(const std::string& path);

bool FileExists(const std::string& path);

}  // namespace ys::files
