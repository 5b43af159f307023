#include "platform/atomic_file.h"

#include <fcntl.h>
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

}  // namespace

void SetWriteLimitForTesting(long long bytes) { g_writeLimit = bytes; }

WriteOutcome WriteFileAtomically(const std::string& path, std::string_view bytes) {
    const std::string tmp = TempName(path);
    Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        return {WriteFailure::kCannotCreate, std::strerror(errno)};
    }
    auto fail = [&](int err) {
        fd.Close();
        ::unlink(tmp.c_str());
        return WriteOutcome{WriteFailure::kWriteError, std::strerror(err)};
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
        return {WriteFailure::kWriteError, std::strerror(err)};
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        return {WriteFailure::kWriteError, std::strerror(err)};
    }
    // Make the rename itself durable.
    Fd dir(::open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return {};
}

Result<std::string> ReadWholeFile(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return Error{std::strerror(errno)};
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) return Error{std::strerror(EISDIR)};
    std::string out;
    if (st.st_size > 0) out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Error{std::strerror(errno)};
        }
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace ys::files
