#include "tools/qtxportd/ported_device.h"

#include "drivers/kernel/ntstatus.h"

namespace ys::portd {

host::DeviceSettings SettingsFor(const PortdConfig& config) {
    host::DeviceSettings s;
    for (const auto& [name, value] : config.dwords) s.Set(name, kernel::ULONG{value});
    for (const auto& [name, value] : config.strings) s.Set(name, value);
    return s;
}

PortedDevice::PortedDevice(host::DriverStack& stack, const PortdConfig& config)
    : stack_(stack),
      endpoint_(std::make_unique<KernelComEndpoint>(stack.kernel(), config.portName)) {}

Result<std::unique_ptr<PortedDevice>> PortedDevice::Start(
    host::DriverStack& stack, std::shared_ptr<usb::UsbDeviceBackend> backend,
    const PortdConfig& config, const std::string& serial, const std::string& portDir,
    BridgeEvents events) {
    std::unique_ptr<PortedDevice> d(new PortedDevice(stack, config));
    const kernel::NTSTATUS status =
        stack.Plug(std::move(backend), config.InstanceId(serial), SettingsFor(config), &d->pdo_);
    if (!kernel::NT_SUCCESS(status)) {
        d->done_ = true;  // the stack has removed it again
        return Error{"starting the device: " + kernel::StatusText(status)};
    }
    auto bridge = PtyBridge::Create(*d->endpoint_, std::move(events));
    if (!bridge) return Error{"pseudo-terminal: " + bridge.error()};
    d->bridge_ = std::move(*bridge);
    d->slavePath_ = d->bridge_->slavePath();
    auto link = serial::PortLink::Publish(portDir, config.portNo, d->slavePath_);
    if (!link) return Error{link.error()};
    d->link_ = std::move(*link);
    d->linkPath_ = d->link_->linkPath();
    return d;
}

void PortedDevice::TearDown(bool departed) {
    if (done_) return;
    done_ = true;
    // No new program finds the port, then the one holding it is let go: its port closes, and
    // closing the master hangs up its side.
    if (link_) link_->Remove();
    if (bridge_) bridge_->Stop();
    bridge_.reset();
    if (departed) {
        (void)stack_.Unplug(pdo_);
    } else {
        (void)stack_.Remove(pdo_);
    }
}

void PortedDevice::Depart() {
    TearDown(true);
}

void PortedDevice::Stop() {
    TearDown(false);
}

PortedDevice::~PortedDevice() {
    Stop();
}

}  // namespace ys::portd
