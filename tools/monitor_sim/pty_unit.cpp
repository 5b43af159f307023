#include "tools/monitor_sim/pty_unit.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ys::monitor_unit {
namespace {

// Output is handed to the pty in batches of this span of line time, except that the last byte
// of an answer is never held back: a frame completes exactly when the line says.
constexpr std::int64_t kBatchNs = 1'000'000;

Status MakeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return Error{std::strerror(errno)};
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return Error{std::strerror(errno)};
    return {};
}

// The length of the unit's frame that starts at `start` of `bytes`: a header or a block by its
// tag; anything else runs to the end.
std::size_t FrameLength(const std::vector<std::uint8_t>& bytes, std::size_t start) {
    if (bytes.size() - start >= 2 && bytes[start] == kHeaderTag[0]) {
        if (bytes[start + 1] == kHeaderTag[1]) return kHeaderFrameSize;
        if (bytes[start + 1] == kBlockTag[1]) return kBlockFrameSize;
    }
    return bytes.size() - start;
}

}  // namespace

PtyUnit::PtyUnit(std::span<const std::uint8_t> image, FaultConfig fault, LineTiming timing)
    : model_(image, fault), timing_(timing) {}

PtyUnit::~PtyUnit() = default;

Result<std::unique_ptr<PtyUnit>> PtyUnit::Create(std::span<const std::uint8_t> image,
                                                 FaultConfig fault, LineTiming timing) {
    std::unique_ptr<PtyUnit> unit(new PtyUnit(image, fault, timing));
    auto fail = [](const char* what) {
        return Error{std::string(what) + ": " + std::strerror(errno)};
    };
    unit->master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!unit->master_) return fail("posix_openpt");
    if (::grantpt(unit->master_.get()) != 0) return fail("grantpt");
    if (::unlockpt(unit->master_.get()) != 0) return fail("unlockpt");
    char name[128];
    if (::ptsname_r(unit->master_.get(), name, sizeof name) != 0) return fail("ptsname");
    unit->slavePath_ = name;
    unit->slaveKeepAlive_.Reset(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!unit->slaveKeepAlive_) return fail(name);
    // Without this the slave would echo and translate the unit's bytes until a client sets it.
    if (Status s = MakeRaw(unit->slaveKeepAlive_.get()); !s) return Error{"slave: " + s.error()};
    if (Status s = MakeRaw(unit->master_.get()); !s) return Error{"master: " + s.error()};
    const int flags = ::fcntl(unit->master_.get(), F_GETFL);
    if (flags < 0 || ::fcntl(unit->master_.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        return fail("fcntl");
    }
    return unit;
}

void PtyUnit::Take(std::uint8_t byte, std::int64_t arrivalNs) {
    const int requestsBefore = model_.requestsReceived();
    const std::vector<std::uint8_t> answer = model_.Receive(std::span(&byte, 1));
    if (model_.requestsReceived() != requestsBefore) {
        // A new request starts over: what an abandoned transfer still had to say is dropped.
        out_.clear();
    }
    const std::int64_t byteNs = timing_.ByteNs();
    std::int64_t t = std::max(arrivalNs, outFreeNs_);
    std::size_t frameStart = 0;
    for (std::size_t i = 0; i < answer.size(); ++i) {
        t += byteNs;
        out_.push_back({answer[i], t});
        if (timing_.wholeFrames && i + 1 == frameStart + FrameLength(answer, frameStart)) {
            // Every byte of the frame leaves with its last one.
            for (std::size_t k = out_.size() - (i + 1 - frameStart); k < out_.size(); ++k) {
                out_[k].dueNs = t;
            }
            frameStart = i + 1;
        }
    }
    if (!answer.empty()) outFreeNs_ = t;
}

void PtyUnit::WriteDue(std::int64_t nowNs) {
    writeBlocked_ = false;
    std::uint8_t chunk[512];
    while (!out_.empty() && out_.front().dueNs <= nowNs) {
        std::size_t n = 0;
        while (n < sizeof chunk && n < out_.size() && out_[n].dueNs <= nowNs) {
            chunk[n] = out_[n].byte;
            ++n;
        }
        const ssize_t w = ::write(master_.get(), chunk, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            // EAGAIN: the slave's input is full (nobody reads); wait until it drains. Any other
            // error keeps the bytes for later too: the simulator must outlive its clients.
            writeBlocked_ = errno == EAGAIN;
            return;
        }
        out_.erase(out_.begin(), out_.begin() + w);
        written_ += static_cast<std::uint64_t>(w);
    }
}

std::optional<std::int64_t> PtyUnit::Service(std::int64_t nowNs) {
    std::uint8_t buf[512];
    for (;;) {
        const ssize_t n = ::read(master_.get(), buf, sizeof buf);
        if (n > 0) {
            // The host may have started sending as soon as our last frame was through; the time
            // the bytes took to reach us through the pseudo-terminal overlaps their line time
            // instead of adding to it.
            const std::int64_t byteNs = timing_.ByteNs();
            inFreeNs_ = std::max({inFreeNs_, outFreeNs_, nowNs - n * byteNs});
            for (ssize_t i = 0; i < n; ++i) {
                inFreeNs_ += byteNs;
                Take(buf[i], std::max(nowNs, inFreeNs_));
            }
            received_ += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // EAGAIN, or EIO while no slave is open
    }
    WriteDue(nowNs);
    if (out_.empty() || writeBlocked_) return std::nullopt;
    const std::int64_t next = out_.front().dueNs;
    return std::max(next, std::min(nowNs + kBatchNs, out_.back().dueNs));
}

}  // namespace ys::monitor_unit
