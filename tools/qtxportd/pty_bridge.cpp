#include "tools/qtxportd/pty_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ys::portd {
namespace {

// While the port is open, line settings that come without bytes are noticed within this time.
constexpr int kLineCheckMs = 10;
constexpr std::size_t kChunk = 4096;
// The longest wait for the hang-up after the last close (it normally follows at once).
constexpr int kCloseWaitMs = 1000;

}  // namespace

PtyBridge::PtyBridge(ComEndpoint& endpoint, BridgeEvents events)
    : endpoint_(endpoint), events_(std::move(events)) {}

Result<std::unique_ptr<PtyBridge>> PtyBridge::Create(ComEndpoint& endpoint, BridgeEvents events) {
    std::unique_ptr<PtyBridge> b(new PtyBridge(endpoint, std::move(events)));
    auto fail = [](const std::string& what) { return Error{what + ": " + std::strerror(errno)}; };
    b->master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (b->master_ < 0) return fail("posix_openpt");
    if (::grantpt(b->master_) != 0) return fail("grantpt");
    if (::unlockpt(b->master_) != 0) return fail("unlockpt");
    char name[128];
    if (::ptsname_r(b->master_, name, sizeof name) != 0) return fail("ptsname");
    b->slavePath_ = name;
    // Termios calls on the master act on the slave: raw until a program sets its own, so that
    // nothing the device sends is echoed back to it or translated.
    termios tio{};
    if (::tcgetattr(b->master_, &tio) != 0) return fail("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&tio, B115200);
    if (::tcsetattr(b->master_, TCSANOW, &tio) != 0) return fail("tcsetattr");
    b->inotify_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (b->inotify_ < 0) return fail("inotify_init1");
    if (::inotify_add_watch(b->inotify_, name, IN_OPEN | IN_CLOSE) < 0) return fail(name);
    b->stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (b->stopFd_ < 0) return fail("eventfd");
    PtyBridge* raw = b.get();
    b->control_ = std::thread([raw] { raw->ControlLoop(); });
    return b;
}

PtyBridge::~PtyBridge() {
    Stop();
    for (int fd : {master_, inotify_, stopFd_}) {
        if (fd >= 0) ::close(fd);
    }
}

void PtyBridge::Stop() {
    std::lock_guard lock(stopMutex_);
    if (!control_.joinable()) return;
    stopping_ = true;
    const std::uint64_t one = 1;
    (void)!::write(stopFd_, &one, sizeof one);
    control_.join();
}

void PtyBridge::Fail(const std::string& what) {
    if (events_.failed) events_.failed(what);
}

void PtyBridge::ApplyLine() {
    termios tio{};
    if (::tcgetattr(master_, &tio) != 0) return;
    const LineRequest now = LineRequestFromTermios(tio);
    if (lineKnown_ && now == line_) return;
    line_ = now;
    lineKnown_ = true;
    // A setting the port refuses leaves its previous one; the program learns nothing more from a
    // real serial port either.
    if (Status s = endpoint_.SetLine(now); !s) Fail("line settings: " + s.error());
    if (events_.lineSet) events_.lineSet(now);
}

void PtyBridge::OnOpen() {
    if (Status s = endpoint_.Open(); !s) {
        // The program sees a port that answers nothing, as with a unit that is not there.
        Fail("open: " + s.error());
        return;
    }
    open_ = true;
    lineKnown_ = false;
    ApplyLine();
    readerRun_ = true;
    reader_ = std::thread([this] { ReaderLoop(); });
    if (events_.opened) events_.opened();
}

void PtyBridge::OnClose() {
    if (!open_) return;
    readerRun_ = false;
    endpoint_.CancelRead();
    reader_.join();
    endpoint_.Close();
    open_ = false;
    if (events_.closed) events_.closed();
}

bool PtyBridge::ForwardToDevice() {
    std::uint8_t buf[kChunk];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            ApplyLine();  // settings made before these bytes were written reach the device first
            const std::size_t taken =
                endpoint_.Write(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)));
            toDevice_ += taken;
            if (taken != static_cast<std::size_t>(n)) {
                Fail("write: the device took " + std::to_string(taken) + " of " +
                     std::to_string(n) + " bytes");
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return true;
        return false;  // EIO: the slave side has closed and everything it wrote is read
    }
}

bool PtyBridge::WriteToMaster(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t w = ::write(master_, bytes.data(), bytes.size());
        if (w > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(w));
            fromDevice_ += static_cast<std::uint64_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN) return false;
        // The program is not reading: wait until it does, or until the port closes.
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, kLineCheckMs);
        if (!readerRun_) return false;
    }
    return true;
}

void PtyBridge::ReaderLoop() {
    std::uint8_t buf[kChunk];
    while (readerRun_) {
        Result<std::size_t> n = endpoint_.Read(buf);
        if (!n) {
            Fail("read: " + n.error());
            return;
        }
        if (*n > 0 && !WriteToMaster(std::span<const std::uint8_t>(buf, *n))) return;
    }
}

// The inotify events since the last call, in order: +1 for an open of the slave, -1 for a close.
std::vector<int> PtyBridge::TakeOpenEvents() {
    std::vector<int> out;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(inotify_, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
            if (e->mask & IN_OPEN) out.push_back(+1);
            if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) out.push_back(-1);
            off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    return out;
}

// The last program closed the slave. Its close is reported before the pseudo-terminal has
// finished closing, and its last bytes may still be on their way to the master: wait for the
// hang-up (or for the next program's open), forwarding what comes, then close the port.
void PtyBridge::EndSession(bool reopened) {
    for (int waited = 0; !reopened && waited < kCloseWaitMs; waited += kLineCheckMs) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {inotify_, POLLIN, 0}};
        ::poll(fds, 2, kLineCheckMs);
        if (fds[0].revents & POLLIN) {
            if (open_) {
                ForwardToDevice();
            } else {
                Discard();
            }
        }
        if ((fds[0].revents & POLLHUP) || (fds[1].revents & POLLIN)) break;
    }
    if (open_) {
        ForwardToDevice();
    } else {
        Discard();  // the port never opened: nothing the program wrote can go anywhere
    }
    OnClose();
}

void PtyBridge::Discard() {
    std::uint8_t buf[kChunk];
    while (::read(master_, buf, sizeof buf) > 0) {
    }
}

void PtyBridge::ControlLoop() {
    int openers = 0;
    while (!stopping_) {
        pollfd fds[3] = {{stopFd_, POLLIN, 0}, {inotify_, POLLIN, 0}, {master_, POLLIN, 0}};
        // The master reports POLLHUP at once while no slave is open: look at it only when open.
        const int r = ::poll(fds, open_ ? 3 : 2, open_ ? kLineCheckMs : -1);
        if (r < 0 && errno != EINTR) {
            Fail(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (fds[0].revents & POLLIN) break;
        if (open_ && (fds[2].revents & POLLIN)) ForwardToDevice();
        if (fds[1].revents & POLLIN) {
            const std::vector<int> events = TakeOpenEvents();
            for (std::size_t i = 0; i < events.size(); ++i) {
                if (events[i] > 0) {
                    if (++openers == 1) OnOpen();
                } else if (openers > 0 && --openers == 0) {
                    EndSession(i + 1 < events.size());
                }
            }
        }
        if (open_) ApplyLine();
    }
    OnClose();
}

}  // namespace ys::portd
