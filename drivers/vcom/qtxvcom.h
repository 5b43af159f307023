// qtxvcom64, the virtual COM port of the monitor unit: it sits above qtxusb64 in the same device
// stack, names the device as a COM port and carries the serial requests over the USB pipes.
#pragma once

#include <string>

#include "drivers/kernel/device.h"
#include "drivers/kernel/kernel_types.h"

namespace ys::vcom {

// {86E0D1E0-8089-11D0-9CE4-08003E301F73}
inline constexpr kernel::GUID GUID_DEVINTERFACE_COMPORT = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

kernel::NTSTATUS DriverEntry(kernel::DRIVER_OBJECT* driverObject, const std::string& registryPath);

}  // namespace ys::vcom
