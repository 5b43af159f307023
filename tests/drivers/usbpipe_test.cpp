// qtxusb64: configuration at start, pipe names, segmented, isochronous and control transfers and
// the device-control codes, on virtual time.
#include <gtest/gtest.h>

#include "tests/drivers/usbpipe_harness.h"

namespace ys::test {
namespace {

using namespace ys::usbpipe;

std::vector<ULONG> Requested(const std::vector<SimUsbDevice::TransferRecord>& records) {
    std::vector<ULONG> out;
    for (const auto& r : records) out.push_back(r.requested);
    return out;
}

std::vector<UCHAR> SetupBytes(UCHAR type, UCHAR request, USHORT value, USHORT index,
                              USHORT length) {
    std::vector<UCHAR> s(8);
    UsbSetupPacket{type, request, value, index, length}.ToBytes(std::span<UCHAR, 8>(s.data(), 8));
    return s;
}

class PipeTest : public ::testing::Test {
protected:
    std::shared_ptr<MonitorUnitDevice> StartMonitorUnit(MonitorUnitDevice::Options options = {}) {
        auto device = h.PlugMonitorUnit(options);
        EXPECT_STATUS(STATUS_SUCCESS, h.AddAndStart());
        return device;
    }
    UsbPipeHarness h;
};

TEST_F(PipeTest, PipeNamesSelectByIndexEndpointNumberAndAddress) {
    MonitorUnitDevice::Options twoPipes;
    twoPipes.statusEndpoint = false;
    StartMonitorUnit(twoPipes);
    std::unique_ptr<File> f;
    {
        auto first = h.OpenOrFail("\\PIPE00");
        auto second = h.OpenOrFail("\\pipe01");
        EXPECT_EQ(UsbPipeHarness::EndpointOf(*first), 0x01);
        EXPECT_EQ(UsbPipeHarness::EndpointOf(*second), 0x82);
        EXPECT_STATUS(STATUS_INVALID_HANDLE, h.Open("\\PIPE02", &f));  // beyond the table
        EXPECT_STATUS(STATUS_INVALID_HANDLE, h.Open("\\PIPE1", &f));   // one digit
        EXPECT_STATUS(STATUS_INVALID_HANDLE, h.Open("\\PIPE001", &f));
        EXPECT_STATUS(STATUS_INVALID_HANDLE, h.Open("\\PIPE0G", &f));
        EXPECT_STATUS(STATUS_INVALID_HANDLE, h.Open("\\PIPES0", &f));
    }
    {
        auto byNumber = h.OpenOrFail("\\EP02");
        EXPECT_EQ(UsbPipeHarness::EndpointOf(*byNumber), 0x82);
        auto byAddress = h.OpenOrFail("\\ea01");
        EXPECT_EQ(UsbPipeHarness::EndpointOf(*byAddress), 0x01);
    }
    EXPECT_STATUS(STATUS_INVALID_HANDLE, h.Open("\\EA02", &f));  // 0x02 is no full address
    EXPECT_STATUS(STATUS_INVALID_HANDLE, h.Open("\\EP2", &f));
}

TEST_F(PipeTest, HandleWithoutANameHasNoPipe) {
    StartMonitorUnit();
    auto control = h.OpenOrFail("");
    std::vector<UCHAR> out(24);
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_INVALID_HANDLE,
                  control->DeviceIoControl(IOCTL_QTXUSB_GET_PIPE_INFO, {}, out, &n));
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  control->DeviceIoControl(IOCTL_QTXUSB_RESET_PIPE, {}, {}, &n));
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  control->DeviceIoControl(IOCTL_QTXUSB_ABORT_PIPE, {}, {}, &n));
    std::vector<UCHAR> buffer(8);
    EXPECT_STATUS(STATUS_INVALID_HANDLE, control->Read(buffer, &n));
    EXPECT_STATUS(STATUS_INVALID_HANDLE,
                  control->DeviceIoControl(IOCTL_QTXUSB_READ, {}, buffer, &n));
    // Closing a handle that holds no pipe is refused.
    EXPECT_STATUS(STATUS_INVALID_HANDLE, control->Close());
}

TEST_F(PipeTest, APipeOpensOnOneHandleAtATime) {
    StartMonitorUnit();
    auto first = h.OpenOrFail("\\PIPE01");
    std::unique_ptr<File> second;
    EXPECT_STATUS(STATUS_INVALID_HANDLE, h.Open("\\PIPE01", &second));
    EXPECT_STATUS(STATUS_INVALID_HANDLE, h.Open("\\EA82", &second));  // the same pipe by address
    EXPECT_STATUS(STATUS_SUCCESS, first->Close());
    EXPECT_STATUS(STATUS_SUCCESS, h.Open("\\PIPE01", &second));
}

TEST_F(PipeTest, ReadOf200BytesGoesIn64ByteSegments) {
    auto device = StartMonitorUnit();
    auto pipe = h.OpenOrFail("\\PIPE01");
    device->QueueInData(MonitorUnitDevice::kReceiveEndpoint, Bytes(200));
    std::vector<UCHAR> buffer(200);
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_SUCCESS, pipe->Read(buffer, &n));
    EXPECT_EQ(n, 200u);
    EXPECT_EQ(buffer, Bytes(200));
    const auto transfers = device->Transfers(MonitorUnitDevice::kReceiveEndpoint);
    EXPECT_EQ(Requested(transfers), (std::vector<ULONG>{64, 64, 64, 8}));
    for (const auto& t : transfers) EXPECT_TRUE(t.in && t.shortOk);
}

TEST_F(PipeTest, ShortSecondSegmentEndsTheReadWithTheBytesSoFar) {
    auto device = StartMonitorUnit();
    auto pipe = h.OpenOrFail("\\PIPE01");
    device->QueueInData(MonitorUnitDevice::kReceiveEndpoint, Bytes(200));
    device->ShortTransfer(MonitorUnitDevice::kReceiveEndpoint, 1, 10);
    std::vector<UCHAR> buffer(200);
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_SUCCESS, pipe->Read(buffer, &n));
    EXPECT_EQ(n, 74u);
    EXPECT_EQ(Requested(device->Transfers(MonitorUnitDevice::kReceiveEndpoint)),
              (std::vector<ULONG>{64, 64}));
    EXPECT_EQ(buffer[73], 73);
    EXPECT_EQ(device->QueuedInBytes(MonitorUnitDevice::kReceiveEndpoint), 126u);
}

TEST_F(PipeTest, SegmentSizeSettingIsRaisedToWholePackets) {
    auto device = h.PlugMonitorUnit();
    h.settings().SetDword("EP2_SegmentSize", 100);
    h.settings().SetDword("EP1_SegmentSize", 64);
    ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
    auto in = h.OpenOrFail("\\PIPE01");
    auto out = h.OpenOrFail("\\PIPE00");
    device->QueueInData(MonitorUnitDevice::kReceiveEndpoint, Bytes(300));
    std::vector<UCHAR> buffer(300);
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_SUCCESS, in->Read(buffer, &n));
    EXPECT_EQ(Requested(device->Transfers(MonitorUnitDevice::kReceiveEndpoint)),
              (std::vector<ULONG>{128, 128, 44}));
    EXPECT_STATUS(STATUS_SUCCESS, out->Write(Bytes(200), &n));
    EXPECT_EQ(n, 200u);
    EXPECT_EQ(Requested(device->Transfers(MonitorUnitDevice::kTransmitEndpoint)),
              (std::vector<ULONG>{64, 64, 64, 8}));
}

TEST_F(PipeTest, SegmentsAreCappedByTheMaximumTransferSize) {
    auto device = h.PlugMonitorUnit();
    h.settings().SetDword("MaximumTransferSize", 100);
    h.settings().SetDword("EP2_SegmentSize", 1000);
    ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
    auto in = h.OpenOrFail("\\PIPE01");
    auto out = h.OpenOrFail("\\PIPE00");
    EXPECT_EQ(UsbPipeHarness::PipeInfo(*in)[16], 100);  // maximum transfer size of the pipe
    device->QueueInData(MonitorUnitDevice::kReceiveEndpoint, Bytes(250));
    std::vector<UCHAR> buffer(250);
    ULONG_PTR n = 0;
    in->Read(buffer, &n);
    EXPECT_EQ(Requested(device->Transfers(MonitorUnitDevice::kReceiveEndpoint)),
              (std::vector<ULONG>{100, 100, 50}));
    // OUT endpoints default to the pipe's maximum transfer size.
    out->Write(Bytes(150), &n);
    EXPECT_EQ(Requested(device->Transfers(MonitorUnitDevice::kTransmitEndpoint)),
              (std::vector<ULONG>{100, 50}));
}

TEST_F(PipeTest, ZeroSettingsNeverGiveAnEmptySegment) {
    auto device = h.PlugMonitorUnit();
    h.settings().SetDword("MaximumTransferSize", 0);
    h.settings().SetDword("EP2_SegmentSize", 0);
    ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
    auto in = h.OpenOrFail("\\PIPE01");
    device->QueueInData(MonitorUnitDevice::kReceiveEndpoint, Bytes(130));
    std::vector<UCHAR> buffer(130);
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_SUCCESS, in->Read(buffer, &n));
    EXPECT_EQ(n, 130u);
    EXPECT_EQ(Requested(device->Transfers(MonitorUnitDevice::kReceiveEndpoint)),
              (std::vector<ULONG>{64, 64, 2}));
}

TEST_F(PipeTest, EmptyReadsAndWrites) {
    auto device = StartMonitorUnit();
    auto in = h.OpenOrFail("\\PIPE01");
    auto out = h.OpenOrFail("\\PIPE00");
    ULONG_PTR n = 1;
    EXPECT_STATUS(STATUS_SUCCESS, in->Read({}, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(device->Transfers(MonitorUnitDevice::kReceiveEndpoint).empty());
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, in->DeviceIoControl(IOCTL_QTXUSB_READ, {}, {}, &n));
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  in->DeviceIoControl(IOCTL_QTXUSB_READ_DIRECT, {}, {}, &n));
    // A write of nothing is one zero-length packet.
    EXPECT_STATUS(STATUS_SUCCESS, out->DeviceIoControl(IOCTL_QTXUSB_WRITE, {}, {}, &n));
    EXPECT_EQ(Requested(device->Transfers(MonitorUnitDevice::kTransmitEndpoint)),
              (std::vector<ULONG>{0}));
}

TEST_F(PipeTest, WriteCodesDoNotAllowShortTransfersButWriteRequestsDo) {
    auto device = StartMonitorUnit();
    auto out = h.OpenOrFail("\\PIPE00");
    ULONG_PTR n = 0;
    const auto data = Bytes(3, 0x65);
    out->Write(data, &n);
    out->DeviceIoControl(IOCTL_QTXUSB_WRITE, data, {}, &n);
    std::vector<UCHAR> direct = data;
    out->DeviceIoControl(IOCTL_QTXUSB_WRITE_DIRECT, {}, direct, &n);
    const auto t = device->Transfers(MonitorUnitDevice::kTransmitEndpoint);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_TRUE(t[0].shortOk);
    EXPECT_FALSE(t[1].shortOk);
    EXPECT_FALSE(t[2].shortOk);
    EXPECT_EQ(device->OutData(MonitorUnitDevice::kTransmitEndpoint).size(), 9u);
}

TEST_F(PipeTest, ReadCodesReturnTheDataInTheOutputBuffer) {
    auto device = StartMonitorUnit();
    auto in = h.OpenOrFail("\\PIPE01");
    device->QueueInData(MonitorUnitDevice::kReceiveEndpoint, Bytes(100, 1));
    std::vector<UCHAR> out(70);
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_SUCCESS, in->DeviceIoControl(IOCTL_QTXUSB_READ, {}, out, &n));
    EXPECT_EQ(n, 70u);
    EXPECT_EQ(out, Bytes(70, 1));
    EXPECT_STATUS(STATUS_SUCCESS, in->DeviceIoControl(IOCTL_QTXUSB_READ_DIRECT, {}, out, &n));
    EXPECT_EQ(n, 30u);
    EXPECT_EQ(out[29], 100);
}

TEST_F(PipeTest, FailedSegmentResetsThePipeBeforeTheRequestCompletes) {
    auto device = StartMonitorUnit();
    auto in = h.OpenOrFail("\\PIPE01");
    device->QueueInData(MonitorUnitDevice::kReceiveEndpoint, Bytes(200));
    device->FailTransfer(MonitorUnitDevice::kReceiveEndpoint, 1, USBD_STATUS_XACT_ERROR);
    auto read = in->StartRead(200);
    while (!read->completed()) {
        ASSERT_TRUE(h.dispatcher().RunOne());
        if (read->completed()) {
            EXPECT_EQ(device->ClearHaltCount(MonitorUnitDevice::kReceiveEndpoint), 1);
        }
    }
    EXPECT_STATUS(STATUS_UNSUCCESSFUL, read->status());
    EXPECT_EQ(read->information(), 64u);  // the first segment's bytes
    EXPECT_EQ(std::vector<UCHAR>(read->output().begin(), read->output().end()), Bytes(64));
}

TEST_F(PipeTest, StalledPipeFailsTheReadAndIsClearedForTheNextOne) {
    auto device = StartMonitorUnit();
    auto in = h.OpenOrFail("\\PIPE01");
    device->StallEndpoint(MonitorUnitDevice::kReceiveEndpoint);
    std::vector<UCHAR> buffer(10);
    ULONG_PTR n = 5;
    EXPECT_STATUS(STATUS_UNSUCCESSFUL, in->Read(buffer, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(device->IsStalled(MonitorUnitDevice::kReceiveEndpoint));
    device->QueueInData(MonitorUnitDevice::kReceiveEndpoint, Bytes(10));
    EXPECT_STATUS(STATUS_SUCCESS, in->Read(buffer, &n));
    EXPECT_EQ(n, 10u);
}

TEST_F(PipeTest, CancelledReadKeepsTheBytesOfEarlierSegments) {
    auto device = StartMonitorUnit();
    auto in = h.OpenOrFail("\\PIPE01");
    device->QueueInData(MonitorUnitDevice::kReceiveEndpoint, Bytes(64));
    auto read = in->StartRead(200);
    h.dispatcher().RunUntilIdle();
    ASSERT_FALSE(read->completed());
    read->Cancel();
    EXPECT_STATUS(STATUS_CANCELLED, read->Wait());
    EXPECT_EQ(read->information(), 64u);
}

TEST_F(PipeTest, AbortAndResetCodesActOnTheHandlesPipe) {
    auto device = StartMonitorUnit();
    auto in = h.OpenOrFail("\\PIPE01");
    auto read = in->StartRead(64);
    h.dispatcher().RunUntilIdle();
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_SUCCESS, in->DeviceIoControl(IOCTL_QTXUSB_ABORT_PIPE, {}, {}, &n));
    EXPECT_TRUE(read->completed());
    EXPECT_STATUS(STATUS_CANCELLED, read->status());
    device->StallEndpoint(MonitorUnitDevice::kReceiveEndpoint);
    EXPECT_STATUS(STATUS_SUCCESS, in->DeviceIoControl(IOCTL_QTXUSB_RESET_PIPE, {}, {}, &n));
    EXPECT_FALSE(device->IsStalled(MonitorUnitDevice::kReceiveEndpoint));
}

TEST_F(PipeTest, ControlTransferRefusesStandardAndReservedRequestTypes) {
    auto device = StartMonitorUnit();
    auto control = h.OpenOrFail("");
    ULONG_PTR n = 0;
    std::vector<UCHAR> out(8);
    for (UCHAR type : {0x00, 0x60, 0x80, 0xE0, 0x44, 0x5F}) {
        EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                      control->DeviceIoControl(IOCTL_QTXUSB_CONTROL_TRANSFER,
                                               SetupBytes(type, 0x0B, 0, 0, 0), out, &n))
            << "request type " << int(type);
    }
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  control->DeviceIoControl(IOCTL_QTXUSB_CONTROL_TRANSFER, Bytes(7), out, &n));
    EXPECT_TRUE(device->ControlRequests().empty());
}

TEST_F(PipeTest, ControlTransferCarriesAVendorCommandToTheUnit) {
    auto device = StartMonitorUnit();
    auto control = h.OpenOrFail("");
    ULONG_PTR n = 0;
    std::vector<UCHAR> input = SetupBytes(0x40, 0x0B, 0, 0, 2);
    // Too little data after the setup packet for wLength.
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  control->DeviceIoControl(IOCTL_QTXUSB_CONTROL_TRANSFER, input, {}, &n));
    input.insert(input.end(), {3, 1});
    EXPECT_STATUS(STATUS_SUCCESS,
                  control->DeviceIoControl(IOCTL_QTXUSB_CONTROL_TRANSFER, input, {}, &n));
    EXPECT_EQ(n, 2u);
    EXPECT_TRUE(device->portOpen());
    EXPECT_EQ(device->VendorCommands(), (std::vector<std::vector<UCHAR>>{{3, 1}}));

    // Device to host: the output must hold wLength; the unit stalls requests it does not know.
    std::vector<UCHAR> small(3), enough(4);
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  control->DeviceIoControl(IOCTL_QTXUSB_CONTROL_TRANSFER,
                                           SetupBytes(0xC1, 0x01, 0, 0, 4), small, &n));
    n = 9;
    EXPECT_STATUS(STATUS_UNSUCCESSFUL,
                  control->DeviceIoControl(IOCTL_QTXUSB_CONTROL_TRANSFER,
                                           SetupBytes(0xA1, 0x01, 0, 0, 4), enough, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(device->ControlRequests().back().setup, (UsbSetupPacket{0xA1, 0x01, 0, 0, 4}));
}

TEST_F(PipeTest, VendorRequestCodeSendsTheInputAsRequest0x0B) {
    auto device = StartMonitorUnit();
    auto control = h.OpenOrFail("");
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_SUCCESS, control->DeviceIoControl(IOCTL_QTXUSB_VENDOR_REQUEST,
                                                           std::vector<UCHAR>{1, 3}, {}, &n));
    EXPECT_EQ(device->modemControl(), 3);
    EXPECT_EQ(device->ControlRequests().back().setup, (UsbSetupPacket{0x40, 0x0B, 0, 0, 2}));
}

// A device that answers a vendor IN request with fewer bytes than asked.
class ShortAnswerDevice : public SimUsbDevice {
public:
    ShortAnswerDevice(Dispatcher& d, std::vector<UCHAR> dev, std::vector<UCHAR> config)
        : SimUsbDevice(d, std::move(dev), std::move(config)) {}

protected:
    USBD_STATUS OnControlRequest(const UsbSetupPacket& s, std::span<UCHAR> data,
                                 ULONG* actual) override {
        if (!s.in()) return USBD_STATUS_SUCCESS;
        data[0] = 0xAB;
        data[1] = 0xCD;
        data[2] = 0xEF;
        *actual = 3;
        return USBD_STATUS_SUCCESS;
    }
};

TEST_F(PipeTest, AsynchronousControlCodesUseTheDirectBuffer) {
    auto device = h.Plug<ShortAnswerDevice>(
        BuildDeviceDescriptor(0xFFFE, 2, 0x100),
        BuildConfigurationDescriptor(1, 0x80, 50, std::vector{BulkInterface()}));
    ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
    auto control = h.OpenOrFail("");
    ULONG_PTR n = 0;
    std::vector<UCHAR> data = {7, 8, 9};
    EXPECT_STATUS(
        STATUS_SUCCESS,
        control->DeviceIoControl(IOCTL_QTXUSB_CONTROL_OUT_DIRECT,
                                 SetupBytes(0xC0 /* bit 7 ignored */, 0x0B, 1, 2, 3), data, &n));
    EXPECT_EQ(device->ControlRequests().back().setup, (UsbSetupPacket{0x40, 0x0B, 1, 2, 3}));
    EXPECT_EQ(device->ControlRequests().back().data, (std::vector<UCHAR>{7, 8, 9}));
    std::vector<UCHAR> in(8);
    EXPECT_STATUS(STATUS_SUCCESS,
                  control->DeviceIoControl(IOCTL_QTXUSB_CONTROL_IN_DIRECT,
                                           SetupBytes(0x40, 0x0C, 0, 0, 8), in, &n));
    EXPECT_EQ(device->ControlRequests().back().setup.bmRequestType, 0xC0);
    EXPECT_EQ(n, 3u);  // what came, not what was asked
    EXPECT_EQ(in[2], 0xEF);
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  control->DeviceIoControl(IOCTL_QTXUSB_CONTROL_IN_DIRECT,
                                           SetupBytes(0x00, 0x06, 0x0100, 0, 8), in, &n));
}

TEST_F(PipeTest, ConfigurationDescriptorCode) {
    StartMonitorUnit();
    auto control = h.OpenOrFail("");
    const auto expected = MonitorUnitDevice::ConfigurationDescriptor({});
    std::vector<UCHAR> out(expected.size() - 1);
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_BUFFER_TOO_SMALL,
                  control->DeviceIoControl(IOCTL_QTXUSB_GET_CONFIG_DESCRIPTOR, {}, out, &n));
    out.resize(expected.size() + 10);
    EXPECT_STATUS(STATUS_SUCCESS,
                  control->DeviceIoControl(IOCTL_QTXUSB_GET_CONFIG_DESCRIPTOR, {}, out, &n));
    EXPECT_EQ(n, expected.size());
    out.resize(n);
    EXPECT_EQ(out, expected);
}

TEST_F(PipeTest, PipeInformationAndPacketSizeCodes) {
    StartMonitorUnit();
    auto status = h.OpenOrFail("\\PIPE02");
    const auto info = UsbPipeHarness::PipeInfo(*status);
    ASSERT_EQ(info.size(), 24u);
    EXPECT_EQ(info[0] | (info[1] << 8), 64);  // maximum packet size
    EXPECT_EQ(info[2], MonitorUnitDevice::kStatusEndpoint);
    EXPECT_EQ(info[3], 10);  // interval
    EXPECT_EQ(info[4], UsbdPipeTypeInterrupt);
    EXPECT_NE(info[8] | info[9], 0);              // pipe handle
    EXPECT_EQ(info[16] | (info[17] << 8), 4096);  // maximum transfer size
    ULONG_PTR n = 0;
    std::vector<UCHAR> small(23);
    EXPECT_STATUS(STATUS_BUFFER_TOO_SMALL,
                  status->DeviceIoControl(IOCTL_QTXUSB_GET_PIPE_INFO, {}, small, &n));
    std::vector<UCHAR> size(4);
    EXPECT_STATUS(STATUS_SUCCESS,
                  status->DeviceIoControl(IOCTL_QTXUSB_GET_MAX_PACKET_SIZE, {}, size, &n));
    EXPECT_EQ(size, (std::vector<UCHAR>{64, 0, 0, 0}));
    size.resize(3);
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  status->DeviceIoControl(IOCTL_QTXUSB_GET_MAX_PACKET_SIZE, {}, size, &n));
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, status->DeviceIoControl(0x230010, {}, {}, &n));
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, status->DeviceIoControl(0x1B0004, {}, {}, &n));
}

TEST_F(PipeTest, PortCodes) {
    auto device = StartMonitorUnit();
    auto control = h.OpenOrFail("");
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_SUCCESS, control->DeviceIoControl(IOCTL_QTXUSB_ENABLE_PORT, {}, {}, &n));
    EXPECT_EQ(device->portEnables(), 0);  // enabled already
    device->SetPortEnabled(false);
    EXPECT_STATUS(STATUS_SUCCESS, control->DeviceIoControl(IOCTL_QTXUSB_ENABLE_PORT, {}, {}, &n));
    EXPECT_EQ(device->portEnables(), 1);
    EXPECT_STATUS(STATUS_SUCCESS, control->DeviceIoControl(IOCTL_QTXUSB_RESET_PORT, {}, {}, &n));
    EXPECT_STATUS(STATUS_SUCCESS, control->DeviceIoControl(IOCTL_QTXUSB_CYCLE_PORT, {}, {}, &n));
    EXPECT_EQ(device->portResets(), 1);
    EXPECT_EQ(device->portCycles(), 1);
}

TEST_F(PipeTest, InterfaceIsChosenByTheTargetSettings) {
    InterfaceSpec plain = BulkInterface(0, 0, 0xFF);
    InterfaceSpec alternate = BulkInterface(0, 1, 0x0A);
    alternate.endpoints = {{0x03, UsbdPipeTypeBulk, 32, 0}};
    InterfaceSpec second = BulkInterface(1, 0, 0x0A);
    second.endpoints = {{0x84, UsbdPipeTypeBulk, 64, 0}};
    h.PlugDevice({plain, alternate, second});
    h.settings().SetDword("TargetInterfaceClass", 0x0A);
    ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
    auto pipe = h.OpenOrFail("\\PIPE00");
    EXPECT_EQ(UsbPipeHarness::EndpointOf(*pipe), 0x03);  // interface 0, alternate setting 1
    std::unique_ptr<File> f;
    EXPECT_STATUS(STATUS_INVALID_HANDLE, h.Open("\\PIPE01", &f));  // the table is the first's
}

TEST_F(PipeTest, StartFailsWhenNoInterfaceMatches) {
    h.PlugMonitorUnit();
    h.settings().SetDword("TargetInterfaceClass", 0x0A);
    ASSERT_STATUS(STATUS_SUCCESS, h.Add());
    EXPECT_STATUS(STATUS_UNSUCCESSFUL, h.kernel.pnp().StartDevice(h.pdo));
    std::unique_ptr<File> f;
    EXPECT_STATUS(STATUS_DELETE_PENDING, h.Open("\\PIPE00", &f));
}

TEST_F(PipeTest, LongConfigurationDescriptorIsReadAgainWhole) {
    InterfaceSpec big;
    for (UCHAR i = 1; i <= 15; ++i) {
        for (int k = 0; k < 5; ++k) big.endpoints.push_back({i, UsbdPipeTypeBulk, 64, 0});
    }
    auto device = h.PlugDevice({big});
    ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
    const ULONG total = 9 + 9 + 75 * 7;
    EXPECT_EQ(Requested(device->Transfers(0)), (std::vector<ULONG>{18, 521, total}));
}

TEST_F(PipeTest, IsochronousReadsStartAsapOrAtAFrameOffset) {
    InterfaceSpec iso;
    iso.endpoints = {{0x81, UsbdPipeTypeIsochronous, 64, 1}};
    auto device = h.PlugDevice({iso});
    ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
    auto pipe = h.OpenOrFail("\\PIPE00");
    device->QueueInData(0x81, Bytes(300));
    std::vector<UCHAR> buffer(150);
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_SUCCESS, pipe->Read(buffer, &n));
    EXPECT_EQ(n, 150u);
    auto t = device->Transfers(0x81);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].packets, 3u);
    EXPECT_TRUE(t[0].startAsap);
    // The pipe is reset before each transfer.
    EXPECT_EQ(device->Events().back(), "clear-halt 81");

    h.dispatcher().AdvanceBy(std::chrono::milliseconds(100));
    const LONGLONG offset = (LONGLONG{1} << 32) | 5;
    EXPECT_STATUS(STATUS_SUCCESS, pipe->Read(buffer, &n, offset));
    t = device->Transfers(0x81);
    EXPECT_FALSE(t.back().startAsap);
    EXPECT_EQ(t.back().startFrame, 105u);
}

TEST_F(PipeTest, MonitorUnitAnswersTheFrameProtocolAndReportsItsLineState) {
    auto device = StartMonitorUnit();
    auto tx = h.OpenOrFail("\\PIPE00");
    auto rx = h.OpenOrFail("\\PIPE01");
    auto st = h.OpenOrFail("\\PIPE02");
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_SUCCESS,
                  tx->Write(std::vector<UCHAR>(std::begin(monitor_unit::kRequestFrame),
                                               std::end(monitor_unit::kRequestFrame)),
                            &n));
    std::vector<UCHAR> reply(256);
    EXPECT_STATUS(STATUS_SUCCESS, rx->Read(reply, &n));
    ASSERT_EQ(n, monitor_unit::kHeaderFrameSize + monitor_unit::kBlockFrameSize);
    reply.resize(n);
    const std::span<const UCHAR> header(reply.data(), 5);
    EXPECT_EQ(monitor_unit::FrameChecksum(header.first(4)), header[4]);
    EXPECT_EQ(header[2] | (header[3] << 8), 256);
    EXPECT_EQ(reply[5 + 4], TestImage()[0]);

    std::vector<UCHAR> line(1);
    EXPECT_STATUS(STATUS_SUCCESS, st->Read(line, &n));
    EXPECT_EQ(line[0], MonitorUnitDevice::kCts | MonitorUnitDevice::kDsr | MonitorUnitDevice::kDcd);
    device->SetLineState(MonitorUnitDevice::kRi);
    EXPECT_STATUS(STATUS_SUCCESS, st->Read(line, &n));
    EXPECT_EQ(line[0], MonitorUnitDevice::kRi);
    EXPECT_EQ(device->requestsReceived(), 1);
}

}  // namespace
}  // namespace ys::test
