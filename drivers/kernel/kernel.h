// One instance of the kernel layer: its dispatcher (virtual or real time), namespace, registry,
// Plug and Play and I/O managers, and the drivers, devices and work items it owns. Tests make one
// per case on virtual time; the driver host makes one on real time.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/kernel/device.h"
#include "drivers/kernel/dispatcher.h"
#include "drivers/kernel/io_count.h"
#include "drivers/kernel/io_manager.h"
#include "drivers/kernel/object_namespace.h"
#include "drivers/kernel/pnp_manager.h"
#include "drivers/kernel/registry.h"

namespace ys::kernel {

class Kernel {
public:
    explicit Kernel(std::unique_ptr<Dispatcher> dispatcher);
    ~Kernel();
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    Dispatcher& dispatcher() { return *dispatcher_; }
    ObjectNamespace& objects() { return objects_; }
    Registry& registry() { return registry_; }
    PnpManager& pnp() { return pnp_; }
    IoManager& io() { return io_; }

    // Makes a driver object and runs the driver's entry point on it; null when it fails.
    DRIVER_OBJECT* LoadDriver(std::string_view name, PDRIVER_INITIALIZE driverEntry,
                              NTSTATUS* status = nullptr);

    // Physical devices (made by bus drivers) carry a device instance: "USB\VID_...\1".
    void SetInstanceId(DEVICE_OBJECT* physicalDevice, std::string instanceId);
    std::string InstanceId(DEVICE_OBJECT* physicalDevice) const;
    // "\Registry\Machine\SYSTEM\CurrentControlSet\Enum\<instance>\Device Parameters"
    std::string HardwareKeyPath(DEVICE_OBJECT* physicalDevice) const;
    RegistryKey& HardwareKey(DEVICE_OBJECT* physicalDevice);

    // Used by IoCreateDevice and the work item calls.
    DEVICE_OBJECT* AddDevice(std::unique_ptr<DEVICE_OBJECT> device);
    std::string NextGeneratedDeviceName();
    std::mutex& deviceTreeMutex() { return treeMutex_; }
    IO_WORKITEM* AllocateWorkItem(DEVICE_OBJECT* device);
    void FreeWorkItem(IO_WORKITEM* item);

private:
    // Declared first so that it is destroyed last: device extensions hold its timers and DPCs.
    std::unique_ptr<Dispatcher> dispatcher_;
    ObjectNamespace objects_;
    Registry registry_;
    PnpManager pnp_;
    IoManager io_;
    mutable std::mutex mutex_;
    std::mutex treeMutex_;
    std::vector<std::unique_ptr<DRIVER_OBJECT>> drivers_;
    std::vector<std::unique_ptr<DEVICE_OBJECT>> devices_;
    std::map<DEVICE_OBJECT*, std::string> instanceIds_;
    std::map<IO_WORKITEM*, std::unique_ptr<IO_WORKITEM>> workItems_;
    unsigned generatedNames_ = 0;
};

}  // namespace ys::kernel
