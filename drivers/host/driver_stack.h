// What the platform's Plug and Play manager does when the monitor unit is plugged in, for the
// driver host and the tests: one kernel with the USB bus, qtxusb64 as the function driver and
// qtxvcom64 above it; a device's registry values written to its hardware key before its stack is
// built and started; removal when it goes.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "drivers/kernel/kernel.h"
#include "drivers/usb/usb_backend.h"
#include "drivers/usb/usb_bus.h"

namespace ys::host {

// The values of a device's hardware key: 32-bit values and strings ("PortName").
struct DeviceSettings {
    std::vector<std::pair<std::string, std::variant<kernel::ULONG, std::string>>> values;

    void Set(std::string name, kernel::ULONG value) { values.emplace_back(std::move(name), value); }
    void Set(std::string name, std::string value) {
        values.emplace_back(std::move(name), std::move(value));
    }
};

class DriverStack {
public:
    // Virtual time for tests (Dispatcher::CreateVirtual), real time for the host.
    explicit DriverStack(std::unique_ptr<kernel::Dispatcher> dispatcher);
    // Removes every device still plugged in.
    ~DriverStack();
    DriverStack(const DriverStack&) = delete;
    DriverStack& operator=(const DriverStack&) = delete;

    kernel::Kernel& kernel() { return kernel_; }
    usb::UsbBus& bus() { return bus_; }
    // Null when a driver's entry point failed; nothing can be plugged in then.
    bool loaded() const { return usbpipe_ != nullptr && vcom_ != nullptr; }

    // Attaches `backend` as device `instanceId` ("USB\VID_xxxx&PID_yyyy\serial"), writes
    // `settings`, builds the stack and starts it. On failure the device is removed again.
    kernel::NTSTATUS Plug(std::shared_ptr<usb::UsbDeviceBackend> backend, std::string instanceId,
                          const DeviceSettings& settings, kernel::DEVICE_OBJECT** pdo);
    // The device has gone: surprise removal (unless the bus has sent it already), then removal.
    kernel::NTSTATUS Unplug(kernel::DEVICE_OBJECT* pdo);
    // Orderly removal while the device is still there: query remove, then remove (after a
    // refused query: surprise removal, then remove).
    kernel::NTSTATUS Remove(kernel::DEVICE_OBJECT* pdo);

private:
    bool Forget(kernel::DEVICE_OBJECT* pdo);

    kernel::Kernel kernel_;
    usb::UsbBus bus_;
    kernel::DRIVER_OBJECT* usbpipe_ = nullptr;
    kernel::DRIVER_OBJECT* vcom_ = nullptr;
    std::mutex mutex_;
    std::vector<kernel::DEVICE_OBJECT*> plugged_;
};

}  // namespace ys::host
