// The USB bus driver: one physical device object per attached device, which answers the USB
// request blocks and port requests a function driver sends down (configuration, descriptors,
// control, bulk, interrupt and isochronous transfers, pipe reset and abort, frame number), the
// Plug and Play and power requests at the bottom of the stack, and wait-wake. Transfers go to
// the device's backend and complete with the platform's status codes from a deferred call.
#pragma once

#include <memory>
#include <string>

#include "drivers/kernel/kernel.h"
#include "drivers/usb/usb_backend.h"

namespace ys::usb {

class UsbBus {
public:
    explicit UsbBus(kernel::Kernel& kernel);

    // Plugs a device in: makes its physical device object "\Device\USBPDO-n" with the device
    // instance `instanceId` (e.g. "USB\VID_FFFE&PID_5201\1"), whose hardware key holds the
    // drivers' settings.
    kernel::DEVICE_OBJECT* Attach(std::shared_ptr<UsbDeviceBackend> backend,
                                  std::string instanceId);

    kernel::DRIVER_OBJECT* driver() const { return driver_; }
    // The wait-wake request the bus holds for a device, if any.
    static bool WaitWakePending(kernel::DEVICE_OBJECT* physicalDevice);
    // Transfers of a device now with its backend.
    static std::size_t PendingTransfers(kernel::DEVICE_OBJECT* physicalDevice);
    static kernel::DEVICE_POWER_STATE DevicePower(kernel::DEVICE_OBJECT* physicalDevice);

private:
    kernel::Kernel& kernel_;
    kernel::DRIVER_OBJECT* driver_;
    unsigned next_ = 0;
};

}  // namespace ys::usb
