#include "tools/qtxportd/pty_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace ys::portd {
namespace {

// While the port is open, line settings that come without bytes are noticed within this time.
constexpr int kLineCheckMs = 10;
constexpr std::size_t kChunk = 4096;
// Reads started in one turn of the loop at most.
constexpr int kReadsPerTurn = 16;
// The longest wait for the hang-up after the last close (it normally follows at once).
constexpr int kCloseWaitMs = 1000;

}  // namespace

PtyBridge::PtyBridge(ComEndpoint& endpoint, BridgeEvents events)
    : endpoint_(endpoint), events_(std::move(events)) {}

Result<std::unique_ptr<PtyBridge>> PtyBridge::Create(ComEndpoint& endpoint, BridgeEvents events) {
    std::unique_ptr<PtyBridge> b(new PtyBridge(endpoint, std::move(events)));
    auto fail = [](const std::string& what) { return Error{what + ": " + std::strerror(errno)}; };
    b->master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!b->master_) return fail("posix_openpt");
    if (::grantpt(b->master_.get()) != 0) return fail("grantpt");
    if (::unlockpt(b->master_.get()) != 0) return fail("unlockpt");
    char name[128];
    if (::ptsname_r(b->master_.get(), name, sizeof name) != 0) return fail("ptsname");
    b->slavePath_ = name;
    // Termios calls on the master act on the slave: raw until a program sets its own, so that
    // nothing the device sends is echoed back to it or translated.
    termios tio{};
    if (::tcgetattr(b->master_.get(), &tio) != 0) return fail("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&tio, B115200);
    if (::tcsetattr(b->master_.get(), TCSANOW, &tio) != 0) return fail("tcsetattr");
    b->inotify_.Reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!b->inotify_) return fail("inotify_init1");
    if (::inotify_add_watch(b->inotify_.get(), name, IN_OPEN | IN_CLOSE) < 0) return fail(name);
    b->stopFd_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!b->stopFd_) return fail("eventfd");
    b->wakeFd_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!b->wakeFd_) return fail("eventfd");
    PtyBridge* raw = b.get();
    b->control_ = std::thread([raw] {
        raw->controlId_ = std::this_thread::get_id();
        raw->ControlLoop();
    });
    return b;
}

PtyBridge::~PtyBridge() {
    Stop();
}

void PtyBridge::Stop() {
    std::lock_guard lock(stopMutex_);
    if (!control_.joinable()) return;
    stopping_ = true;
    const std::uint64_t one = 1;
    (void)!::write(stopFd_.get(), &one, sizeof one);
    control_.join();
}

void PtyBridge::Fail(const std::string& what) {
    if (events_.failed) events_.failed(what);
}

void PtyBridge::ApplyLine() {
    lineFresh_ = true;
    termios tio{};
    if (::tcgetattr(master_.get(), &tio) != 0) return;
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
    readFailed_ = false;
    ApplyLine();
    Pump();
    if (events_.opened) events_.opened();
}

void PtyBridge::OnClose() {
    if (!open_) return;
    endpoint_.StopRead();
    {
        // What the closed program did not read goes with it.
        std::lock_guard lock(pumpMutex_);
        toProgram_.clear();
        reading_ = false;
        readError_.clear();
    }
    endpoint_.Close();
    open_ = false;
    if (events_.closed) events_.closed();
}

PtyBridge::Drained PtyBridge::DrainMaster() {
    Drained d;
    std::uint8_t buf[kChunk];
    for (;;) {
        const ssize_t n = ::read(master_.get(), buf, sizeof buf);
        if (n > 0) {
            d.bytes.insert(d.bytes.end(), buf, buf + n);
            // A short read took all there was: more, or the hang-up, wakes the next poll.
            if (static_cast<std::size_t>(n) < sizeof buf) return d;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // EAGAIN: a program has the slave open and nothing more is there. EIO: none has it open
        // and everything written before its close has been read (a read of an empty master
        // first waits for the bytes still being pushed through).
        d.hungUp = !(n < 0 && errno == EAGAIN);
        return d;
    }
}

void PtyBridge::Deliver(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || !open_) return;  // a session whose port never opened drops them
    ApplyLine();  // settings made before these bytes were written reach the device first
    const std::size_t taken = endpoint_.Write(bytes);
    toDevice_ += taken;
    if (taken != bytes.size()) {
        Fail("write: the device took " + std::to_string(taken) + " of " +
             std::to_string(bytes.size()) + " bytes");
    }
}

std::size_t PtyBridge::WriteToMasterNow(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(master_.get(), bytes.data() + done, bytes.size() - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
        } else if (w < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // full until the program reads (or gone: the close will follow)
        }
    }
    fromDevice_ += done;
    return done;
}

void PtyBridge::ReadEnded(Result<std::span<const std::uint8_t>> bytes) {
    // On this loop's thread the bytes wait for the end of its turn (Pump): the program, woken by
    // them, may take this thread's processor, and the rest of the turn should not wait for it.
    // From another thread they go straight to the program, unless earlier bytes still wait.
    const bool wake = std::this_thread::get_id() != controlId_;
    {
        std::lock_guard lock(pumpMutex_);
        reading_ = false;
        if (!bytes) {
            readError_ = bytes.error();
        } else if (!bytes->empty()) {
            std::span<const std::uint8_t> rest = *bytes;
            if (wake && toProgram_.empty()) rest = rest.subspan(WriteToMasterNow(rest));
            toProgram_.insert(toProgram_.end(), rest.begin(), rest.end());
        }
    }
    if (wake) {
        const std::uint64_t one = 1;
        (void)!::write(wakeFd_.get(), &one, sizeof one);
    }
}

void PtyBridge::Pump() {
    // The next read starts before the bytes go to the program (see ReadEnded), and only while
    // less than kChunk bytes wait for the program: beyond that the device's bytes wait in the
    // port's buffer, whose flow control holds back the rest. A read that ends at once is
    // followed by the next one here; a few times only, so that a port that answers every read at
    // once with nothing cannot hold the loop.
    for (int reads = 0; reads < kReadsPerTurn; ++reads) {
        std::string error;
        bool start = false;
        {
            std::lock_guard lock(pumpMutex_);
            error = std::exchange(readError_, {});
            if (!error.empty()) readFailed_ = true;
            start = open_ && !readFailed_ && !reading_ && toProgram_.size() < kChunk;
            if (start) reading_ = true;
        }
        if (!error.empty()) Fail("read: " + error);
        if (!start) break;
        endpoint_.StartRead(
            [this](Result<std::span<const std::uint8_t>> r) { ReadEnded(std::move(r)); });
    }
    std::lock_guard lock(pumpMutex_);
    if (!toProgram_.empty()) {
        const std::size_t n = WriteToMasterNow(toProgram_);
        toProgram_.erase(toProgram_.begin(), toProgram_.begin() + static_cast<std::ptrdiff_t>(n));
    }
}

bool PtyBridge::ToProgramWaiting() {
    std::lock_guard lock(pumpMutex_);
    return !toProgram_.empty();
}

// The inotify events since the last call, in order: +1 for an open of the slave, -1 for a close.
std::vector<int> PtyBridge::TakeOpenEvents() {
    std::vector<int> out;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(inotify_.get(), buf, sizeof buf);
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

// Which program wrote a byte is known only from the order of the byte and the inotify events:
// the master is read before the events are taken, so bytes read while no open is waiting among
// the events were all written by the program of the session under way (or by the one that just
// closed it). Bytes read while a new open is waiting may be the new program's; they go to the new
// session, where nothing is lost (at worst the last bytes of a program that closed at that very
// moment reach the device at the start of the next session, still in order).
void PtyBridge::ControlLoop() {
    using Clock = std::chrono::steady_clock;
    int openers = 0;
    bool closing = false;  // the last program closed; its last bytes may still be on their way
    Clock::time_point closeDeadline;
    std::vector<std::uint8_t> carried;
    while (!stopping_) {
        // The master reports POLLHUP at once while no slave is open: watch it only in a session.
        const bool watchMaster = openers > 0 || closing;
        const short toProgram = open_ && ToProgramWaiting() ? POLLOUT : 0;
        pollfd fds[4] = {{stopFd_.get(), POLLIN, 0},
                         {wakeFd_.get(), POLLIN, 0},
                         {inotify_.get(), POLLIN, 0},
                         {master_.get(), static_cast<short>(POLLIN | toProgram), 0}};
        const int r = ::poll(fds, watchMaster ? 4 : 3, open_ || closing ? kLineCheckMs : -1);
        if (r < 0 && errno != EINTR) {
            Fail(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (fds[0].revents & POLLIN) break;
        lineFresh_ = false;
        if (fds[1].revents & POLLIN) {
            std::uint64_t n = 0;
            (void)!::read(wakeFd_.get(), &n, sizeof n);
        }
        Drained d = watchMaster ? DrainMaster() : Drained{};
        const std::vector<int> events = TakeOpenEvents();
        // The last event that starts a session, if any: the bytes just read may be its program's.
        std::size_t lastStart = events.size();
        for (std::size_t i = 0, n = static_cast<std::size_t>(openers); i < events.size(); ++i) {
            if (events[i] > 0 && n++ == 0) lastStart = i;
            if (events[i] < 0 && n > 0) --n;
        }
        if (lastStart < events.size()) {
            // Even a hang-up does not tell them apart: the new program may have written and
            // closed again before the read.
            carried.insert(carried.end(), d.bytes.begin(), d.bytes.end());
        } else {
            Deliver(d.bytes);  // the session under way wrote them
        }
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (events[i] > 0) {
                if (++openers > 1) continue;
                if (closing) {
                    OnClose();
                    closing = false;
                }
                OnOpen();
                if (i == lastStart) {
                    Deliver(carried);
                    carried.clear();
                }
            } else if (openers > 0 && --openers == 0) {
                closing = true;
                closeDeadline = Clock::now() + std::chrono::milliseconds(kCloseWaitMs);
            }
        }
        if (closing && (d.hungUp || Clock::now() >= closeDeadline)) {
            OnClose();
            closing = false;
        }
        if (open_) {
            if (!lineFresh_) ApplyLine();
            Pump();
        }
    }
    OnClose();
}

}  // namespace ys::portd
