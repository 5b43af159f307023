// The bridge's COM-port side over the real driver stack (qtxvcom64 on qtxusb64 on the simulated
// bus): what the monitor unit's device model receives for each open, close and line setting,
// the memory image read through the published port, the port's end when the device goes, and a
// long random stream through every layer and back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "app/monitor/image_encoder.h"
#include "app/monitor/monitor_link.h"
#include "drivers/usb/descriptors.h"
#include "drivers/usb/monitor_unit_device.h"
#include "platform/serial.h"
#include "tests/support/temp_dir.h"
#include "tools/qtxportd/ported_device.h"

namespace ys::test {
namespace {

using portd::LineParity;
using portd::LineRequest;
using Bytes = std::vector<std::uint8_t>;

// Bounds a broken test only; nothing waits on time to pass.
constexpr auto kLimit = std::chrono::seconds(30);

portd::PortdConfig Config() {
    auto c = portd::LoadConfig(SourceDir() + "/resources/qtxportd/monitor_unit.ini");
    EXPECT_TRUE(c.ok()) << c.error();
    return *c;
}

Bytes Image() {
    monitor::MonitorHistory h;
    for (int m = 1; m <= 12; ++m) {
        h.months.entries.push_back({{23, m, 1}, static_cast<std::int16_t>(m * 37)});
    }
    const auto image = monitor::EncodeMemoryImage(h);
    return Bytes(image->begin(), image->end());
}

TEST(KernelComEndpoint, TheUnitReceivesTheOpenTheCloseAndEachLineSetting) {
    host::DriverStack stack(kernel::Dispatcher::CreateVirtual());
    const Bytes image = Image();
    auto unit = std::make_shared<usb::MonitorUnitDevice>(stack.kernel().dispatcher(), image);
    const portd::PortdConfig config = Config();
    kernel::DEVICE_OBJECT* pdo = nullptr;
    ASSERT_EQ(stack.Plug(unit, config.InstanceId("1"), portd::SettingsFor(config), &pdo),
              kernel::STATUS_SUCCESS);
    portd::KernelComEndpoint port(stack.kernel(), "COM3");
    ASSERT_TRUE(port.Open().ok());
    EXPECT_TRUE(unit->portOpen());
    EXPECT_EQ(unit->VendorCommands().at(0), (std::vector<kernel::UCHAR>{3, 1}));

    // One line-coding byte (EndPointCaps 1): baud index, bit 2 eight data bits, bit 3 two stop
    // bits, bit 4 even, bit 5 odd parity, bit 6 RTS/CTS.
    LineRequest line;
    line.baudRate = 9600;
    line.dataBits = 7;
    line.parity = LineParity::kEven;
    line.stopBits = 2;
    ASSERT_TRUE(port.SetLine(line).ok());
    EXPECT_EQ(unit->lineCoding(), (std::vector<kernel::UCHAR>{0x18}));
    ASSERT_TRUE(port.SetLine(LineRequest{}).ok());  // 115200 8N1
    EXPECT_EQ(unit->lineCoding(), (std::vector<kernel::UCHAR>{0x07}));
    line = LineRequest{};
    line.rtsCtsFlow = true;
    ASSERT_TRUE(port.SetLine(line).ok());
    EXPECT_EQ(unit->lineCoding(), (std::vector<kernel::UCHAR>{0x47}));
    // Mark parity and 57600 baud are the port's to refuse; the unit keeps its coding.
    line.parity = LineParity::kMark;
    EXPECT_FALSE(port.SetLine(line).ok());
    line = LineRequest{};
    line.baudRate = 57600;
    EXPECT_FALSE(port.SetLine(line).ok());
    EXPECT_EQ(unit->lineCoding(), (std::vector<kernel::UCHAR>{0x47}));

    // The request goes out and the header comes back through the read path.
    const Bytes request = {0x65, 0x00, 0x9B};
    EXPECT_EQ(port.Write(request), 3u);
    Bytes got;
    while (got.size() < 5) {
        bool ended = false;
        port.StartRead([&](Result<std::span<const std::uint8_t>> r) {
            ASSERT_TRUE(r.ok()) << r.error();
            got.insert(got.end(), r->begin(), r->end());
            ended = true;
        });
        while (!ended) stack.kernel().dispatcher().AdvanceBy(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(got[0], 0x65);
    EXPECT_EQ(got[1], 0x80);
    EXPECT_EQ(unit->requestsReceived(), 1);

    port.Close();
    EXPECT_FALSE(unit->portOpen());
    EXPECT_EQ(unit->VendorCommands().back(), (std::vector<kernel::UCHAR>{3, 0}));
    EXPECT_EQ(stack.Remove(pdo), kernel::STATUS_SUCCESS);
}

// What the bridge reports, for the test to wait on.
class Events {
public:
    portd::BridgeEvents Make() {
        portd::BridgeEvents e;
        e.opened = [this] { Note("open"); };
        e.closed = [this] { Note("close"); };
        e.lineSet = [this](const LineRequest& l) { Note("line " + std::to_string(l.baudRate)); };
        e.failed = [this](const std::string& what) { Note("failed " + what); };
        return e;
    }
    bool WaitCount(const std::string& what, std::size_t n) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, kLimit, [&] {
            return static_cast<std::size_t>(std::count(log_.begin(), log_.end(), what)) >= n;
        });
    }
    std::vector<std::string> log() {
        std::lock_guard lock(m_);
        return log_;
    }

private:
    void Note(const std::string& s) {
        std::lock_guard lock(m_);
        log_.push_back(s);
        cv_.notify_all();
    }
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<std::string> log_;
};

class PublishedPort : public ::testing::Test {
protected:
    void SetUp() override {
        unit = std::make_shared<usb::MonitorUnitDevice>(stack.kernel().dispatcher(), image);
        auto d =
            portd::PortedDevice::Start(stack, unit, config, "1", dir.File("ports"), events.Make());
        ASSERT_TRUE(d.ok()) << d.error();
        device = std::move(*d);
    }
    void SetTermios(int fd, speed_t speed, tcflag_t set, tcflag_t clear) {
        termios t{};
        ::tcgetattr(fd, &t);
        t.c_cflag &= ~clear;
        t.c_cflag |= set;
        ::cfsetspeed(&t, speed);
        ::tcsetattr(fd, TCSANOW, &t);
    }

    TempDir dir;
    ScopedEnv ports{"NORVANE_PORT_DIR", dir.File("ports")};
    portd::PortdConfig config = Config();
    Bytes image = Image();
    host::DriverStack stack{kernel::Dispatcher::CreateRealTime()};
    std::shared_ptr<usb::MonitorUnitDevice> unit;
    Events events;
    std::unique_ptr<portd::PortedDevice> device;
};

TEST_F(PublishedPort, OpeningClosingAndLineSettingsOfTheSlaveReachTheUnit) {
    EXPECT_EQ(serial::PortDevicePath(3), dir.File("ports") + "/COM3");
    serial::TtyPort port;
    ASSERT_TRUE(port.Open(3).ok());
    ASSERT_TRUE(events.WaitCount("open", 1));
    EXPECT_TRUE(unit->portOpen());
    EXPECT_EQ(unit->VendorCommands().at(0), (std::vector<kernel::UCHAR>{3, 1}));

    // The pseudo-terminal forces 8 data bits and drops parity; speed, stop bits and RTS/CTS
    // come through.
    SetTermios(port.fd(), B9600, CS7 | PARENB | CSTOPB, CSIZE | PARODD | CRTSCTS);
    ASSERT_TRUE(events.WaitCount("line 9600", 1));
    EXPECT_EQ(unit->lineCoding(), (std::vector<kernel::UCHAR>{0x0C}));
    SetTermios(port.fd(), B115200, CS8 | CRTSCTS, CSIZE | PARENB | CSTOPB);
    ASSERT_TRUE(events.WaitCount("line 115200", 2));
    EXPECT_EQ(unit->lineCoding(), (std::vector<kernel::UCHAR>{0x47}));
    SetTermios(port.fd(), B115200, CS8, CSIZE | PARENB | CSTOPB | CRTSCTS);
    ASSERT_TRUE(events.WaitCount("line 115200", 3));
    EXPECT_EQ(unit->lineCoding(), (std::vector<kernel::UCHAR>{0x07}));

    port.Close();
    ASSERT_TRUE(events.WaitCount("close", 1));
    EXPECT_FALSE(unit->portOpen());
    EXPECT_EQ(unit->VendorCommands().back(), (std::vector<kernel::UCHAR>{3, 0}));
}

TEST_F(PublishedPort, TheMonitorLinkReadsTheExactImageThroughEveryLayer) {
    monitor::MemoryImage got{};
    ASSERT_EQ(monitor::ProbeMonitorUnit(3), monitor::LinkResult::kSuccess);
    ASSERT_EQ(monitor::ReadMonitorImage(3, got), monitor::LinkResult::kSuccess);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), image.begin(), image.end()));
    ASSERT_TRUE(events.WaitCount("close", 2));
    EXPECT_EQ(unit->requestsReceived(), 2);
    EXPECT_EQ(unit->naksReceived(), 1);  // the probe's
    EXPECT_EQ(events.log().size(), 6u) << "open, line, close twice; no failure";
}

TEST_F(PublishedPort, WhenTheDeviceGoesTheLinkGoesAndTheProgramIsCutOff) {
    serial::TtyPort port;
    ASSERT_TRUE(port.Open(3).ok());
    ASSERT_TRUE(events.WaitCount("open", 1));
    const std::string link = device->linkPath();
    unit->Unplug();
    device->Depart();
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
    EXPECT_FALSE(serial::PortDevicePath(3) == link);
    // The program's side hangs up.
    pollfd p{port.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10'000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    EXPECT_TRUE(events.WaitCount("close", 1));
    port.Close();

    // Plugged in again, the port is back.
    auto again = std::make_shared<usb::MonitorUnitDevice>(stack.kernel().dispatcher(), image);
    auto d = portd::PortedDevice::Start(stack, again, config, "2", dir.File("ports"));
    ASSERT_TRUE(d.ok()) << d.error();
    monitor::MemoryImage got{};
    EXPECT_EQ(monitor::ReadMonitorImage(3, got), monitor::LinkResult::kSuccess);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), image.begin(), image.end()));
}

// A device that sends back whatever it receives, through the monitor unit's endpoints.
class LoopbackDevice final : public usb::SimUsbDevice {
public:
    explicit LoopbackDevice(kernel::Dispatcher& d)
        : SimUsbDevice(d, usb::BuildDeviceDescriptor(0xFFFE, 0x5201, 0x0100),
                       usb::MonitorUnitDevice::ConfigurationDescriptor({})) {}

protected:
    // Packet by packet, as a device echoes them: a short or zero-length packet ends the host's IN
    // transfer, which the queued bytes alone would not show once they run together.
    void OnOutData(kernel::UCHAR, std::span<const kernel::UCHAR> data) override {
        constexpr std::size_t kPacket = 64;
        QueueInData(usb::MonitorUnitDevice::kReceiveEndpoint, data);  // none: a zero-length one
        if (data.size() % kPacket != 0) QueueInData(usb::MonitorUnitDevice::kReceiveEndpoint, {});
    }
};

TEST(PublishedLoopback, ALongRandomStreamComesBackWhole) {
    TempDir dir;
    host::DriverStack stack(kernel::Dispatcher::CreateRealTime());
    auto loop = std::make_shared<LoopbackDevice>(stack.kernel().dispatcher());
    auto d = portd::PortedDevice::Start(stack, loop, Config(), "1", dir.File("ports"));
    ASSERT_TRUE(d.ok()) << d.error();
    const int fd = ::open((*d)->linkPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);

    Bytes sent(256 * 1024);
    std::mt19937 rng(5);
    for (auto& b : sent) b = static_cast<std::uint8_t>(rng());
    std::thread writer([&] {
        for (std::size_t at = 0; at < sent.size();) {
            const std::size_t n = std::min<std::size_t>(1 + rng() % 2000, sent.size() - at);
            const ssize_t w = ::write(fd, sent.data() + at, n);
            if (w <= 0) break;
            at += static_cast<std::size_t>(w);
        }
    });
    Bytes got;
    std::uint8_t buf[4096];
    while (got.size() < sent.size()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 30'000) <= 0) break;  // bounds a broken test
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r <= 0) break;
        got.insert(got.end(), buf, buf + r);
    }
    writer.join();
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "bytes lost or reordered";
    ::close(fd);
}

}  // namespace
}  // namespace ys::test
