#include "drivers/host/serial_handle.h"

#include <cstring>
#include <vector>

namespace ys::host {

using namespace ys::kernel;

SERIAL_HANDFLOW HandflowFromDcb(const Dcb& dcb) {
    SERIAL_HANDFLOW h{};
    if (dcb.fDtrControl == DTR_CONTROL_ENABLE) h.ControlHandShake |= SERIAL_DTR_CONTROL;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) h.ControlHandShake |= SERIAL_DTR_HANDSHAKE;
    if (dcb.fOutxCtsFlow) h.ControlHandShake |= SERIAL_CTS_HANDSHAKE;
    if (dcb.fOutxDsrFlow) h.ControlHandShake |= SERIAL_DSR_HANDSHAKE;
    if (dcb.fDsrSensitivity) h.ControlHandShake |= SERIAL_DSR_SENSITIVITY;
    if (dcb.fAbortOnError) h.ControlHandShake |= SERIAL_ERROR_ABORT;
    if (dcb.fOutX) h.FlowReplace |= SERIAL_AUTO_TRANSMIT;
    if (dcb.fInX) h.FlowReplace |= SERIAL_AUTO_RECEIVE;
    if (dcb.fErrorChar) h.FlowReplace |= SERIAL_ERROR_CHAR;
    if (dcb.fNull) h.FlowReplace |= SERIAL_NULL_STRIPPING;
    if (dcb.fTXContinueOnXoff) h.FlowReplace |= SERIAL_XOFF_CONTINUE;
    switch (dcb.fRtsControl) {
        case RTS_CONTROL_ENABLE:
            h.FlowReplace |= SERIAL_RTS_CONTROL;
            break;
        case RTS_CONTROL_HANDSHAKE:
            h.FlowReplace |= SERIAL_RTS_HANDSHAKE;
            break;
        case RTS_CONTROL_TOGGLE:
            h.FlowReplace |= SERIAL_RTS_MASK;
            break;
        default:
            break;
    }
    h.XonLimit = dcb.XonLim;
    h.XoffLimit = dcb.XoffLim;
    return h;
}

void DcbFromHandflow(const SERIAL_HANDFLOW& h, Dcb* dcb) {
    const ULONG dtr = h.ControlHandShake & SERIAL_DTR_MASK;
    dcb->fDtrControl = dtr == SERIAL_DTR_HANDSHAKE ? DTR_CONTROL_HANDSHAKE
                       : dtr == SERIAL_DTR_CONTROL ? DTR_CONTROL_ENABLE
                                                   : DTR_CONTROL_DISABLE;
    dcb->fOutxCtsFlow = (h.ControlHandShake & SERIAL_CTS_HANDSHAKE) != 0;
    dcb->fOutxDsrFlow = (h.ControlHandShake & SERIAL_DSR_HANDSHAKE) != 0;
    dcb->fDsrSensitivity = (h.ControlHandShake & SERIAL_DSR_SENSITIVITY) != 0;
    dcb->fAbortOnError = (h.ControlHandShake & SERIAL_ERROR_ABORT) != 0;
    dcb->fOutX = (h.FlowReplace & SERIAL_AUTO_TRANSMIT) != 0;
    dcb->fInX = (h.FlowReplace & SERIAL_AUTO_RECEIVE) != 0;
    dcb->fErrorChar = (h.FlowReplace & SERIAL_ERROR_CHAR) != 0;
    dcb->fNull = (h.FlowReplace & SERIAL_NULL_STRIPPING) != 0;
    dcb->fTXContinueOnXoff = (h.FlowReplace & SERIAL_XOFF_CONTINUE) != 0;
    const ULONG rts = h.FlowReplace & SERIAL_RTS_MASK;
    dcb->fRtsControl = rts == SERIAL_RTS_MASK        ? RTS_CONTROL_TOGGLE
                       : rts == SERIAL_RTS_HANDSHAKE ? RTS_CONTROL_HANDSHAKE
                       : rts == SERIAL_RTS_CONTROL   ? RTS_CONTROL_ENABLE
                                                     : RTS_CONTROL_DISABLE;
    // The DCB's limits are 16 bits wide; a driver's larger value would not round-trip anyway.
    dcb->XonLim = static_cast<USHORT>(h.XonLimit);
    dcb->XoffLim = static_cast<USHORT>(h.XoffLimit);
}

NTSTATUS SerialHandle::Open(std::string_view path) {
    if (file_ != nullptr) return STATUS_ACCESS_DENIED;
    std::unique_ptr<File> file;
    const NTSTATUS status = kernel_.io().CreateFile(path, &file);
    if (NT_SUCCESS(status)) file_ = std::move(file);
    return status;
}

NTSTATUS SerialHandle::Close() {
    if (file_ == nullptr) return STATUS_INVALID_HANDLE;
    const NTSTATUS status = file_->Close();
    file_.reset();
    return status;
}

NTSTATUS SerialHandle::DeviceIoControl(ULONG code, std::span<const UCHAR> input,
                                       std::span<UCHAR> output, ULONG_PTR* returned) {
    if (file_ == nullptr) return STATUS_INVALID_HANDLE;
    ULONG_PTR n = 0;
    const NTSTATUS status = file_->DeviceIoControl(code, input, output, &n);
    if (returned != nullptr) *returned = n;
    return status;
}

template <class T>
NTSTATUS SerialHandle::Set(ULONG code, const T& record) {
    UCHAR bytes[sizeof(T)];
    std::memcpy(bytes, &record, sizeof(T));
    return DeviceIoControl(code, bytes, {});
}

template <class T>
NTSTATUS SerialHandle::Get(ULONG code, T* record) {
    UCHAR bytes[sizeof(T)] = {};
    ULONG_PTR n = 0;
    const NTSTATUS status = DeviceIoControl(code, {}, bytes, &n);
    if (!NT_SUCCESS(status)) return status;
    // A driver that answers with a short record has not answered the question.
    if (n < sizeof(T)) return STATUS_INVALID_PARAMETER;
    std::memcpy(record, bytes, sizeof(T));
    return status;
}

NTSTATUS SerialHandle::GetCommState(Dcb* dcb) {
    SERIAL_BAUD_RATE baud{};
    SERIAL_LINE_CONTROL line{};
    SERIAL_CHARS chars{};
    SERIAL_HANDFLOW handflow{};
    NTSTATUS status = Get(IOCTL_SERIAL_GET_BAUD_RATE, &baud);
    if (NT_SUCCESS(status)) status = Get(IOCTL_SERIAL_GET_LINE_CONTROL, &line);
    if (NT_SUCCESS(status)) status = Get(IOCTL_SERIAL_GET_CHARS, &chars);
    if (NT_SUCCESS(status)) status = Get(IOCTL_SERIAL_GET_HANDFLOW, &handflow);
    if (!NT_SUCCESS(status)) return status;
    Dcb d;
    d.BaudRate = baud.BaudRate;
    d.fBinary = true;
    d.fParity = line.Parity != NO_PARITY;
    d.ByteSize = line.WordLength;
    d.Parity = line.Parity;
    d.StopBits = line.StopBits;
    d.EofChar = chars.EofChar;
    d.ErrorChar = chars.ErrorChar;
    d.EvtChar = chars.EventChar;
    d.XonChar = chars.XonChar;
    d.XoffChar = chars.XoffChar;
    DcbFromHandflow(handflow, &d);
    *dcb = d;
    return status;
}

NTSTATUS SerialHandle::SetCommState(const Dcb& dcb) {
    const SERIAL_BAUD_RATE baud{dcb.BaudRate};
    const SERIAL_LINE_CONTROL line{dcb.StopBits, dcb.Parity, dcb.ByteSize};
    const SERIAL_HANDFLOW handflow = HandflowFromDcb(dcb);
    // The break character has no DCB field; the platform sends 0.
    const SERIAL_CHARS chars{dcb.EofChar, dcb.ErrorChar, 0, dcb.EvtChar, dcb.XonChar, dcb.XoffChar};
    NTSTATUS status = Set(IOCTL_SERIAL_SET_BAUD_RATE, baud);
    if (NT_SUCCESS(status)) status = Set(IOCTL_SERIAL_SET_LINE_CONTROL, line);
    if (NT_SUCCESS(status)) status = Set(IOCTL_SERIAL_SET_HANDFLOW, handflow);
    if (NT_SUCCESS(status)) status = Set(IOCTL_SERIAL_SET_CHARS, chars);
    return status;
}

NTSTATUS SerialHandle::GetCommTimeouts(CommTimeouts* timeouts) {
    return Get(IOCTL_SERIAL_GET_TIMEOUTS, timeouts);
}

NTSTATUS SerialHandle::SetCommTimeouts(const CommTimeouts& timeouts) {
    return Set(IOCTL_SERIAL_SET_TIMEOUTS, timeouts);
}

NTSTATUS SerialHandle::SetupComm(ULONG inQueue, ULONG outQueue) {
    return Set(IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{inQueue, outQueue});
}

NTSTATUS SerialHandle::ClearCommError(ULONG* errors, SERIAL_STATUS* status) {
    SERIAL_STATUS s{};
    const NTSTATUS result = Get(IOCTL_SERIAL_GET_COMMSTATUS, &s);
    if (!NT_SUCCESS(result)) return result;
    if (errors != nullptr) *errors = s.Errors;
    if (status != nullptr) *status = s;
    return result;
}

NTSTATUS SerialHandle::PurgeComm(ULONG flags) {
    return Set(IOCTL_SERIAL_PURGE, flags);
}

NTSTATUS SerialHandle::GetCommModemStatus(ULONG* modemStatus) {
    return Get(IOCTL_SERIAL_GET_MODEMSTATUS, modemStatus);
}

NTSTATUS SerialHandle::SetCommMask(ULONG mask) {
    return Set(IOCTL_SERIAL_SET_WAIT_MASK, mask);
}

NTSTATUS SerialHandle::WaitCommEvent(ULONG* events) {
    return Get(IOCTL_SERIAL_WAIT_ON_MASK, events);
}

std::unique_ptr<IoRequest> SerialHandle::StartRead(ULONG length, IoCompletion onCompletion) {
    if (file_ == nullptr) return nullptr;
    return file_->StartRead(length, 0, std::move(onCompletion));
}

NTSTATUS SerialHandle::ReadFile(std::span<UCHAR> buffer, ULONG_PTR* read) {
    if (read != nullptr) *read = 0;
    if (file_ == nullptr) return STATUS_INVALID_HANDLE;
    ULONG_PTR n = 0;
    const NTSTATUS status = file_->Read(buffer, &n);
    if (read != nullptr) *read = n;
    return status;
}

NTSTATUS SerialHandle::WriteFile(std::span<const UCHAR> bytes, ULONG_PTR* written) {
    if (written != nullptr) *written = 0;
    if (file_ == nullptr) return STATUS_INVALID_HANDLE;
    ULONG_PTR n = 0;
    const NTSTATUS status = file_->Write(bytes, &n);
    if (written != nullptr) *written = n;
    return status;
}

}  // namespace ys::host
