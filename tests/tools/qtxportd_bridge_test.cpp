// The pseudo-terminal bridge against a recording COM port: a program's open and close become the
// port's, its line settings reach the port before the bytes written after them, and long random
// streams cross in both directions at once without a byte lost or out of order.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#include "tools/qtxportd/pty_bridge.h"

namespace ys::test {
namespace {

using portd::LineRequest;

// Bounds a broken test only; nothing here waits on time to pass.
constexpr auto kLimit = std::chrono::seconds(20);

class RecordingPort final : public portd::ComEndpoint {
public:
    Status Open() override {
        std::lock_guard lock(m_);
        log_.push_back("open");
        cv_.notify_all();
        if (failOpen_) return Error{"no device"};
        ++session_;
        open_ = true;
        return {};
    }
    void Close() override {
        std::lock_guard lock(m_);
        log_.push_back("close");
        open_ = false;
        cv_.notify_all();
    }
    Status SetLine(const LineRequest& line) override {
        std::lock_guard lock(m_);
        log_.push_back("line " + std::to_string(line.baudRate) + " " +
                       std::to_string(line.dataBits) + " " +
                       std::to_string(static_cast<int>(line.parity)) + " " +
                       std::to_string(line.stopBits) + (line.rtsCtsFlow ? " rtscts" : ""));
        cv_.notify_all();
        return {};
    }
    std::size_t Write(std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(m_);
        if (log_.empty() || log_.back() != "data") log_.push_back("data");
        written_.insert(written_.end(), bytes.begin(), bytes.end());
        sessionOf_.insert(sessionOf_.end(), bytes.size(), open_ ? session_ : 0);
        cv_.notify_all();
        return bytes.size();
    }
    // A read ends at once with what is waiting, or later from Send on the test's thread.
    void StartRead(ReadEnd ended) override {
        std::unique_lock lock(m_);
        if (toProgram_.empty()) {
            pendingRead_ = std::move(ended);
            return;
        }
        const Bytes bytes = TakeLocked();
        ++ending_;
        lock.unlock();
        ended(std::span<const std::uint8_t>(bytes));
        EndedOne();
    }
    void StopRead() override {
        std::unique_lock lock(m_);
        ReadEnd ended = std::exchange(pendingRead_, nullptr);
        if (ended) {
            ++ending_;
            lock.unlock();
            ended(std::span<const std::uint8_t>());
            EndedOne();
            lock.lock();
        }
        cv_.wait(lock, [&] { return ending_ == 0; });  // a Send still passing bytes on
    }

    // Test side.
    void Send(const std::vector<std::uint8_t>& bytes) {
        std::unique_lock lock(m_);
        toProgram_.insert(toProgram_.end(), bytes.begin(), bytes.end());
        ReadEnd ended = std::exchange(pendingRead_, nullptr);
        if (!ended) return;
        const Bytes taken = TakeLocked();
        ++ending_;
        lock.unlock();
        ended(std::span<const std::uint8_t>(taken));
        EndedOne();
    }
    template <class Pred>
    bool WaitFor(Pred pred) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, kLimit, [&] { return pred(log_, written_); });
    }
    std::vector<std::string> log() {
        std::lock_guard lock(m_);
        return log_;
    }
    std::vector<std::uint8_t> written() {
        std::lock_guard lock(m_);
        return written_;
    }
    // The session (1, 2, ...) each written byte reached; 0 for a byte written to a closed port.
    std::vector<int> sessionOf() {
        std::lock_guard lock(m_);
        return sessionOf_;
    }
    void FailOpen(bool f) {
        std::lock_guard lock(m_);
        failOpen_ = f;
    }

private:
    using Bytes = std::vector<std::uint8_t>;
    Bytes TakeLocked() {
        const std::size_t n = std::min<std::size_t>(toProgram_.size(), 4096);
        Bytes taken(toProgram_.begin(), toProgram_.begin() + static_cast<std::ptrdiff_t>(n));
        toProgram_.erase(toProgram_.begin(), toProgram_.begin() + static_cast<std::ptrdiff_t>(n));
        return taken;
    }
    void EndedOne() {
        std::lock_guard lock(m_);
        --ending_;
        cv_.notify_all();
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::vector<std::string> log_;
    std::vector<std::uint8_t> written_;
    std::vector<int> sessionOf_;
    int session_ = 0;
    bool open_ = false;
    std::deque<std::uint8_t> toProgram_;
    ReadEnd pendingRead_;
    int ending_ = 0;  // reads being ended outside the lock
    bool failOpen_ = false;
};

using Log = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

int OpenSlave(const std::string& path, speed_t speed = B115200, tcflag_t flags = CS8) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= flags | CLOCAL | CREAD;
    ::cfsetspeed(&t, speed);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

void WriteAll(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        ASSERT_GT(w, 0);
        done += static_cast<std::size_t>(w);
    }
}

Bytes ReadExactly(int fd, std::size_t n) {
    Bytes out;
    std::uint8_t buf[4096];
    while (out.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20'000) <= 0) break;  // bounds a broken test
        const ssize_t r = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
        if (r <= 0) break;
        out.insert(out.end(), buf, buf + r);
    }
    return out;
}

Bytes RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

bool Count(const Log& log, const std::string& what, std::size_t n) {
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), what)) >= n;
}

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto b = portd::PtyBridge::Create(port);
        ASSERT_TRUE(b.ok()) << b.error();
        bridge = std::move(*b);
    }
    RecordingPort port;
    std::unique_ptr<portd::PtyBridge> bridge;
};

TEST_F(BridgeTest, EachOpenAndCloseOfTheSlaveIsOneSessionOfThePort) {
    for (int session = 1; session <= 2; ++session) {
        const int fd = OpenSlave(bridge->slavePath());
        ASSERT_TRUE(port.WaitFor([&](const Log& l, const Bytes&) {
            return Count(l, "open", static_cast<std::size_t>(session));
        }));
        ::close(fd);
        ASSERT_TRUE(port.WaitFor([&](const Log& l, const Bytes&) {
            return Count(l, "close", static_cast<std::size_t>(session));
        }));
    }
    // A close followed at once by the next open (a probe, then the transfer) is still two.
    const int a = OpenSlave(bridge->slavePath());
    ::close(a);
    const int b = OpenSlave(bridge->slavePath());
    ASSERT_TRUE(port.WaitFor([](const Log& l, const Bytes&) { return Count(l, "open", 4); }));
    ::close(b);
    ASSERT_TRUE(port.WaitFor([](const Log& l, const Bytes&) { return Count(l, "close", 4); }));
    Log opens;
    for (const std::string& e : port.log()) {
        if (e == "open" || e == "close") opens.push_back(e);
    }
    EXPECT_EQ(opens, (Log{"open", "close", "open", "close", "open", "close", "open", "close"}));
}

// A program that closes the port and opens it again at once, then sets it up and writes straight
// away (as a terminal-style client does), loses nothing: every byte reaches the port, in order,
// in a session that began after the program opened it.
TEST_F(BridgeTest, EveryByteWrittenRightAfterAReopenReachesThePort) {
    constexpr int kCycles = 150;
    Bytes all;
    std::vector<int> cycleOf;
    int fd = OpenSlave(bridge->slavePath());
    for (int i = 0; i < kCycles; ++i) {
        ::tcflush(fd, TCIFLUSH);
        const Bytes request = {0x65, static_cast<std::uint8_t>(i), 0x9B};
        WriteAll(fd, request);
        all.insert(all.end(), request.begin(), request.end());
        cycleOf.insert(cycleOf.end(), request.size(), i);
        ::close(fd);
        fd = OpenSlave(bridge->slavePath());
    }
    ::close(fd);
    ASSERT_TRUE(port.WaitFor([&](const Log& l, const Bytes&) {
        return Count(l, "close", kCycles + 1);
    })) << port.written().size()
        << " of " << all.size() << " bytes";
    EXPECT_TRUE(port.written() == all) << port.written().size() << " of " << all.size();
    const std::vector<int> sessions = port.sessionOf();
    ASSERT_EQ(sessions.size(), all.size());
    for (std::size_t k = 0; k < sessions.size(); ++k) {
        // Program i opened session i + 1 (or a later one, if the bytes came with the next open).
        ASSERT_GE(sessions[k], cycleOf[k] + 1) << "byte " << k << " of program " << cycleOf[k];
    }
    EXPECT_TRUE(Count(port.log(), "open", kCycles + 1));
}

TEST_F(BridgeTest, LineSettingsReachThePortBeforeTheBytesWrittenAfterThem) {
    const int fd = OpenSlave(bridge->slavePath(), B9600, CS7 | PARENB | CSTOPB);
    WriteAll(fd, {0x65, 0x00, 0x9B});
    ASSERT_TRUE(port.WaitFor([](const Log&, const Bytes& w) { return w.size() == 3; }));
    termios t{};
    ::tcgetattr(fd, &t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    t.c_cflag |= CS8 | CRTSCTS;
    ::cfsetspeed(&t, B115200);
    ::tcsetattr(fd, TCSANOW, &t);
    WriteAll(fd, {0x01});
    ASSERT_TRUE(port.WaitFor([](const Log&, const Bytes& w) { return w.size() == 4; }));
    ::close(fd);
    ASSERT_TRUE(port.WaitFor([](const Log& l, const Bytes&) { return Count(l, "close", 1); }));
    const Log log = port.log();
    // The first settings may be seen at the open (still the raw defaults) or with the bytes.
    Log settled;
    for (const std::string& e : log) {
        if (e != "line 115200 8 0 1") settled.push_back(e);
    }
    // The pseudo-terminal keeps speed, stop bits and flow control, but forces 8 data bits and
    // clears the parity bit of every setting made on it: 7E2 arrives as 8N2.
    EXPECT_EQ(settled, (Log{"open", "line 9600 8 0 2", "data", "line 115200 8 0 1 rtscts", "data",
                            "close"}));
}

TEST_F(BridgeTest, LongRandomStreamsCrossBothWaysUnharmed) {
    const int fd = OpenSlave(bridge->slavePath());
    ASSERT_TRUE(port.WaitFor([](const Log& l, const Bytes&) { return Count(l, "open", 1); }));
    const Bytes up = RandomBytes(1 << 20, 1);
    const Bytes down = RandomBytes(1 << 20, 2);
    // The device sends in uneven pieces while the program writes.
    std::thread device([&] {
        std::mt19937 rng(3);
        for (std::size_t at = 0; at < down.size();) {
            const std::size_t n = std::min<std::size_t>(1 + rng() % 3000, down.size() - at);
            port.Send(Bytes(down.begin() + static_cast<long>(at),
                            down.begin() + static_cast<long>(at + n)));
            at += n;
        }
    });
    std::thread writer([&] { WriteAll(fd, up); });
    const Bytes got = ReadExactly(fd, down.size());
    writer.join();
    device.join();
    ASSERT_TRUE(port.WaitFor([&](const Log&, const Bytes& w) { return w.size() >= up.size(); }));
    EXPECT_TRUE(got == down) << got.size() << " of " << down.size() << " bytes, or reordered";
    EXPECT_TRUE(port.written() == up) << port.written().size() << " of " << up.size();
    ::close(fd);
}

TEST_F(BridgeTest, TheLastBytesBeforeACloseStillReachThePort) {
    const Bytes tail = RandomBytes(20000, 4);
    const int fd = OpenSlave(bridge->slavePath());
    WriteAll(fd, tail);
    ::close(fd);
    ASSERT_TRUE(port.WaitFor([](const Log& l, const Bytes&) { return Count(l, "close", 1); }));
    EXPECT_TRUE(port.written() == tail) << port.written().size();
    EXPECT_EQ(port.log().back(), "close");
}

TEST_F(BridgeTest, APortThatFailsToOpenLosesNothingOfTheNextSession) {
    port.FailOpen(true);
    const int fd = OpenSlave(bridge->slavePath());
    ASSERT_TRUE(port.WaitFor([](const Log& l, const Bytes&) { return Count(l, "open", 1); }));
    WriteAll(fd, {1, 2, 3});  // nowhere to go: dropped with the session...
    ::close(fd);
    port.FailOpen(false);
    const int again = OpenSlave(bridge->slavePath());
    ASSERT_TRUE(port.WaitFor([](const Log& l, const Bytes&) { return Count(l, "open", 2); }));
    WriteAll(again, {7});
    ASSERT_TRUE(
        port.WaitFor([](const Log&, const Bytes& w) { return !w.empty() && w.back() == 7; }));
    // ... unless they were still unread when the next program opened: then they cannot be told
    // from its own bytes and go with them rather than risk losing those.
    EXPECT_TRUE(port.written() == Bytes{7} || port.written() == (Bytes{1, 2, 3, 7}));
    EXPECT_EQ(port.sessionOf(), std::vector<int>(port.written().size(), 1));
    port.Send({9, 8});
    EXPECT_EQ(ReadExactly(again, 2), (Bytes{9, 8}));
    ::close(again);
    ASSERT_TRUE(port.WaitFor([](const Log& l, const Bytes&) { return Count(l, "close", 1); }));
}

TEST_F(BridgeTest, StoppingWithTheSlaveOpenClosesThePort) {
    const int fd = OpenSlave(bridge->slavePath());
    ASSERT_TRUE(port.WaitFor([](const Log& l, const Bytes&) { return Count(l, "open", 1); }));
    bridge->Stop();
    EXPECT_EQ(port.log().back(), "close");
    EXPECT_FALSE(bridge->portOpen());
    ::close(fd);
}

}  // namespace
}  // namespace ys::test
