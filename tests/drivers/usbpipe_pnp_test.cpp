// qtxusb64 and Plug and Play: the device interface, refusing requests while a stop or removal
// is pending, waiting for outstanding requests, surprise removal, stop and restart.
#include <gtest/gtest.h>

#include "tests/drivers/usbpipe_harness.h"

namespace ys::test {
namespace {

using namespace ys::usbpipe;

constexpr UCHAR kRx = MonitorUnitDevice::kReceiveEndpoint;

class PnpTest : public ::testing::Test {
protected:
    void SetUp() override {
        device = h.PlugMonitorUnit();
        ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
    }

    // What a handle sees of the device: a read, a control code and an open.
    void ExpectRequestsRefused(File& file, NTSTATUS openStatus = STATUS_DELETE_PENDING) {
        ULONG_PTR n = 0;
        std::vector<UCHAR> buffer(4);
        EXPECT_STATUS(STATUS_DELETE_PENDING, file.Read(buffer, &n));
        EXPECT_STATUS(STATUS_DELETE_PENDING,
                      file.DeviceIoControl(IOCTL_QTXUSB_GET_MAX_PACKET_SIZE, {}, buffer, &n));
        std::unique_ptr<File> other;
        EXPECT_STATUS(openStatus, h.Open("\\PIPE00", &other));
    }
    void ExpectRequestsServed(File& file) {
        ULONG_PTR n = 0;
        std::vector<UCHAR> buffer(4);
        device->QueueInData(kRx, Bytes(4));
        EXPECT_STATUS(STATUS_SUCCESS, file.Read(buffer, &n));
        EXPECT_STATUS(STATUS_SUCCESS,
                      file.DeviceIoControl(IOCTL_QTXUSB_GET_MAX_PACKET_SIZE, {}, buffer, &n));
    }

    UsbPipeHarness h;
    std::shared_ptr<MonitorUnitDevice> device;
};

TEST_F(PnpTest, DeviceInterfaceOpensTheStackAndGoesAwayOnRemoval) {
    auto links = h.kernel.objects().EnabledInterfaces(GUID_CLASS_QTXUSB);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_NE(links[0].find("{0A274201-F52F-11D4-9442-006067728D60}"), std::string::npos);
    std::unique_ptr<File> pipe;
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.io().CreateFile(links[0] + "\\PIPE01", &pipe));
    EXPECT_EQ(UsbPipeHarness::EndpointOf(*pipe), kRx);
    pipe.reset();
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
    EXPECT_TRUE(h.kernel.objects().EnabledInterfaces(GUID_CLASS_QTXUSB).empty());
    EXPECT_EQ(h.fdo(), nullptr);
    EXPECT_EQ(device->configuration(), 1);  // the bus keeps the device; the driver let go
}

TEST_F(PnpTest, CapabilitiesAllowSurpriseRemoval) {
    DEVICE_CAPABILITIES caps;
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().QueryCapabilities(h.pdo, &caps));
    EXPECT_TRUE(caps.SurpriseRemovalOK);
    EXPECT_EQ(caps.DeviceWake, PowerDeviceD2);
}

TEST_F(PnpTest, RequestsAreRefusedWhileAStopIsPending) {
    auto pipe = h.OpenOrFail("\\PIPE01");
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().QueryStopDevice(h.pdo));
    ExpectRequestsRefused(*pipe);
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().CancelStopDevice(h.pdo));
    ExpectRequestsServed(*pipe);
}

TEST_F(PnpTest, RequestsAreRefusedWhileARemovalIsPending) {
    auto pipe = h.OpenOrFail("\\PIPE01");
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().QueryRemoveDevice(h.pdo));
    ExpectRequestsRefused(*pipe);
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().CancelRemoveDevice(h.pdo));
    ExpectRequestsServed(*pipe);
}

TEST_F(PnpTest, StopDeconfiguresAndARestartServesTheOpenHandleAgain) {
    auto pipe = h.OpenOrFail("\\PIPE01");
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().QueryStopDevice(h.pdo));
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().StopDevice(h.pdo));
    EXPECT_EQ(device->configuration(), 0);
    EXPECT_FALSE(UsbBus::WaitWakePending(h.pdo));
    ExpectRequestsRefused(*pipe);
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().StartDevice(h.pdo));
    EXPECT_EQ(device->configuration(), 1);
    ExpectRequestsServed(*pipe);
    std::unique_ptr<File> again;
    EXPECT_STATUS(STATUS_INVALID_HANDLE, h.Open("\\PIPE01", &again));  // still open
    EXPECT_STATUS(STATUS_SUCCESS, pipe->Close());
}

TEST_F(PnpTest, QueryRemoveWaitsUntilNoRequestIsOutstanding) {
    auto pipe = h.OpenOrFail("\\PIPE01");
    auto read = pipe->StartRead(16);
    h.dispatcher().RunUntilIdle();
    ASSERT_FALSE(read->completed());
    int waits = 0;
    h.dispatcher().SetIdleHandler([&] {
        if (waits++ > 0) return false;
        // The query is waiting: the read is still outstanding and nothing was aborted.
        EXPECT_FALSE(read->completed());
        EXPECT_EQ(device->PendingTransfers(kRx), 1u);
        device->QueueInData(kRx, Bytes(16));
        return true;
    });
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().QueryRemoveDevice(h.pdo));
    EXPECT_EQ(waits, 1);
    EXPECT_STATUS(STATUS_SUCCESS, read->status());
    EXPECT_EQ(read->information(), 16u);
}

TEST_F(PnpTest, RemovalAbortsOpenPipesAndWaitsForTheirRequests) {
    auto pipe = h.OpenOrFail("\\PIPE01");
    auto read = pipe->StartRead(16);
    h.dispatcher().RunUntilIdle();
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
    EXPECT_TRUE(read->completed());
    EXPECT_STATUS(STATUS_CANCELLED, read->status());
    EXPECT_EQ(device->Events().back(), "cancel 82");
    EXPECT_EQ(UsbBus::PendingTransfers(h.pdo), 0u);
    EXPECT_EQ(h.fdo(), nullptr);
    // The handle still reaches the deleted device: refused, and closes cleanly.
    ExpectRequestsRefused(*pipe, STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_STATUS(STATUS_SUCCESS, pipe->Close());
}

TEST_F(PnpTest, RemovalWaitsForARequestThatIsResettingItsPipe) {
    auto pipe = h.OpenOrFail("\\PIPE01");
    device->FailTransfer(kRx, 0, USBD_STATUS_XACT_ERROR);
    auto read = pipe->StartRead(16);
    h.dispatcher().RunOne();  // the failed segment's completion queues the pipe reset
    ASSERT_FALSE(read->completed());
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
    EXPECT_STATUS(STATUS_UNSUCCESSFUL, read->status());
    EXPECT_EQ(device->ClearHaltCount(kRx), 1);
}

TEST_F(PnpTest, SurpriseRemovalInTheMiddleOfATransfer) {
    auto pipe = h.OpenOrFail("\\PIPE01");
    device->QueueInData(kRx, Bytes(64));
    device->UnplugOnTransfer(kRx, 1);  // the second segment finds the device gone
    auto read = pipe->StartRead(200);
    h.dispatcher().RunUntilIdle();  // the bus reports the loss; surprise removal follows
    ASSERT_TRUE(read->completed());
    EXPECT_STATUS(STATUS_CANCELLED, read->status());
    EXPECT_EQ(read->information(), 64u);
    EXPECT_TRUE(h.kernel.objects().EnabledInterfaces(GUID_CLASS_QTXUSB).empty());
    ULONG_PTR n = 0;
    std::vector<UCHAR> buffer(4);
    EXPECT_STATUS(STATUS_DELETE_PENDING, pipe->Read(buffer, &n));
    EXPECT_STATUS(STATUS_SUCCESS, pipe->Close());
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
    EXPECT_EQ(h.fdo(), nullptr);
}

TEST_F(PnpTest, SurpriseRemovalWithAWriteFailingAsTheDeviceGoes) {
    auto tx = h.OpenOrFail("\\PIPE00");
    device->Unplug();
    ULONG_PTR n = 0;
    // Sent before the removal reaches the driver: the bus refuses it and the pipe reset fails too.
    EXPECT_STATUS(STATUS_NO_SUCH_DEVICE, tx->Write(Bytes(10), &n));
    h.dispatcher().RunUntilIdle();
    EXPECT_STATUS(STATUS_DELETE_PENDING, tx->Write(Bytes(10), &n));
}

}  // namespace
}  // namespace ys::test
