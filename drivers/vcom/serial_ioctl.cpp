// The serial control codes.
#include <cstring>

#include "drivers/usbpipe/qtxusb.h"
#include "drivers/vcom/device_extension.h"

namespace ys::vcom {

namespace {

constexpr UCHAR kRts = usb::kControlRts;
constexpr UCHAR kDtr = usb::kControlDtr;
constexpr UCHAR kBreak = usb::kControlBreak;

// The standard values of the properties record.
constexpr ULONG SERIAL_SP_SERIALCOMM = 0x00000001;
constexpr ULONG SERIAL_SP_RS232 = 0x00000001;
constexpr ULONG SERIAL_BAUD_115200 = 0x00020000;
constexpr ULONG kProviderCapabilities = 0xF7;
constexpr ULONG kSettableParameters = 0x5F;
constexpr ULONG kSettableBaud = 0x26B60;
constexpr USHORT kSettableData = 0x0008 | 0x0010;  // 7 and 8 data bits
constexpr USHORT kSettableStopParity = 0x0705;

class Request {
public:
    explicit Request(IRP* irp)
        : irp_(irp),
          stack_(IoGetCurrentIrpStackLocation(irp)),
          buffer_(static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer)) {}
    ULONG code() const { return stack_->Parameters.DeviceIoControl.IoControlCode; }
    ULONG inLength() const { return stack_->Parameters.DeviceIoControl.InputBufferLength; }
    ULONG outLength() const { return stack_->Parameters.DeviceIoControl.OutputBufferLength; }

    template <class T>
    bool Input(T* value) const {
        if (inLength() < sizeof(T)) return false;
        std::memcpy(value, buffer_, sizeof(T));
        return true;
    }
    // Completes with `value` as output, or STATUS_INVALID_PARAMETER when it does not fit.
    template <class T>
    NTSTATUS Output(const T& value) {
        if (outLength() < sizeof(T)) return CompleteRequest(irp_, STATUS_INVALID_PARAMETER, 0);
        std::memcpy(buffer_, &value, sizeof(T));
        return CompleteRequest(irp_, STATUS_SUCCESS, sizeof(T));
    }
    NTSTATUS Complete(NTSTATUS status) { return CompleteRequest(irp_, status, 0); }
    IRP* irp() const { return irp_; }

private:
    IRP* irp_;
    IO_STACK_LOCATION* stack_;
    UCHAR* buffer_;
};

NTSTATUS SendModemControl(VCOM_EXTENSION* ext) {
    UCHAR bits;
    {
        SpinLockGuard guard(ext->lock);
        bits = ext->modemControl;
    }
    return SendVendorCommand(ext, usb::VendorCommand::kSetControlLines, {bits});
}

// DTR and RTS changes: refused while that line is under handshake control.
NTSTATUS SetControlLine(VCOM_EXTENSION* ext, Request& r, UCHAR bit, bool on) {
    {
        SpinLockGuard guard(ext->lock);
        const bool handshake =
            bit == kDtr ? (ext->handflow.ControlHandShake & SERIAL_DTR_MASK) == SERIAL_DTR_HANDSHAKE
                        : (ext->handflow.FlowReplace & SERIAL_RTS_MASK) == SERIAL_RTS_HANDSHAKE;
        if (handshake) return r.Complete(STATUS_INVALID_PARAMETER);
        ext->modemControl = on ? (ext->modemControl | bit) : (ext->modemControl & ~bit);
    }
    return r.Complete(ext->endPointCaps != 0 ? SendModemControl(ext) : STATUS_SUCCESS);
}

void WaitCancelRoutine(DEVICE_OBJECT*, IRP* irp) {
    auto* ext = static_cast<VCOM_EXTENSION*>(irp->Tail.Overlay.DriverContext[0]);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    bool mine = false;
    {
        SpinLockGuard guard(ext->lock);
        if (ext->pendingWait == irp) {
            ext->pendingWait = nullptr;
            mine = true;
        }
    }
    if (mine) CompleteRequest(irp, STATUS_CANCELLED, 0);
}

NTSTATUS WaitOnMask(VCOM_EXTENSION* ext, Request& r) {
    if (r.outLength() < sizeof(ULONG)) return r.Complete(STATUS_INVALID_PARAMETER);
    IRP* irp = r.irp();
    irp->Tail.Overlay.DriverContext[0] = ext;
    ULONG matched = 0;
    {
        SpinLockGuard guard(ext->lock);
        if (ext->waitMask == 0 || ext->pendingWait != nullptr) {
            return r.Complete(STATUS_INVALID_PARAMETER);
        }
        matched = ext->events & ext->waitMask;
        if (matched == 0) {
            IoMarkIrpPending(irp);
            ext->pendingWait = irp;
            IoSetCancelRoutine(irp, WaitCancelRoutine);
            if (irp->Cancel && ClaimFromCancel(irp)) {
                ext->pendingWait = nullptr;
            } else {
                return STATUS_PENDING;
            }
        } else {
            ext->events = 0;
        }
    }
    if (matched == 0) {
        CompleteRequest(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    return r.Output(matched);
}

NTSTATUS SetWaitMask(VCOM_EXTENSION* ext, Request& r) {
    ULONG mask = 0;
    if (!r.Input(&mask)) return r.Complete(STATUS_INVALID_PARAMETER);
    IRP* wait = nullptr;
    bool claimed = false;
    {
        SpinLockGuard guard(ext->lock);
        ext->waitMask = mask;
        wait = ext->pendingWait;
        ext->pendingWait = nullptr;
        if (wait != nullptr) claimed = ClaimFromCancel(wait);
    }
    if (wait != nullptr) {
        const ULONG none = 0;
        if (claimed) {
            std::memcpy(wait->AssociatedIrp.SystemBuffer, &none, sizeof none);
            CompleteRequest(wait, STATUS_SUCCESS, sizeof none);
        } else {
            CompleteRequest(wait, STATUS_CANCELLED, 0);
        }
    }
    return r.Complete(STATUS_SUCCESS);
}

NTSTATUS Purge(VCOM_EXTENSION* ext, Request& r) {
    ULONG flags = 0;
    if (!r.Input(&flags)) return r.Complete(STATUS_INVALID_PARAMETER);
    if (flags & SERIAL_PURGE_TXABORT) CancelWrites(ext, STATUS_CANCELLED);
    if (flags & SERIAL_PURGE_RXABORT) CancelReads(ext, STATUS_CANCELLED);
    SpinLockGuard guard(ext->lock);
    if (flags & SERIAL_PURGE_TXCLEAR) ext->txBuffer.Clear();
    if (flags & SERIAL_PURGE_RXCLEAR) {
        ext->rxBuffer.Clear();
        RxBufferDrainedLocked(ext);
    }
    return r.Complete(STATUS_SUCCESS);
}

NTSTATUS SetQueueSize(VCOM_EXTENSION* ext, Request& r) {
    SERIAL_QUEUE_SIZE size{};
    if (!r.Input(&size)) return r.Complete(STATUS_INVALID_PARAMETER);
    bool running;
    {
        SpinLockGuard guard(ext->lock);
        running = ext->rxRunning;
    }
    if (running) StopReceiver(ext, true);
    NTSTATUS status = STATUS_SUCCESS;
    {
        SpinLockGuard guard(ext->lock);
        if (size.InSize > ext->rxBuffer.Size()) status = ext->rxBuffer.Enlarge(size.InSize);
        if (NT_SUCCESS(status)) {
            ext->inQueueSize = ext->rxBuffer.Size();
            ext->outQueueSize = size.OutSize;
            RxBufferDrainedLocked(ext);
        }
    }
    if (running) StartReceiver(ext);
    return r.Complete(status);
}

NTSTATUS GetCommStatus(VCOM_EXTENSION* ext, Request& r) {
    SERIAL_STATUS s{};
    {
        SpinLockGuard guard(ext->lock);
        s.Errors = ext->errors;
        ext->errors = 0;
        s.HoldReasons = ext->holdReasons;
        s.AmountInInQueue = ext->rxBuffer.Count();
        if (ext->txAsync == 1) {
            s.AmountInOutQueue = ext->txBuffer.Count();
        } else {
            ULONG pending = 0;
            for (IRP* w : ext->writeQueue) {
                pending += IoGetCurrentIrpStackLocation(w)->Parameters.Write.Length;
            }
            if (ext->currentWrite != nullptr) {
                pending += IoGetCurrentIrpStackLocation(ext->currentWrite)->Parameters.Write.Length;
            }
            s.AmountInOutQueue = pending;
        }
        s.EofReceived = false;
        s.WaitForImmediate = ext->immediateIrp != nullptr;
    }
    return r.Output(s);
}

NTSTATUS GetProperties(VCOM_EXTENSION* ext, Request& r) {
    SERIAL_COMMPROP p{};
    p.PacketLength = sizeof(SERIAL_COMMPROP);
    p.PacketVersion = 2;
    p.ServiceMask = SERIAL_SP_SERIALCOMM;
    p.MaxTxQueue = 0;
    p.MaxRxQueue = 0;
    p.MaxBaud = SERIAL_BAUD_115200;
    p.ProvSubType = SERIAL_SP_RS232;
    p.ProvCapabilities = kProviderCapabilities;
    p.SettableParams = kSettableParameters;
    p.SettableBaud = kSettableBaud;
    p.SettableData = kSettableData;
    p.SettableStopParity = kSettableStopParity;
    {
        SpinLockGuard guard(ext->lock);
        p.CurrentTxQueue = ext->outQueueSize;
        p.CurrentRxQueue = ext->inQueueSize;
    }
    return r.Output(p);
}

NTSTATUS ResetPipeCode(VCOM_EXTENSION* ext, Request& r, LowerPipe& pipe) {
    return r.Complete(
        LowerIoctl(ext, &pipe, usbpipe::IOCTL_QTXUSB_RESET_PIPE, nullptr, 0, nullptr, 0));
}

NTSTATUS SetBaudRate(VCOM_EXTENSION* ext, Request& r) {
    SERIAL_BAUD_RATE rate{};
    if (!r.Input(&rate) || !BaudRateAllowed(ext, rate.BaudRate) ||
        !LineCodingAccepts(ext, rate.BaudRate)) {
        return r.Complete(STATUS_INVALID_PARAMETER);
    }
    {
        SpinLockGuard guard(ext->lock);
        ext->baudRate = rate.BaudRate;
    }
    return r.Complete(SendLineSettings(ext));
}

NTSTATUS SetLineControl(VCOM_EXTENSION* ext, Request& r) {
    SERIAL_LINE_CONTROL line{};
    if (!r.Input(&line) || (line.StopBits != STOP_BIT_1 && line.StopBits != STOP_BITS_2) ||
        line.Parity > EVEN_PARITY || (line.WordLength != 7 && line.WordLength != 8)) {
        return r.Complete(STATUS_INVALID_PARAMETER);
    }
    {
        SpinLockGuard guard(ext->lock);
        ext->lineControl = line;
    }
    return r.Complete(SendLineSettings(ext));
}

NTSTATUS SetHandflow(VCOM_EXTENSION* ext, Request& r) {
    SERIAL_HANDFLOW h{};
    if (!r.Input(&h) || (h.ControlHandShake & 0x7FFFFF84) || (h.FlowReplace & 0x7FFFFF20)) {
        return r.Complete(STATUS_INVALID_PARAMETER);
    }
    {
        SpinLockGuard guard(ext->lock);
        const auto limit = static_cast<LONGLONG>(ext->inQueueSize);
        if (h.XonLimit > limit || h.XoffLimit > limit) {
            return r.Complete(STATUS_INVALID_PARAMETER);
        }
        ext->handflow = h;
    }
    return r.Complete(SendLineSettings(ext));
}

NTSTATUS SetChars(VCOM_EXTENSION* ext, Request& r) {
    SERIAL_CHARS c{};
    if (!r.Input(&c)) return r.Complete(STATUS_INVALID_PARAMETER);
    UCHAR replace;
    {
        SpinLockGuard guard(ext->lock);
        ext->chars = c;
        replace = (ext->handflow.FlowReplace & SERIAL_ERROR_CHAR) ? 1 : 0;
    }
    // Both go whatever the first one's result; the request reports the first failure.
    const NTSTATUS flow =
        SendVendorCommand(ext, usb::VendorCommand::kSetFlowCharacters, {c.XonChar, c.XoffChar});
    const NTSTATUS error =
        SendVendorCommand(ext, usb::VendorCommand::kSetErrorReplacement, {replace, c.ErrorChar});
    return r.Complete(NT_SUCCESS(flow) ? error : flow);
}

NTSTATUS SetModemControl(VCOM_EXTENSION* ext, Request& r) {
    ULONG v = 0;
    if (!r.Input(&v)) return r.Complete(STATUS_INVALID_PARAMETER);
    {
        SpinLockGuard guard(ext->lock);
        UCHAR bits = ext->modemControl & ~(usb::kControlDtr | usb::kControlRts);
        if (v & SERIAL_DTR_STATE) bits |= kDtr;
        if (v & SERIAL_RTS_STATE) bits |= kRts;
        ext->modemControl = bits;
    }
    return r.Complete(SendModemControl(ext));
}

NTSTATUS SetTimeouts(VCOM_EXTENSION* ext, Request& r) {
    SERIAL_TIMEOUTS t{};
    if (!r.Input(&t) ||
        (t.ReadIntervalTimeout == MAXULONG && t.ReadTotalTimeoutMultiplier == MAXULONG &&
         t.ReadTotalTimeoutConstant == MAXULONG)) {
        return r.Complete(STATUS_INVALID_PARAMETER);
    }
    SpinLockGuard guard(ext->lock);
    ext->timeouts = t;
    ext->readMode = ReadModeFor(t);
    RestartReadTimeoutLocked(ext);
    return r.Complete(STATUS_SUCCESS);
}

NTSTATUS ImmediateChar(VCOM_EXTENSION* ext, Request& r) {
    UCHAR c = 0;
    if (!r.Input(&c)) return r.Complete(STATUS_INVALID_PARAMETER);
    return SendImmediateChar(ext, r.irp(), c);
}

NTSTATUS SetBreak(VCOM_EXTENSION* ext, Request& r) {
    if (ext->endPointCaps != 2) return r.Complete(STATUS_SUCCESS);
    {
        SpinLockGuard guard(ext->lock);
        if (r.code() == IOCTL_SERIAL_SET_BREAK_ON) {
            ext->modemControl |= kBreak;
        } else {
            ext->modemControl &= ~kBreak;
        }
    }
    return r.Complete(SendModemControl(ext));
}

NTSTATUS Dispatch(VCOM_EXTENSION* ext, Request& r) {
    switch (r.code()) {
        case IOCTL_SERIAL_SET_BAUD_RATE:
            return SetBaudRate(ext, r);
        case IOCTL_SERIAL_GET_BAUD_RATE: {
            SpinLockGuard guard(ext->lock);
            return r.Output(SERIAL_BAUD_RATE{ext->baudRate});
        }
        case IOCTL_SERIAL_SET_LINE_CONTROL:
            return SetLineControl(ext, r);
        case IOCTL_SERIAL_GET_LINE_CONTROL: {
            SpinLockGuard guard(ext->lock);
            return r.Output(ext->lineControl);
        }
        case IOCTL_SERIAL_SET_HANDFLOW:
            return SetHandflow(ext, r);
        case IOCTL_SERIAL_GET_HANDFLOW: {
            SpinLockGuard guard(ext->lock);
            return r.Output(ext->handflow);
        }
        case IOCTL_SERIAL_SET_CHARS:
            return SetChars(ext, r);
        case IOCTL_SERIAL_GET_CHARS: {
            SpinLockGuard guard(ext->lock);
            return r.Output(ext->chars);
        }
        case IOCTL_SERIAL_SET_DTR:
            return SetControlLine(ext, r, kDtr, true);
        case IOCTL_SERIAL_CLR_DTR:
            return SetControlLine(ext, r, kDtr, false);
        case IOCTL_SERIAL_SET_RTS:
            return SetControlLine(ext, r, kRts, true);
        case IOCTL_SERIAL_CLR_RTS:
            return SetControlLine(ext, r, kRts, false);
        case IOCTL_SERIAL_SET_BREAK_ON:
        case IOCTL_SERIAL_SET_BREAK_OFF:
            return SetBreak(ext, r);
        case IOCTL_SERIAL_GET_MODEM_CONTROL:
        case IOCTL_SERIAL_GET_DTRRTS: {
            SpinLockGuard guard(ext->lock);
            ULONG v = 0;
            if (ext->modemControl & kDtr) v |= SERIAL_DTR_STATE;
            if (ext->modemControl & kRts) v |= SERIAL_RTS_STATE;
            return r.Output(v);
        }
        case IOCTL_SERIAL_SET_MODEM_CONTROL:
            return SetModemControl(ext, r);
        case IOCTL_SERIAL_GET_MODEMSTATUS: {
            SpinLockGuard guard(ext->lock);
            return r.Output(ext->modemStatus);
        }
        case IOCTL_SERIAL_GET_COMMSTATUS:
            return GetCommStatus(ext, r);
        case IOCTL_SERIAL_GET_PROPERTIES:
            return GetProperties(ext, r);
        case IOCTL_SERIAL_SET_TIMEOUTS:
            return SetTimeouts(ext, r);
        case IOCTL_SERIAL_GET_TIMEOUTS: {
            SpinLockGuard guard(ext->lock);
            return r.Output(ext->timeouts);
        }
        case IOCTL_SERIAL_SET_QUEUE_SIZE:
            return SetQueueSize(ext, r);
        case IOCTL_SERIAL_SET_WAIT_MASK:
            return SetWaitMask(ext, r);
        case IOCTL_SERIAL_GET_WAIT_MASK: {
            SpinLockGuard guard(ext->lock);
            return r.Output(ext->waitMask);
        }
        case IOCTL_SERIAL_WAIT_ON_MASK:
            return WaitOnMask(ext, r);
        case IOCTL_SERIAL_PURGE:
            return Purge(ext, r);
        case IOCTL_SERIAL_IMMEDIATE_CHAR:
            return ImmediateChar(ext, r);
        case IOCTL_SERIAL_GET_STATS: {
            SpinLockGuard guard(ext->lock);
            return r.Output(ext->stats);
        }
        case IOCTL_SERIAL_CLEAR_STATS: {
            SpinLockGuard guard(ext->lock);
            ext->stats = {};
            return r.Complete(STATUS_SUCCESS);
        }
        case IOCTL_SERIAL_CONFIG_SIZE:
            return r.Output(ULONG{0});
        case IOCTL_SERIAL_RESET_DEVICE:
        case IOCTL_SERIAL_SET_XOFF:
        case IOCTL_SERIAL_SET_XON:
        case IOCTL_SERIAL_XOFF_COUNTER:
        case IOCTL_SERIAL_LSRMST_INSERT:
        case IOCTL_SERIAL_SET_FIFO_CONTROL:
            return r.Complete(STATUS_SUCCESS);
        case IOCTL_QTXVCOM_RESET_RX_PIPE:
            return ResetPipeCode(ext, r, ext->rxPipe);
        case IOCTL_QTXVCOM_RESET_TX_PIPE:
            return ResetPipeCode(ext, r, ext->txPipe);
        default:
            return r.Complete(STATUS_INVALID_DEVICE_REQUEST);
    }
}

}  // namespace

NTSTATUS VcomDispatchDeviceControl(DEVICE_OBJECT* device, IRP* irp) {
    VCOM_EXTENSION* ext = Extension(device);
    Request r(irp);
    RemoveLockHolder hold(ext->removeLock, irp);
    // Purging stays possible after removal, so a program can always empty its requests.
    if (r.code() == IOCTL_SERIAL_PURGE) return Dispatch(ext, r);
    if (!hold.held() || IsGone(ext)) return r.Complete(STATUS_DELETE_PENDING);
    return Dispatch(ext, r);
}

}  // namespace ys::vcom
