#include "drivers/host/driver_stack.h"

#include <algorithm>

#include "drivers/usbpipe/qtxusb.h"
#include "drivers/vcom/qtxvcom.h"

namespace ys::host {

using namespace ys::kernel;

DriverStack::DriverStack(std::unique_ptr<Dispatcher> dispatcher)
    : kernel_(std::move(dispatcher)), bus_(kernel_) {
    usbpipe_ = kernel_.LoadDriver("qtxusb64", usbpipe::DriverEntry);
    vcom_ = kernel_.LoadDriver("qtxvcom64", vcom::DriverEntry);
}

DriverStack::~DriverStack() {
    std::vector<DEVICE_OBJECT*> left;
    {
        std::lock_guard lock(mutex_);
        left = plugged_;
    }
    for (DEVICE_OBJECT* pdo : left) (void)Remove(pdo);
}

NTSTATUS DriverStack::Plug(std::shared_ptr<usb::UsbDeviceBackend> backend, std::string instanceId,
                           const DeviceSettings& settings, DEVICE_OBJECT** pdo) {
    *pdo = nullptr;
    if (!loaded()) return STATUS_UNSUCCESSFUL;
    DEVICE_OBJECT* device = bus_.Attach(std::move(backend), std::move(instanceId));
    RegistryKey& key = kernel_.HardwareKey(device);
    for (const auto& [name, value] : settings.values) {
        if (const auto* number = std::get_if<ULONG>(&value)) {
            key.SetDword(name, *number);
        } else {
            key.SetString(name, std::get<std::string>(value));
        }
    }
    DRIVER_OBJECT* drivers[] = {usbpipe_, vcom_};
    NTSTATUS status = kernel_.pnp().AddDevice(device, drivers);
    if (NT_SUCCESS(status)) status = kernel_.pnp().StartDevice(device);
    if (!NT_SUCCESS(status)) {
        // A stack that did not start is torn down as the platform does: removal.
        (void)kernel_.pnp().RemoveDevice(device);
        return status;
    }
    {
        std::lock_guard lock(mutex_);
        plugged_.push_back(device);
    }
    *pdo = device;
    return status;
}

bool DriverStack::Forget(DEVICE_OBJECT* pdo) {
    std::lock_guard lock(mutex_);
    auto it = std::find(plugged_.begin(), plugged_.end(), pdo);
    if (it == plugged_.end()) return false;
    plugged_.erase(it);
    return true;
}

NTSTATUS DriverStack::Unplug(DEVICE_OBJECT* pdo) {
    if (!Forget(pdo)) return STATUS_NO_SUCH_DEVICE;
    (void)kernel_.pnp().SurpriseRemoveIfPresent(pdo);
    return kernel_.pnp().RemoveDevice(pdo);
}

NTSTATUS DriverStack::Remove(DEVICE_OBJECT* pdo) {
    if (!Forget(pdo)) return STATUS_NO_SUCH_DEVICE;
    // A query the drivers refuse (a port still open) does not keep the host from ending: the
    // stack then loses its device as in a surprise removal.
    if (!NT_SUCCESS(kernel_.pnp().QueryRemoveDevice(pdo))) {
        (void)kernel_.pnp().CancelRemoveDevice(pdo);
        (void)kernel_.pnp().SurpriseRemoveIfPresent(pdo);
    }
    return kernel_.pnp().RemoveDevice(pdo);
}

}  // namespace ys::host
