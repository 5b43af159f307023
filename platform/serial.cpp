#include "platform/serial.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

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

Status TtyPort::Open(int portNo) {
    const std::optional<std::string> path = PortDevicePath(portNo);
    if (!path) return Error{PortName(portNo) + ": no such port"};
    return OpenPath(*path);
}

Status TtyPort::OpenPath(const std::string& path) {
    Close();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Error{SystemError(path, errno)};
    auto fail = [&](const std::string& what) {
        const int err = errno;
        ::close(fd);
        return Error{SystemError(path + ": " + what, err)};
    };
    if (!::isatty(fd)) return fail("not a serial port");
    // flock also shuts out root, whom TIOCEXCL lets through.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail("in use");
    if (::ioctl(fd, TIOCEXCL) != 0) return fail("cannot open exclusively");
    // A COM port opens with an empty input queue; a pseudo-terminal keeps what the device sent
    // to an earlier client. (Output is not flushed: on a pseudo-terminal that would discard what
    // an earlier client wrote and the device has not yet read.)
    ::tcflush(fd, TCIFLUSH);
    fd_ = fd;
    return {};
}

Status TtyPort::SetLineSettings(const LineSettings& s) {
    if (fd_ < 0) return Error{"port not open"};
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return Error{SystemError("tcgetattr", errno)};
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
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return Error{SystemError("tcsetattr", errno)};
    return result;
}

Status TtyPort::SetTimeouts(const Timeouts& timeouts) {
    if (fd_ < 0) return Error{"port not open"};
    timeouts_ = timeouts;
    return {};
}

std::size_t TtyPort::Read(std::span<std::uint8_t> buffer) {
    if (fd_ < 0 || buffer.empty()) return 0;
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
        const ssize_t n = ::read(fd_, buffer.data() + got, buffer.size() - got);
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
        pollfd p{fd_, POLLIN, 0};
        const int r = timing_.Poll(&p, 1, waitMs);
        if (r < 0 && errno != EINTR) return got;
        if (r > 0 && (p.revents & POLLIN) == 0) return got;  // error or hang-up, no data
    }
}

std::size_t TtyPort::Write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) return 0;
    const Timeouts& t = timeouts_;
    std::int64_t deadline = kNoDeadline;
    if (t.writeTotalMultiplier != 0 || t.writeTotalConstant != 0) {
        deadline = Deadline(timing_.NowNs(), std::uint64_t{t.writeTotalMultiplier} * bytes.size() +
                                                 t.writeTotalConstant);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return done;
        const int waitMs = MsUntil(timing_.NowNs(), deadline);
        if (waitMs == 0) return done;
        pollfd p{fd_, POLLOUT, 0};
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
    if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
}

void TtyPort::Close() {
    if (fd_ < 0) return;
    // TIOCEXCL outlives the close on a pseudo-terminal and would lock out every later open.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

PortFactory TtyPortFactory(Timing& timing) {
    return [&timing] { return std::make_unique<TtyPort>(timing); };
}

}  // namespace ys::serial
