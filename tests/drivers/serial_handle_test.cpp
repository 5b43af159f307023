// The program-side serial calls and the COM-port backend over the kernel layer, against a
// scripted serial driver that records every request: which requests each call sends, with
// which bytes, and what the caller sees when the driver refuses.
#include "drivers/host/serial_handle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "drivers/host/kernel_com_port.h"
#include "drivers/kernel/kernel.h"
#include "tests/drivers/usbpipe_harness.h"

namespace ys::test {
namespace {

using namespace ys::kernel;
using host::Dcb;
using host::KernelComPort;
using host::SerialHandle;

struct Request {
    UCHAR major;
    ULONG code;
    std::vector<UCHAR> input;
};

// A serial port that keeps its records in a map, answers reads from a queue (short reads time
// out) and refuses the codes a test names.
struct ScriptedPort : DeviceExtensionBase {
    std::vector<Request> log;
    std::map<ULONG, std::vector<UCHAR>> records;  // by GET code
    std::map<ULONG, NTSTATUS> refuse;
    std::deque<UCHAR> rx;
    std::vector<UCHAR> tx;
    std::size_t shortAnswer = 0;  // when set, GET answers are cut to this length
    bool open = false;
};

template <class T>
std::vector<UCHAR> AsBytes(const T& record) {
    std::vector<UCHAR> bytes(sizeof(T));
    std::memcpy(bytes.data(), &record, sizeof(T));
    return bytes;
}

ULONG GetCodeFor(ULONG setCode) {
    switch (setCode) {
        case IOCTL_SERIAL_SET_BAUD_RATE:
            return IOCTL_SERIAL_GET_BAUD_RATE;
        case IOCTL_SERIAL_SET_LINE_CONTROL:
            return IOCTL_SERIAL_GET_LINE_CONTROL;
        case IOCTL_SERIAL_SET_HANDFLOW:
            return IOCTL_SERIAL_GET_HANDFLOW;
        case IOCTL_SERIAL_SET_CHARS:
            return IOCTL_SERIAL_GET_CHARS;
        case IOCTL_SERIAL_SET_TIMEOUTS:
            return IOCTL_SERIAL_GET_TIMEOUTS;
        default:
            return 0;
    }
}

NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS PortDispatch(DEVICE_OBJECT* device, IRP* irp) {
    auto* port = static_cast<ScriptedPort*>(device->DeviceExtension);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    auto* buffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    switch (stack->MajorFunction) {
        case IRP_MJ_CREATE:
            if (port->open) return Complete(irp, STATUS_ACCESS_DENIED);
            port->open = true;
            return Complete(irp, STATUS_SUCCESS);
        case IRP_MJ_CLOSE:
            port->open = false;
            return Complete(irp, STATUS_SUCCESS);
        case IRP_MJ_READ: {
            const ULONG want = stack->Parameters.Read.Length;
            ULONG n = 0;
            while (n < want && !port->rx.empty()) {
                buffer[n++] = port->rx.front();
                port->rx.pop_front();
            }
            return Complete(irp, n == want ? STATUS_SUCCESS : STATUS_TIMEOUT, n);
        }
        case IRP_MJ_WRITE: {
            const ULONG n = stack->Parameters.Write.Length;
            port->tx.insert(port->tx.end(), buffer, buffer + n);
            return Complete(irp, STATUS_SUCCESS, n);
        }
        case IRP_MJ_DEVICE_CONTROL: {
            const auto& p = stack->Parameters.DeviceIoControl;
            const ULONG code = p.IoControlCode;
            port->log.push_back({IRP_MJ_DEVICE_CONTROL, code,
                                 std::vector<UCHAR>(buffer, buffer + p.InputBufferLength)});
            if (auto it = port->refuse.find(code); it != port->refuse.end()) {
                return Complete(irp, it->second);
            }
            if (const ULONG get = GetCodeFor(code); get != 0) {
                port->records[get].assign(buffer, buffer + p.InputBufferLength);
                return Complete(irp, STATUS_SUCCESS);
            }
            if (auto it = port->records.find(code); it != port->records.end()) {
                std::size_t n = std::min<std::size_t>(it->second.size(), p.OutputBufferLength);
                if (port->shortAnswer != 0) n = std::min(n, port->shortAnswer);
                std::memcpy(buffer, it->second.data(), n);
                return Complete(irp, STATUS_SUCCESS, n);
            }
            return Complete(irp, STATUS_SUCCESS);
        }
        default:
            return Complete(irp, STATUS_SUCCESS);
    }
}

NTSTATUS PortEntry(DRIVER_OBJECT* driver, const std::string&) {
    for (auto& f : driver->MajorFunction) f = PortDispatch;
    return STATUS_SUCCESS;
}

class SerialHandleTest : public ::testing::Test {
protected:
    SerialHandleTest() : kernel(Dispatcher::CreateVirtual()) {
        DRIVER_OBJECT* driver = kernel.LoadDriver("scripted", PortEntry);
        auto ext = std::make_unique<ScriptedPort>();
        port = ext.get();
        const std::string name = "\\Device\\Scripted0";
        EXPECT_STATUS(STATUS_SUCCESS, IoCreateDevice(driver, std::move(ext), &name,
                                                     FILE_DEVICE_SERIAL_PORT, 0, true, &device));
        device->Flags |= DO_BUFFERED_IO;
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        EXPECT_STATUS(STATUS_SUCCESS, IoCreateSymbolicLink(kernel, "\\DosDevices\\COM7", name));
        // What the port reports before anyone sets it: 9600 7E2, CTS/RTS handshake, XON/XOFF
        // characters and limits, an event character.
        port->records[IOCTL_SERIAL_GET_BAUD_RATE] = AsBytes(SERIAL_BAUD_RATE{9600});
        port->records[IOCTL_SERIAL_GET_LINE_CONTROL] =
            AsBytes(SERIAL_LINE_CONTROL{STOP_BITS_2, EVEN_PARITY, 7});
        port->records[IOCTL_SERIAL_GET_HANDFLOW] = AsBytes(SERIAL_HANDFLOW{
            SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE, SERIAL_RTS_HANDSHAKE, 80, 200});
        port->records[IOCTL_SERIAL_GET_CHARS] =
            AsBytes(SERIAL_CHARS{0x1A, 0x3F, 0x00, 0x0D, 0x11, 0x13});
        port->records[IOCTL_SERIAL_GET_COMMSTATUS] =
            AsBytes(SERIAL_STATUS{0x2, 0, 17, 0, false, false});
        port->records[IOCTL_SERIAL_GET_MODEMSTATUS] = AsBytes(ULONG{0xB0});
    }

    std::vector<ULONG> Codes() const {
        std::vector<ULONG> codes;
        for (const auto& r : port->log) codes.push_back(r.code);
        return codes;
    }
    const Request& Last(ULONG code) const {
        for (auto it = port->log.rbegin(); it != port->log.rend(); ++it) {
            if (it->code == code) return *it;
        }
        static const Request none{};
        ADD_FAILURE() << "no request " << std::hex << code;
        return none;
    }

    Kernel kernel;
    ScriptedPort* port = nullptr;
    DEVICE_OBJECT* device = nullptr;
};

TEST_F(SerialHandleTest, CommStateIsTheFourSetRequestsInOrderAndStopsAtARefusal) {
    SerialHandle h(kernel);
    ASSERT_STATUS(STATUS_SUCCESS, h.Open("\\\\.\\COM7"));
    Dcb dcb;
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = host::ODDPARITY;
    dcb.StopBits = host::ONESTOPBIT;
    dcb.fOutxCtsFlow = true;
    dcb.fRtsControl = host::RTS_CONTROL_HANDSHAKE;
    dcb.fDtrControl = host::DTR_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = true;
    dcb.XonLim = 512;
    dcb.XoffLim = 1024;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.EvtChar = 0x7E;
    ASSERT_STATUS(STATUS_SUCCESS, h.SetCommState(dcb));
    EXPECT_EQ(Codes(),
              (std::vector<ULONG>{IOCTL_SERIAL_SET_BAUD_RATE, IOCTL_SERIAL_SET_LINE_CONTROL,
                                  IOCTL_SERIAL_SET_HANDFLOW, IOCTL_SERIAL_SET_CHARS}));
    EXPECT_EQ(Last(IOCTL_SERIAL_SET_BAUD_RATE).input, AsBytes(SERIAL_BAUD_RATE{115200}));
    EXPECT_EQ(Last(IOCTL_SERIAL_SET_LINE_CONTROL).input, (std::vector<UCHAR>{0, 1, 8}));
    EXPECT_EQ(Last(IOCTL_SERIAL_SET_HANDFLOW).input,
              AsBytes(SERIAL_HANDFLOW{
                  SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE,
                  SERIAL_RTS_HANDSHAKE | SERIAL_AUTO_TRANSMIT | SERIAL_AUTO_RECEIVE, 512, 1024}));
    EXPECT_EQ(Last(IOCTL_SERIAL_SET_CHARS).input,
              (std::vector<UCHAR>{0x00, 0x00, 0x00, 0x7E, 0x11, 0x13}));

    // The driver refuses the rate: nothing after it is sent, and the refusal reaches the caller.
    port->log.clear();
    port->refuse[IOCTL_SERIAL_SET_BAUD_RATE] = STATUS_INVALID_PARAMETER;
    dcb.BaudRate = 57600;
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, h.SetCommState(dcb));
    EXPECT_EQ(Codes(), (std::vector<ULONG>{IOCTL_SERIAL_SET_BAUD_RATE}));
}

TEST_F(SerialHandleTest, HandflowRoundTripsEveryLineControlMode) {
    for (UCHAR dtr :
         {host::DTR_CONTROL_DISABLE, host::DTR_CONTROL_ENABLE, host::DTR_CONTROL_HANDSHAKE}) {
        for (UCHAR rts : {host::RTS_CONTROL_DISABLE, host::RTS_CONTROL_ENABLE,
                          host::RTS_CONTROL_HANDSHAKE, host::RTS_CONTROL_TOGGLE}) {
            Dcb in;
            in.fDtrControl = dtr;
            in.fRtsControl = rts;
            in.fOutxDsrFlow = rts == host::RTS_CONTROL_ENABLE;
            in.fTXContinueOnXoff = dtr == host::DTR_CONTROL_HANDSHAKE;
            in.fErrorChar = in.fNull = in.fAbortOnError = in.fDsrSensitivity =
                rts == host::RTS_CONTROL_TOGGLE;
            in.XonLim = 10;
            in.XoffLim = 20;
            Dcb out;
            host::DcbFromHandflow(host::HandflowFromDcb(in), &out);
            EXPECT_EQ(out.fDtrControl, dtr);
            EXPECT_EQ(out.fRtsControl, rts);
            EXPECT_EQ(out.fOutxDsrFlow, in.fOutxDsrFlow);
            EXPECT_EQ(out.fTXContinueOnXoff, in.fTXContinueOnXoff);
            EXPECT_EQ(out.fErrorChar, in.fErrorChar);
            EXPECT_EQ(out.fNull, in.fNull);
            EXPECT_EQ(out.fAbortOnError, in.fAbortOnError);
            EXPECT_EQ(out.fDsrSensitivity, in.fDsrSensitivity);
            EXPECT_EQ(out.XonLim, 10);
            EXPECT_EQ(out.XoffLim, 20);
        }
    }
}

TEST_F(SerialHandleTest, BackendChangesOnlyTheLineAndKeepsFlowControlAndCharacters) {
    KernelComPort com(kernel);
    ASSERT_TRUE(com.Open(7).ok());
    serial::LineSettings line;  // 115200 8N1
    ASSERT_TRUE(com.SetLineSettings(line).ok());
    EXPECT_EQ(Last(IOCTL_SERIAL_SET_BAUD_RATE).input, AsBytes(SERIAL_BAUD_RATE{115200}));
    EXPECT_EQ(Last(IOCTL_SERIAL_SET_LINE_CONTROL).input,
              (std::vector<UCHAR>{STOP_BIT_1, NO_PARITY, 8}));
    // Flow control and the special characters go back as the driver reported them.
    EXPECT_EQ(Last(IOCTL_SERIAL_SET_HANDFLOW).input,
              AsBytes(SERIAL_HANDFLOW{SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE,
                                      SERIAL_RTS_HANDSHAKE, 80, 200}));
    EXPECT_EQ(Last(IOCTL_SERIAL_SET_CHARS).input,
              (std::vector<UCHAR>{0x1A, 0x3F, 0x00, 0x0D, 0x11, 0x13}));

    ASSERT_TRUE(com.SetTimeouts({30, 15, 750, 15, 750}).ok());
    EXPECT_EQ(Last(IOCTL_SERIAL_SET_TIMEOUTS).input,
              AsBytes(SERIAL_TIMEOUTS{30, 15, 750, 15, 750}));

    port->log.clear();
    com.ClearErrors();
    com.PurgeInput();
    ASSERT_EQ(Codes(), (std::vector<ULONG>{IOCTL_SERIAL_GET_COMMSTATUS, IOCTL_SERIAL_PURGE}));
    EXPECT_EQ(Last(IOCTL_SERIAL_PURGE).input, AsBytes(ULONG{SERIAL_PURGE_RXCLEAR}));
}

TEST_F(SerialHandleTest, ReadsAndWritesCarryTheBytesAndShortReadsShowAsCounts) {
    KernelComPort com(kernel);
    ASSERT_TRUE(com.Open(7).ok());
    const std::uint8_t request[] = {0x65, 0x00, 0x9B};
    EXPECT_EQ(com.Write(request), 3u);
    EXPECT_EQ(port->tx, (std::vector<UCHAR>{0x65, 0x00, 0x9B}));
    port->rx = {1, 2, 3};
    std::uint8_t header[5] = {};
    EXPECT_EQ(com.Read(header), 3u);  // the driver's time-out: success with fewer bytes
    EXPECT_EQ(header[2], 3);

    ULONG errors = 0;
    SERIAL_STATUS status{};
    EXPECT_STATUS(STATUS_SUCCESS, com.handle().ClearCommError(&errors, &status));
    EXPECT_EQ(errors, 0x2u);
    EXPECT_EQ(status.AmountInInQueue, 17u);
    ULONG modem = 0;
    EXPECT_STATUS(STATUS_SUCCESS, com.handle().GetCommModemStatus(&modem));
    EXPECT_EQ(modem, 0xB0u);
}

TEST_F(SerialHandleTest, OpenFailuresNameThePortAndTheStatus) {
    KernelComPort com(kernel);
    const ys::Status missing = com.Open(9);
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("COM9"), std::string::npos);
    EXPECT_NE(missing.error().find("STATUS_OBJECT_NAME_NOT_FOUND"), std::string::npos);
    EXPECT_FALSE(com.Open(0).ok());
    EXPECT_FALSE(com.Open(256).ok());

    ASSERT_TRUE(com.Open(7).ok());
    KernelComPort second(kernel);
    const ys::Status busy = second.Open(7);
    ASSERT_FALSE(busy.ok());
    EXPECT_NE(busy.error().find("STATUS_ACCESS_DENIED"), std::string::npos);
    EXPECT_FALSE(second.IsOpen());
    // A closed port reads and writes nothing and refuses its settings.
    std::uint8_t b[4];
    EXPECT_EQ(second.Read(b), 0u);
    EXPECT_EQ(second.Write(b), 0u);
    EXPECT_FALSE(second.SetTimeouts({}).ok());
    EXPECT_FALSE(second.SetLineSettings({}).ok());

    com.Close();
    EXPECT_TRUE(second.Open(7).ok());
}

TEST_F(SerialHandleTest, AShortRecordFromTheDriverIsNotTakenForAnAnswer) {
    SerialHandle h(kernel);
    ASSERT_STATUS(STATUS_SUCCESS, h.Open("\\\\.\\COM7"));
    port->shortAnswer = 2;
    Dcb dcb;
    dcb.BaudRate = 1234;
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, h.GetCommState(&dcb));
    EXPECT_EQ(dcb.BaudRate, 1234u);  // untouched
    host::CommTimeouts t{1, 2, 3, 4, 5};
    port->records[IOCTL_SERIAL_GET_TIMEOUTS] = AsBytes(t);
    host::CommTimeouts got{};
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, h.GetCommTimeouts(&got));
    port->shortAnswer = 0;
    EXPECT_STATUS(STATUS_SUCCESS, h.GetCommTimeouts(&got));
    EXPECT_EQ(got.ReadTotalTimeoutConstant, 3u);
}

}  // namespace
}  // namespace ys::test
