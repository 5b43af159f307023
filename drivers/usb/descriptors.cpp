#include "drivers/usb/descriptors.h"

#include <algorithm>
#include <set>

namespace ys::usb {

namespace {

USHORT Le16(std::span<const UCHAR> b, std::size_t at) {
    return static_cast<USHORT>(b[at] | (b[at + 1] << 8));
}

void PutLe16(std::vector<UCHAR>& v, USHORT x) {
    v.push_back(static_cast<UCHAR>(x & 0xFF));
    v.push_back(static_cast<UCHAR>(x >> 8));
}

std::span<const UCHAR> TotalBytes(std::span<const UCHAR> configuration) {
    auto config = ParseConfigurationDescriptor(configuration);
    if (!config) return {};
    return configuration.first(std::min<std::size_t>(config->wTotalLength, configuration.size()));
}

}  // namespace

std::optional<USB_DEVICE_DESCRIPTOR> ParseDeviceDescriptor(std::span<const UCHAR> b) {
    if (b.size() < 18 || b[0] < 18 || b[1] != USB_DEVICE_DESCRIPTOR_TYPE) return std::nullopt;
    USB_DEVICE_DESCRIPTOR d;
    d.bLength = b[0];
    d.bcdUSB = Le16(b, 2);
    d.bDeviceClass = b[4];
    d.bDeviceSubClass = b[5];
    d.bDeviceProtocol = b[6];
    d.bMaxPacketSize0 = b[7];
    d.idVendor = Le16(b, 8);
    d.idProduct = Le16(b, 10);
    d.bcdDevice = Le16(b, 12);
    d.iManufacturer = b[14];
    d.iProduct = b[15];
    d.iSerialNumber = b[16];
    d.bNumConfigurations = b[17];
    return d;
}

std::optional<USB_CONFIGURATION_DESCRIPTOR> ParseConfigurationDescriptor(std::span<const UCHAR> b) {
    if (b.size() < 9 || b[0] < 9 || b[1] != USB_CONFIGURATION_DESCRIPTOR_TYPE) return std::nullopt;
    USB_CONFIGURATION_DESCRIPTOR c;
    c.bLength = b[0];
    c.wTotalLength = Le16(b, 2);
    c.bNumInterfaces = b[4];
    c.bConfigurationValue = b[5];
    c.iConfiguration = b[6];
    c.bmAttributes = b[7];
    c.MaxPower = b[8];
    return c;
}

std::optional<USB_INTERFACE_DESCRIPTOR> ParseInterfaceDescriptor(std::span<const UCHAR> b) {
    if (b.size() < 9 || b[0] < 9 || b[1] != USB_INTERFACE_DESCRIPTOR_TYPE) return std::nullopt;
    USB_INTERFACE_DESCRIPTOR i;
    i.bLength = b[0];
    i.bInterfaceNumber = b[2];
    i.bAlternateSetting = b[3];
    i.bNumEndpoints = b[4];
    i.bInterfaceClass = b[5];
    i.bInterfaceSubClass = b[6];
    i.bInterfaceProtocol = b[7];
    i.iInterface = b[8];
    return i;
}

std::optional<USB_ENDPOINT_DESCRIPTOR> ParseEndpointDescriptor(std::span<const UCHAR> b) {
    if (b.size() < 7 || b[0] < 7 || b[1] != USB_ENDPOINT_DESCRIPTOR_TYPE) return std::nullopt;
    USB_ENDPOINT_DESCRIPTOR e;
    e.bLength = b[0];
    e.bEndpointAddress = b[2];
    e.bmAttributes = b[3];
    e.wMaxPacketSize = Le16(b, 4);
    e.bInterval = b[6];
    return e;
}

std::vector<std::size_t> DescriptorOffsets(std::span<const UCHAR> configuration) {
    const std::span<const UCHAR> all = TotalBytes(configuration);
    std::vector<std::size_t> out;
    std::size_t at = 0;
    while (at + 2 <= all.size()) {
        const std::size_t length = all[at];
        if (length < 2 || at + length > all.size()) break;
        out.push_back(at);
        at += length;
    }
    return out;
}

std::optional<std::size_t> USBD_ParseConfigurationDescriptorEx(std::span<const UCHAR> configuration,
                                                               std::size_t startOffset, LONG number,
                                                               LONG alternate, LONG cls,
                                                               LONG subClass, LONG protocol) {
    const std::span<const UCHAR> all = TotalBytes(configuration);
    for (std::size_t at : DescriptorOffsets(configuration)) {
        if (at < startOffset) continue;
        auto i = ParseInterfaceDescriptor(all.subspan(at));
        if (!i) continue;
        if ((number == -1 || i->bInterfaceNumber == number) &&
            (alternate == -1 || i->bAlternateSetting == alternate) &&
            (cls == -1 || i->bInterfaceClass == cls) &&
            (subClass == -1 || i->bInterfaceSubClass == subClass) &&
            (protocol == -1 || i->bInterfaceProtocol == protocol)) {
            return at;
        }
    }
    return std::nullopt;
}

std::vector<USB_ENDPOINT_DESCRIPTOR> InterfaceEndpoints(std::span<const UCHAR> configuration,
                                                        std::size_t interfaceOffset) {
    const std::span<const UCHAR> all = TotalBytes(configuration);
    std::vector<USB_ENDPOINT_DESCRIPTOR> out;
    auto iface = interfaceOffset < all.size()
                     ? ParseInterfaceDescriptor(all.subspan(interfaceOffset))
                     : std::nullopt;
    if (!iface) return out;
    for (std::size_t at : DescriptorOffsets(configuration)) {
        if (at <= interfaceOffset) continue;
        if (out.size() == iface->bNumEndpoints) break;
        if (all[at + 1] == USB_INTERFACE_DESCRIPTOR_TYPE) break;
        if (auto e = ParseEndpointDescriptor(all.subspan(at))) out.push_back(*e);
    }
    return out;
}

std::unique_ptr<URB> USBD_CreateConfigurationRequestEx(std::span<const UCHAR> configuration,
                                                       std::span<USBD_INTERFACE_LIST_ENTRY> list) {
    const std::span<const UCHAR> all = TotalBytes(configuration);
    if (all.empty() || list.empty()) return nullptr;
    auto urb = std::make_unique<URB>();
    UsbBuildSelectConfigurationRequest(urb.get(), all);
    auto& interfaces = urb->UrbSelectConfiguration.Interface;
    interfaces.reserve(list.size());  // entries point into it
    for (USBD_INTERFACE_LIST_ENTRY& entry : list) {
        if (entry.InterfaceDescriptor >= all.size()) return nullptr;
        auto d = ParseInterfaceDescriptor(all.subspan(entry.InterfaceDescriptor));
        if (!d) return nullptr;
        USBD_INTERFACE_INFORMATION info;
        info.InterfaceNumber = d->bInterfaceNumber;
        info.AlternateSetting = d->bAlternateSetting;
        info.NumberOfPipes = d->bNumEndpoints;
        info.Pipes.resize(d->bNumEndpoints);
        interfaces.push_back(std::move(info));
        entry.Interface = &interfaces.back();
    }
    return urb;
}

std::vector<UCHAR> BuildDeviceDescriptor(USHORT vendorId, USHORT productId, USHORT bcdDevice,
                                         UCHAR maxPacketSize0) {
    std::vector<UCHAR> d = {18, USB_DEVICE_DESCRIPTOR_TYPE};
    PutLe16(d, 0x0200);
    d.insert(d.end(), {0xFF, 0x00, 0x00, maxPacketSize0});
    PutLe16(d, vendorId);
    PutLe16(d, productId);
    PutLe16(d, bcdDevice);
    d.insert(d.end(), {0, 0, 0, 1});
    return d;
}

std::vector<UCHAR> BuildConfigurationDescriptor(UCHAR configurationValue, UCHAR bmAttributes,
                                                UCHAR maxPower,
                                                std::span<const InterfaceSpec> interfaces) {
    std::set<UCHAR> numbers;
    for (const InterfaceSpec& i : interfaces) numbers.insert(i.number);
    std::vector<UCHAR> d = {9,
                            USB_CONFIGURATION_DESCRIPTOR_TYPE,
                            0,
                            0,
                            static_cast<UCHAR>(numbers.size()),
                            configurationValue,
                            0,
                            bmAttributes,
                            maxPower};
    for (const InterfaceSpec& i : interfaces) {
        d.insert(d.end(), {9, USB_INTERFACE_DESCRIPTOR_TYPE, i.number, i.alternateSetting,
                           static_cast<UCHAR>(i.endpoints.size()), i.interfaceClass,
                           i.interfaceSubClass, i.interfaceProtocol, 0});
        for (const EndpointSpec& e : i.endpoints) {
            d.insert(d.end(), {7, USB_ENDPOINT_DESCRIPTOR_TYPE, e.address,
                               static_cast<UCHAR>(e.type & USB_ENDPOINT_TYPE_MASK)});
            PutLe16(d, e.maxPacketSize);
            d.push_back(e.interval);
        }
    }
    d[2] = static_cast<UCHAR>(d.size() & 0xFF);
    d[3] = static_cast<UCHAR>(d.size() >> 8);
    return d;
}

}  // namespace ys::usb
