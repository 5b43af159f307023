// Reading and making USB descriptors: parsing the device and configuration descriptors a driver
// reads at start, finding an interface in a configuration, building the select-configuration
// request from the chosen interfaces, and composing descriptors for simulated devices.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "drivers/usb/urb.h"
#include "drivers/usb/usb_types.h"

namespace ys::usb {

std::optional<USB_DEVICE_DESCRIPTOR> ParseDeviceDescriptor(std::span<const UCHAR> bytes);
std::optional<USB_CONFIGURATION_DESCRIPTOR> ParseConfigurationDescriptor(
    std::span<const UCHAR> bytes);
std::optional<USB_INTERFACE_DESCRIPTOR> ParseInterfaceDescriptor(std::span<const UCHAR> bytes);
std::optional<USB_ENDPOINT_DESCRIPTOR> ParseEndpointDescriptor(std::span<const UCHAR> bytes);

// The descriptors of a configuration (its bytes up to wTotalLength), as offsets of each
// descriptor; a descriptor that runs past the end or has a length below 2 ends the list.
std::vector<std::size_t> DescriptorOffsets(std::span<const UCHAR> configuration);

// The first interface descriptor at or after `startOffset` that matches; -1 in any criterion
// matches anything. Returns its offset in `configuration`.
std::optional<std::size_t> USBD_ParseConfigurationDescriptorEx(
    std::span<const UCHAR> configuration, std::size_t startOffset, LONG interfaceNumber,
    LONG alternateSetting, LONG interfaceClass, LONG interfaceSubClass, LONG interfaceProtocol);

// The endpoints that follow the interface descriptor at `interfaceOffset` (bNumEndpoints of
// them, stopping at the next interface descriptor).
std::vector<USB_ENDPOINT_DESCRIPTOR> InterfaceEndpoints(std::span<const UCHAR> configuration,
                                                        std::size_t interfaceOffset);

struct USBD_INTERFACE_LIST_ENTRY {
    std::size_t InterfaceDescriptor = 0;              // offset in the configuration
    USBD_INTERFACE_INFORMATION* Interface = nullptr;  // set to the block in the request
};

// A select-configuration request for the listed interfaces: one interface information block per
// entry with one pipe record per endpoint, maximum transfer size at the default, no flags. Each
// entry's Interface points into the request afterwards. Null for a malformed configuration.
std::unique_ptr<URB> USBD_CreateConfigurationRequestEx(std::span<const UCHAR> configuration,
                                                       std::span<USBD_INTERFACE_LIST_ENTRY> list);

// Composing descriptors (simulated devices and tests).
struct EndpointSpec {
    UCHAR address = 0;
    USBD_PIPE_TYPE type = UsbdPipeTypeBulk;
    USHORT maxPacketSize = 64;
    UCHAR interval = 0;
};

struct InterfaceSpec {
    UCHAR number = 0;
    UCHAR alternateSetting = 0;
    UCHAR interfaceClass = 0xFF;
    UCHAR interfaceSubClass = 0;
    UCHAR interfaceProtocol = 0;
    std::vector<EndpointSpec> endpoints;
};

std::vector<UCHAR> BuildDeviceDescriptor(USHORT vendorId, USHORT productId, USHORT bcdDevice,
                                         UCHAR maxPacketSize0 = 64);
// bNumInterfaces counts the distinct interface numbers.
std::vector<UCHAR> BuildConfigurationDescriptor(UCHAR configurationValue, UCHAR bmAttributes,
                                                UCHAR maxPower,
                                                std::span<const InterfaceSpec> interfaces);

}  // namespace ys::usb
