// The COM port layer on real pseudo-terminals: port names, exclusive open, line settings and the
// Windows time-out semantics, the waits run in virtual time.
#include "platform/serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/platform/port_holder.h"
#include "tests/support/temp_dir.h"

namespace ys::serial {
namespace {

using test::HoldLock;
using test::PortHolder;
using test::SameLine;
using test::ScopedEnv;
using test::SetTerminalLine;
using test::TempDir;

// Waits in virtual time: a poll that finds nothing ready lets the whole time-out pass at once.
class VirtualTiming : public Timing {
public:
    std::int64_t NowNs() override { return now_; }
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
        const int r = ::poll(fds, count, 0);
        if (r == 0 && timeoutMs > 0) now_ += std::int64_t{timeoutMs} * 1'000'000;
        return r;
    }
    std::int64_t elapsedMs() const { return now_ / 1'000'000; }
    void Reset() { now_ = 0; }

private:
    std::int64_t now_ = 0;
};

// A pseudo-terminal: the device side (master) and a watcher on the port side that never reads.
class Pty {
public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(master_, 0);
        EXPECT_EQ(::grantpt(master_), 0);
        EXPECT_EQ(::unlockpt(master_), 0);
        char name[128];
        EXPECT_EQ(::ptsname_r(master_, name, sizeof name), 0);
        path_ = name;
        watch_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        // Raw on both sides, as a device and a port set up for binary data are.
        for (int fd : {master_, watch_}) {
            termios tio{};
            ::tcgetattr(fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
    }
    ~Pty() {
        if (watch_ >= 0) ::close(watch_);
        if (master_ >= 0) ::close(master_);
    }
    const std::string& path() const { return path_; }
    int watch() const { return watch_; }
    int master() const { return master_; }

    // The device sends bytes; returns once the port side holds them all.
    void Send(const std::vector<std::uint8_t>& bytes) {
        int before = Queued();
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        while (Queued() < before + static_cast<int>(bytes.size())) {
            pollfd p{watch_, POLLIN, 0};
            ASSERT_GT(::poll(&p, 1, 10'000), 0);
        }
    }
    // What the port wrote to the device (waits for `n` bytes).
    std::vector<std::uint8_t> Receive(std::size_t n) {
        std::vector<std::uint8_t> got;
        while (got.size() < n) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10'000) <= 0) break;
            std::uint8_t buf[4096];
            const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }
    void CloseDevice() {
        ::close(master_);
        master_ = -1;
    }
    int Queued() const {
        int n = 0;
        ::ioctl(watch_, TIOCINQ, &n);
        return n;
    }
    // Bytes the port side wrote that the device has not read, without waiting.
    int DeviceQueued() const {
        int n = 0;
        ::ioctl(master_, FIONREAD, &n);
        return n;
    }
    bool ExclusiveFlag() const {
        int on = 0;
        ::ioctl(watch_, TIOCGEXCL, &on);
        return on != 0;
    }

private:
    int master_ = -1;
    int watch_ = -1;
    std::string path_;
};

TEST(PortDevicePath, TheFolderLinkComesFirstThenTheFixedDevices) {
    TempDir dir;
    ScopedEnv folder("NORVANE_PORT_DIR", dir.path());
    ASSERT_EQ(::symlink("/dev/null", dir.File("COM5").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/gone", dir.File("COM200").c_str()), 0);  // dangling still counts
    EXPECT_EQ(PortDevicePath(5), dir.File("COM5"));
    EXPECT_EQ(PortDevicePath(200), dir.File("COM200"));
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(PortDevicePath(32), "/dev/ttyS31");
    EXPECT_EQ(PortDevicePath(33), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath(64), "/dev/ttyUSB31");
    EXPECT_EQ(PortDevicePath(65), "/dev/ttyACM0");
    EXPECT_EQ(PortDevicePath(96), "/dev/ttyACM31");
    EXPECT_EQ(PortDevicePath(97), std::nullopt);
    EXPECT_EQ(PortDevicePath(0), std::nullopt);
    EXPECT_EQ(PortDevicePath(256), std::nullopt);
    EXPECT_EQ(PortName(12), "COM12");
}

TEST(IsPublishedPort, OnlyTheLinksOfThePortFolder) {
    TempDir dir;
    ScopedEnv folder("NORVANE_PORT_DIR", dir.path());
    ASSERT_EQ(::symlink("/dev/null", dir.File("COM5").c_str()), 0);
    EXPECT_TRUE(IsPublishedPort(5));
    EXPECT_FALSE(IsPublishedPort(1));  // /dev/ttyS0 is never searched
    EXPECT_FALSE(IsPublishedPort(0));
    EXPECT_EQ(LockFilePath("/dev/ttyS0").substr(LockFolder().size()), "/LCK..ttyS0");
}

TEST(PortFolder, FromTheEnvironmentInOrder) {
    {
        ScopedEnv a("NORVANE_PORT_DIR", "/x/ports");
        ScopedEnv b("XDG_RUNTIME_DIR", "/run/user/1000");
        EXPECT_EQ(PortFolder(), "/x/ports");
    }
    {
        ScopedEnv a("NORVANE_PORT_DIR", "");
        ScopedEnv b("XDG_RUNTIME_DIR", "/run/user/1000");
        EXPECT_EQ(PortFolder(), "/run/user/1000/norvane/ports");
    }
    {
        ScopedEnv a("NORVANE_PORT_DIR", "");
        ScopedEnv b("XDG_RUNTIME_DIR", "");
        EXPECT_EQ(PortFolder(), "/run/norvane/ports");
    }
}

TEST(TtyPort, OpensExclusivelyAndReleasesThePortOnClose) {
    Pty pty;
    TtyPort a, b;
    ASSERT_TRUE(a.OpenPath(pty.path()));
    EXPECT_TRUE(pty.ExclusiveFlag());
    EXPECT_FALSE(b.OpenPath(pty.path()));  // even for root: the flock holds
    a.Close();
    EXPECT_FALSE(pty.ExclusiveFlag());  // would otherwise lock out every later open
    EXPECT_TRUE(b.OpenPath(pty.path()));
    {
        TtyPort c;
        EXPECT_FALSE(c.OpenPath(pty.path()));
    }
    b.Close();
    {
        TtyPort scoped;
        ASSERT_TRUE(scoped.OpenPath(pty.path()));
    }  // the destructor closes
    EXPECT_FALSE(pty.ExclusiveFlag());
    EXPECT_TRUE(a.OpenPath(pty.path()));
}

std::string LockText(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

// Another program's hold on the port, however it shows it, refuses the open before a byte is
// written or a setting changed; the program that publishes the port (it holds the master side)
// does not count, nor does a lock file left by a process that has ended.
TEST(TtyPort, APortAnotherProgramHoldsIsRefusedUntouched) {
    struct Case {
        const char* name;
        bool holdPort;  // the other process has the port side open
        HoldLock lock;
        bool alsoMaster;  // ... and the master side: it publishes the port
        enum { kNoLockFile, kLiveLock, kDeadLock } lockFile;
        bool refused;
    };
    const Case cases[] = {
        {"held without any lock", true, HoldLock::kNone, false, Case::kNoLockFile, true},
        {"held with flock", true, HoldLock::kFlock, true, Case::kNoLockFile, true},
        {"held with TIOCEXCL", true, HoldLock::kExclusive, true, Case::kNoLockFile, true},
        {"lock file of a live process", false, HoldLock::kNone, false, Case::kLiveLock, true},
        {"lock file of an ended process", false, HoldLock::kNone, false, Case::kDeadLock, false},
        {"held by its publisher", true, HoldLock::kNone, true, Case::kNoLockFile, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir locks;
        ScopedEnv lockDir("NORVANE_LOCK_DIR", locks.path());
        Pty pty;
        const termios before = SetTerminalLine(pty.watch());
        PortHolder other(c.holdPort ? pty.path() : std::string(), c.lock,
                         c.alsoMaster ? pty.master() : -1);
        const std::string lockFile = LockFilePath(pty.path());
        EXPECT_EQ(lockFile, locks.path() + "/LCK..pts_" + pty.path().substr(9));
        if (c.lockFile != Case::kNoLockFile) {
            const pid_t owner = c.lockFile == Case::kLiveLock ? other.pid() : test::DeadPid();
            locks.Write(lockFile.substr(locks.path().size() + 1), LockText(owner));
        }

        TtyPort port;
        const Status s = port.OpenPath(pty.path());
        termios during{};
        ::tcgetattr(pty.watch(), &during);
        if (c.refused) {
            ASSERT_FALSE(s);
            EXPECT_NE(s.error().find("in use"), std::string::npos) << s.error();
            EXPECT_FALSE(port.IsOpen());
            EXPECT_EQ(port.Write(std::vector<std::uint8_t>{0x65, 0x00, 0x9B}), 0u);
            EXPECT_TRUE(SameLine(during, before));
            if (c.lockFile == Case::kLiveLock) {
                EXPECT_EQ(test::ReadFile(lockFile), LockText(other.pid()));  // left alone
            }
        } else {
            ASSERT_TRUE(s) << s.error();
            EXPECT_EQ(test::ReadFile(lockFile), LockText(::getpid()));
            // While we hold it, nobody else gets it.
            TtyPort second;
            EXPECT_FALSE(second.OpenPath(pty.path()));
            port.Close();
            EXPECT_FALSE(::access(lockFile.c_str(), F_OK) == 0);  // removed with the close
        }
        EXPECT_EQ(pty.DeviceQueued(), 0);
    }
}

TEST(TtyPort, TheLineSettingsFoundAtOpenAreGivenBackAtClose) {
    Pty pty;
    const termios before = SetTerminalLine(pty.watch());
    {
        TtyPort port;
        ASSERT_TRUE(port.OpenPath(pty.path()));
        ASSERT_TRUE(port.SetLineSettings({}));
        termios during{};
        ::tcgetattr(pty.watch(), &during);
        EXPECT_FALSE(SameLine(during, before));
    }  // the destructor closes
    termios after{};
    ::tcgetattr(pty.watch(), &after);
    EXPECT_TRUE(SameLine(after, before));
    EXPECT_FALSE(pty.ExclusiveFlag());
}

TEST(TtyPort, RefusesWhatIsNotASerialPort) {
    TempDir dir;
    TtyPort port;
    const Status s = port.OpenPath(dir.Write("file", "x"));
    EXPECT_FALSE(s);
    EXPECT_NE(s.error().find("not a serial port"), std::string::npos);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.OpenPath(dir.File("missing")));
    ScopedEnv folder("NORVANE_PORT_DIR", dir.path());
    EXPECT_FALSE(port.Open(250));
}

TEST(TtyPort, OpensWithAnEmptyInputQueueAndPurgesOnRequest) {
    Pty pty;
    pty.Send({1, 2, 3});  // left over from an earlier client
    VirtualTiming timing;
    TtyPort port(timing);
    ASSERT_TRUE(port.OpenPath(pty.path()));
    ASSERT_TRUE(port.SetTimeouts({kMaxTimeout, 0, 0, 0, 0}));
    std::uint8_t buf[8];
    EXPECT_EQ(port.Read(buf), 0u);
    pty.Send({4, 5});
    port.PurgeInput();
    EXPECT_EQ(port.Read(buf), 0u);
    pty.Send({6});
    EXPECT_EQ(port.Read(buf), 1u);
}

TEST(TtyPort, LineSettingsMakeABinary8N1LineAndKeepHardwareFlowControl) {
    Pty pty;
    termios before{};
    ASSERT_EQ(::tcgetattr(pty.watch(), &before), 0);
    before.c_cflag |= CRTSCTS;
    before.c_iflag |= IXON | ICRNL;
    before.c_lflag |= ECHO | ICANON;
    before.c_cflag |= PARENB;
    ASSERT_EQ(::tcsetattr(pty.watch(), TCSANOW, &before), 0);

    TtyPort port;
    ASSERT_TRUE(port.OpenPath(pty.path()));
    EXPECT_TRUE(port.SetLineSettings({}));
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.watch(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B115200);
    EXPECT_EQ(::cfgetispeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);  // flow control stays as it was
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);

    LineSettings odd;
    odd.baudRate = 9600;
    odd.dataBits = 7;
    odd.parity = Parity::kEven;
    odd.parityCheck = true;
    odd.stopBits = StopBits::kTwo;
    EXPECT_TRUE(port.SetLineSettings(odd));
    ASSERT_EQ(::tcgetattr(pty.watch(), &t), 0);
    // (A pseudo-terminal keeps 8 bits without parity whatever it is told.)
    EXPECT_EQ(::cfgetospeed(&t), B9600);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_NE(t.c_iflag & INPCK, 0u);

    odd.baudRate = 12345;
    EXPECT_FALSE(port.SetLineSettings(odd));
}

class ReadTimeouts : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(port.OpenPath(pty.path()));
        (void)port.SetLineSettings({});
    }
    // Reads `n` bytes with the time-outs; returns the count, the virtual time in elapsedMs.
    std::size_t ReadWith(const Timeouts& t, std::size_t n) {
        EXPECT_TRUE(port.SetTimeouts(t));
        timing.Reset();
        std::vector<std::uint8_t> buf(n);
        const std::size_t got = port.Read(buf);
        data.assign(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(got));
        return got;
    }

    Pty pty;
    VirtualTiming timing;
    TtyPort port{timing};
    std::vector<std::uint8_t> data;
};

TEST_F(ReadTimeouts, NothingArrivingEndsAfterTheTotal) {
    EXPECT_EQ(ReadWith({30, 15, 750, 15, 750}, 5), 0u);
    EXPECT_EQ(timing.elapsedMs(), 5 * 15 + 750);
    EXPECT_EQ(ReadWith({30, 15, 750, 15, 750}, 133), 0u);
    EXPECT_EQ(timing.elapsedMs(), 133 * 15 + 750);
}

TEST_F(ReadTimeouts, AGapAfterTheFirstBytesEndsAfterTheInterval) {
    pty.Send({7, 8});
    EXPECT_EQ(ReadWith({30, 15, 750, 15, 750}, 5), 2u);
    EXPECT_EQ(data, (std::vector<std::uint8_t>{7, 8}));
    EXPECT_EQ(timing.elapsedMs(), 30);
    // Without an interval limit only the total ends it.
    pty.Send({9});
    EXPECT_EQ(ReadWith({0, 15, 750, 0, 0}, 5), 1u);
    EXPECT_EQ(timing.elapsedMs(), 825);
}

TEST_F(ReadTimeouts, AllBytesThereReturnAtOnce) {
    pty.Send({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(ReadWith({30, 15, 750, 15, 750}, 5), 5u);
    EXPECT_EQ(timing.elapsedMs(), 0);
    EXPECT_EQ(ReadWith({30, 15, 750, 15, 750}, 1), 1u);
    EXPECT_EQ(data, (std::vector<std::uint8_t>{6}));
}

TEST_F(ReadTimeouts, SpecialCombinationsOfTheWindowsStructure) {
    // Return at once with whatever is there.
    EXPECT_EQ(ReadWith({kMaxTimeout, 0, 0, 0, 0}, 5), 0u);
    EXPECT_EQ(timing.elapsedMs(), 0);
    pty.Send({1, 2});
    EXPECT_EQ(ReadWith({kMaxTimeout, 0, 0, 0, 0}, 5), 2u);
    // Return with the first bytes, or empty after the constant.
    EXPECT_EQ(ReadWith({kMaxTimeout, kMaxTimeout, 100, 0, 0}, 5), 0u);
    EXPECT_EQ(timing.elapsedMs(), 100);
    pty.Send({3});
    EXPECT_EQ(ReadWith({kMaxTimeout, kMaxTimeout, 100, 0, 0}, 5), 1u);
    EXPECT_EQ(timing.elapsedMs(), 0);
}

TEST_F(ReadTimeouts, ADeviceThatGoesAwayEndsTheReadAtOnce) {
    pty.CloseDevice();
    EXPECT_EQ(ReadWith({30, 15, 750, 15, 750}, 5), 0u);
    EXPECT_EQ(timing.elapsedMs(), 0);  // no waiting for bytes that cannot come
}

TEST(TtyPort, WritesReachTheDeviceAndAFullLineTimesOut) {
    Pty pty;
    VirtualTiming timing;
    TtyPort port(timing);
    ASSERT_TRUE(port.OpenPath(pty.path()));
    (void)port.SetLineSettings({});
    ASSERT_TRUE(port.SetTimeouts({30, 15, 750, 15, 750}));
    const std::vector<std::uint8_t> frame = {0x65, 0x01, 0x06, 0x94};
    EXPECT_EQ(port.Write(frame), 4u);
    EXPECT_EQ(pty.Receive(4), frame);

    // Nobody reads the device side: the queue fills up and the write gives up at its total.
    const std::vector<std::uint8_t> lots(1 << 20, 0x55);
    const std::size_t written = port.Write(lots);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, lots.size());
    EXPECT_EQ(timing.elapsedMs(), 15 * static_cast<std::int64_t>(lots.size()) + 750);
}

TEST(TtyPort, OperationsOnAClosedPortDoNothing) {
    TtyPort port;
    std::uint8_t buf[4] = {};
    EXPECT_EQ(port.Read(buf), 0u);
    EXPECT_EQ(port.Write(buf), 0u);
    EXPECT_FALSE(port.SetLineSettings({}));
    EXPECT_FALSE(port.SetTimeouts({}));
    port.ClearErrors();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

}  // namespace
}  // namespace ys::serial
