#include "drivers/host/kernel_com_port.h"

#include "drivers/kernel/ntstatus.h"

namespace ys::host {

using namespace ys::kernel;

Status KernelComPort::Open(int portNo) {
    Close();
    if (portNo < 1 || portNo > serial::kMaxPortNo)
        return Error{serial::PortName(portNo) + ": no such port"};
    const NTSTATUS status = handle_.Open("\\\\.\\" + serial::PortName(portNo));
    if (!NT_SUCCESS(status)) return Error{serial::PortName(portNo) + ": " + StatusText(status)};
    return {};
}

Status KernelComPort::SetLineSettings(const serial::LineSettings& settings) {
    Dcb dcb;
    NTSTATUS status = handle_.GetCommState(&dcb);
    if (!NT_SUCCESS(status)) return Error{"reading the line settings: " + StatusText(status)};
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = static_cast<UCHAR>(settings.dataBits);
    dcb.fBinary = settings.binary;
    dcb.fParity = settings.parityCheck;
    switch (settings.parity) {
        case serial::Parity::kNone:
            dcb.Parity = NOPARITY;
            break;
        case serial::Parity::kOdd:
            dcb.Parity = ODDPARITY;
            break;
        case serial::Parity::kEven:
            dcb.Parity = EVENPARITY;
            break;
        case serial::Parity::kMark:
            dcb.Parity = MARKPARITY;
            break;
        case serial::Parity::kSpace:
            dcb.Parity = SPACEPARITY;
            break;
    }
    switch (settings.stopBits) {
        case serial::StopBits::kOne:
            dcb.StopBits = ONESTOPBIT;
            break;
        case serial::StopBits::kOneAndHalf:
            dcb.StopBits = ONE5STOPBITS;
            break;
        case serial::StopBits::kTwo:
            dcb.StopBits = TWOSTOPBITS;
            break;
    }
    status = handle_.SetCommState(dcb);
    if (!NT_SUCCESS(status)) return Error{"setting the line: " + StatusText(status)};
    return {};
}

Status KernelComPort::SetTimeouts(const serial::Timeouts& t) {
    const NTSTATUS status =
        handle_.SetCommTimeouts({t.readInterval, t.readTotalMultiplier, t.readTotalConstant,
                                 t.writeTotalMultiplier, t.writeTotalConstant});
    if (!NT_SUCCESS(status)) return Error{"setting the time-outs: " + StatusText(status)};
    return {};
}

std::size_t KernelComPort::Read(std::span<std::uint8_t> buffer) {
    ULONG_PTR n = 0;
    (void)handle_.ReadFile(buffer, &n);  // a time-out or a failure shows as a short count
    return n;
}

std::size_t KernelComPort::Write(std::span<const std::uint8_t> bytes) {
    ULONG_PTR n = 0;
    (void)handle_.WriteFile(bytes, &n);
    return n;
}

void KernelComPort::ClearErrors() {
    (void)handle_.ClearCommError(nullptr, nullptr);
}

void KernelComPort::PurgeInput() {
    (void)handle_.PurgeComm(SERIAL_PURGE_RXCLEAR);
}

void KernelComPort::Close() {
    if (handle_.IsOpen()) (void)handle_.Close();
}

serial::PortFactory KernelComPortFactory(Kernel& kernel) {
    return [&kernel] { return std::make_unique<KernelComPort>(kernel); };
}

}  // namespace ys::host
