// The COM port's device: naming, open and close, the vendor commands and line codings, the line
// settings and their refusals, and the monitor unit's exchange through the port.
#include "drivers/vcom/ring_buffer.h"
#include "tests/drivers/vcom_harness.h"

namespace ys::test {
namespace {

using Cmd = std::vector<UCHAR>;

std::string SerialCommValue(Kernel& kernel, const std::string& deviceName) {
    std::string value;
    const std::string path = Registry::kDeviceMapRoot + "\\SERIALCOMM";
    if (!kernel.registry().KeyExists(path)) return value;
    kernel.registry().Key(path).QueryString(deviceName, &value);
    return value;
}

SERIAL_HANDFLOW RtsCtsHandflow() {
    return SERIAL_HANDFLOW{SERIAL_CTS_HANDSHAKE | SERIAL_DTR_CONTROL, SERIAL_RTS_HANDSHAKE, 0, 0};
}

TEST(VcomDevice, TwoDevicesGetNumberedNamesAndTheirOwnPorts) {
    VcomHarness h;
    h.Plug({}, "COM3");
    ASSERT_STATUS(STATUS_SUCCESS, h.Start());
    h.Plug({}, "COM7");
    ASSERT_STATUS(STATUS_SUCCESS, h.Start());

    EXPECT_EQ("\\Device\\qtxvcom640", h.port(h.pdos[0])->name());
    EXPECT_EQ("\\Device\\qtxvcom641", h.port(h.pdos[1])->name());
    EXPECT_EQ("\\Device\\qtxvcom640", h.kernel.objects().SymbolicLinkTarget("\\DosDevices\\COM3"));
    EXPECT_EQ("\\Device\\qtxvcom641", h.kernel.objects().SymbolicLinkTarget("\\DosDevices\\COM7"));
    EXPECT_EQ("COM3", SerialCommValue(h.kernel, "\\Device\\qtxvcom640"));
    EXPECT_EQ("COM7", SerialCommValue(h.kernel, "\\Device\\qtxvcom641"));
    EXPECT_EQ(2u, h.kernel.objects().EnabledInterfaces(GUID_DEVINTERFACE_COMPORT).size());

    File& com3 = h.OpenOrFail("COM3");
    File& com7 = h.OpenOrFail("COM7");
    EXPECT_EQ(h.port(h.pdos[0]), com3.target());
    EXPECT_EQ(h.port(h.pdos[1]), com7.target());
}

TEST(VcomDevice, SecondOpenIsRefusedUntilTheFirstCloses) {
    VcomHarness h;
    auto unit = h.Plug();
    File& first = h.StartAndOpen();
    EXPECT_TRUE(unit->portOpen());
    File* second = nullptr;
    EXPECT_STATUS(STATUS_ACCESS_DENIED, h.Open("COM3", &second));

    EXPECT_STATUS(STATUS_SUCCESS, first.Close());
    EXPECT_FALSE(unit->portOpen());
    EXPECT_EQ((std::vector<Cmd>{{3, 1}, {1, 3}, {3, 0}}), unit->VendorCommands());
    EXPECT_STATUS(STATUS_SUCCESS, h.Open("COM3", &second));
}

TEST(VcomDevice, EndPointCapsZeroSendsNoLineRequestAndReportsFixedModemStatus) {
    VcomHarness h;
    auto unit = h.Plug();
    File& port = h.StartAndOpen();
    unit->SetLineState(0);  // no status pipe is read, so this never shows
    h.dispatcher().AdvanceBy(std::chrono::milliseconds(50));
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_BAUD_RATE, ULONG{9600}));
    EXPECT_STATUS(STATUS_SUCCESS,
                  SetValue(port, IOCTL_SERIAL_SET_LINE_CONTROL, SERIAL_LINE_CONTROL{2, 2, 7}));
    EXPECT_TRUE(Commands(*unit, 0).empty());
    EXPECT_EQ(0xB0u, GetValue<ULONG>(port, IOCTL_SERIAL_GET_MODEMSTATUS));
    EXPECT_TRUE(unit->Transfers(MonitorUnitDevice::kStatusEndpoint).empty());
    EXPECT_EQ(9600u, GetValue<ULONG>(port, IOCTL_SERIAL_GET_BAUD_RATE));
}

TEST(VcomDevice, StatusPipeChangesTheModemStatusAndSignalsEvents) {
    VcomHarness h;
    auto unit = h.Plug();
    h.settings().SetDword("EndPointCaps", 1);
    File& port = h.StartAndOpen();
    h.dispatcher().AdvanceBy(std::chrono::milliseconds(30));
    EXPECT_EQ(0xB0u, GetValue<ULONG>(port, IOCTL_SERIAL_GET_MODEMSTATUS));

    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_WAIT_MASK,
                                           ULONG{SERIAL_EV_CTS | SERIAL_EV_RING}));
    auto wait = port.StartDeviceIoControl(IOCTL_SERIAL_WAIT_ON_MASK, {}, std::vector<UCHAR>(4));
    EXPECT_FALSE(wait->completed());
    unit->SetLineState(MonitorUnitDevice::kDsr | MonitorUnitDevice::kDcd | MonitorUnitDevice::kRi);
    h.dispatcher().AdvanceBy(std::chrono::milliseconds(30));
    ASSERT_TRUE(wait->completed());
    ULONG events = 0;
    std::memcpy(&events, wait->output().data(), 4);
    EXPECT_EQ(SERIAL_EV_CTS | SERIAL_EV_RING, events);
    EXPECT_EQ(0xE0u, GetValue<ULONG>(port, IOCTL_SERIAL_GET_MODEMSTATUS));
}

TEST(VcomDevice, MissingStatusPipeSwitchesPollingOffForGood) {
    VcomHarness h;
    MonitorUnitDevice::Options options;
    options.statusEndpoint = false;
    auto unit = h.Plug(options);
    h.settings().SetDword("EndPointCaps", 1);
    File& port = h.StartAndOpen();
    EXPECT_EQ(0xB0u, GetValue<ULONG>(port, IOCTL_SERIAL_GET_MODEMSTATUS));
    EXPECT_STATUS(STATUS_SUCCESS, port.Close());
    File& again = h.OpenOrFail();
    EXPECT_EQ(0xB0u, GetValue<ULONG>(again, IOCTL_SERIAL_GET_MODEMSTATUS));
}

TEST(VcomLineSettings, BaudRatesAcceptedByTheList) {
    VcomHarness h;
    h.Plug();
    File& port = h.StartAndOpen();
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  SetValue(port, IOCTL_SERIAL_SET_BAUD_RATE, ULONG{57600}));
    EXPECT_EQ(115200u, GetValue<ULONG>(port, IOCTL_SERIAL_GET_BAUD_RATE));
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_BAUD_RATE, ULONG{76800}));
    EXPECT_EQ(76800u, GetValue<ULONG>(port, IOCTL_SERIAL_GET_BAUD_RATE));
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  Ioctl(port, IOCTL_SERIAL_SET_BAUD_RATE, std::vector<UCHAR>{0x80, 0x25}));
}

TEST(VcomLineSettings, NoBaudCheckLetsAnyRateThroughButNotPastTheShortCoding) {
    {
        VcomHarness h;
        h.Plug();
        h.settings().SetDword("NoBaudCheck", 1);
        File& port = h.StartAndOpen();
        EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_BAUD_RATE, ULONG{57600}));
    }
    VcomHarness h;
    auto unit = h.Plug();
    h.settings().SetDword("NoBaudCheck", 1);
    h.settings().SetDword("EndPointCaps", 1);
    File& port = h.StartAndOpen();
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  SetValue(port, IOCTL_SERIAL_SET_BAUD_RATE, ULONG{57600}));
    EXPECT_EQ(115200u, GetValue<ULONG>(port, IOCTL_SERIAL_GET_BAUD_RATE));
    EXPECT_TRUE(Commands(*unit, 0).empty());
}

TEST(VcomLineSettings, LineControlRefusals) {
    VcomHarness h;
    h.Plug();
    File& port = h.StartAndOpen();
    const SERIAL_LINE_CONTROL refused[] = {
        {STOP_BITS_1_5, NO_PARITY, 8}, {STOP_BIT_1, MARK_PARITY, 8}, {STOP_BIT_1, SPACE_PARITY, 8},
        {STOP_BIT_1, NO_PARITY, 5},    {STOP_BIT_1, NO_PARITY, 6},
    };
    for (const auto& line : refused) {
        EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                      SetValue(port, IOCTL_SERIAL_SET_LINE_CONTROL, line));
    }
    const auto kept = GetValue<SERIAL_LINE_CONTROL>(port, IOCTL_SERIAL_GET_LINE_CONTROL);
    EXPECT_EQ(STOP_BIT_1, kept.StopBits);
    EXPECT_EQ(NO_PARITY, kept.Parity);
    EXPECT_EQ(8, kept.WordLength);
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_LINE_CONTROL,
                                           SERIAL_LINE_CONTROL{STOP_BITS_2, ODD_PARITY, 7}));
}

TEST(VcomLineSettings, HandflowRefusalsAndDtrRtsUnderHandshake) {
    VcomHarness h;
    auto unit = h.Plug();
    h.settings().SetDword("EndPointCaps", 1);
    File& port = h.StartAndOpen();
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  SetValue(port, IOCTL_SERIAL_SET_HANDFLOW, SERIAL_HANDFLOW{0x04, 0, 0, 0}));
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  SetValue(port, IOCTL_SERIAL_SET_HANDFLOW, SERIAL_HANDFLOW{0, 0x20, 0, 0}));
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  SetValue(port, IOCTL_SERIAL_SET_HANDFLOW, SERIAL_HANDFLOW{0, 0, 4097, 0}));
    EXPECT_STATUS(STATUS_SUCCESS,
                  SetValue(port, IOCTL_SERIAL_SET_HANDFLOW,
                           SERIAL_HANDFLOW{SERIAL_DTR_HANDSHAKE, SERIAL_RTS_HANDSHAKE, 2048, 512}));
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, Ioctl(port, IOCTL_SERIAL_CLR_DTR));
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, Ioctl(port, IOCTL_SERIAL_SET_RTS));
    EXPECT_EQ(2048, GetValue<SERIAL_HANDFLOW>(port, IOCTL_SERIAL_GET_HANDFLOW).XonLimit);

    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_HANDFLOW,
                                           SERIAL_HANDFLOW{SERIAL_DTR_CONTROL, 0, 0, 0}));
    EXPECT_STATUS(STATUS_SUCCESS, Ioctl(port, IOCTL_SERIAL_CLR_DTR));
    EXPECT_EQ(SERIAL_RTS_STATE, GetValue<ULONG>(port, IOCTL_SERIAL_GET_DTRRTS));
    EXPECT_EQ((Cmd{1, 0x01}), Commands(*unit, 1).back());
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_MODEM_CONTROL, ULONG{0x01}));
    EXPECT_EQ(SERIAL_DTR_STATE, GetValue<ULONG>(port, IOCTL_SERIAL_GET_MODEM_CONTROL));
    EXPECT_EQ((Cmd{1, 0x02}), Commands(*unit, 1).back());
}

TEST(VcomLineSettings, ShortCodingOfTypeOneAndTwo) {
    VcomHarness h;
    auto unit = h.Plug();
    h.settings().SetDword("EndPointCaps", 1);
    File& port = h.StartAndOpen();
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_BAUD_RATE, ULONG{38400}));
    EXPECT_EQ((Cmd{0, 0x02 | 0x04}), Commands(*unit, 0).back());
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_LINE_CONTROL,
                                           SERIAL_LINE_CONTROL{STOP_BITS_2, EVEN_PARITY, 7}));
    EXPECT_EQ((Cmd{0, 0x02 | 0x08 | 0x10}), Commands(*unit, 0).back());
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_LINE_CONTROL,
                                           SERIAL_LINE_CONTROL{STOP_BIT_1, ODD_PARITY, 8}));
    EXPECT_STATUS(
        STATUS_SUCCESS,
        SetValue(port, IOCTL_SERIAL_SET_HANDFLOW,
                 SERIAL_HANDFLOW{SERIAL_CTS_HANDSHAKE,
                                 SERIAL_RTS_HANDSHAKE | SERIAL_AUTO_TRANSMIT | SERIAL_AUTO_RECEIVE,
                                 0, 0}));
    EXPECT_EQ((Cmd{0, 0x02 | 0x04 | 0x20 | 0x40 | 0x80}), Commands(*unit, 0).back());
    EXPECT_EQ(1u, Commands(*unit, 1).size());  // type 1 sends no control lines with it

    VcomHarness h2;
    auto unit2 = h2.Plug();
    h2.settings().SetDword("EndPointCaps", 2);
    File& port2 = h2.StartAndOpen();
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port2, IOCTL_SERIAL_SET_BAUD_RATE, ULONG{9600}));
    EXPECT_EQ((Cmd{0, 0x04}), Commands(*unit2, 0).back());
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port2, IOCTL_SERIAL_SET_HANDFLOW, RtsCtsHandflow()));
    EXPECT_EQ((Cmd{0, 0x04 | 0x40}), Commands(*unit2, 0).back());
    EXPECT_EQ((Cmd{1, 0x03}), Commands(*unit2, 1).back());
    // Break only on type 2.
    EXPECT_STATUS(STATUS_SUCCESS, Ioctl(port2, IOCTL_SERIAL_SET_BREAK_ON));
    EXPECT_EQ((Cmd{1, 0x07}), Commands(*unit2, 1).back());
    EXPECT_STATUS(STATUS_SUCCESS, Ioctl(port, IOCTL_SERIAL_SET_BREAK_ON));
    EXPECT_EQ(1u, Commands(*unit, 1).size());
}

TEST(VcomLineSettings, LongCodingOfTypeThree) {
    VcomHarness h;
    auto unit = h.Plug();
    h.settings().SetDword("EndPointCaps", 3);
    h.settings().SetDword("NoBaudCheck", 1);
    File& port = h.StartAndOpen();
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_BAUD_RATE, ULONG{76800}));
    EXPECT_EQ((Cmd{0, 7, 0x01}), Commands(*unit, 0).back());
    EXPECT_EQ((Cmd{4, 0, 0}), Commands(*unit, 4).back());
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_LINE_CONTROL,
                                           SERIAL_LINE_CONTROL{STOP_BITS_2, ODD_PARITY, 7}));
    EXPECT_EQ((Cmd{0, 7, 0x02 | 0x08}), Commands(*unit, 0).back());
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_LINE_CONTROL,
                                           SERIAL_LINE_CONTROL{STOP_BIT_1, EVEN_PARITY, 8}));
    EXPECT_STATUS(STATUS_SUCCESS,
                  SetValue(port, IOCTL_SERIAL_SET_HANDFLOW,
                           SERIAL_HANDFLOW{0, SERIAL_AUTO_RECEIVE | SERIAL_ERROR_CHAR, 0, 0}));
    EXPECT_EQ((Cmd{0, 7, 0x01 | 0x04 | 0x20}), Commands(*unit, 0).back());
    EXPECT_STATUS(STATUS_SUCCESS,
                  SetValue(port, IOCTL_SERIAL_SET_CHARS, SERIAL_CHARS{0, '?', 0, 0, 0x11, 0x13}));
    EXPECT_EQ((Cmd{2, 0x11, 0x13}), Commands(*unit, 2).back());
    EXPECT_EQ((Cmd{4, 1, '?'}), Commands(*unit, 4).back());
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_BAUD_RATE, ULONG{300}));
    EXPECT_EQ((Cmd{0, 0, 0x01 | 0x04 | 0x20}), Commands(*unit, 0).back());  // unlisted: 0
}

TEST(VcomSerialCodes, RecordsAndUnsupportedCodes) {
    VcomHarness h;
    h.Plug();
    File& port = h.StartAndOpen();
    const auto props = GetValue<SERIAL_COMMPROP>(port, IOCTL_SERIAL_GET_PROPERTIES);
    EXPECT_EQ(64, props.PacketLength);
    EXPECT_EQ(2, props.PacketVersion);
    EXPECT_EQ(1u, props.ServiceMask);
    EXPECT_EQ(0x00020000u, props.MaxBaud);
    EXPECT_EQ(1u, props.ProvSubType);
    EXPECT_EQ(0xF7u, props.ProvCapabilities);
    EXPECT_EQ(0x5Fu, props.SettableParams);
    EXPECT_EQ(0x26B60u, props.SettableBaud);
    EXPECT_EQ(0x18, props.SettableData);
    EXPECT_EQ(0x0705, props.SettableStopParity);
    EXPECT_EQ(4096u, props.CurrentTxQueue);
    EXPECT_EQ(4096u, props.CurrentRxQueue);

    EXPECT_EQ(0u, GetValue<ULONG>(port, IOCTL_SERIAL_CONFIG_SIZE));
    const auto t = GetValue<SERIAL_TIMEOUTS>(port, IOCTL_SERIAL_GET_TIMEOUTS);
    EXPECT_EQ(MAXULONG, t.ReadIntervalTimeout);
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, SetTimeouts(port, MAXULONG, MAXULONG, MAXULONG));
    for (ULONG code : {IOCTL_SERIAL_RESET_DEVICE, IOCTL_SERIAL_SET_XOFF, IOCTL_SERIAL_SET_XON,
                       IOCTL_SERIAL_LSRMST_INSERT, IOCTL_SERIAL_SET_FIFO_CONTROL}) {
        EXPECT_STATUS(STATUS_SUCCESS, Ioctl(port, code));
    }
    EXPECT_STATUS(STATUS_INVALID_DEVICE_REQUEST, Ioctl(port, SerialCtlCode(33)));
    EXPECT_STATUS(STATUS_INVALID_DEVICE_REQUEST, Ioctl(port, 0x230040));
    std::vector<UCHAR> small(3);
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, Ioctl(port, IOCTL_SERIAL_GET_BAUD_RATE, {}, &small));
    EXPECT_STATUS(STATUS_SUCCESS, Ioctl(port, IOCTL_QTXVCOM_RESET_RX_PIPE));
    EXPECT_STATUS(STATUS_SUCCESS, Ioctl(port, IOCTL_QTXVCOM_RESET_TX_PIPE));
}

TEST(VcomRingBuffer, WrapsEnlargesInOrderAndRefusesShrinking) {
    vcom::RingBuffer ring(8);
    EXPECT_EQ(6u, ring.Put(Bytes(6, 1)));
    std::vector<UCHAR> out(4);
    EXPECT_EQ(4u, ring.Get(out));
    EXPECT_EQ(Bytes(4, 1), out);
    EXPECT_EQ(6u, ring.Put(Bytes(10, 7)));  // wraps, takes what fits
    EXPECT_EQ(8u, ring.Count());
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, ring.Enlarge(4));
    EXPECT_STATUS(STATUS_SUCCESS, ring.Enlarge(8));
    EXPECT_STATUS(STATUS_SUCCESS, ring.Enlarge(16));
    EXPECT_EQ(8u, ring.Put(Bytes(8, 13)));
    out.resize(16);
    EXPECT_EQ(16u, ring.Get(out));
    EXPECT_EQ(Bytes(16, 5), out);
}

// The monitor unit's whole exchange: request, header and 256 blocks acknowledged one by one.
TEST(VcomExchange, MonitorUnitImageComesThroughThePortExactly) {
    VcomHarness h;
    auto unit = h.Plug();
    h.settings().SetDword("EndPointCaps", 1);
    File& port = h.StartAndOpen();
    ASSERT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_BAUD_RATE, ULONG{115200}));
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(port, 100, 0, 2000, 0, 1000));
    ASSERT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_PURGE, ULONG{0x0F}));

    const std::vector<UCHAR> request(std::begin(monitor_unit::kRequestFrame),
                                     std::end(monitor_unit::kRequestFrame));
    const std::vector<UCHAR> ack(std::begin(monitor_unit::kAckFrame),
                                 std::end(monitor_unit::kAckFrame));
    ASSERT_EQ(request.size(), WritePort(port, request));
    NTSTATUS status = STATUS_PENDING;
    const auto header = ReadPort(port, monitor_unit::kHeaderFrameSize, &status);
    ASSERT_STATUS(STATUS_SUCCESS, status);
    ASSERT_EQ(monitor_unit::kHeaderFrameSize, header.size());
    EXPECT_EQ(0x00, header[2]);
    EXPECT_EQ(0x01, header[3]);  // 256 blocks

    std::vector<UCHAR> image;
    for (std::size_t block = 0; block < monitor_unit::kBlockCount; ++block) {
        if (block > 0) {
            ASSERT_EQ(ack.size(), WritePort(port, ack));
        }
        const auto frame = ReadPort(port, monitor_unit::kBlockFrameSize, &status);
        ASSERT_STATUS(STATUS_SUCCESS, status) << "block " << block;
        ASSERT_EQ(monitor_unit::kBlockFrameSize, frame.size());
        EXPECT_EQ(block & 0xFF, frame[2]);
        image.insert(image.end(), frame.begin() + 4, frame.end() - 1);
    }
    EXPECT_EQ(TestImage(), image);
    EXPECT_EQ(1, unit->requestsReceived());
    EXPECT_EQ(255, unit->acksReceived());
}

}  // namespace
}  // namespace ys::test
