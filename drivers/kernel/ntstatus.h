// Status codes of the kernel layer. They keep the platform's names and values, so that the drivers
// and their clients compare the numbers the drivers were designed against.
#pragma once

#include <cstdint>
#include <string>

namespace ys::kernel {

using NTSTATUS = std::int32_t;

namespace detail {
constexpr NTSTATUS Status(std::uint32_t value) {
    return static_cast<NTSTATUS>(value);
}
}  // namespace detail

inline constexpr NTSTATUS STATUS_SUCCESS = detail::Status(0x00000000);
inline constexpr NTSTATUS STATUS_WAIT_0 = detail::Status(0x00000000);
inline constexpr NTSTATUS STATUS_TIMEOUT = detail::Status(0x00000102);
inline constexpr NTSTATUS STATUS_PENDING = detail::Status(0x00000103);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_EXISTS = detail::Status(0x40000000);
inline constexpr NTSTATUS STATUS_BUFFER_OVERFLOW = detail::Status(0x80000005);
inline constexpr NTSTATUS STATUS_DEVICE_BUSY = detail::Status(0x80000011);
inline constexpr NTSTATUS STATUS_UNSUCCESSFUL = detail::Status(0xC0000001);
inline constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = detail::Status(0xC0000002);
inline constexpr NTSTATUS STATUS_INVALID_HANDLE = detail::Status(0xC0000008);
inline constexpr NTSTATUS STATUS_INVALID_PARAMETER = detail::Status(0xC000000D);
inline constexpr NTSTATUS STATUS_NO_SUCH_DEVICE = detail::Status(0xC000000E);
inline constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = detail::Status(0xC0000010);
inline constexpr NTSTATUS STATUS_MORE_PROCESSING_REQUIRED = detail::Status(0xC0000016);
inline constexpr NTSTATUS STATUS_NO_MEMORY = detail::Status(0xC0000017);
inline constexpr NTSTATUS STATUS_ACCESS_DENIED = detail::Status(0xC0000022);
inline constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = detail::Status(0xC0000023);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = detail::Status(0xC0000033);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = detail::Status(0xC0000034);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = detail::Status(0xC0000035);
inline constexpr NTSTATUS STATUS_DELETE_PENDING = detail::Status(0xC0000056);
inline constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = detail::Status(0xC000009A);
inline constexpr NTSTATUS STATUS_DEVICE_DATA_ERROR = detail::Status(0xC000009C);
inline constexpr NTSTATUS STATUS_DEVICE_NOT_CONNECTED = detail::Status(0xC000009D);
inline constexpr NTSTATUS STATUS_IO_TIMEOUT = detail::Status(0xC00000B5);
inline constexpr NTSTATUS STATUS_NOT_SUPPORTED = detail::Status(0xC00000BB);
inline constexpr NTSTATUS STATUS_CANCELLED = detail::Status(0xC0000120);
inline constexpr NTSTATUS STATUS_INVALID_DEVICE_STATE = detail::Status(0xC0000184);
inline constexpr NTSTATUS STATUS_DEVICE_REMOVED = detail::Status(0xC00002B6);
inline constexpr NTSTATUS STATUS_POWER_STATE_INVALID = detail::Status(0xC00002D3);
inline constexpr NTSTATUS STATUS_NOT_FOUND = detail::Status(0xC0000225);

constexpr bool NT_SUCCESS(NTSTATUS status) {
    return status >= 0;
}

// "STATUS_DELETE_PENDING (0xC0000056)": for test failure messages and logs.
std::string StatusText(NTSTATUS status);

}  // namespace ys::kernel
