#include "drivers/kernel/ntstatus.h"

#include <cstdio>

#include "drivers/kernel/kernel_types.h"

namespace ys::kernel {

std::string StatusText(NTSTATUS status) {
    struct Name {
        NTSTATUS status;
        const char* name;
    };
#define YS_STATUS(s) \
    { s, #s }
    static constexpr Name kNames[] = {
        YS_STATUS(STATUS_SUCCESS),
        YS_STATUS(STATUS_TIMEOUT),
        YS_STATUS(STATUS_PENDING),
        YS_STATUS(STATUS_OBJECT_NAME_EXISTS),
        YS_STATUS(STATUS_BUFFER_OVERFLOW),
        YS_STATUS(STATUS_DEVICE_BUSY),
        YS_STATUS(STATUS_UNSUCCESSFUL),
        YS_STATUS(STATUS_NOT_IMPLEMENTED),
        YS_STATUS(STATUS_INVALID_HANDLE),
        YS_STATUS(STATUS_INVALID_PARAMETER),
        YS_STATUS(STATUS_NO_SUCH_DEVICE),
        YS_STATUS(STATUS_INVALID_DEVICE_REQUEST),
        YS_STATUS(STATUS_MORE_PROCESSING_REQUIRED),
        YS_STATUS(STATUS_NO_MEMORY),
        YS_STATUS(STATUS_ACCESS_DENIED),
        YS_STATUS(STATUS_BUFFER_TOO_SMALL),
        YS_STATUS(STATUS_OBJECT_NAME_INVALID),
        YS_STATUS(STATUS_OBJECT_NAME_NOT_FOUND),
        YS_STATUS(STATUS_OBJECT_NAME_COLLISION),
        YS_STATUS(STATUS_DELETE_PENDING),
        YS_STATUS(STATUS_INSUFFICIENT_RESOURCES),
        YS_STATUS(STATUS_DEVICE_DATA_ERROR),
        YS_STATUS(STATUS_DEVICE_NOT_CONNECTED),
        YS_STATUS(STATUS_IO_TIMEOUT),
        YS_STATUS(STATUS_NOT_SUPPORTED),
        YS_STATUS(STATUS_CANCELLED),
        YS_STATUS(STATUS_INVALID_DEVICE_STATE),
        YS_STATUS(STATUS_DEVICE_REMOVED),
        YS_STATUS(STATUS_POWER_STATE_INVALID),
        YS_STATUS(STATUS_NOT_FOUND),
    };
#undef YS_STATUS
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(status));
    for (const Name& n : kNames) {
        if (n.status == status) return std::string(n.name) + " (" + hex + ")";
    }
    return hex;
}

std::string GUID::ToString() const {
    char s[40];
    std::snprintf(s, sizeof s, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(Data1), Data2, Data3, Data4[0], Data4[1], Data4[2],
                  Data4[3], Data4[4], Data4[5], Data4[6], Data4[7]);
    return s;
}

}  // namespace ys::kernel
