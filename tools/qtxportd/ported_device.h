// One device under the driver host: plugged into the driver stack with the values of its
// configuration, its COM port bridged to a fresh pseudo-terminal and published as the link COMn
// in the port folder; unplugged again when it goes or the host ends.
#pragma once

#include <memory>
#include <string>

#include "drivers/host/driver_stack.h"
#include "platform/result.h"
#include "platform/serial.h"
#include "tools/qtxportd/kernel_com_endpoint.h"
#include "tools/qtxportd/portd_config.h"
#include "tools/qtxportd/pty_bridge.h"

namespace ys::portd {

// The registry values of `config`, as the stack writes them to the hardware key.
host::DeviceSettings SettingsFor(const PortdConfig& config);

class PortedDevice {
public:
    // `serial` completes the device instance ID; `portDir` is the port folder.
    static Result<std::unique_ptr<PortedDevice>> Start(
        host::DriverStack& stack, std::shared_ptr<usb::UsbDeviceBackend> backend,
        const PortdConfig& config, const std::string& serial, const std::string& portDir,
        BridgeEvents events = {});
    ~PortedDevice();  // Stop()
    PortedDevice(const PortedDevice&) = delete;
    PortedDevice& operator=(const PortedDevice&) = delete;

    // The device has gone: the link is removed, a program holding the port is cut off (its
    // reads end), then surprise removal (unless the bus sent it) and removal.
    void Depart();
    // The host ends while the device is there: the link is removed, the port closed, and the
    // device removed in order.
    void Stop();

    const std::string& slavePath() const { return slavePath_; }
    const std::string& linkPath() const { return linkPath_; }
    kernel::DEVICE_OBJECT* pdo() const { return pdo_; }
    PtyBridge* bridge() { return bridge_.get(); }

private:
    PortedDevice(host::DriverStack& stack, const PortdConfig& config);
    void TearDown(bool departed);

    host::DriverStack& stack_;
    kernel::DEVICE_OBJECT* pdo_ = nullptr;
    std::unique_ptr<KernelComEndpoint> endpoint_;
    std::unique_ptr<PtyBridge> bridge_;
    std::unique_ptr<serial::PortLink> link_;
    std::string slavePath_;
    std::string linkPath_;
    bool done_ = false;
};

}  // namespace ys::portd
