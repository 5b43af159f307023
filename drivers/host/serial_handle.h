// The program's side of a serial port on the kernel layer, call for call as the platform's
// communication API does it: each function becomes the serial requests that API sends, so a
// program (the monitor link, the driver host's bridge) talks to the virtual COM port driver as it
// would on the platform.
#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "drivers/kernel/io_manager.h"
#include "drivers/kernel/kernel.h"
#include "drivers/kernel/serial_ioctl.h"

namespace ys::host {

using kernel::BOOLEAN;
using kernel::NTSTATUS;
using kernel::UCHAR;
using kernel::ULONG;
using kernel::ULONG_PTR;
using kernel::USHORT;

inline constexpr UCHAR NOPARITY = 0;
inline constexpr UCHAR ODDPARITY = 1;
inline constexpr UCHAR EVENPARITY = 2;
inline constexpr UCHAR MARKPARITY = 3;
inline constexpr UCHAR SPACEPARITY = 4;
inline constexpr UCHAR ONESTOPBIT = 0;
inline constexpr UCHAR ONE5STOPBITS = 1;
inline constexpr UCHAR TWOSTOPBITS = 2;

inline constexpr UCHAR DTR_CONTROL_DISABLE = 0;
inline constexpr UCHAR DTR_CONTROL_ENABLE = 1;
inline constexpr UCHAR DTR_CONTROL_HANDSHAKE = 2;
inline constexpr UCHAR RTS_CONTROL_DISABLE = 0;
inline constexpr UCHAR RTS_CONTROL_ENABLE = 1;
inline constexpr UCHAR RTS_CONTROL_HANDSHAKE = 2;
inline constexpr UCHAR RTS_CONTROL_TOGGLE = 3;

// The device control block: the line, flow control and special characters of a port.
struct Dcb {
    ULONG BaudRate = 0;
    bool fBinary = true;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    UCHAR fDtrControl = DTR_CONTROL_DISABLE;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    UCHAR fRtsControl = RTS_CONTROL_DISABLE;
    bool fAbortOnError = false;
    USHORT XonLim = 0;
    USHORT XoffLim = 0;
    UCHAR ByteSize = 8;
    UCHAR Parity = NOPARITY;
    UCHAR StopBits = ONESTOPBIT;
    UCHAR XonChar = 0;
    UCHAR XoffChar = 0;
    UCHAR ErrorChar = 0;
    UCHAR EofChar = 0;
    UCHAR EvtChar = 0;
};

// The flow-control record of a DCB, and back.
kernel::SERIAL_HANDFLOW HandflowFromDcb(const Dcb& dcb);
void DcbFromHandflow(const kernel::SERIAL_HANDFLOW& handflow, Dcb* dcb);

using CommTimeouts = kernel::SERIAL_TIMEOUTS;

// One open port. Every call is synchronous and returns the driver's status (a failure status
// when the handle is not open). Not for use from two threads at once, except one thread reading
// while another writes or sets the port up, as the platform allows.
class SerialHandle {
public:
    explicit SerialHandle(kernel::Kernel& kernel) : kernel_(kernel) {}
    ~SerialHandle() { (void)Close(); }
    SerialHandle(const SerialHandle&) = delete;
    SerialHandle& operator=(const SerialHandle&) = delete;

    // "\\.\COM3": the create request to the port's device.
    NTSTATUS Open(std::string_view path);
    bool IsOpen() const { return file_ != nullptr; }
    // Cleanup and close.
    NTSTATUS Close();

    // GET_BAUD_RATE, GET_LINE_CONTROL, GET_CHARS, GET_HANDFLOW.
    NTSTATUS GetCommState(Dcb* dcb);
    // SET_BAUD_RATE, SET_LINE_CONTROL, SET_HANDFLOW, SET_CHARS, in this order; stops at the first
    // request the driver refuses.
    NTSTATUS SetCommState(const Dcb& dcb);
    NTSTATUS GetCommTimeouts(CommTimeouts* timeouts);
    NTSTATUS SetCommTimeouts(const CommTimeouts& timeouts);
    // SET_QUEUE_SIZE.
    NTSTATUS SetupComm(ULONG inQueue, ULONG outQueue);
    // GET_COMMSTATUS, which also resets the driver's error flags.
    NTSTATUS ClearCommError(ULONG* errors, kernel::SERIAL_STATUS* status);
    NTSTATUS PurgeComm(ULONG flags);
    NTSTATUS GetCommModemStatus(ULONG* modemStatus);
    NTSTATUS SetCommMask(ULONG mask);
    NTSTATUS WaitCommEvent(ULONG* events);
    // A read within the port's time-outs: success with fewer bytes when they expire.
    NTSTATUS ReadFile(std::span<UCHAR> buffer, ULONG_PTR* read);
    // The same read of up to `length` bytes, left to run (an overlapped read): `onCompletion`
    // sees its end on the thread that completes it. Null when the handle is not open.
    std::unique_ptr<kernel::IoRequest> StartRead(ULONG length, kernel::IoCompletion onCompletion);
    NTSTATUS WriteFile(std::span<const UCHAR> bytes, ULONG_PTR* written);

    // Any other control request, for what the calls above do not cover.
    NTSTATUS DeviceIoControl(ULONG code, std::span<const UCHAR> input, std::span<UCHAR> output,
                             ULONG_PTR* returned = nullptr);

private:
    template <class T>
    NTSTATUS Set(ULONG code, const T& record);
    template <class T>
    NTSTATUS Get(ULONG code, T* record);

    kernel::Kernel& kernel_;
    std::unique_ptr<kernel::File> file_;
};

}  // namespace ys::host
