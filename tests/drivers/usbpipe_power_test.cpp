// qtxusb64 and power: device states for system states, draining before powering down, transfers
// refused while powered down, and remote wake-up.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/drivers/usbpipe_harness.h"

namespace ys::test {
namespace {

using namespace ys::usbpipe;

constexpr UCHAR kRx = MonitorUnitDevice::kReceiveEndpoint;

class PowerTest : public ::testing::Test {
protected:
    void Start(bool remoteWakeup = true) {
        MonitorUnitDevice::Options options;
        options.remoteWakeup = remoteWakeup;
        device = h.PlugMonitorUnit(options);
        ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
        pipe = h.OpenOrFail("\\PIPE01");
    }
    NTSTATUS Code(ULONG code) {
        ULONG_PTR n = 0;
        return pipe->DeviceIoControl(code, {}, {}, &n);
    }
    NTSTATUS Read(std::size_t length, ULONG_PTR* n) {
        std::vector<UCHAR> buffer(length);
        return pipe->Read(buffer, n);
    }
    std::ptrdiff_t EventIndex(const std::string& e) {
        const auto events = device->Events();
        return std::find(events.begin(), events.end(), e) - events.begin();
    }

    UsbPipeHarness h;
    std::shared_ptr<MonitorUnitDevice> device;
    std::unique_ptr<File> pipe;
};

TEST_F(PowerTest, ReadWhileSuspendedFailsAndWorksAfterResume) {
    Start();
    EXPECT_STATUS(STATUS_SUCCESS, Code(IOCTL_QTXUSB_SUSPEND));
    EXPECT_EQ(h.fdo()->reportedPowerState(), PowerDeviceD2);
    EXPECT_EQ(device->power(), PowerDeviceD2);
    ULONG_PTR n = 0;
    device->QueueInData(kRx, Bytes(8));
    EXPECT_STATUS(STATUS_POWER_STATE_INVALID, Read(8, &n));
    EXPECT_STATUS(STATUS_SUCCESS, Code(IOCTL_QTXUSB_RESUME));
    EXPECT_EQ(h.fdo()->reportedPowerState(), PowerDeviceD0);
    EXPECT_STATUS(STATUS_SUCCESS, Read(8, &n));
    EXPECT_EQ(n, 8u);
}

TEST_F(PowerTest, PoweringDownAbortsTheOutstandingReadFirst) {
    Start();
    auto read = pipe->StartRead(64);
    h.dispatcher().RunUntilIdle();
    ASSERT_FALSE(read->completed());
    EXPECT_STATUS(STATUS_SUCCESS, Code(IOCTL_QTXUSB_SUSPEND));
    EXPECT_STATUS(STATUS_CANCELLED, read->status());
    EXPECT_LT(EventIndex("cancel 82"), EventIndex("power D2"));
}

TEST_F(PowerTest, SystemSleepStatesMapToDeviceStates) {
    Start();
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SetSystemPowerState(h.pdo, PowerSystemSleeping3));
    EXPECT_EQ(device->power(), PowerDeviceD2);
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_POWER_STATE_INVALID, Read(8, &n));
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SetSystemPowerState(h.pdo, PowerSystemWorking));
    EXPECT_EQ(device->power(), PowerDeviceD0);
    device->QueueInData(kRx, Bytes(8));
    EXPECT_STATUS(STATUS_SUCCESS, Read(8, &n));
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SetSystemPowerState(h.pdo, PowerSystemHibernate));
    EXPECT_EQ(device->power(), PowerDeviceD3);
}

TEST_F(PowerTest, DeviceWithoutRemoteWakeupIsNeverArmed) {
    Start(false);
    EXPECT_FALSE(UsbBus::WaitWakePending(h.pdo));
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SetSystemPowerState(h.pdo, PowerSystemSleeping3));
    EXPECT_FALSE(UsbBus::WaitWakePending(h.pdo));
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SetSystemPowerState(h.pdo, PowerSystemWorking));
    // No state to wake from: suspending is refused rather than guessed.
    EXPECT_STATUS(STATUS_INVALID_DEVICE_STATE, Code(IOCTL_QTXUSB_SUSPEND));
}

TEST_F(PowerTest, RemoteWakeupBringsTheDeviceBackAndArmsItAgain) {
    Start();
    EXPECT_TRUE(UsbBus::WaitWakePending(h.pdo));  // armed at start
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SetSystemPowerState(h.pdo, PowerSystemSleeping3));
    EXPECT_TRUE(UsbBus::WaitWakePending(h.pdo));
    device->SignalRemoteWakeup();
    h.dispatcher().RunUntilIdle();
    EXPECT_EQ(h.fdo()->reportedPowerState(), PowerDeviceD0);
    EXPECT_EQ(device->power(), PowerDeviceD0);
    EXPECT_TRUE(UsbBus::WaitWakePending(h.pdo));
    ULONG_PTR n = 0;
    device->QueueInData(kRx, Bytes(8));
    EXPECT_STATUS(STATUS_SUCCESS, Read(8, &n));
}

TEST_F(PowerTest, WakeSignalWhileWorkingLeavesItDisarmedUntilTheNextSleep) {
    Start();
    device->SignalRemoteWakeup();
    h.dispatcher().RunUntilIdle();
    EXPECT_EQ(device->power(), PowerDeviceD0);
    EXPECT_FALSE(UsbBus::WaitWakePending(h.pdo));
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SetSystemPowerState(h.pdo, PowerSystemSleeping3));
    EXPECT_TRUE(UsbBus::WaitWakePending(h.pdo));
}

TEST_F(PowerTest, StatesTheDeviceCannotWakeFromDisarmIt) {
    Start();
    EXPECT_STATUS(STATUS_SUCCESS,
                  h.kernel.pnp().SendSystemPower(h.pdo, IRP_MN_QUERY_POWER, PowerSystemHibernate));
    EXPECT_FALSE(UsbBus::WaitWakePending(h.pdo));
    // A query for a state it can wake from, deeper than now, arms it again.
    EXPECT_STATUS(STATUS_SUCCESS,
                  h.kernel.pnp().SendSystemPower(h.pdo, IRP_MN_QUERY_POWER, PowerSystemSleeping3));
    EXPECT_TRUE(UsbBus::WaitWakePending(h.pdo));
}

TEST_F(PowerTest, SurpriseRemovalDisarms) {
    Start();
    pipe.reset();
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SurpriseRemoveDevice(h.pdo));
    EXPECT_FALSE(UsbBus::WaitWakePending(h.pdo));
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
}

}  // namespace
}  // namespace ys::test
