// qtxusb64, the USB pipe driver of the monitor unit: its entry point, device interface class and
// device-control codes. A client above it in the stack opens a pipe by file name ("\PIPE00",
// "\EP01", "\EA82"), moves data with read, write or the codes below, and controls the device.
#pragma once

#include <string>

#include "drivers/kernel/device.h"
#include "drivers/kernel/kernel_types.h"

namespace ys::usbpipe {

using kernel::CTL_CODE;
using kernel::ULONG;

// {0A274201-F52F-11D4-9442-006067728D60}
inline constexpr kernel::GUID GUID_CLASS_QTXUSB = {
    0x0A274201, 0xF52F, 0x11D4, {0x94, 0x42, 0x00, 0x60, 0x67, 0x72, 0x8D, 0x60}};

inline constexpr ULONG kQtxUsbDeviceType = 0x23;

constexpr ULONG QtxUsbCode(ULONG function, ULONG method) {
    return CTL_CODE(kQtxUsbDeviceType, function, method, kernel::FILE_ANY_ACCESS);
}

inline constexpr ULONG IOCTL_QTXUSB_GET_CONFIG_DESCRIPTOR = QtxUsbCode(0, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_ENABLE_PORT = QtxUsbCode(1, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_RESET_PIPE = QtxUsbCode(2, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_GET_PIPE_INFO = QtxUsbCode(3, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_VENDOR_REQUEST = QtxUsbCode(7, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_ABORT_PIPE = QtxUsbCode(8, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_CONTROL_TRANSFER = QtxUsbCode(9, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_GET_MAX_PACKET_SIZE = QtxUsbCode(10, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_RESET_PORT = QtxUsbCode(11, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_CYCLE_PORT = QtxUsbCode(12, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_SUSPEND = QtxUsbCode(13, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_RESUME = QtxUsbCode(14, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_READ = QtxUsbCode(15, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_READ_DIRECT = QtxUsbCode(15, kernel::METHOD_OUT_DIRECT);
inline constexpr ULONG IOCTL_QTXUSB_WRITE = QtxUsbCode(16, kernel::METHOD_BUFFERED);
inline constexpr ULONG IOCTL_QTXUSB_WRITE_DIRECT = QtxUsbCode(16, kernel::METHOD_IN_DIRECT);
inline constexpr ULONG IOCTL_QTXUSB_CONTROL_OUT_DIRECT = QtxUsbCode(17, kernel::METHOD_IN_DIRECT);
inline constexpr ULONG IOCTL_QTXUSB_CONTROL_IN_DIRECT = QtxUsbCode(18, kernel::METHOD_OUT_DIRECT);

static_assert(IOCTL_QTXUSB_CONTROL_TRANSFER == 0x230024);
static_assert(IOCTL_QTXUSB_READ_DIRECT == 0x23003E);
static_assert(IOCTL_QTXUSB_WRITE_DIRECT == 0x230041);
static_assert(IOCTL_QTXUSB_CONTROL_OUT_DIRECT == 0x230045);
static_assert(IOCTL_QTXUSB_CONTROL_IN_DIRECT == 0x23004A);

// The vendor request of IOCTL_QTXUSB_VENDOR_REQUEST.
inline constexpr kernel::UCHAR kVendorRequest = 0x0B;

kernel::NTSTATUS DriverEntry(kernel::DRIVER_OBJECT* driverObject, const std::string& registryPath);

}  // namespace ys::usbpipe
