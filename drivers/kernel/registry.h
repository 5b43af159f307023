// The registry of the kernel layer: keys addressed by path holding 32-bit, string and binary
// values. Each physical device has a hardware key that its drivers read their settings from, and
// the device map (e.g. "SERIALCOMM") lists the serial ports. Key and value names compare
// without regard to ASCII case.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "drivers/kernel/kernel_types.h"
#include "drivers/kernel/ntstatus.h"

namespace ys::kernel {

class DEVICE_OBJECT;
class Kernel;

class RegistryKey {
public:
    using Value = std::variant<ULONG, std::string, std::vector<UCHAR>>;

    // A missing value gives STATUS_OBJECT_NAME_NOT_FOUND, one of another type
    // STATUS_OBJECT_NAME_INVALID.
    NTSTATUS QueryDword(std::string_view name, ULONG* value) const;
    NTSTATUS QueryString(std::string_view name, std::string* value) const;
    NTSTATUS QueryBinary(std::string_view name, std::vector<UCHAR>* value) const;
    void SetDword(std::string_view name, ULONG value);
    void SetString(std::string_view name, std::string_view value);
    void SetBinary(std::string_view name, std::span<const UCHAR> value);
    NTSTATUS DeleteValue(std::string_view name);
    bool HasValue(std::string_view name) const;
    // Values in the order they were first written (name, value).
    std::vector<std::pair<std::string, Value>> Values() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::pair<std::string, Value>> values_;  // folded name -> (name, value)
};

class Registry {
public:
    inline static const std::string kDeviceMapRoot = "\\Registry\\Machine\\HARDWARE\\DEVICEMAP";

    // The key at `path`, made on first use.
    RegistryKey& Key(std::string_view path);
    bool KeyExists(std::string_view path) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::unique_ptr<RegistryKey>> keys_;
};

// The hardware ("Device Parameters") key of a physical device. The returned key belongs to the
// registry; ZwClose is not needed.
NTSTATUS IoOpenDeviceRegistryKey(DEVICE_OBJECT* physicalDeviceObject, ULONG devInstKeyType,
                                 ACCESS_MASK desiredAccess, RegistryKey** key);
// RTL_REGISTRY_DEVICEMAP relative writes and deletes, e.g. the "SERIALCOMM" entries of ports.
NTSTATUS RtlWriteRegistryValue(Kernel& kernel, ULONG relativeTo, std::string_view path,
                               std::string_view valueName, ULONG valueType, const void* valueData,
                               ULONG valueLength);
NTSTATUS RtlDeleteRegistryValue(Kernel& kernel, ULONG relativeTo, std::string_view path,
                                std::string_view valueName);

}  // namespace ys::kernel
