#include "drivers/usb/usb_types.h"

namespace ys::usb {

NTSTATUS UsbdStatusToNtStatus(USBD_STATUS status) {
    if (USBD_SUCCESS(status)) return kernel::STATUS_SUCCESS;
    switch (status) {
        case USBD_STATUS_CANCELED:
            return kernel::STATUS_CANCELLED;
        case USBD_STATUS_DEVICE_GONE:
            return kernel::STATUS_NO_SUCH_DEVICE;
        case USBD_STATUS_INVALID_URB_FUNCTION:
        case USBD_STATUS_INVALID_PARAMETER:
        case USBD_STATUS_INVALID_PIPE_HANDLE:
            return kernel::STATUS_INVALID_PARAMETER;
        case USBD_STATUS_NOT_SUPPORTED:
            return kernel::STATUS_NOT_SUPPORTED;
        case USBD_STATUS_ERROR_BUSY:
            return kernel::STATUS_DEVICE_BUSY;
        default:
            return kernel::STATUS_UNSUCCESSFUL;
    }
}

void WritePipeInformation(const USBD_PIPE_INFORMATION& pipe,
                          std::span<UCHAR, kPipeInformationSize> out) {
    auto put = [&](std::size_t at, std::uint64_t value, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<UCHAR>(value >> (8 * i));
    };
    put(0, pipe.MaximumPacketSize, 2);
    put(2, pipe.EndpointAddress, 1);
    put(3, pipe.Interval, 1);
    put(4, static_cast<std::uint32_t>(pipe.PipeType), 4);
    put(8, pipe.PipeHandle, 8);
    put(16, pipe.MaximumTransferSize, 4);
    put(20, pipe.PipeFlags, 4);
}

UsbSetupPacket UsbSetupPacket::FromBytes(std::span<const UCHAR, 8> b) {
    UsbSetupPacket p;
    p.bmRequestType = b[0];
    p.bRequest = b[1];
    p.wValue = static_cast<USHORT>(b[2] | (b[3] << 8));
    p.wIndex = static_cast<USHORT>(b[4] | (b[5] << 8));
    p.wLength = static_cast<USHORT>(b[6] | (b[7] << 8));
    return p;
}

void UsbSetupPacket::ToBytes(std::span<UCHAR, 8> out) const {
    out[0] = bmRequestType;
    out[1] = bRequest;
    out[2] = static_cast<UCHAR>(wValue & 0xFF);
    out[3] = static_cast<UCHAR>(wValue >> 8);
    out[4] = static_cast<UCHAR>(wIndex & 0xFF);
    out[5] = static_cast<UCHAR>(wIndex >> 8);
    out[6] = static_cast<UCHAR>(wLength & 0xFF);
    out[7] = static_cast<UCHAR>(wLength >> 8);
}

}  // namespace ys::usb
