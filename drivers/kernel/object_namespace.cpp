#include "drivers/kernel/object_namespace.h"

#include <algorithm>

#include "drivers/kernel/device.h"
#include "drivers/kernel/kernel.h"

namespace ys::kernel {

namespace {

char Fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithFolded(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (Fold(s[i]) != Fold(prefix[i])) return false;
    }
    return true;
}

}  // namespace

std::string ObjectNamespace::Key(std::string_view name) {
    std::string k(name);
    std::transform(k.begin(), k.end(), k.begin(), Fold);
    return k;
}

std::string ObjectNamespace::Canonical(std::string_view path) {
    static constexpr std::string_view kPrefixes[] = {"\\\\.\\", "\\DosDevices\\", "\\GLOBAL??\\"};
    for (std::string_view p : kPrefixes) {
        if (StartsWithFolded(path, p)) return "\\??\\" + std::string(path.substr(p.size()));
    }
    return std::string(path);
}

NTSTATUS ObjectNamespace::InsertDevice(const std::string& name, DEVICE_OBJECT* device) {
    std::lock_guard lock(mutex_);
    const std::string k = Key(name);
    if (devices_.count(k) != 0 || links_.count(Key(Canonical(name))) != 0) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    devices_[k] = {name, device};
    return STATUS_SUCCESS;
}

void ObjectNamespace::RemoveDevice(const std::string& name) {
    std::lock_guard lock(mutex_);
    devices_.erase(Key(name));
}

NTSTATUS ObjectNamespace::CreateSymbolicLink(const std::string& link, const std::string& target) {
    std::lock_guard lock(mutex_);
    const std::string k = Key(Canonical(link));
    if (links_.count(k) != 0 || devices_.count(k) != 0) return STATUS_OBJECT_NAME_COLLISION;
    links_[k] = target;
    return STATUS_SUCCESS;
}

NTSTATUS ObjectNamespace::DeleteSymbolicLink(const std::string& link) {
    std::lock_guard lock(mutex_);
    return links_.erase(Key(Canonical(link))) != 0 ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

bool ObjectNamespace::SymbolicLinkExists(const std::string& link) const {
    std::lock_guard lock(mutex_);
    return links_.count(Key(Canonical(link))) != 0;
}

std::string ObjectNamespace::SymbolicLinkTarget(const std::string& link) const {
    std::lock_guard lock(mutex_);
    auto it = links_.find(Key(Canonical(link)));
    return it == links_.end() ? std::string() : it->second;
}

// Calls `visit` with `path` and with each prefix of it that ends before a "\" (the root
// excepted), longest first, until `visit` returns true.
template <class Visit>
static bool ForEachPrefix(const std::string& path, Visit visit) {
    std::size_t end = path.size();
    for (;;) {
        if (visit(end)) return true;
        if (end == 0) return false;
        const std::size_t b = path.rfind('\\', end - 1);
        if (b == std::string::npos || b == 0) return false;
        end = b;
    }
}

DEVICE_OBJECT* ObjectNamespace::Resolve(std::string_view path, std::string* remainder) const {
    std::lock_guard lock(mutex_);
    std::string p = Canonical(path);
    // A link may stand for a device with a file name after it ("\??\COM3\x").
    for (int hops = 0; hops < 16; ++hops) {
        const bool followed = ForEachPrefix(p, [&](std::size_t end) {
            auto it = links_.find(Key(std::string_view(p).substr(0, end)));
            if (it == links_.end()) return false;
            p = Canonical(it->second) + p.substr(end);
            return true;
        });
        if (!followed) break;
    }
    DEVICE_OBJECT* device = nullptr;
    ForEachPrefix(p, [&](std::size_t end) {
        auto it = devices_.find(Key(std::string_view(p).substr(0, end)));
        if (it == devices_.end()) return false;
        if (remainder != nullptr) *remainder = p.substr(end);
        device = it->second.second;
        return true;
    });
    return device;
}

NTSTATUS ObjectNamespace::RegisterDeviceInterface(DEVICE_OBJECT* physicalDevice,
                                                  const GUID& interfaceClass,
                                                  std::string* symbolicLinkName) {
    if (physicalDevice->name().empty()) return STATUS_INVALID_DEVICE_REQUEST;
    std::string instance = physicalDevice->kernel().InstanceId(physicalDevice);
    if (instance.empty()) return STATUS_INVALID_DEVICE_REQUEST;
    std::replace(instance.begin(), instance.end(), '\\', '#');
    const std::string link = "\\??\\" + instance + "#" + interfaceClass.ToString();
    std::lock_guard lock(mutex_);
    auto [it, inserted] = interfaces_.try_emplace(Key(link));
    if (inserted) it->second = Interface{interfaceClass, link, physicalDevice->name(), false};
    *symbolicLinkName = link;
    return STATUS_SUCCESS;
}

NTSTATUS ObjectNamespace::SetDeviceInterfaceState(const std::string& symbolicLinkName,
                                                  bool enable) {
    std::lock_guard lock(mutex_);
    const std::string k = Key(symbolicLinkName);
    auto it = interfaces_.find(k);
    if (it == interfaces_.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (it->second.enabled == enable) return STATUS_SUCCESS;
    it->second.enabled = enable;
    if (enable) {
        links_[k] = it->second.target;
    } else {
        links_.erase(k);
    }
    return STATUS_SUCCESS;
}

std::vector<std::string> ObjectNamespace::EnabledInterfaces(const GUID& interfaceClass) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [k, i] : interfaces_) {
        if (i.enabled && i.interfaceClass == interfaceClass) out.push_back(i.name);
    }
    return out;
}

bool ObjectNamespace::InterfaceEnabled(const std::string& symbolicLinkName) const {
    std::lock_guard lock(mutex_);
    auto it = interfaces_.find(Key(symbolicLinkName));
    return it != interfaces_.end() && it->second.enabled;
}

NTSTATUS IoCreateSymbolicLink(Kernel& kernel, const std::string& link, const std::string& device) {
    return kernel.objects().CreateSymbolicLink(link, device);
}

NTSTATUS IoDeleteSymbolicLink(Kernel& kernel, const std::string& link) {
    return kernel.objects().DeleteSymbolicLink(link);
}

NTSTATUS IoRegisterDeviceInterface(DEVICE_OBJECT* pdo, const GUID* interfaceClass,
                                   const std::string*, std::string* symbolicLinkName) {
    return pdo->kernel().objects().RegisterDeviceInterface(pdo, *interfaceClass, symbolicLinkName);
}

NTSTATUS IoSetDeviceInterfaceState(Kernel& kernel, const std::string& link, BOOLEAN enable) {
    return kernel.objects().SetDeviceInterfaceState(link, enable);
}

}  // namespace ys::kernel
