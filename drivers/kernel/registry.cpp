#include "drivers/kernel/registry.h"

#include <algorithm>
#include <cstring>

#include "drivers/kernel/device.h"
#include "drivers/kernel/kernel.h"

namespace ys::kernel {

namespace {

std::string Fold(std::string_view s) {
    std::string k(s);
    for (char& c : k) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return k;
}

template <class T>
NTSTATUS Query(std::mutex& m,
               const std::map<std::string, std::pair<std::string, RegistryKey::Value>>& v,
               std::string_view name, T* out) {
    std::lock_guard lock(m);
    auto it = v.find(Fold(name));
    if (it == v.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    const T* value = std::get_if<T>(&it->second.second);
    if (value == nullptr) return STATUS_OBJECT_NAME_INVALID;
    *out = *value;
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS RegistryKey::QueryDword(std::string_view name, ULONG* value) const {
    return Query(mutex_, values_, name, value);
}

NTSTATUS RegistryKey::QueryString(std::string_view name, std::string* value) const {
    return Query(mutex_, values_, name, value);
}

NTSTATUS RegistryKey::QueryBinary(std::string_view name, std::vector<UCHAR>* value) const {
    return Query(mutex_, values_, name, value);
}

void RegistryKey::SetDword(std::string_view name, ULONG value) {
    std::lock_guard lock(mutex_);
    values_[Fold(name)] = {std::string(name), value};
}

void RegistryKey::SetString(std::string_view name, std::string_view value) {
    std::lock_guard lock(mutex_);
    values_[Fold(name)] = {std::string(name), std::string(value)};
}

void RegistryKey::SetBinary(std::string_view name, std::span<const UCHAR> value) {
    std::lock_guard lock(mutex_);
    values_[Fold(name)] = {std::string(name), std::vector<UCHAR>(value.begin(), value.end())};
}

NTSTATUS RegistryKey::DeleteValue(std::string_view name) {
    std::lock_guard lock(mutex_);
    return values_.erase(Fold(name)) != 0 ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

bool RegistryKey::HasValue(std::string_view name) const {
    std::lock_guard lock(mutex_);
    return values_.count(Fold(name)) != 0;
}

std::vector<std::pair<std::string, RegistryKey::Value>> RegistryKey::Values() const {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::string, Value>> out;
    for (const auto& entry : values_) out.push_back(entry.second);
    return out;
}

RegistryKey& Registry::Key(std::string_view path) {
    std::lock_guard lock(mutex_);
    auto& key = keys_[Fold(path)];
    if (!key) key = std::make_unique<RegistryKey>();
    return *key;
}

bool Registry::KeyExists(std::string_view path) const {
    std::lock_guard lock(mutex_);
    return keys_.count(Fold(path)) != 0;
}

NTSTATUS IoOpenDeviceRegistryKey(DEVICE_OBJECT* pdo, ULONG devInstKeyType, ACCESS_MASK,
                                 RegistryKey** key) {
    Kernel& kernel = pdo->kernel();
    if (kernel.InstanceId(pdo).empty()) return STATUS_INVALID_DEVICE_REQUEST;
    if (devInstKeyType == PLUGPLAY_REGKEY_DEVICE) {
        *key = &kernel.HardwareKey(pdo);
    } else {
        *key = &kernel.registry().Key(kernel.HardwareKeyPath(pdo) + "\\Driver");
    }
    return STATUS_SUCCESS;
}

NTSTATUS RtlWriteRegistryValue(Kernel& kernel, ULONG relativeTo, std::string_view path,
                               std::string_view valueName, ULONG valueType, const void* data,
                               ULONG length) {
    if (relativeTo != RTL_REGISTRY_DEVICEMAP) return STATUS_INVALID_PARAMETER;
    RegistryKey& key = kernel.registry().Key(Registry::kDeviceMapRoot + "\\" + std::string(path));
    const auto* bytes = static_cast<const UCHAR*>(data);
    switch (valueType) {
        case REG_SZ: {
            std::string s(reinterpret_cast<const char*>(bytes), length);
            s.erase(std::find(s.begin(), s.end(), '\0'), s.end());
            key.SetString(valueName, s);
            return STATUS_SUCCESS;
        }
        case REG_DWORD: {
            if (length != sizeof(ULONG)) return STATUS_INVALID_PARAMETER;
            ULONG v = 0;
            std::memcpy(&v, bytes, sizeof v);
            key.SetDword(valueName, v);
            return STATUS_SUCCESS;
        }
        case REG_BINARY:
            key.SetBinary(valueName, {bytes, length});
            return STATUS_SUCCESS;
        default:
            return STATUS_INVALID_PARAMETER;
    }
}

NTSTATUS RtlDeleteRegistryValue(Kernel& kernel, ULONG relativeTo, std::string_view path,
                                std::string_view valueName) {
    if (relativeTo != RTL_REGISTRY_DEVICEMAP) return STATUS_INVALID_PARAMETER;
    const std::string keyPath = Registry::kDeviceMapRoot + "\\" + std::string(path);
    if (!kernel.registry().KeyExists(keyPath)) return STATUS_OBJECT_NAME_NOT_FOUND;
    return kernel.registry().Key(keyPath).DeleteValue(valueName);
}

}  // namespace ys::kernel
