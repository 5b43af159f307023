#include "tests/platform/port_holder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

namespace ys::test {
namespace {

constexpr int kReadyFd = 100;
constexpr int kReleaseFd = 101;
constexpr int kMasterFd = 102;

// Runs in the forked child: only async-signal-safe calls. Everything the test process holds
// (its own pseudo-terminal masters above all) is closed first, so that the child holds exactly
// what it is told to.
[[noreturn]] void Hold(const char* path, HoldLock lock, int ready, int release, int master) {
    ::dup2(ready, kReadyFd);
    ::dup2(release, kReleaseFd);
    if (master >= 0) ::dup2(master, kMasterFd);
    ::close_range(3, kReadyFd - 1, 0);
    ::close_range(master >= 0 ? kMasterFd + 1 : kReleaseFd + 1, ~0U, 0);
    char ok = 1;
    if (*path != '\0') {
        const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) ok = 0;
        if (lock == HoldLock::kFlock && ::flock(fd, LOCK_EX | LOCK_NB) != 0) ok = 0;
        if (lock == HoldLock::kExclusive && ::ioctl(fd, TIOCEXCL) != 0) ok = 0;
    }
    (void)!::write(kReadyFd, &ok, 1);
    char c;
    while (::read(kReleaseFd, &c, 1) > 0) {
    }
    ::_exit(0);
}

}  // namespace

PortHolder::PortHolder(const std::string& path, HoldLock lock, int masterFd) {
    int ready[2], release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) Hold(path.c_str(), lock, ready[1], release[0], masterFd);
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char ok = 0;
    if (pid_ < 0 || ::read(ready[0], &ok, 1) != 1 || ok != 1) {
        ADD_FAILURE() << "the holder did not take " << path;
    }
    ::close(ready[0]);
}

PortHolder::~PortHolder() {
    if (release_ >= 0) ::close(release_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
}

termios SetTerminalLine(int fd) {
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfsetspeed(&tio, B9600);
    tio.c_lflag |= ICANON | ECHO | ISIG;
    tio.c_iflag |= ICRNL | IXON;
    tio.c_oflag |= OPOST;
    ::tcsetattr(fd, TCSANOW, &tio);
    ::tcgetattr(fd, &tio);
    return tio;
}

bool SameLine(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && ::cfgetospeed(&a) == ::cfgetospeed(&b) &&
           ::cfgetispeed(&a) == ::cfgetispeed(&b) &&
           std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc));
}

pid_t DeadPid() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

}  // namespace ys::test
