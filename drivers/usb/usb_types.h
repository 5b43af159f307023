// The records and codes of the USB driver interface: descriptors, pipe and interface information,
// USB request block status codes, transfer flags, the setup packet and the internal control
// codes sent to the bus. Names and values are the platform's.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "drivers/kernel/kernel_types.h"
#include "drivers/kernel/ntstatus.h"

namespace ys::usb {

using kernel::CTL_CODE;
using kernel::LONG;
using kernel::NTSTATUS;
using kernel::UCHAR;
using kernel::ULONG;
using kernel::USHORT;

using USBD_STATUS = std::int32_t;
using USBD_PIPE_HANDLE = std::uint64_t;  // opaque, never 0 for an open pipe
using USBD_CONFIGURATION_HANDLE = std::uint64_t;
using USBD_INTERFACE_HANDLE = std::uint64_t;

namespace detail {
constexpr USBD_STATUS Usbd(std::uint32_t v) {
    return static_cast<USBD_STATUS>(v);
}
}  // namespace detail

inline constexpr USBD_STATUS USBD_STATUS_SUCCESS = detail::Usbd(0x00000000);
inline constexpr USBD_STATUS USBD_STATUS_PENDING = detail::Usbd(0x40000000);
inline constexpr USBD_STATUS USBD_STATUS_CRC = detail::Usbd(0xC0000001);
inline constexpr USBD_STATUS USBD_STATUS_STALL_PID = detail::Usbd(0xC0000004);
inline constexpr USBD_STATUS USBD_STATUS_DEV_NOT_RESPONDING = detail::Usbd(0xC0000005);
inline constexpr USBD_STATUS USBD_STATUS_DATA_UNDERRUN = detail::Usbd(0xC0000009);
inline constexpr USBD_STATUS USBD_STATUS_XACT_ERROR = detail::Usbd(0xC0000011);
inline constexpr USBD_STATUS USBD_STATUS_ENDPOINT_HALTED = detail::Usbd(0xC0000030);
inline constexpr USBD_STATUS USBD_STATUS_INVALID_URB_FUNCTION = detail::Usbd(0x80000200);
inline constexpr USBD_STATUS USBD_STATUS_INVALID_PARAMETER = detail::Usbd(0x80000300);
inline constexpr USBD_STATUS USBD_STATUS_ERROR_BUSY = detail::Usbd(0x80000400);
inline constexpr USBD_STATUS USBD_STATUS_INVALID_PIPE_HANDLE = detail::Usbd(0x80000600);
inline constexpr USBD_STATUS USBD_STATUS_ERROR_SHORT_TRANSFER = detail::Usbd(0x80000900);
inline constexpr USBD_STATUS USBD_STATUS_BAD_START_FRAME = detail::Usbd(0xC0000A00);
inline constexpr USBD_STATUS USBD_STATUS_NOT_SUPPORTED = detail::Usbd(0xC0000E00);
inline constexpr USBD_STATUS USBD_STATUS_DEVICE_GONE = detail::Usbd(0xC0007000);
inline constexpr USBD_STATUS USBD_STATUS_CANCELED = detail::Usbd(0xC0010000);

constexpr bool USBD_SUCCESS(USBD_STATUS s) {
    return s >= 0;
}
constexpr bool USBD_ERROR(USBD_STATUS s) {
    return s < 0;
}
// The request status the bus gives a USB request block that ended with `status`.
NTSTATUS UsbdStatusToNtStatus(USBD_STATUS status);

// Transfer flags.
inline constexpr ULONG USBD_TRANSFER_DIRECTION_OUT = 0x00;
inline constexpr ULONG USBD_TRANSFER_DIRECTION_IN = 0x01;
inline constexpr ULONG USBD_SHORT_TRANSFER_OK = 0x02;
inline constexpr ULONG USBD_START_ISO_TRANSFER_ASAP = 0x04;
inline constexpr ULONG USBD_DEFAULT_PIPE_TRANSFER = 0x08;
inline constexpr ULONG USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE = 4096;

// Port status bits (IOCTL_INTERNAL_USB_GET_PORT_STATUS).
inline constexpr ULONG USBD_PORT_ENABLED = 0x00000001;
inline constexpr ULONG USBD_PORT_CONNECTED = 0x00000002;

// Internal device-control codes of the bus.
inline constexpr ULONG IOCTL_INTERNAL_USB_SUBMIT_URB =
    CTL_CODE(kernel::FILE_DEVICE_USB, 0, kernel::METHOD_NEITHER, kernel::FILE_ANY_ACCESS);
inline constexpr ULONG IOCTL_INTERNAL_USB_RESET_PORT =
    CTL_CODE(kernel::FILE_DEVICE_USB, 1, kernel::METHOD_NEITHER, kernel::FILE_ANY_ACCESS);
inline constexpr ULONG IOCTL_INTERNAL_USB_GET_PORT_STATUS =
    CTL_CODE(kernel::FILE_DEVICE_USB, 4, kernel::METHOD_NEITHER, kernel::FILE_ANY_ACCESS);
inline constexpr ULONG IOCTL_INTERNAL_USB_ENABLE_PORT =
    CTL_CODE(kernel::FILE_DEVICE_USB, 5, kernel::METHOD_NEITHER, kernel::FILE_ANY_ACCESS);
inline constexpr ULONG IOCTL_INTERNAL_USB_CYCLE_PORT =
    CTL_CODE(kernel::FILE_DEVICE_USB, 7, kernel::METHOD_NEITHER, kernel::FILE_ANY_ACCESS);

// Descriptor types and standard requests.
inline constexpr UCHAR USB_DEVICE_DESCRIPTOR_TYPE = 0x01;
inline constexpr UCHAR USB_CONFIGURATION_DESCRIPTOR_TYPE = 0x02;
inline constexpr UCHAR USB_STRING_DESCRIPTOR_TYPE = 0x03;
inline constexpr UCHAR USB_INTERFACE_DESCRIPTOR_TYPE = 0x04;
inline constexpr UCHAR USB_ENDPOINT_DESCRIPTOR_TYPE = 0x05;
inline constexpr UCHAR USB_REQUEST_GET_STATUS = 0x00;
inline constexpr UCHAR USB_REQUEST_CLEAR_FEATURE = 0x01;
inline constexpr UCHAR USB_REQUEST_SET_FEATURE = 0x03;
inline constexpr UCHAR USB_REQUEST_GET_DESCRIPTOR = 0x06;
inline constexpr UCHAR USB_REQUEST_SET_CONFIGURATION = 0x09;
inline constexpr UCHAR USB_REQUEST_SET_INTERFACE = 0x0B;
inline constexpr UCHAR USB_CONFIG_REMOTE_WAKEUP = 0x20;
inline constexpr UCHAR USB_ENDPOINT_DIRECTION_MASK = 0x80;
inline constexpr UCHAR USB_ENDPOINT_TYPE_MASK = 0x03;

constexpr bool USB_ENDPOINT_DIRECTION_IN(UCHAR address) {
    return (address & USB_ENDPOINT_DIRECTION_MASK) != 0;
}

enum USBD_PIPE_TYPE : LONG {
    UsbdPipeTypeControl = 0,
    UsbdPipeTypeIsochronous = 1,
    UsbdPipeTypeBulk = 2,
    UsbdPipeTypeInterrupt = 3,
};

// Descriptors, parsed from the bytes the device sends (little-endian, packed).
struct USB_DEVICE_DESCRIPTOR {
    UCHAR bLength = 18;
    UCHAR bDescriptorType = USB_DEVICE_DESCRIPTOR_TYPE;
    USHORT bcdUSB = 0;
    UCHAR bDeviceClass = 0;
    UCHAR bDeviceSubClass = 0;
    UCHAR bDeviceProtocol = 0;
    UCHAR bMaxPacketSize0 = 0;
    USHORT idVendor = 0;
    USHORT idProduct = 0;
    USHORT bcdDevice = 0;
    UCHAR iManufacturer = 0;
    UCHAR iProduct = 0;
    UCHAR iSerialNumber = 0;
    UCHAR bNumConfigurations = 0;
};

struct USB_CONFIGURATION_DESCRIPTOR {
    UCHAR bLength = 9;
    UCHAR bDescriptorType = USB_CONFIGURATION_DESCRIPTOR_TYPE;
    USHORT wTotalLength = 0;
    UCHAR bNumInterfaces = 0;
    UCHAR bConfigurationValue = 0;
    UCHAR iConfiguration = 0;
    UCHAR bmAttributes = 0;
    UCHAR MaxPower = 0;
};

struct USB_INTERFACE_DESCRIPTOR {
    UCHAR bLength = 9;
    UCHAR bDescriptorType = USB_INTERFACE_DESCRIPTOR_TYPE;
    UCHAR bInterfaceNumber = 0;
    UCHAR bAlternateSetting = 0;
    UCHAR bNumEndpoints = 0;
    UCHAR bInterfaceClass = 0;
    UCHAR bInterfaceSubClass = 0;
    UCHAR bInterfaceProtocol = 0;
    UCHAR iInterface = 0;
};

struct USB_ENDPOINT_DESCRIPTOR {
    UCHAR bLength = 7;
    UCHAR bDescriptorType = USB_ENDPOINT_DESCRIPTOR_TYPE;
    UCHAR bEndpointAddress = 0;
    UCHAR bmAttributes = 0;
    USHORT wMaxPacketSize = 0;
    UCHAR bInterval = 0;
};

struct USBD_PIPE_INFORMATION {
    USHORT MaximumPacketSize = 0;
    UCHAR EndpointAddress = 0;
    UCHAR Interval = 0;
    USBD_PIPE_TYPE PipeType = UsbdPipeTypeControl;
    USBD_PIPE_HANDLE PipeHandle = 0;
    ULONG MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
    ULONG PipeFlags = 0;
};

// The platform's 64-bit layout of a pipe information record: maximum packet size (2), endpoint
// address (1), interval (1), pipe type (4), pipe handle (8), maximum transfer size (4), pipe
// flags (4).
inline constexpr std::size_t kPipeInformationSize = 24;
void WritePipeInformation(const USBD_PIPE_INFORMATION& pipe,
                          std::span<UCHAR, kPipeInformationSize> out);

struct USBD_INTERFACE_INFORMATION {
    UCHAR InterfaceNumber = 0;
    UCHAR AlternateSetting = 0;
    UCHAR Class = 0;
    UCHAR SubClass = 0;
    UCHAR Protocol = 0;
    USBD_INTERFACE_HANDLE InterfaceHandle = 0;
    ULONG NumberOfPipes = 0;
    std::vector<USBD_PIPE_INFORMATION> Pipes;
};

struct USBD_ISO_PACKET_DESCRIPTOR {
    ULONG Offset = 0;
    ULONG Length = 0;  // set by the bus: bytes moved in this packet
    USBD_STATUS Status = USBD_STATUS_SUCCESS;
};

// The 8-byte standard setup packet.
struct UsbSetupPacket {
    UCHAR bmRequestType = 0;
    UCHAR bRequest = 0;
    USHORT wValue = 0;
    USHORT wIndex = 0;
    USHORT wLength = 0;

    static UsbSetupPacket FromBytes(std::span<const UCHAR, 8> bytes);
    void ToBytes(std::span<UCHAR, 8> out) const;
    bool in() const { return (bmRequestType & 0x80) != 0; }
    UCHAR type() const { return (bmRequestType >> 5) & 0x03; }  // 0 standard, 1 class, 2 vendor
    UCHAR recipient() const { return bmRequestType & 0x1F; }    // 0 device .. 3 other
    friend bool operator==(const UsbSetupPacket&, const UsbSetupPacket&) = default;
};

}  // namespace ys::usb
