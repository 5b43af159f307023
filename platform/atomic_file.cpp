#include "platform/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace ys::files {
namespace {

std::atomic<long long> g_writeLimit{-1};

std::string DirOf(const std::string& path) {
    auto pos = path.rfind('/');
    if (pos == std::string::npos) return ".";
    if (pos == 0) return "/";
    return path.substr(0, pos);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int Close() {
        int rc = 0;
        if (fd_ >= 0) rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

std::string TempName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    return path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
           std::to_string(rd() & 0xFFFF);
}

// The file a path stands for: a symbolic link (or a chain of them) is followed, so that the
// rename replaces the file it points to and the link stays a link.
std::string ResolveLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
        ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n <= 0) return current;
        target.resize(static_cast<std::size_t>(n));
        current = target.front() == '/' ? target : DirOf(current) + "/" + target;
    }
    return current;
}

}  // namespace

void SetWriteLimitForTesting(long long bytes) {
    g_writeLimit = bytes;
}

WriteOutcome WriteFileAtomically(const std::string& linkPath, std::string_view bytes,
                                 unsigned newFileMode) {
    const std::string path = ResolveLinks(linkPath);
    struct stat old {};
    const bool replacing = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const std::string tmp = TempName(path);
    // A replacement starts without group or other access and takes the old mode below; a new
    // file gets `newFileMode` as the umask lets it.
    Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                 replacing ? 0600 : static_cast<mode_t>(newFileMode)));
    if (fd.get() < 0) {
        return {WriteFailure::kCannotCreate, std::strerror(errno), errno};
    }
    if (replacing) {
        // Keeping the owner needs privileges a user rarely has; the mode is what matters.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            (void)!::fchown(fd.get(), old.st_uid, old.st_gid);
        }
        if (::fchmod(fd.get(), old.st_mode & 07777) != 0) {
            int err = errno;
            fd.Close();
            ::unlink(tmp.c_str());
            return {WriteFailure::kCannotCreate, std::strerror(err), err};
        }
    }
    auto fail = [&](int err) {
        fd.Close();
        ::unlink(tmp.c_str());
        return WriteOutcome{WriteFailure::kWriteError, std::strerror(err), err};
    };
    std::size_t done = 0;
    const long long limit = g_writeLimit.load();
    while (done < bytes.size()) {
        std::size_t chunk = bytes.size() - done;
        if (limit >= 0) {
            if (static_cast<long long>(done) >= limit) return fail(ENOSPC);
            chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(limit) - done);
        }
        ssize_t n = ::write(fd.get(), bytes.data() + done, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0) return fail(errno);
    if (fd.Close() != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        return {WriteFailure::kWriteError, std::strerror(err), err};
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        return {WriteFailure::kWriteError, std::strerror(err), err};
    }
    // Make the rename itself durable.
    Fd dir(::open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return {};
}

ReadOutcome ReadRegularFile(const std::string& path, std::uint64_t maxBytes) {
    ReadOutcome r;
    // Non-blocking, so that a FIFO without a writer cannot hang the open.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        r.failure = ReadFailure::kCannotOpen;
        r.message = std::strerror(errno);
        return r;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        r.failure = ReadFailure::kReadError;
        r.message = std::strerror(errno);
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        r.failure = ReadFailure::kNotRegular;
        r.message = std::strerror(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return r;
    }
    r.size = static_cast<std::uint64_t>(st.st_size);
    if (r.size > maxBytes) {
        r.failure = ReadFailure::kTooLarge;
        r.message = std::strerror(EFBIG);
        return r;
    }
    r.bytes.reserve(static_cast<std::size_t>(r.size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            r.failure = ReadFailure::kReadError;
            r.message = std::strerror(errno);
            r.bytes.clear();
            return r;
        }
        if (n == 0) break;
        // A file that grows while it is read is held to the same limit.
        if (static_cast<std::uint64_t>(n) > maxBytes - r.bytes.size()) {
            r.failure = ReadFailure::kTooLarge;
            r.message = std::strerror(EFBIG);
            r.size = r.bytes.size() + static_cast<std::uint64_t>(n);
            r.bytes.clear();
            return r;
        }
        r.bytes.append(buf, static_cast<std::size_t>(n));
    }
    r.size = r.bytes.size();
    return r;
}

Result<std::string> ReadWholeFile(const std::string& path) {
    ReadOutcome r = ReadRegularFile(path);
    if (!r.ok()) return Error{r.message};
    return std::move(r.bytes);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace ys::files
