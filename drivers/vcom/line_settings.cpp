// Line settings: the accepted rates, the read mode of the time-outs and the line codings the
// device types understand.
#include <algorithm>
#include <array>

#include "drivers/vcom/device_extension.h"

namespace ys::vcom {

namespace {

constexpr std::array<ULONG, 9> kAcceptedRates = {600,   1200,  2400,  4800,  9600,
                                                 19200, 38400, 76800, 115200};
// Line coding of device types 1 and 2: bits 0-1 of the coding byte.
constexpr std::array<ULONG, 4> kShortCodingRates = {9600, 19200, 38400, 115200};

int IndexOf(std::span<const ULONG> list, ULONG rate) {
    const auto it = std::find(list.begin(), list.end(), rate);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

struct LineSnapshot {
    ULONG baudRate;
    SERIAL_LINE_CONTROL line;
    SERIAL_HANDFLOW handflow;
    SERIAL_CHARS chars;
    UCHAR modemControl;
};

bool RtsHandshake(const SERIAL_HANDFLOW& h) {
    return (h.FlowReplace & SERIAL_RTS_MASK) == SERIAL_RTS_HANDSHAKE;
}
bool CtsOutput(const SERIAL_HANDFLOW& h) {
    return (h.ControlHandShake & SERIAL_CTS_HANDSHAKE) != 0;
}

}  // namespace

bool BaudRateAllowed(const VCOM_EXTENSION* ext, ULONG rate) {
    return ext->noBaudCheck == 1 || IndexOf(kAcceptedRates, rate) >= 0;
}

bool LineCodingAccepts(const VCOM_EXTENSION* ext, ULONG baudRate) {
    if (ext->endPointCaps == 1 || ext->endPointCaps == 2) {
        return IndexOf(kShortCodingRates, baudRate) >= 0;
    }
    return true;
}

ReadMode ReadModeFor(const SERIAL_TIMEOUTS& t) {
    const ULONG i = t.ReadIntervalTimeout;
    const ULONG m = t.ReadTotalTimeoutMultiplier;
    const ULONG c = t.ReadTotalTimeoutConstant;
    if (i == MAXULONG && m == 0 && c == 0) return ReadMode::kImmediate;
    if (i == MAXULONG && m == MAXULONG && c != 0 && c != MAXULONG) return ReadMode::kFirstByte;
    if (i == 0 && m == 0 && c == 0) return ReadMode::kNoTimeout;
    return ReadMode::kTotal;
}

NTSTATUS SendLineSettings(VCOM_EXTENSION* ext) {
    LineSnapshot s;
    {
        SpinLockGuard guard(ext->lock);
        s = {ext->baudRate, ext->lineControl, ext->handflow, ext->chars, ext->modemControl};
    }
    const bool twoStop = s.line.StopBits == STOP_BITS_2;
    const bool even = s.line.Parity == EVEN_PARITY;
    const bool odd = s.line.Parity == ODD_PARITY;
    const bool autoBoth = (s.handflow.FlowReplace & (SERIAL_AUTO_TRANSMIT | SERIAL_AUTO_RECEIVE)) ==
                          (SERIAL_AUTO_TRANSMIT | SERIAL_AUTO_RECEIVE);
    switch (ext->endPointCaps) {
        case 0:
            return STATUS_SUCCESS;
        case 1:
        case 2: {
            const int rate = IndexOf(kShortCodingRates, s.baudRate);
            if (rate < 0) return STATUS_INVALID_PARAMETER;
            const bool handshake = RtsHandshake(s.handflow) && CtsOutput(s.handflow);
            UCHAR c = static_cast<UCHAR>(rate);
            if (s.line.WordLength == 8) c |= 0x04;
            if (twoStop) c |= 0x08;
            if (even) c |= 0x10;
            if (odd) c |= 0x20;
            if (handshake) c |= 0x40;
            if (autoBoth) c |= 0x80;
            NTSTATUS status = SendVendorCommand(ext, usb::VendorCommand::kSetLine, {c});
            if (NT_SUCCESS(status) && ext->endPointCaps == 2 && handshake) {
                UCHAR bits = 0;
                {
                    SpinLockGuard guard(ext->lock);
                    ext->modemControl |= 0x01;
                    bits = ext->modemControl;
                }
                status = SendVendorCommand(ext, usb::VendorCommand::kSetControlLines, {bits});
            }
            return status;
        }
        default: {
            const int index = IndexOf(kAcceptedRates, s.baudRate);
            const UCHAR b = static_cast<UCHAR>(index < 0 ? 0 : index);
            UCHAR c = 0;
            if (s.line.WordLength != 7) c |= 0x01;
            if (twoStop) c |= 0x02;
            if (even) c |= 0x04;
            if (odd) c |= 0x08;
            if (RtsHandshake(s.handflow) || CtsOutput(s.handflow)) {
                c |= 0x10;
            } else if (s.handflow.FlowReplace & (SERIAL_AUTO_TRANSMIT | SERIAL_AUTO_RECEIVE)) {
                c |= 0x20;
            }
            NTSTATUS status = SendVendorCommand(ext, usb::VendorCommand::kSetLine, {b, c});
            if (!NT_SUCCESS(status)) return status;
            const UCHAR replace = (s.handflow.FlowReplace & SERIAL_ERROR_CHAR) ? 1 : 0;
            status = SendVendorCommand(ext, usb::VendorCommand::kSetErrorReplacement,
                                       {replace, s.chars.ErrorChar});
            bool restart = false;
            {
                SpinLockGuard guard(ext->lock);
                restart = ext->portOpen && ext->powered && !ext->rxRunning;
            }
            if (restart) StartReceiver(ext);
            return status;
        }
    }
}

}  // namespace ys::vcom
