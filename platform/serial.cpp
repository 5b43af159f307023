#include "platform/serial.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <variant>

#include "platform/number.h"
#include "platform/paths.h"

namespace ys::serial {
namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNoDeadline = std::numeric_limits<std::int64_t>::max();

class MonotonicTiming final : public Timing {
public:
    std::int64_t NowNs() override {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
    }
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
        return ::poll(fds, count, timeoutMs);
    }
};

std::string SystemError(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

// Milliseconds to wait until `deadline`, rounded up so that a wait never ends early.
int MsUntil(std::int64_t now, std::int64_t deadline) {
    if (deadline == kNoDeadline) return -1;
    const std::int64_t ns = deadline - now;
    if (ns <= 0) return 0;
    const std::int64_t ms = (ns + kNsPerMs - 1) / kNsPerMs;
    return static_cast<int>(std::min<std::int64_t>(ms, std::numeric_limits<int>::max()));
}

std::int64_t Deadline(std::int64_t start, std::uint64_t ms) {
    const std::uint64_t cap = static_cast<std::uint64_t>(kNoDeadline - start) / kNsPerMs;
    return ms >= cap ? kNoDeadline : start + static_cast<std::int64_t>(ms) * kNsPerMs;
}

struct Speed {
    std::uint32_t baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},   {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600}, {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

// The longest wait at close for written bytes to leave a real serial line.
constexpr int kDrainLimitMs = 750;

// Unix98 pseudo-terminals: slaves on majors 136-143 (256 each), masters cloned from /dev/ptmx.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;
constexpr unsigned kPtmxMajor = 5;
constexpr unsigned kPtmxMinor = 2;

std::optional<int> PtyIndex(dev_t rdev) {
    const unsigned ma = major(rdev);
    if (ma < kPtySlaveMajorFirst || ma > kPtySlaveMajorLast) return std::nullopt;
    return static_cast<int>((ma - kPtySlaveMajorFirst) * 256 + minor(rdev));
}

std::string ReadSmallFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return {};
    char buf[1024];
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

// The pseudo-terminal index of a master descriptor, from its "tty-index:" in fdinfo.
std::optional<int> MasterIndex(const std::string& fdinfo) {
    const std::string text = ReadSmallFile(fdinfo);
    constexpr std::string_view kKey = "tty-index:";
    const std::size_t at = text.find(kKey);
    if (at == std::string::npos) return std::nullopt;
    const std::size_t end = text.find('\n', at);
    return ParseNumber<int>(Trim(std::string_view(text).substr(
        at + kKey.size(), end == std::string::npos ? std::string::npos : end - at - kKey.size())));
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// As fuser does: a process other than us (`ownFd` is our own descriptor) that holds the device
// open, where /proc lets us see it. A process that also holds the master side of the same
// pseudo-terminal is the device's publisher, not a user of the port.
std::optional<pid_t> OtherHolder(dev_t rdev, int ownFd) {
    const std::optional<int> ptyIndex = PtyIndex(rdev);
    const pid_t self = ::getpid();
    DirPtr proc(::opendir("/proc"));
    if (!proc) return std::nullopt;
    while (const dirent* p = ::readdir(proc.get())) {
        const std::optional<pid_t> pid = ParseNumber<pid_t>(p->d_name);
        if (!pid) continue;
        const std::string base = std::string("/proc/") + p->d_name;
        DirPtr fds(::opendir((base + "/fd").c_str()));
        if (!fds) continue;  // gone, or another user's process that we may not look into
        bool holds = false;
        bool publishes = false;
        while (const dirent* f = ::readdir(fds.get())) {
            const std::optional<int> fd = ParseNumber<int>(f->d_name);
            if (!fd || (*pid == self && *fd == ownFd)) continue;
            struct stat st {};
            if (::stat((base + "/fd/" + f->d_name).c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
                continue;
            }
            if (st.st_rdev == rdev) {
                holds = true;
            } else if (ptyIndex && major(st.st_rdev) == kPtmxMajor &&
                       minor(st.st_rdev) == kPtmxMinor &&
                       MasterIndex(base + "/fdinfo/" + f->d_name) == ptyIndex) {
                publishes = true;
            }
        }
        if (holds && !publishes) return pid;
    }
    return std::nullopt;
}

// The process named in a lock file: ASCII (HDB style, as today's programs write it) or the
// 4-byte binary number of old ones.
std::optional<pid_t> ReadLockOwner(const std::string& path) {
    const std::string text = ReadSmallFile(path);
    if (const auto pid = ParseNumber<pid_t>(Trim(text)); pid && *pid > 0) return pid;
    if (text.size() == sizeof(std::int32_t)) {
        std::int32_t pid = 0;
        std::memcpy(&pid, text.data(), sizeof pid);
        if (pid > 0) return pid;
    }
    return std::nullopt;
}

bool ProcessAlive(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

struct LockTaken {};
struct LockNotMade {};    // no lock folder we may write: the other locks still hold
struct LockedUnknown {};  // a lock file whose owner cannot be told (perhaps being written)
using LockTake = std::variant<LockTaken, LockNotMade, LockedUnknown, pid_t>;

// Creates the lock file with our process number. A lock of a process that no longer exists is
// stale and replaced; a live one (ours included: another port object) refuses the port.
LockTake TakeLockFile(const std::string& path) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd) {
            char text[16];
            const int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
            if (::write(fd.get(), text, static_cast<std::size_t>(n)) != n) {
                ::unlink(path.c_str());
                return LockNotMade{};
            }
            return LockTaken{};
        }
        if (errno != EEXIST) return LockNotMade{};
        const std::optional<pid_t> owner = ReadLockOwner(path);
        if (!owner) return LockedUnknown{};
        if (ProcessAlive(*owner)) return *owner;
        ::unlink(path.c_str());
    }
    return LockedUnknown{};
}

std::string ReadLink(const std::string& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

Timing& SystemTiming() {
    static MonotonicTiming timing;
    return timing;
}

std::string PortFolder() {
    if (const char* dir = std::getenv("NORVANE_PORT_DIR"); dir && *dir) return dir;
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) {
        return std::string(run) + "/norvane/ports";
    }
    return "/run/norvane/ports";
}

std::string PortName(int portNo) {
    return "COM" + std::to_string(portNo);
}

std::optional<std::string> PortDevicePath(int portNo) {
    if (portNo < 1 || portNo > kMaxPortNo) return std::nullopt;
    const std::string link = PortFolder() + "/" + PortName(portNo);
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) return link;
    struct Range {
        int first;
        const char* prefix;
    };
    static constexpr Range kRanges[] = {{1, "/dev/ttyS"}, {33, "/dev/ttyUSB"}, {65, "/dev/ttyACM"}};
    for (const Range& r : kRanges) {
        if (portNo >= r.first && portNo < r.first + 32) {
            return r.prefix + std::to_string(portNo - r.first);
        }
    }
    return std::nullopt;
}

bool IsPublishedPort(int portNo) {
    if (portNo < 1 || portNo > kMaxPortNo) return false;
    struct stat st {};
    return ::lstat((PortFolder() + "/" + PortName(portNo)).c_str(), &st) == 0;
}

std::string LockFolder() {
    if (const char* dir = std::getenv("NORVANE_LOCK_DIR"); dir && *dir) return dir;
    return "/run/lock";
}

std::string LockFilePath(const std::string& devicePath) {
    std::string_view name = devicePath;
    if (name.starts_with("/dev/")) name.remove_prefix(5);
    std::string flat(name);
    std::replace(flat.begin(), flat.end(), '/', '_');
    return LockFolder() + "/LCK.." + flat;
}

Status TtyPort::Open(int portNo) {
    const std::optional<std::string> path = PortDevicePath(portNo);
    if (!path) return Error{PortName(portNo) + ": no such port"};
    return OpenPath(*path);
}

Status TtyPort::OpenPath(const std::string& path) {
    Close();
    // The device itself, not the link to it: locks and holders are the device's.
    std::string device;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        device = real;
        std::free(real);
    } else {
        return Error{SystemError(path, errno)};
    }
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return Error{SystemError(path, errno)};
    if (!S_ISCHR(st.st_mode)) return Error{path + ": not a serial port"};

    // Lock file first, as every UUCP-style program does: it is the cheapest refusal and is
    // decided before the device is even opened.
    const std::string lockFile = LockFilePath(device);
    const LockTake take = TakeLockFile(lockFile);
    if (const auto* owner = std::get_if<pid_t>(&take)) {
        return Error{path + ": in use (locked by process " + std::to_string(*owner) + ")"};
    }
    if (std::holds_alternative<LockedUnknown>(take)) return Error{path + ": in use (locked)"};
    const bool ownLock = std::holds_alternative<LockTaken>(take);
    auto fail = [&](const std::string& what, int err) {
        if (ownLock) ::unlink(lockFile.c_str());
        return Error{err != 0 ? SystemError(path + ": " + what, err) : path + ": " + what};
    };

    // Opening neither writes nor changes a setting; whatever is found next closes it unused.
    UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        const int err = errno;
        return fail(err == EBUSY ? "in use (opened exclusively)" : "cannot open", err);
    }
    if (!::isatty(fd.get())) return fail("not a serial port", 0);
    // flock also shuts out root, whom TIOCEXCL lets through.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return fail("in use (flock)", 0);
    int exclusive = 0;
    if (::ioctl(fd.get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        return fail("in use (opened exclusively)", 0);  // we are root: the open let us through
    }
    if (const std::optional<pid_t> holder = OtherHolder(st.st_rdev, fd.get())) {
        return fail("in use by process " + std::to_string(*holder), 0);
    }
    if (::ioctl(fd.get(), TIOCEXCL) != 0) {
        const int err = errno;
        return fail("cannot open exclusively", err);
    }
    termios found{};
    if (::tcgetattr(fd.get(), &found) == 0) found_ = found;
    // A COM port opens with an empty input queue; a pseudo-terminal keeps what the device sent
    // to an earlier client. (Output is not flushed: on a pseudo-terminal that would discard what
    // an earlier client wrote and the device has not yet read.)
    ::tcflush(fd.get(), TCIFLUSH);
    fd_ = std::move(fd);
    if (ownLock) lockFile_ = lockFile;
    return {};
}
Status TtyPort::SetLineSettings(const LineSettings& s) {
    if (!fd_) return Error{"port not open"};
    termios tio{};
    if (::tcgetattr(fd_.get(), &tio) != 0) return Error{SystemError("tcgetattr", errno)};
    if (s.binary) {
        // Binary mode: no translation, no echo, no signals, and no XON/XOFF, which would swallow
        // the bytes 0x11 and 0x13 of the data. Hardware flow control stays as it is.
        tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXON | IXOFF | IXANY | IMAXBEL);
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    switch (s.dataBits) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        default:
            tio.c_cflag |= CS8;
            break;
    }
    switch (s.parity) {
        case Parity::kNone:
            break;
        case Parity::kOdd:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case Parity::kEven:
            tio.c_cflag |= PARENB;
            break;
        case Parity::kMark:
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case Parity::kSpace:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
    }
    if (s.parityCheck && s.parity != Parity::kNone) {
        tio.c_iflag |= INPCK;
    } else {
        tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    }
    if (s.stopBits != StopBits::kOne) tio.c_cflag |= CSTOPB;
    // A COM port ignores the carrier line unless told otherwise.
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const auto speed = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                    [&](const Speed& sp) { return sp.baud == s.baudRate; });
    Status result;
    if (speed == std::end(kSpeeds)) {
        result = Error{"unsupported baud rate " + std::to_string(s.baudRate)};
    } else {
        ::cfsetispeed(&tio, speed->code);
        ::cfsetospeed(&tio, speed->code);
    }
    if (s.stopBits == StopBits::kOneAndHalf) result = Error{"1.5 stop bits are not supported"};
    if (::tcsetattr(fd_.get(), TCSANOW, &tio) != 0) return Error{SystemError("tcsetattr", errno)};
    return result;
}

Status TtyPort::SetTimeouts(const Timeouts& timeouts) {
    if (!fd_) return Error{"port not open"};
    timeouts_ = timeouts;
    return {};
}

std::size_t TtyPort::Read(std::span<std::uint8_t> buffer) {
    if (!fd_ || buffer.empty()) return 0;
    const Timeouts& t = timeouts_;
    const bool atOnce =
        t.readInterval == kMaxTimeout && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
    const bool firstByte = t.readInterval == kMaxTimeout && t.readTotalMultiplier == kMaxTimeout &&
                           t.readTotalConstant != 0 && t.readTotalConstant != kMaxTimeout;
    const std::int64_t start = timing_.NowNs();
    std::int64_t total = kNoDeadline;
    if (firstByte) {
        total = Deadline(start, t.readTotalConstant);
    } else if (!atOnce && (t.readTotalMultiplier != 0 || t.readTotalConstant != 0)) {
        total = Deadline(
            start, std::uint64_t{t.readTotalMultiplier} * buffer.size() + t.readTotalConstant);
    }
    const bool interval =
        !atOnce && !firstByte && t.readInterval != 0 && t.readInterval != kMaxTimeout;

    std::size_t got = 0;
    std::int64_t lastByte = 0;
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer.data() + got, buffer.size() - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            lastByte = timing_.NowNs();
            if (got == buffer.size() || firstByte) return got;
            continue;
        }
        if (n == 0) return got;  // hang-up
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return got;  // EIO: the device went away
        if (atOnce) return got;
        const std::int64_t now = timing_.NowNs();
        std::int64_t deadline = total;
        if (interval && got > 0) {
            deadline = std::min(deadline, Deadline(lastByte, t.readInterval));
        }
        const int waitMs = MsUntil(now, deadline);
        if (waitMs == 0) return got;
        pollfd p{fd_.get(), POLLIN, 0};
        const int r = timing_.Poll(&p, 1, waitMs);
        if (r < 0 && errno != EINTR) return got;
        if (r > 0 && (p.revents & POLLIN) == 0) return got;  // error or hang-up, no data
    }
}

std::size_t TtyPort::Write(std::span<const std::uint8_t> bytes) {
    if (!fd_) return 0;
    const Timeouts& t = timeouts_;
    std::int64_t deadline = kNoDeadline;
    if (t.writeTotalMultiplier != 0 || t.writeTotalConstant != 0) {
        deadline = Deadline(timing_.NowNs(), std::uint64_t{t.writeTotalMultiplier} * bytes.size() +
                                                 t.writeTotalConstant);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return done;
        const int waitMs = MsUntil(timing_.NowNs(), deadline);
        if (waitMs == 0) return done;
        pollfd p{fd_.get(), POLLOUT, 0};
        const int r = timing_.Poll(&p, 1, waitMs);
        if (r < 0 && errno != EINTR) return done;
        if (r > 0 && (p.revents & POLLOUT) == 0) return done;
    }
    return done;
}

void TtyPort::ClearErrors() {
    // A tty reports framing and parity errors in the data itself (or drops the byte); no error
    // state is left behind that would hold up the next read, so there is nothing to discard.
}

void TtyPort::PurgeInput() {
    if (fd_) ::tcflush(fd_.get(), TCIFLUSH);
}

void TtyPort::Close() {
    if (!fd_) return;
    if (found_) {
        // What we wrote leaves the line at our speed before the device gets its own back.
        for (int waited = 0; waited < kDrainLimitMs; ++waited) {
            int queued = 0;
            if (::ioctl(fd_.get(), TIOCOUTQ, &queued) != 0 || queued <= 0) break;
            ::usleep(1000);
        }
        ::tcsetattr(fd_.get(), TCSANOW, &*found_);
        found_.reset();
    }
    // TIOCEXCL outlives the close on a pseudo-terminal and would lock out every later open.
    ::ioctl(fd_.get(), TIOCNXCL);
    fd_.Reset();
    if (!lockFile_.empty()) {
        // Only if it is still ours: nobody else should have replaced a live lock, but be sure.
        if (ReadLockOwner(lockFile_) == ::getpid()) ::unlink(lockFile_.c_str());
        lockFile_.clear();
    }
}
Result<std::unique_ptr<PortLink>> PortLink::Publish(const std::string& folder, int portNo,
                                                    const std::string& device) {
    if (!paths::MakeDirs(folder)) {
        return Error{folder + ": cannot create the port folder: " + std::strerror(errno)};
    }
    std::unique_ptr<PortLink> p(new PortLink);
    const std::string name = PortName(portNo);
    p->link_ = paths::Join(folder, name);
    p->device_ = device;
    const std::string lockPath = paths::Join(folder, "." + name + ".lock");

    // The lock file says a simulator holds the port; one left behind means its owner died.
    bool leftBehind = false;
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        leftBehind = true;
        fd = ::open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (fd < 0) return Error{lockPath + ": " + std::strerror(errno)};
    p->lock_.Reset(fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return Error{name + " is already served by another simulator"};
    }
    p->lockPath_ = lockPath;

    struct stat st {};
    if (::lstat(p->link_.c_str(), &st) == 0 && !leftBehind) {
        struct stat target {};
        if (::stat(p->link_.c_str(), &target) == 0) {
            const std::string existing = p->link_;
            p->link_.clear();  // not ours: leave it alone
            return Error{existing + " already exists (" + ReadLink(existing) +
                         "); choose another port number"};
        }
    }
    const std::string tmp = paths::Join(folder, "." + name + "." + std::to_string(::getpid()));
    ::unlink(tmp.c_str());
    if (::symlink(device.c_str(), tmp.c_str()) != 0 ||
        ::rename(tmp.c_str(), p->link_.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        p->link_.clear();
        return Error{folder + ": cannot publish " + name + ": " + std::strerror(err)};
    }
    return p;
}

void PortLink::Remove() {
    if (!link_.empty() && ReadLink(link_) == device_) ::unlink(link_.c_str());
    link_.clear();
    if (lock_) {
        ::unlink(lockPath_.c_str());
        lock_.Reset();
    }
}

PortLink::~PortLink() {
    Remove();
}

PortFactory TtyPortFactory(Timing& timing) {
    return [&timing] { return std::make_unique<TtyPort>(timing); };
}

}  // namespace ys::serial
