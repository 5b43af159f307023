// A device stack for the driver tests: a kernel (virtual time unless asked otherwise), the USB
// bus with one simulated device, and qtxusb64 on top of it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "drivers/kernel/kernel.h"
#include "drivers/usb/descriptors.h"
#include "drivers/usb/monitor_unit_device.h"
#include "drivers/usb/usb_bus.h"
#include "drivers/usbpipe/qtxusb.h"

namespace ys::test {

using namespace ys::kernel;
using namespace ys::usb;
using usbpipe::GUID_CLASS_QTXUSB;

// Prints statuses by name in assertion messages.
struct Status {
    NTSTATUS value;
    friend bool operator==(Status a, Status b) { return a.value == b.value; }
    friend std::ostream& operator<<(std::ostream& os, Status s) {
        return os << StatusText(s.value);
    }
};
#define EXPECT_STATUS(expected, actual) \
    EXPECT_EQ(::ys::test::Status{expected}, ::ys::test::Status{actual})
#define ASSERT_STATUS(expected, actual) \
    ASSERT_EQ(::ys::test::Status{expected}, ::ys::test::Status{actual})

inline std::vector<UCHAR> Bytes(std::size_t n, UCHAR first = 0) {
    std::vector<UCHAR> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<UCHAR>(first + i);
    return v;
}

// A memory image whose bytes are a pattern the tests can check.
inline std::vector<UCHAR> TestImage() {
    std::vector<UCHAR> image(monitor_unit::kImageSize);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<UCHAR>((i * 7 + i / 251) & 0xFF);
    return image;
}

class UsbPipeHarness {
public:
    explicit UsbPipeHarness(bool realTime = false)
        : kernel(realTime ? Dispatcher::CreateRealTime() : Dispatcher::CreateVirtual()),
          bus(kernel) {
        driver = kernel.LoadDriver("qtxusb64", usbpipe::DriverEntry);
    }

    Dispatcher& dispatcher() { return kernel.dispatcher(); }

    template <class Device, class... Args>
    std::shared_ptr<Device> Plug(Args&&... args) {
        auto device = std::make_shared<Device>(kernel.dispatcher(), std::forward<Args>(args)...);
        pdo = bus.Attach(device, "USB\\VID_FFFE&PID_5201\\1");
        return device;
    }

    std::shared_ptr<MonitorUnitDevice> PlugMonitorUnit(MonitorUnitDevice::Options options = {}) {
        return Plug<MonitorUnitDevice>(TestImage(), options);
    }

    // A device with the given interfaces (configuration attributes 0x80 or 0xA0 for wake-up).
    std::shared_ptr<SimUsbDevice> PlugDevice(std::vector<InterfaceSpec> interfaces,
                                             UCHAR attributes = 0x80) {
        return Plug<SimUsbDevice>(BuildDeviceDescriptor(0xFFFE, 0x0001, 0x0100),
                                  BuildConfigurationDescriptor(1, attributes, 50, interfaces));
    }

    RegistryKey& settings() { return kernel.HardwareKey(pdo); }

    NTSTATUS Add() {
        DRIVER_OBJECT* drivers[] = {driver};
        return kernel.pnp().AddDevice(pdo, drivers);
    }
    NTSTATUS AddAndStart() {
        const NTSTATUS status = Add();
        return NT_SUCCESS(status) ? kernel.pnp().StartDevice(pdo) : status;
    }

    DEVICE_OBJECT* fdo() { return pdo->AttachedDevice; }

    NTSTATUS Open(std::string_view pipeName, std::unique_ptr<File>* file) {
        if (fdo() == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
        return kernel.io().CreateFile(fdo()->name() + std::string(pipeName), file);
    }
    std::unique_ptr<File> OpenOrFail(std::string_view pipeName) {
        std::unique_ptr<File> file;
        const NTSTATUS status = Open(pipeName, &file);
        EXPECT_STATUS(STATUS_SUCCESS, status) << "opening " << pipeName;
        return file;
    }

    // The pipe information record of a handle (24 bytes), or empty.
    static std::vector<UCHAR> PipeInfo(File& file) {
        std::vector<UCHAR> out(24);
        ULONG_PTR n = 0;
        if (!NT_SUCCESS(file.DeviceIoControl(usbpipe::IOCTL_QTXUSB_GET_PIPE_INFO, {}, out, &n))) {
            return {};
        }
        return out;
    }
    static UCHAR EndpointOf(File& file) {
        auto info = PipeInfo(file);
        return info.empty() ? 0 : info[2];
    }

    Kernel kernel;
    UsbBus bus;
    DRIVER_OBJECT* driver = nullptr;
    DEVICE_OBJECT* pdo = nullptr;
};

inline InterfaceSpec BulkInterface(UCHAR number = 0, UCHAR alternate = 0, UCHAR cls = 0xFF,
                                   UCHAR sub = 0, UCHAR protocol = 0) {
    InterfaceSpec i;
    i.number = number;
    i.alternateSetting = alternate;
    i.interfaceClass = cls;
    i.interfaceSubClass = sub;
    i.interfaceProtocol = protocol;
    i.endpoints = {{0x01, UsbdPipeTypeBulk, 64, 0}, {0x82, UsbdPipeTypeBulk, 64, 0}};
    return i;
}

}  // namespace ys::test
