#include "drivers/kernel/kernel.h"

#include <cstdio>

namespace ys::kernel {

Kernel::Kernel(std::unique_ptr<Dispatcher> dispatcher)
    : dispatcher_(std::move(dispatcher)), pnp_(*this), io_(*this) {}

Kernel::~Kernel() {
    // Threads first, so nothing runs while the devices and their extensions go away.
    dispatcher_->Shutdown();
    workItems_.clear();
    devices_.clear();
    drivers_.clear();
}

DRIVER_OBJECT* Kernel::LoadDriver(std::string_view name, PDRIVER_INITIALIZE driverEntry,
                                  NTSTATUS* status) {
    auto driver = std::make_unique<DRIVER_OBJECT>(*this, std::string(name));
    const std::string registryPath =
        "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\" + std::string(name);
    const NTSTATUS s = driverEntry(driver.get(), registryPath);
    if (status != nullptr) *status = s;
    if (!NT_SUCCESS(s)) return nullptr;
    std::lock_guard lock(mutex_);
    drivers_.push_back(std::move(driver));
    return drivers_.back().get();
}

void Kernel::SetInstanceId(DEVICE_OBJECT* physicalDevice, std::string instanceId) {
    std::lock_guard lock(mutex_);
    instanceIds_[physicalDevice] = std::move(instanceId);
}

std::string Kernel::InstanceId(DEVICE_OBJECT* physicalDevice) const {
    std::lock_guard lock(mutex_);
    auto it = instanceIds_.find(physicalDevice);
    return it == instanceIds_.end() ? std::string() : it->second;
}

std::string Kernel::HardwareKeyPath(DEVICE_OBJECT* physicalDevice) const {
    return "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\" + InstanceId(physicalDevice) +
           "\\Device Parameters";
}

RegistryKey& Kernel::HardwareKey(DEVICE_OBJECT* physicalDevice) {
    return registry_.Key(HardwareKeyPath(physicalDevice));
}

DEVICE_OBJECT* Kernel::AddDevice(std::unique_ptr<DEVICE_OBJECT> device) {
    std::lock_guard lock(mutex_);
    devices_.push_back(std::move(device));
    return devices_.back().get();
}

std::string Kernel::NextGeneratedDeviceName() {
    std::lock_guard lock(mutex_);
    char name[32];
    std::snprintf(name, sizeof name, "\\Device\\%08X", ++generatedNames_);
    return name;
}

IO_WORKITEM* Kernel::AllocateWorkItem(DEVICE_OBJECT* device) {
    auto item = std::make_unique<IO_WORKITEM>(device);
    IO_WORKITEM* raw = item.get();
    std::lock_guard lock(mutex_);
    workItems_.emplace(raw, std::move(item));
    return raw;
}

void Kernel::FreeWorkItem(IO_WORKITEM* item) {
    std::unique_ptr<IO_WORKITEM> owned;
    std::lock_guard lock(mutex_);
    auto it = workItems_.find(item);
    if (it == workItems_.end()) KeBugCheck("unknown work item freed");
    owned = std::move(it->second);
    workItems_.erase(it);
}

}  // namespace ys::kernel
