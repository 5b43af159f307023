// The USB bus driver and the simulated devices, driven with request blocks sent straight to the
// physical device object.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/drivers/usbpipe_harness.h"

namespace ys::test {
namespace {

// One request block in flight to the bus.
class UrbRequest {
public:
    UrbRequest(DEVICE_OBJECT* pdo, URB* urb, ULONG code = IOCTL_INTERNAL_USB_SUBMIT_URB)
        : done_(pdo->kernel().dispatcher(), NotificationEvent, false) {
        irp_ = IoBuildDeviceIoControlRequest(code, pdo, nullptr, 0, nullptr, 0, true, &done_, &io_);
        IoGetNextIrpStackLocation(irp_.get())->Parameters.Others.Argument1 = urb;
        IoCallDriver(pdo, irp_.get());
    }
    ~UrbRequest() { Wait(); }
    bool completed() { return KeReadStateEvent(&done_) != 0; }
    NTSTATUS Wait() {
        KeWaitForSingleObject(&done_, Executive, KernelMode, false, nullptr);
        return io_.Status;
    }
    IRP* irp() { return irp_.get(); }

private:
    KEVENT done_;
    IO_STATUS_BLOCK io_;
    std::unique_ptr<IRP> irp_;
};

class BusTest : public ::testing::Test {
protected:
    void Plug(std::vector<InterfaceSpec> interfaces, UCHAR attributes = 0x80) {
        device = std::make_shared<SimUsbDevice>(
            kernel.dispatcher(), BuildDeviceDescriptor(0xFFFE, 1, 0x100),
            BuildConfigurationDescriptor(1, attributes, 50, interfaces));
        config = BuildConfigurationDescriptor(1, attributes, 50, interfaces);
        pdo = bus.Attach(device, "USB\\VID_FFFE&PID_0001\\7");
    }

    NTSTATUS Send(URB& urb) { return UrbRequest(pdo, &urb).Wait(); }

    USBD_INTERFACE_INFORMATION Configure() {
        USBD_INTERFACE_LIST_ENTRY list[] = {
            {*USBD_ParseConfigurationDescriptorEx(config, 0, 0, -1, -1, -1, -1), nullptr}};
        auto urb = USBD_CreateConfigurationRequestEx(config, list);
        for (auto& p : urb->UrbSelectConfiguration.Interface[0].Pipes) p.MaximumTransferSize = 512;
        EXPECT_STATUS(STATUS_SUCCESS, Send(*urb));
        return urb->UrbSelectConfiguration.Interface[0];
    }

    USBD_PIPE_HANDLE Pipe(const USBD_INTERFACE_INFORMATION& info, UCHAR address) {
        for (const auto& p : info.Pipes) {
            if (p.EndpointAddress == address) return p.PipeHandle;
        }
        return 0;
    }

    Kernel kernel{Dispatcher::CreateVirtual()};
    UsbBus bus{kernel};
    std::shared_ptr<SimUsbDevice> device;
    std::vector<UCHAR> config;
    DEVICE_OBJECT* pdo = nullptr;
};

TEST_F(BusTest, SelectConfigurationDescribesEveryEndpointAsAPipe) {
    InterfaceSpec i = BulkInterface();
    i.endpoints.push_back({0x83, UsbdPipeTypeInterrupt, 16, 10});
    Plug({i});
    const auto info = Configure();
    ASSERT_EQ(info.NumberOfPipes, 3u);
    EXPECT_EQ(info.Class, 0xFF);
    EXPECT_NE(info.InterfaceHandle, 0u);
    EXPECT_EQ(info.Pipes[2].EndpointAddress, 0x83);
    EXPECT_EQ(info.Pipes[2].PipeType, UsbdPipeTypeInterrupt);
    EXPECT_EQ(info.Pipes[2].MaximumPacketSize, 16);
    EXPECT_EQ(info.Pipes[2].Interval, 10);
    EXPECT_EQ(info.Pipes[2].MaximumTransferSize, 512u);
    EXPECT_NE(info.Pipes[0].PipeHandle, info.Pipes[1].PipeHandle);
    EXPECT_EQ(device->configuration(), 1);

    URB none;
    UsbBuildSelectConfigurationRequest(&none, {});
    EXPECT_STATUS(STATUS_SUCCESS, Send(none));
    EXPECT_EQ(device->configuration(), 0);
    URB stale;
    UCHAR b[4];
    UsbBuildInterruptOrBulkTransferRequest(&stale, info.Pipes[0].PipeHandle, b, nullptr, 4, 0);
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, Send(stale));
    EXPECT_EQ(stale.UrbHeader.Status, USBD_STATUS_INVALID_PIPE_HANDLE);
}

TEST_F(BusTest, DescriptorReadsAreCutToTheBuffer) {
    Plug({BulkInterface()});
    std::vector<UCHAR> buffer(521);
    URB urb;
    UsbBuildGetDescriptorRequest(&urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, buffer.data(),
                                 nullptr, 521);
    EXPECT_STATUS(STATUS_SUCCESS, Send(urb));
    EXPECT_EQ(urb.UrbControlDescriptorRequest.TransferBufferLength, config.size());
    UsbBuildGetDescriptorRequest(&urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, buffer.data(),
                                 nullptr, 9);
    EXPECT_STATUS(STATUS_SUCCESS, Send(urb));
    EXPECT_EQ(urb.UrbControlDescriptorRequest.TransferBufferLength, 9u);
    EXPECT_EQ(ParseConfigurationDescriptor(buffer)->wTotalLength, config.size());
}

TEST_F(BusTest, BulkInWaitsForDataAndEndsAtWhatTheDeviceHas) {
    Plug({BulkInterface()});
    const auto info = Configure();
    std::vector<UCHAR> out = Bytes(10, 1);
    URB write;
    UsbBuildInterruptOrBulkTransferRequest(&write, Pipe(info, 0x01), out.data(), nullptr, 10, 0);
    EXPECT_STATUS(STATUS_SUCCESS, Send(write));
    EXPECT_EQ(device->OutData(0x01), out);

    std::vector<UCHAR> in(64);
    URB read;
    UsbBuildInterruptOrBulkTransferRequest(&read, Pipe(info, 0x82), in.data(), nullptr, 64,
                                           USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    UrbRequest pending(pdo, &read);
    kernel.dispatcher().RunUntilIdle();
    EXPECT_FALSE(pending.completed());
    device->QueueInData(0x82, Bytes(20, 0x40));
    EXPECT_STATUS(STATUS_SUCCESS, pending.Wait());
    EXPECT_EQ(read.UrbBulkOrInterruptTransfer.TransferBufferLength, 20u);
    EXPECT_EQ(in[19], 0x40 + 19);

    // A zero-length packet ends the transfer that reaches it, in its place in the stream.
    device->QueueInData(0x82, Bytes(30));
    device->QueueInData(0x82, {});
    device->QueueInData(0x82, Bytes(5));
    for (const ULONG expected : {30u, 0u, 5u}) {
        UsbBuildInterruptOrBulkTransferRequest(&read, Pipe(info, 0x82), in.data(), nullptr, 64,
                                               USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
        EXPECT_STATUS(STATUS_SUCCESS, Send(read));
        EXPECT_EQ(read.UrbBulkOrInterruptTransfer.TransferBufferLength, expected);
    }
}

// A device a driver host keeps for months records only its recent past.
TEST_F(BusTest, TheDeviceKeepsOnlyItsRecentTransfersAndOutBytes) {
    Plug({BulkInterface()});
    const auto info = Configure();
    const std::size_t writes = SimUsbDevice::kKeptTransfers + 10;
    std::vector<UCHAR> out;
    for (std::size_t i = 0; i < writes; ++i) {
        out = Bytes(512, static_cast<UCHAR>(i));
        URB write;
        UsbBuildInterruptOrBulkTransferRequest(&write, Pipe(info, 0x01), out.data(), nullptr, 512,
                                               0);
        ASSERT_STATUS(STATUS_SUCCESS, Send(write));
    }
    EXPECT_EQ(device->Transfers().size(), SimUsbDevice::kKeptTransfers);
    const std::vector<UCHAR> kept = device->OutData(0x01);
    EXPECT_GE(kept.size(), SimUsbDevice::kKeptOutBytes);
    EXPECT_LT(kept.size(), 2 * SimUsbDevice::kKeptOutBytes);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), kept.end() - 512));
}

TEST_F(BusTest, ShortInTransferFailsUnlessShortTransfersAreAllowed) {
    Plug({BulkInterface()});
    const auto info = Configure();
    std::vector<UCHAR> in(64);
    device->QueueInData(0x82, Bytes(10));
    URB strict;
    UsbBuildInterruptOrBulkTransferRequest(&strict, Pipe(info, 0x82), in.data(), nullptr, 64,
                                           USBD_TRANSFER_DIRECTION_IN);
    EXPECT_STATUS(STATUS_UNSUCCESSFUL, Send(strict));
    EXPECT_EQ(strict.UrbHeader.Status, USBD_STATUS_ERROR_SHORT_TRANSFER);
}

TEST_F(BusTest, StalledPipeFailsUntilResetAndClearStall) {
    Plug({BulkInterface()});
    const auto info = Configure();
    device->StallEndpoint(0x01);
    UCHAR b[4] = {};
    URB write;
    UsbBuildInterruptOrBulkTransferRequest(&write, Pipe(info, 0x01), b, nullptr, 4, 0);
    EXPECT_STATUS(STATUS_UNSUCCESSFUL, Send(write));
    EXPECT_EQ(write.UrbHeader.Status, USBD_STATUS_STALL_PID);
    URB reset;
    UsbBuildPipeRequest(&reset, URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, Pipe(info, 0x01));
    EXPECT_STATUS(STATUS_SUCCESS, Send(reset));
    EXPECT_FALSE(device->IsStalled(0x01));
    UsbBuildInterruptOrBulkTransferRequest(&write, Pipe(info, 0x01), b, nullptr, 4, 0);
    EXPECT_STATUS(STATUS_SUCCESS, Send(write));
}

TEST_F(BusTest, CancelledTransferCompletesCancelledAndLeavesTheDevice) {
    Plug({BulkInterface()});
    const auto info = Configure();
    std::vector<UCHAR> in(64);
    URB read;
    UsbBuildInterruptOrBulkTransferRequest(&read, Pipe(info, 0x82), in.data(), nullptr, 64,
                                           USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    UrbRequest pending(pdo, &read);
    EXPECT_EQ(device->PendingTransfers(0x82), 1u);
    EXPECT_TRUE(IoCancelIrp(pending.irp()));
    EXPECT_STATUS(STATUS_CANCELLED, pending.Wait());
    EXPECT_EQ(read.UrbHeader.Status, USBD_STATUS_CANCELED);
    EXPECT_EQ(device->PendingTransfers(0x82), 0u);
    EXPECT_EQ(UsbBus::PendingTransfers(pdo), 0u);
    // Data that comes later is not lost to the cancelled transfer.
    device->QueueInData(0x82, Bytes(5));
    EXPECT_EQ(device->QueuedInBytes(0x82), 5u);
}

TEST_F(BusTest, RequestCancelledBeforeItReachesTheBusNeverReachesTheDevice) {
    Plug({BulkInterface()});
    const auto info = Configure();
    std::vector<UCHAR> in(64);
    URB read;
    UsbBuildInterruptOrBulkTransferRequest(&read, Pipe(info, 0x82), in.data(), nullptr, 64,
                                           USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    KEVENT done(kernel.dispatcher(), NotificationEvent, false);
    IO_STATUS_BLOCK io;
    auto irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, pdo, nullptr, 0,
                                             nullptr, 0, true, &done, &io);
    IoGetNextIrpStackLocation(irp.get())->Parameters.Others.Argument1 = &read;
    IoCancelIrp(irp.get());
    IoCallDriver(pdo, irp.get());
    KeWaitForSingleObject(&done, Executive, KernelMode, false, nullptr);
    EXPECT_STATUS(STATUS_CANCELLED, io.Status);
    EXPECT_TRUE(device->Transfers(0x82).empty());
}

TEST_F(BusTest, AbortPipeCompletesOnlyAfterTheTransfersItCancelled) {
    Plug({BulkInterface()});
    const auto info = Configure();
    std::vector<UCHAR> a(64), b(64);
    URB ra, rb;
    UsbBuildInterruptOrBulkTransferRequest(&ra, Pipe(info, 0x82), a.data(), nullptr, 64,
                                           USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    UsbBuildInterruptOrBulkTransferRequest(&rb, Pipe(info, 0x82), b.data(), nullptr, 64,
                                           USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    UrbRequest first(pdo, &ra), second(pdo, &rb);
    URB abort;
    UsbBuildPipeRequest(&abort, URB_FUNCTION_ABORT_PIPE, Pipe(info, 0x82));
    UrbRequest aborting(pdo, &abort);
    while (!aborting.completed()) {
        ASSERT_TRUE(kernel.dispatcher().RunOne());
        if (aborting.completed()) {
            EXPECT_TRUE(first.completed() && second.completed());
        }
    }
    EXPECT_STATUS(STATUS_CANCELLED, first.Wait());
    EXPECT_STATUS(STATUS_CANCELLED, second.Wait());
    EXPECT_STATUS(STATUS_SUCCESS, aborting.Wait());
}

TEST_F(BusTest, UnpluggedDeviceFailsNewRequestsAsGone) {
    Plug({BulkInterface()});
    const auto info = Configure();
    device->Unplug();
    UCHAR b[4] = {};
    URB write;
    UsbBuildInterruptOrBulkTransferRequest(&write, Pipe(info, 0x01), b, nullptr, 4, 0);
    EXPECT_STATUS(STATUS_NO_SUCH_DEVICE, Send(write));
    EXPECT_EQ(write.UrbHeader.Status, USBD_STATUS_DEVICE_GONE);
    ULONG port = 0xFF;
    {
        KEVENT done(kernel.dispatcher(), NotificationEvent, false);
        IO_STATUS_BLOCK io;
        auto irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_GET_PORT_STATUS, pdo, nullptr,
                                                 0, nullptr, 0, true, &done, &io);
        IoGetNextIrpStackLocation(irp.get())->Parameters.Others.Argument1 = &port;
        IoCallDriver(pdo, irp.get());
        KeWaitForSingleObject(&done, Executive, KernelMode, false, nullptr);
    }
    EXPECT_EQ(port, 0u);
}

TEST_F(BusTest, InterruptEndpointAnswersAtItsInterval) {
    InterfaceSpec i = BulkInterface();
    i.endpoints.push_back({0x83, UsbdPipeTypeInterrupt, 8, 8});
    Plug({i});
    const auto info = Configure();
    device->QueueInData(0x83, Bytes(3, 9));
    std::vector<UCHAR> in(8);
    URB read;
    UsbBuildInterruptOrBulkTransferRequest(&read, Pipe(info, 0x83), in.data(), nullptr, 8,
                                           USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    UrbRequest pending(pdo, &read);
    kernel.dispatcher().AdvanceBy(std::chrono::milliseconds(7));
    EXPECT_FALSE(pending.completed());
    kernel.dispatcher().AdvanceBy(std::chrono::milliseconds(1));
    EXPECT_TRUE(pending.completed());
    EXPECT_EQ(read.UrbBulkOrInterruptTransfer.TransferBufferLength, 3u);
    EXPECT_EQ(in[0], 9);
}

TEST_F(BusTest, IsochronousTransferFillsEachPacket) {
    InterfaceSpec i;
    i.endpoints = {{0x81, UsbdPipeTypeIsochronous, 64, 1}};
    Plug({i});
    const auto info = Configure();
    device->QueueInData(0x81, Bytes(150));
    std::vector<UCHAR> in(192);
    URB urb;
    urb.UrbHeader.Function = URB_FUNCTION_ISOCH_TRANSFER;
    auto& iso = urb.UrbIsochronousTransfer;
    iso.PipeHandle = Pipe(info, 0x81);
    iso.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
    iso.TransferBuffer = in.data();
    iso.TransferBufferLength = 192;
    iso.NumberOfPackets = 3;
    iso.IsoPacket = {{0, 0, 0}, {64, 0, 0}, {128, 0, 0}};
    EXPECT_STATUS(STATUS_SUCCESS, Send(urb));
    EXPECT_EQ(iso.TransferBufferLength, 150u);
    EXPECT_EQ(iso.IsoPacket[0].Length, 64u);
    EXPECT_EQ(iso.IsoPacket[2].Length, 22u);
    EXPECT_EQ(in[149], 149);

    iso.NumberOfPackets = 0;
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, Send(urb));
}

TEST_F(BusTest, VendorAndClassRequestsCarryTheirSetupPacket) {
    Plug({BulkInterface()});
    Configure();
    UCHAR data[3] = {0, 0x0D, 0x05};
    URB urb;
    UsbBuildVendorRequest(&urb, URB_FUNCTION_VENDOR_DEVICE, USBD_TRANSFER_DIRECTION_OUT, 0, 0x0B, 0,
                          0, data, nullptr, 3);
    Send(urb);  // the plain simulated device stalls vendor requests
    UCHAR in[2];
    UsbBuildVendorRequest(&urb, URB_FUNCTION_CLASS_INTERFACE,
                          USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK, 0, 0x21, 1, 2, in,
                          nullptr, 2);
    EXPECT_STATUS(STATUS_UNSUCCESSFUL, Send(urb));
    const auto requests = device->ControlRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].setup, (UsbSetupPacket{0x40, 0x0B, 0, 0, 3}));
    EXPECT_EQ(requests[0].data, (std::vector<UCHAR>{0, 0x0D, 0x05}));
    EXPECT_EQ(requests[1].setup, (UsbSetupPacket{0xA1, 0x21, 1, 2, 2}));
}

TEST_F(BusTest, WaitWakeIsHeldUntilTheDeviceSignalsOrItIsCancelled) {
    Plug({BulkInterface()}, 0xA0);
    struct Result {
        bool done = false;
        NTSTATUS status = STATUS_PENDING;
    } r;
    auto callback = [](DEVICE_OBJECT*, UCHAR, POWER_STATE, void* c, IO_STATUS_BLOCK* io) {
        auto* x = static_cast<Result*>(c);
        x->done = true;
        x->status = io->Status;
    };
    POWER_STATE s;
    s.SystemState = PowerSystemSleeping3;
    IRP* irp = nullptr;
    PoRequestPowerIrp(pdo, IRP_MN_WAIT_WAKE, s, callback, &r, &irp);
    EXPECT_TRUE(UsbBus::WaitWakePending(pdo));
    device->SignalRemoteWakeup();
    kernel.dispatcher().RunUntilIdle();
    EXPECT_TRUE(r.done);
    EXPECT_STATUS(STATUS_SUCCESS, r.status);

    r = Result{};
    PoRequestPowerIrp(pdo, IRP_MN_WAIT_WAKE, s, callback, &r, &irp);
    IoCancelIrp(irp);
    EXPECT_STATUS(STATUS_CANCELLED, r.status);
    EXPECT_FALSE(UsbBus::WaitWakePending(pdo));
}

TEST_F(BusTest, WaitWakeIsRefusedByADeviceWithoutRemoteWakeup) {
    Plug({BulkInterface()}, 0x80);
    NTSTATUS status = STATUS_PENDING;
    POWER_STATE s;
    s.SystemState = PowerSystemSleeping3;
    PoRequestPowerIrp(
        pdo, IRP_MN_WAIT_WAKE, s,
        [](DEVICE_OBJECT*, UCHAR, POWER_STATE, void* c, IO_STATUS_BLOCK* io) {
            *static_cast<NTSTATUS*>(c) = io->Status;
        },
        &status, nullptr);
    EXPECT_STATUS(STATUS_NOT_SUPPORTED, status);
    DEVICE_CAPABILITIES caps;
    EXPECT_STATUS(STATUS_SUCCESS, kernel.pnp().QueryCapabilities(pdo, &caps));
    EXPECT_EQ(caps.DeviceWake, PowerDeviceUnspecified);
    EXPECT_EQ(caps.DeviceState[PowerSystemSleeping3], PowerDeviceD2);
}

TEST(Descriptors, ParsingStopsAtMalformedDescriptors) {
    std::vector<UCHAR> config =
        BuildConfigurationDescriptor(1, 0x80, 50, std::vector<InterfaceSpec>{BulkInterface()});
    EXPECT_EQ(DescriptorOffsets(config).size(), 4u);
    config[9] = 0;  // an interface descriptor of length 0 would loop for ever
    EXPECT_EQ(DescriptorOffsets(config).size(), 1u);
    EXPECT_FALSE(USBD_ParseConfigurationDescriptorEx(config, 0, 0, -1, -1, -1, -1));
    std::vector<UCHAR> truncated(config.begin(), config.begin() + 5);
    EXPECT_FALSE(ParseConfigurationDescriptor(truncated));
}

}  // namespace
}  // namespace ys::test
