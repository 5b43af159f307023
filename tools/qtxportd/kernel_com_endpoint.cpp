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
    StopRead();
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

void KernelComEndpoint::StartRead(ReadEnd ended) {
    if (!handle_.IsOpen()) {
        ended(Error{portName_ + ": not open"});
        return;
    }
    // The last read has ended; its request is freed once its completion has let go of it.
    if (read_) (void)read_->Wait();
    read_ = handle_.StartRead(
        kReadLength,
        [this, ended = std::move(ended)](NTSTATUS status, std::span<const kernel::UCHAR> bytes) {
            // A time-out or a cancelled read still hands over what it holds.
            if (NT_SUCCESS(status) || status == kernel::STATUS_TIMEOUT ||
                status == kernel::STATUS_CANCELLED) {
                ended(bytes);
            } else {
                ended(Error{portName_ + ": " + StatusText(status)});
            }
        });
}

void KernelComEndpoint::StopRead() {
    if (!read_) return;
    if (!read_->completed()) (void)read_->Cancel();
    (void)read_->Wait();
    read_.reset();
}

}  // namespace ys::portd
