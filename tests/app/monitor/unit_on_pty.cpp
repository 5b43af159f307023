#include "tests/app/monitor/unit_on_pty.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "tests/platform/port_holder.h"

namespace ys::test {
namespace {

// Bytes in flight through a pseudo-terminal arrive within microseconds; this only bounds a
// broken test.
constexpr int kDeliveryLimitMs = 10'000;

int InputQueued(int fd) {
    int n = 0;
    return ::ioctl(fd, TIOCINQ, &n) == 0 ? n : 0;
}

}  // namespace

// The tty backend, counting what the host writes and noting every close.
class UnitOnPty::CountingPort final : public serial::Port {
public:
    explicit CountingPort(UnitOnPty& owner) : owner_(owner), tty_(owner) {}
    ~CountingPort() override { Close(); }

    Status Open(int portNo) override {
        Status s = tty_.Open(portNo);
        if (s) ++owner_.opens_;
        return s;
    }
    bool IsOpen() const override { return tty_.IsOpen(); }
    Status SetLineSettings(const serial::LineSettings& s) override {
        return tty_.SetLineSettings(s);
    }
    Status SetTimeouts(const serial::Timeouts& t) override { return tty_.SetTimeouts(t); }
    std::size_t Read(std::span<std::uint8_t> buffer) override { return tty_.Read(buffer); }
    std::size_t Write(std::span<const std::uint8_t> bytes) override {
        const std::size_t n = tty_.Write(bytes);
        owner_.hostWritten_ += n;
        return n;
    }
    void ClearErrors() override { tty_.ClearErrors(); }
    void PurgeInput() override { tty_.PurgeInput(); }
    void Close() override {
        if (!tty_.IsOpen()) return;
        tty_.Close();
        ++owner_.closes_;
    }

private:
    UnitOnPty& owner_;
    serial::TtyPort tty_;
};

UnitOnPty::UnitOnPty(std::span<const std::uint8_t> image, monitor_unit::FaultConfig fault)
    : env_("NORVANE_PORT_DIR", folder_.File("ports")) {
    auto unit = monitor_unit::PtyUnit::Create(image, fault, {false, 115200});
    if (!unit) throw std::runtime_error(unit.error());
    unit_ = std::move(*unit);
    auto link = serial::PortLink::Publish(folder_.File("ports"), kPortNo, unit_->slavePath());
    if (!link) throw std::runtime_error(link.error());
    link_ = std::move(*link);
    watch_ = ::open(unit_->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

UnitOnPty::~UnitOnPty() {
    if (watch_ >= 0) ::close(watch_);
}

monitor::LinkIo UnitOnPty::Io() {
    return {[this] { return std::make_unique<CountingPort>(*this); },
            [this](std::chrono::milliseconds d) {
                sleeps_.push_back(d);
                nowNs_ += d.count() * 1'000'000;
                if (sleepHook_) sleepHook_(static_cast<int>(sleeps_.size()));
            }};
}

void UnitOnPty::CatchUpWithHost() {
    while (unit_->bytesReceived() < hostWritten_) {
        pollfd p{unit_->masterFd(), POLLIN, 0};
        if (::poll(&p, 1, kDeliveryLimitMs) <= 0) {
            ADD_FAILURE() << "the host's bytes never reached the unit";
            return;
        }
        (void)unit_->Service(0);
    }
}

int UnitOnPty::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    CatchUpWithHost();
    const int fd = fds[0].fd;
    const int queuedBefore = InputQueued(fd);
    const std::uint64_t writtenBefore = unit_->bytesWritten();
    (void)unit_->Service(0);
    const auto answered = static_cast<int>(unit_->bytesWritten() - writtenBefore);
    if (answered > 0) {
        // The host sits in this call, so nobody else takes bytes out of the queue meanwhile.
        while (InputQueued(fd) < queuedBefore + answered) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, kDeliveryLimitMs) <= 0) {
                ADD_FAILURE() << "the unit's answer never reached the host";
                break;
            }
            if (InputQueued(fd) < queuedBefore + answered) ::sched_yield();  // mid-push
        }
    }
    const int ready = ::poll(fds, count, 0);
    if (ready != 0) return ready;
    // The unit has said all it will: the wait runs out in virtual time.
    if (timeoutMs > 0) nowNs_ += static_cast<std::int64_t>(timeoutMs) * 1'000'000;
    return 0;
}

void UnitOnPty::SendStray(const std::vector<std::uint8_t>& bytes) {
    const int before = InputQueued(watch_);
    ASSERT_EQ(::write(unit_->masterFd(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
    while (InputQueued(watch_) < before + static_cast<int>(bytes.size())) {
        pollfd p{watch_, POLLIN, 0};
        ASSERT_GT(::poll(&p, 1, kDeliveryLimitMs), 0);
        if (InputQueued(watch_) < before + static_cast<int>(bytes.size())) ::sched_yield();
    }
}

void UnitOnPty::SetTerminalLine() {
    line_ = test::SetTerminalLine(watch_);
}

bool UnitOnPty::LineIsAsSet() const {
    termios now{};
    return ::tcgetattr(watch_, &now) == 0 && SameLine(now, line_);
}

bool UnitOnPty::PortIsFree() const {
    int exclusive = 0;
    if (::ioctl(watch_, TIOCGEXCL, &exclusive) != 0 || exclusive != 0) return false;
    serial::TtyPort probe;
    return static_cast<bool>(probe.Open(kPortNo));
}

}  // namespace ys::test
