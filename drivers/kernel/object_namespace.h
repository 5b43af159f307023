// The namespace of device names, symbolic links and device interfaces: what lets a client find a
// device by "\Device\...", "\DosDevices\COM3" ("\??\COM3", "\\.\COM3") or by interface class.
// Names compare without regard to ASCII case.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/kernel/kernel_types.h"
#include "drivers/kernel/ntstatus.h"

namespace ys::kernel {

class DEVICE_OBJECT;
class Kernel;

class ObjectNamespace {
public:
    NTSTATUS InsertDevice(const std::string& name, DEVICE_OBJECT* device);
    void RemoveDevice(const std::string& name);

    NTSTATUS CreateSymbolicLink(const std::string& link, const std::string& target);
    NTSTATUS DeleteSymbolicLink(const std::string& link);
    bool SymbolicLinkExists(const std::string& link) const;
    // The target of a link, or empty.
    std::string SymbolicLinkTarget(const std::string& link) const;

    // Splits `path` into a device and the rest of the name (the file name of an open): links are
    // followed, then the longest device name that is a prefix at a "\" boundary wins.
    DEVICE_OBJECT* Resolve(std::string_view path, std::string* remainder) const;

    // Device interfaces: a link "\??\<instance>#{guid}" per physical device and class, which
    // points at the physical device while it is enabled.
    NTSTATUS RegisterDeviceInterface(DEVICE_OBJECT* physicalDevice, const GUID& interfaceClass,
                                     std::string* symbolicLinkName);
    NTSTATUS SetDeviceInterfaceState(const std::string& symbolicLinkName, bool enable);
    std::vector<std::string> EnabledInterfaces(const GUID& interfaceClass) const;
    bool InterfaceEnabled(const std::string& symbolicLinkName) const;

    // "\\.\X", "\DosDevices\X" and "\GLOBAL??\X" become "\??\X".
    static std::string Canonical(std::string_view path);

private:
    struct Interface {
        GUID interfaceClass;
        std::string name;
        std::string target;
        bool enabled = false;
    };
    static std::string Key(std::string_view name);

    mutable std::mutex mutex_;
    std::map<std::string, std::pair<std::string, DEVICE_OBJECT*>> devices_;  // key: folded name
    std::map<std::string, std::string> links_;                               // folded -> target
    std::map<std::string, Interface> interfaces_;                            // folded link name
};

// The platform calls that use the namespace of the device's kernel.
NTSTATUS IoCreateSymbolicLink(Kernel& kernel, const std::string& symbolicLinkName,
                              const std::string& deviceName);
NTSTATUS IoDeleteSymbolicLink(Kernel& kernel, const std::string& symbolicLinkName);
NTSTATUS IoRegisterDeviceInterface(DEVICE_OBJECT* physicalDeviceObject, const GUID* interfaceClass,
                                   const std::string* referenceString,
                                   std::string* symbolicLinkName);
NTSTATUS IoSetDeviceInterfaceState(Kernel& kernel, const std::string& symbolicLinkName,
                                   BOOLEAN enable);

}  // namespace ys::kernel
