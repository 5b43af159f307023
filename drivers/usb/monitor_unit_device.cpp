#include "drivers/usb/monitor_unit_device.h"

#include "drivers/usb/descriptors.h"
#include "drivers/usb/vendor_commands.h"

namespace ys::usb {

std::vector<UCHAR> MonitorUnitDevice::ConfigurationDescriptor(const Options& options) {
    InterfaceSpec iface;
    iface.interfaceClass = 0xFF;
    iface.endpoints = {{kTransmitEndpoint, UsbdPipeTypeBulk, kPacketSize, 0},
                       {kReceiveEndpoint, UsbdPipeTypeBulk, kPacketSize, 0}};
    if (options.statusEndpoint) {
        iface.endpoints.push_back(
            {kStatusEndpoint, UsbdPipeTypeInterrupt, kPacketSize, options.statusInterval});
    }
    const UCHAR attributes = options.remoteWakeup ? 0xA0 : 0x80;  // bus powered
    return BuildConfigurationDescriptor(1, attributes, 50, std::span(&iface, 1));
}

MonitorUnitDevice::MonitorUnitDevice(kernel::Dispatcher& dispatcher, std::span<const UCHAR> image)
    : MonitorUnitDevice(dispatcher, image, Options{}) {}

MonitorUnitDevice::MonitorUnitDevice(kernel::Dispatcher& dispatcher, std::span<const UCHAR> image,
                                     Options options)
    : SimUsbDevice(dispatcher, BuildDeviceDescriptor(kVendorId, kProductId, 0x0100),
                   ConfigurationDescriptor(options)),
      model_(image, options.protocolFault) {}

void MonitorUnitDevice::OnOutData(UCHAR endpoint, std::span<const UCHAR> data) {
    if (endpoint != kTransmitEndpoint) return;
    std::vector<UCHAR> answer;
    {
        std::lock_guard lock(mutex_);
        answer = model_.Receive(data);
    }
    if (!answer.empty()) QueueInData(kReceiveEndpoint, answer);
}

USBD_STATUS MonitorUnitDevice::OnControlRequest(const UsbSetupPacket& setup, std::span<UCHAR> data,
                                                ULONG* actual) {
    *actual = 0;
    if (setup.bmRequestType != kVendorRequestType || setup.bRequest != kVendorRequestNumber ||
        data.empty()) {
        return USBD_STATUS_STALL_PID;
    }
    std::lock_guard lock(mutex_);
    vendorCommands_.emplace_back(data.begin(), data.end());
    switch (static_cast<VendorCommand>(data[0])) {
        case VendorCommand::kSetLine:
            lineCoding_.assign(data.begin() + 1, data.end());
            break;
        case VendorCommand::kSetControlLines:
            if (data.size() > 1) modemControl_ = data[1];
            break;
        case VendorCommand::kSetFlowCharacters:
            flowCharacters_.assign(data.begin() + 1, data.end());
            break;
        case VendorCommand::kOpenPort:
            if (data.size() > 1) portOpen_ = data[1] != kPortClosed;
            break;
        case VendorCommand::kSetErrorReplacement:
            errorReplacement_.assign(data.begin() + 1, data.end());
            break;
        default:
            break;
    }
    return USBD_STATUS_SUCCESS;
}

std::optional<std::vector<UCHAR>> MonitorUnitDevice::OnInterruptIn(UCHAR endpoint) {
    if (endpoint != kStatusEndpoint) return std::nullopt;
    std::lock_guard lock(mutex_);
    return std::vector<UCHAR>{lineState_};
}

std::vector<std::vector<UCHAR>> MonitorUnitDevice::VendorCommands() const {
    std::lock_guard lock(mutex_);
    return vendorCommands_;
}

void MonitorUnitDevice::SetLineState(UCHAR bits) {
    std::lock_guard lock(mutex_);
    lineState_ = bits;
}

UCHAR MonitorUnitDevice::lineState() const {
    std::lock_guard lock(mutex_);
    return lineState_;
}

bool MonitorUnitDevice::portOpen() const {
    std::lock_guard lock(mutex_);
    return portOpen_;
}

UCHAR MonitorUnitDevice::modemControl() const {
    std::lock_guard lock(mutex_);
    return modemControl_;
}

std::vector<UCHAR> MonitorUnitDevice::lineCoding() const {
    std::lock_guard lock(mutex_);
    return lineCoding_;
}

std::vector<UCHAR> MonitorUnitDevice::flowCharacters() const {
    std::lock_guard lock(mutex_);
    return flowCharacters_;
}

std::vector<UCHAR> MonitorUnitDevice::errorReplacement() const {
    std::lock_guard lock(mutex_);
    return errorReplacement_;
}

int MonitorUnitDevice::requestsReceived() const {
    std::lock_guard lock(mutex_);
    return model_.requestsReceived();
}

int MonitorUnitDevice::acksReceived() const {
    std::lock_guard lock(mutex_);
    return model_.acksReceived();
}

int MonitorUnitDevice::naksReceived() const {
    std::lock_guard lock(mutex_);
    return model_.naksReceived();
}

int MonitorUnitDevice::blocksSent() const {
    std::lock_guard lock(mutex_);
    return model_.blocksSent();
}

}  // namespace ys::usb
