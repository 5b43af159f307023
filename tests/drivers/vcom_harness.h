// A device stack for the COM port tests: a kernel (virtual time unless asked otherwise), the USB
// bus with the monitor unit, qtxusb64 and qtxvcom64 above it, registry values per test, and the
// port opened by name through the I/O manager.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drivers/kernel/kernel.h"
#include "drivers/kernel/serial_ioctl.h"
#include "drivers/usb/monitor_unit_device.h"
#include "drivers/usb/usb_bus.h"
#include "drivers/usbpipe/qtxusb.h"
#include "drivers/vcom/qtxvcom.h"
#include "tests/drivers/usbpipe_harness.h"

namespace ys::test {

using vcom::GUID_DEVINTERFACE_COMPORT;

inline constexpr UCHAR kTx = MonitorUnitDevice::kTransmitEndpoint;
inline constexpr UCHAR kRx = MonitorUnitDevice::kReceiveEndpoint;

class VcomHarness {
public:
    explicit VcomHarness(bool realTime = false)
        : kernel(realTime ? Dispatcher::CreateRealTime() : Dispatcher::CreateVirtual()),
          bus(kernel) {
        usb = kernel.LoadDriver("qtxusb64", usbpipe::DriverEntry);
        vcom = kernel.LoadDriver("qtxvcom64", vcom::DriverEntry);
    }
    ~VcomHarness() {
        // Handles first: their close reaches the driver while the stack is still there.
        files.clear();
    }

    Dispatcher& dispatcher() { return kernel.dispatcher(); }

    // Plugs a monitor unit whose hardware key names the port; settings go in before Start().
    std::shared_ptr<MonitorUnitDevice> Plug(MonitorUnitDevice::Options options = {},
                                            const std::string& port = "COM3") {
        auto device =
            std::make_shared<MonitorUnitDevice>(kernel.dispatcher(), TestImage(), options);
        const std::string instance = "USB\\VID_FFFE&PID_5201\\" + std::to_string(pdos.size() + 1);
        pdo = bus.Attach(device, instance);
        pdos.push_back(pdo);
        kernel.HardwareKey(pdo).SetString("PortName", port);
        return device;
    }

    RegistryKey& settings() { return kernel.HardwareKey(pdo); }

    NTSTATUS Start() {
        DRIVER_OBJECT* stack[] = {usb, vcom};
        NTSTATUS status = kernel.pnp().AddDevice(pdo, stack);
        if (NT_SUCCESS(status)) status = kernel.pnp().StartDevice(pdo);
        return status;
    }

    // The COM port's device object (top of the stack).
    DEVICE_OBJECT* port(DEVICE_OBJECT* physical = nullptr) {
        DEVICE_OBJECT* p = physical != nullptr ? physical : pdo;
        return p->AttachedDevice != nullptr ? p->AttachedDevice->AttachedDevice : nullptr;
    }

    NTSTATUS Open(const std::string& name, File** file) {
        std::unique_ptr<File> opened;
        const NTSTATUS status = kernel.io().CreateFile("\\\\.\\" + name, &opened);
        if (NT_SUCCESS(status)) {
            files.push_back(std::move(opened));
            *file = files.back().get();
        }
        return status;
    }
    File& OpenOrFail(const std::string& name = "COM3") {
        File* file = nullptr;
        const NTSTATUS status = Open(name, &file);
        EXPECT_STATUS(STATUS_SUCCESS, status) << "opening " << name;
        if (file == nullptr) throw std::runtime_error("port did not open");
        return *file;
    }

    // Starts the stack with the given settings and opens COM3.
    File& StartAndOpen() {
        EXPECT_STATUS(STATUS_SUCCESS, Start());
        return OpenOrFail();
    }

    Kernel kernel;
    UsbBus bus;
    DRIVER_OBJECT* usb = nullptr;
    DRIVER_OBJECT* vcom = nullptr;
    DEVICE_OBJECT* pdo = nullptr;
    std::vector<DEVICE_OBJECT*> pdos;
    std::vector<std::unique_ptr<File>> files;
};

template <class T>
std::vector<UCHAR> AsBytes(const T& value) {
    std::vector<UCHAR> v(sizeof(T));
    std::memcpy(v.data(), &value, sizeof(T));
    return v;
}

inline NTSTATUS Ioctl(File& file, ULONG code, std::span<const UCHAR> in = {},
                      std::vector<UCHAR>* out = nullptr) {
    std::vector<UCHAR> scratch;
    std::vector<UCHAR>& o = out != nullptr ? *out : scratch;
    ULONG_PTR n = 0;
    const NTSTATUS status = file.DeviceIoControl(code, in, o, &n);
    o.resize(n);
    return status;
}

template <class T>
NTSTATUS SetValue(File& file, ULONG code, const T& value) {
    return Ioctl(file, code, AsBytes(value));
}

template <class T>
T GetValue(File& file, ULONG code) {
    std::vector<UCHAR> out(sizeof(T));
    const NTSTATUS status = Ioctl(file, code, {}, &out);
    EXPECT_STATUS(STATUS_SUCCESS, status);
    T value{};
    if (out.size() == sizeof(T)) std::memcpy(&value, out.data(), sizeof(T));
    return value;
}

inline NTSTATUS SetTimeouts(File& file, ULONG interval, ULONG multiplier, ULONG constant,
                            ULONG writeMultiplier = 0, ULONG writeConstant = 0) {
    return SetValue(
        file, IOCTL_SERIAL_SET_TIMEOUTS,
        SERIAL_TIMEOUTS{interval, multiplier, constant, writeMultiplier, writeConstant});
}

inline std::vector<UCHAR> ReadPort(File& file, ULONG length, NTSTATUS* status = nullptr) {
    std::vector<UCHAR> buffer(length);
    ULONG_PTR n = 0;
    const NTSTATUS s = file.Read(buffer, &n);
    if (status != nullptr) *status = s;
    buffer.resize(n);
    return buffer;
}

inline ULONG_PTR WritePort(File& file, std::span<const UCHAR> data, NTSTATUS* status = nullptr) {
    ULONG_PTR n = 0;
    const NTSTATUS s = file.Write(data, &n);
    if (status != nullptr) *status = s;
    return n;
}

// The vendor commands with the given command byte.
inline std::vector<std::vector<UCHAR>> Commands(const MonitorUnitDevice& unit, UCHAR command) {
    std::vector<std::vector<UCHAR>> out;
    for (const auto& c : unit.VendorCommands()) {
        if (!c.empty() && c[0] == command) out.push_back(c);
    }
    return out;
}

}  // namespace ys::test
