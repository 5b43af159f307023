// Another program on a pseudo-terminal: a forked child that holds the port side open (with the
// locks it is told to take) until the object goes away. It can keep the master side too, as a
// program that publishes the port does.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>

namespace ys::test {

enum class HoldLock { kNone, kFlock, kExclusive };

class PortHolder {
public:
    // Holds `path` open (with `lock`); with `masterFd` >= 0 the child keeps that descriptor as
    // well. An empty path holds nothing: a live process to name in a lock file.
    PortHolder(const std::string& path, HoldLock lock, int masterFd = -1);
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;  // closing it lets the child end
};

// Sets the port side `fd` as a terminal program leaves it (9600 baud, canonical mode, echo) and
// returns the settings as the device now reports them.
termios SetTerminalLine(int fd);
// Whether two line settings are the same in every field a port could change.
bool SameLine(const termios& a, const termios& b);

// The number of a process that has ended (and was reaped): a stale lock's owner.
pid_t DeadPid();

}  // namespace ys::test
