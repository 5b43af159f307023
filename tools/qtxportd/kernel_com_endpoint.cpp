#include "tools/qtxportd/kernel_com_endpoint.h"

#include "drivers/kernel/ntstatus.h"

namespace ys::portd {

using kernel::NT_SUCCESS;
using kernel::NTSTATUS;
using kernel::StatusText;

host::Dcb DcbForLine(host::Dcb dcb, const LineRequest& line) {
    dcb.BaudRate = line.baudRate;
    dcb.ByteSize = line.dataBits;
    dcb.Parity = static_cast<kernel::UCHAR>(line.parity);  // the same numbering
    dcb.fParity = line.parity != LineParity::kNone;
    dcb.StopBits = line.stopBits == 2 ? host::TWOSTOPBITS : host::ONESTOPBIT;
    dcb.fOutxCtsFlow = line.rtsCtsFlow;
    if (line.rtsCtsFlow) {
        dcb.fRtsControl = host::RTS_CONTROL_HANDSHAKE;
    } else if (dcb.fRtsControl == host::RTS_CONTROL_HANDSHAKE) {
        dcb.fRtsControl = host::RTS_CONTROL_ENABLE;  // RTS stays on when the handshake ends
    }
    dcb.fOutX = line.xonOutput;
    dcb.fInX = line.xonInput;
    dcb.XonChar = line.xonChar;
    dcb.XoffChar = line.xoffChar;
    return dcb;
}

Status KernelComEndpoint::Open() {
    const NTSTATUS status = handle_.Open("\\\\.\\" + portName_);
    if (!NT_SUCCESS(status)) return Error{portName_ + ": " + StatusText(status)};
    // A read returns as soon as anything is there, or empty after the first-byte wait; writes
    // wait as long as the device takes.
    const host::CommTimeouts t{kernel::MAXULONG, kernel::MAXULONG, kFirstByteMs, 0, 0};
    if (const NTSTATUS s = handle_.SetCommTimeouts(t); !NT_SUCCESS(s)) {
        (void)handle_.Close();
        return Error{portName_ + ": setting the time-outs: " + StatusText(s)};
    }
    return {};
}

void KernelComEndpoint::Close() {
    (void)handle_.Close();
}

Status KernelComEndpoint::SetLine(const LineRequest& line) {
    host::Dcb dcb;
    NTSTATUS status = handle_.GetCommState(&dcb);
    if (!NT_SUCCESS(status)) return Error{"reading the line settings: " + StatusText(status)};
    status = handle_.SetCommState(DcbForLine(dcb, line));
    if (!NT_SUCCESS(status)) return Error{"setting the line: " + StatusText(status)};
    return {};
}

std::size_t KernelComEndpoint::Write(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        kernel::ULONG_PTR n = 0;
        const NTSTATUS status = handle_.WriteFile(bytes.subspan(done), &n);
        done += n;
        if (!NT_SUCCESS(status) || n == 0) break;
    }
    return done;
}

Result<std::size_t> KernelComEndpoint::Read(std::span<std::uint8_t> buffer) {
    kernel::ULONG_PTR n = 0;
    const NTSTATUS status = handle_.ReadFile(buffer, &n);
    // A time-out or a read cancelled by CancelRead still hands over what it holds.
    if (NT_SUCCESS(status) || status == kernel::STATUS_TIMEOUT ||
        status == kernel::STATUS_CANCELLED) {
        return static_cast<std::size_t>(n);
    }
    return Error{portName_ + ": " + StatusText(status)};
}

void KernelComEndpoint::CancelRead() {
    (void)handle_.PurgeComm(kernel::SERIAL_PURGE_RXABORT);
}

}  // namespace ys::portd
