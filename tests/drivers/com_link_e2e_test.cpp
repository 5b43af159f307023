// The monitor link through the whole stack: the COM-port backend, qtxvcom64, qtxusb64, the USB
// bus and the monitor unit's device model, in virtual time. The link is the one the GUI runs;
// only the port factory and the waits differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/monitor/monitor_link.h"
#include "drivers/host/driver_stack.h"
#include "drivers/host/kernel_com_port.h"
#include "drivers/usb/monitor_unit_device.h"
#include "tests/drivers/usbpipe_harness.h"

namespace ys::test {
namespace {

using namespace ys::kernel;
using monitor::LinkResult;
using monitor::MemoryImage;
using monitor_unit::FaultConfig;
using usb::MonitorUnitDevice;

constexpr int kPortNo = 3;

std::vector<UCHAR> PatternImage() {
    std::vector<UCHAR> image(monitor_unit::kImageSize);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<UCHAR>(i * 13 + i / 128 + 1);
    }
    return image;
}

host::DeviceSettings MonitorUnitSettings(ULONG endPointCaps = 1) {
    host::DeviceSettings s;
    s.Set("PortName", std::string("COM3"));
    s.Set("EndPointCaps", endPointCaps);
    return s;
}

// One monitor unit plugged into a stack of both drivers.
class Stack {
public:
    explicit Stack(FaultConfig fault = {}, bool realTime = false, ULONG endPointCaps = 1)
        : stack_(realTime ? Dispatcher::CreateRealTime() : Dispatcher::CreateVirtual()),
          realTime_(realTime) {
        MonitorUnitDevice::Options options;
        options.protocolFault = fault;
        unit_ = std::make_shared<MonitorUnitDevice>(stack_.kernel().dispatcher(), source_, options);
        EXPECT_STATUS(STATUS_SUCCESS, stack_.Plug(unit_, "USB\\VID_FFFE&PID_5201\\1",
                                                  MonitorUnitSettings(endPointCaps), &pdo_));
    }

    monitor::LinkIo Io() {
        return {host::KernelComPortFactory(stack_.kernel()), [this](std::chrono::milliseconds ms) {
                    if (realTime_) {
                        std::this_thread::sleep_for(ms);  // the link's own pause, not a sync
                    } else {
                        stack_.kernel().dispatcher().AdvanceBy(ms);
                    }
                }};
    }
    LONGLONG NowMs() { return stack_.kernel().dispatcher().Now() / 10'000; }

    host::DriverStack& stack() { return stack_; }
    MonitorUnitDevice& unit() { return *unit_; }
    DEVICE_OBJECT* pdo() { return pdo_; }
    const std::vector<UCHAR>& source() const { return source_; }

private:
    std::vector<UCHAR> source_ = PatternImage();
    host::DriverStack stack_;
    bool realTime_;
    std::shared_ptr<MonitorUnitDevice> unit_;
    DEVICE_OBJECT* pdo_ = nullptr;
};

bool SlotIs(const MemoryImage& image, const std::vector<UCHAR>& source, int slot) {
    return std::equal(image.begin() + slot * 128, image.begin() + (slot + 1) * 128,
                      source.begin() + slot * 128);
}
bool SlotIsZero(const MemoryImage& image, int slot) {
    return std::all_of(image.begin() + slot * 128, image.begin() + (slot + 1) * 128,
                       [](std::uint8_t b) { return b == 0; });
}

TEST(ComLinkEndToEnd, ProbeAndTransferReturnTheExactImageAndLeaveThePortClosed) {
    Stack s;
    EXPECT_EQ(monitor::ProbeMonitorUnit(kPortNo, s.Io()), LinkResult::kSuccess);
    MemoryImage image{};
    ASSERT_EQ(monitor::ReadMonitorImage(kPortNo, image, s.Io()), LinkResult::kSuccess);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), s.source().begin()));
    EXPECT_EQ(s.unit().requestsReceived(), 2);
    EXPECT_EQ(s.unit().acksReceived(), 256);
    EXPECT_EQ(s.unit().naksReceived(), 1);  // the probe's
    // The device saw each open and close, and the line the link sets: 115200 8N1.
    EXPECT_FALSE(s.unit().portOpen());
    EXPECT_EQ(s.unit().lineCoding(), (std::vector<UCHAR>{0x07}));
    const auto commands = s.unit().VendorCommands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), std::vector<UCHAR>{3, 1}), 2);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), std::vector<UCHAR>{3, 0}), 2);
}

TEST(ComLinkEndToEnd, AUnitThatDoesNotAnswerTimesOutAsOnAComPort) {
    Stack s({monitor_unit::Fault::kNoAnswer, 0});
    MemoryImage image{};
    const LONGLONG start = s.NowMs();
    EXPECT_EQ(monitor::ReadMonitorImage(kPortNo, image, s.Io()), LinkResult::kReplyFailed);
    // Two waits of 100 ms, then 5 bytes × 15 ms + 750 ms for the header: the driver's total
    // time-out is the one the link set.
    EXPECT_EQ(s.NowMs() - start, 200 + 825);
    EXPECT_FALSE(s.unit().portOpen());
}

TEST(ComLinkEndToEnd, APortThatIsNotThereFailsToOpen) {
    Stack s;
    MemoryImage image{};
    EXPECT_EQ(monitor::ReadMonitorImage(4, image, s.Io()), LinkResult::kOpenFailed);
    // Gone in the middle of nothing: after the unit is unplugged the port cannot be opened.
    EXPECT_STATUS(STATUS_SUCCESS, s.stack().Unplug(s.pdo()));
    EXPECT_EQ(monitor::ProbeMonitorUnit(kPortNo, s.Io()), LinkResult::kOpenFailed);
}

TEST(ComLinkEndToEnd, APortInUseIsRefused) {
    Stack s;
    host::KernelComPort holder(s.stack().kernel());
    ASSERT_TRUE(holder.Open(kPortNo).ok());
    MemoryImage image{};
    EXPECT_EQ(monitor::ReadMonitorImage(kPortNo, image, s.Io()), LinkResult::kOpenFailed);
    holder.Close();
    EXPECT_EQ(monitor::ReadMonitorImage(kPortNo, image, s.Io()), LinkResult::kSuccess);
}

struct FaultCase {
    const char* fault;
    LinkResult transfer;
    int acks;
    bool nak;
    int slotsStored;  // -1: all
    LinkResult probe;
};

class ComLinkFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ComLinkFaults, ReachTheLinkAsTheRightResult) {
    const FaultCase& c = GetParam();
    FaultConfig fault;
    ASSERT_TRUE(monitor_unit::ParseFault(c.fault, fault));
    {
        Stack s(fault);
        MemoryImage image{};
        EXPECT_EQ(monitor::ReadMonitorImage(kPortNo, image, s.Io()), c.transfer);
        EXPECT_EQ(s.unit().acksReceived(), c.acks);
        EXPECT_EQ(s.unit().naksReceived(), c.nak ? 1 : 0);
        const int stored = c.slotsStored < 0 ? 256 : c.slotsStored;
        for (int slot = 0; slot < 256; ++slot) {
            if (slot < stored) {
                EXPECT_TRUE(SlotIs(image, s.source(), slot)) << "slot " << slot;
            } else {
                EXPECT_TRUE(SlotIsZero(image, slot)) << "slot " << slot;
            }
        }
        EXPECT_FALSE(s.unit().portOpen());
    }
    {
        Stack s(fault);
        EXPECT_EQ(monitor::ProbeMonitorUnit(kPortNo, s.Io()), c.probe);
        EXPECT_FALSE(s.unit().portOpen());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stack, ComLinkFaults,
    ::testing::Values(
        FaultCase{"bad-header", LinkResult::kReplyFailed, 0, false, 0, LinkResult::kReplyFailed},
        FaultCase{"bad-block:5", LinkResult::kReplyFailed, 5, true, 5, LinkResult::kSuccess},
        FaultCase{"bad-block:0", LinkResult::kReplyFailed, 0, true, 0, LinkResult::kReplyFailed},
        FaultCase{"silence:10", LinkResult::kReplyFailed, 10, false, 10, LinkResult::kSuccess},
        FaultCase{"silence:0", LinkResult::kReplyFailed, 0, false, 0, LinkResult::kReplyFailed},
        FaultCase{"duplicate:5", LinkResult::kSuccess, 257, false, -1, LinkResult::kSuccess},
        FaultCase{"big-number:4", LinkResult::kReplyFailed, 4, true, 4, LinkResult::kSuccess},
        FaultCase{"count-zero", LinkResult::kSuccess, 0, false, 0, LinkResult::kReplyFailed},
        FaultCase{"count-negative", LinkResult::kSuccess, 0, false, 0, LinkResult::kReplyFailed},
        FaultCase{"count-over", LinkResult::kSuccess, 300, false, -1, LinkResult::kSuccess},
        FaultCase{"no-answer", LinkResult::kReplyFailed, 0, false, 0, LinkResult::kReplyFailed}),
    [](const auto& info) {
        std::string name = info.param.fault;
        for (char& ch : name) {
            if (ch == '-' || ch == ':') ch = '_';
        }
        return name;
    });

TEST(ComLinkEndToEnd, EveryDeviceTypeCarriesTheTransfer) {
    for (ULONG caps : {0u, 1u, 2u, 3u}) {
        Stack s({}, false, caps);
        MemoryImage image{};
        ASSERT_EQ(monitor::ReadMonitorImage(kPortNo, image, s.Io()), LinkResult::kSuccess)
            << "EndPointCaps " << caps;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), s.source().begin()));
    }
}

TEST(ComLinkEndToEndRealTime, TransferThroughTheThreadedStack) {
    Stack s({}, true);
    MemoryImage image{};
    ASSERT_EQ(monitor::ReadMonitorImage(kPortNo, image, s.Io()), LinkResult::kSuccess);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), s.source().begin()));
    EXPECT_EQ(monitor::ProbeMonitorUnit(kPortNo, s.Io()), LinkResult::kSuccess);
}

TEST(ComLinkEndToEndRealTime, UnpluggingEndsAReadThatWouldWaitForever) {
    Stack s({}, true);
    host::KernelComPort port(s.stack().kernel());
    ASSERT_TRUE(port.Open(kPortNo).ok());
    ASSERT_TRUE(port.SetTimeouts({0, 0, 0, 0, 0}).ok());  // a read waits until it is complete
    std::size_t got = 1;
    std::thread reader([&] {
        std::uint8_t buffer[16];
        got = port.Read(buffer);
    });
    // Whether the read is already waiting or not, the departure must end it.
    EXPECT_STATUS(STATUS_SUCCESS, s.stack().Unplug(s.pdo()));
    reader.join();
    EXPECT_EQ(got, 0u);
    port.Close();
    host::KernelComPort again(s.stack().kernel());
    EXPECT_FALSE(again.Open(kPortNo).ok());
}

}  // namespace
}  // namespace ys::test
