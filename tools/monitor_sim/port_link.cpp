#include "tools/monitor_sim/port_link.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/paths.h"
#include "platform/serial.h"

namespace ys::monitor_unit {
namespace {

std::string ReadLink(const std::string& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

Result<std::unique_ptr<PortLink>> PortLink::Publish(const std::string& folder, int portNo,
                                                    const std::string& device) {
    if (!paths::MakeDirs(folder)) {
        return Error{folder + ": cannot create the port folder: " + std::strerror(errno)};
    }
    std::unique_ptr<PortLink> p(new PortLink);
    const std::string name = serial::PortName(portNo);
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
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return Error{name + " is already served by another simulator"};
    }
    p->lockFd_ = fd;
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
    if (lockFd_ >= 0) {
        ::unlink(lockPath_.c_str());
        ::close(lockFd_);
        lockFd_ = -1;
    }
}

PortLink::~PortLink() {
    Remove();
}

}  // namespace ys::monitor_unit
