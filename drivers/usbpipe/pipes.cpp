// Opening and closing pipes by name.
#include <optional>

#include "drivers/usbpipe/device_extension.h"

namespace ys::usbpipe {

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (Upper(s[i]) != prefix[i]) return false;
    }
    return true;
}

std::optional<unsigned> HexDigit(char c) {
    c = Upper(c);
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return std::nullopt;
}

// Exactly two hexadecimal digits.
std::optional<unsigned> TwoHexDigits(std::string_view s) {
    if (s.size() != 2) return std::nullopt;
    auto hi = HexDigit(s[0]);
    auto lo = HexDigit(s[1]);
    if (!hi || !lo) return std::nullopt;
    return *hi * 16 + *lo;
}

}  // namespace

// Called with the lock held.
PipeContext* PipeFromName(DEVICE_EXTENSION* ext, std::string_view name) {
    if (name.size() == 7 && StartsWithNoCase(name, "\\PIPE")) {
        auto index = TwoHexDigits(name.substr(5));
        if (!index || *index >= ext->pipeCount) return nullptr;
        return ext->pipes[*index].get();
    }
    const bool byNumber = StartsWithNoCase(name, "\\EP");
    const bool byAddress = StartsWithNoCase(name, "\\EA");
    if (name.size() != 5 || (!byNumber && !byAddress)) return nullptr;
    auto value = TwoHexDigits(name.substr(3));
    if (!value) return nullptr;
    for (ULONG i = 0; i < ext->pipeCount; ++i) {
        const UCHAR address = ext->pipes[i]->pipeInformation->EndpointAddress;
        if ((byNumber ? (address & 0x7F) : address) == *value) return ext->pipes[i].get();
    }
    return nullptr;
}

bool SnapshotPipe(DEVICE_EXTENSION* ext, const PipeContext* pipe, PipeSnapshot* out) {
    SpinLockGuard guard(ext->lock);
    if (pipe == nullptr || pipe->pipeInformation == nullptr) return false;
    out->info = *pipe->pipeInformation;
    out->segmentSize = pipe->segmentSize;
    return true;
}

NTSTATUS QtxDispatchCreate(DEVICE_OBJECT* device, IRP* irp) {
    DEVICE_EXTENSION* ext = Extension(device);
    IoCountHolder count(ext->ioCount);
    FILE_OBJECT* file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    NTSTATUS status = STATUS_SUCCESS;
    {
        SpinLockGuard guard(ext->lock);
        const bool accepts =
            ext->started && !ext->removePending && !ext->surpriseRemoved && !ext->stopPending;
        if (!accepts && !ext->surpriseRemoved) {
            status = STATUS_DELETE_PENDING;
        } else if (file == nullptr || file->FileName.empty()) {
            if (file != nullptr) file->FsContext = nullptr;  // a control-only handle
        } else {
            PipeContext* pipe = PipeFromName(ext, file->FileName);
            if (pipe == nullptr || pipe->open) {
                status = STATUS_INVALID_HANDLE;
            } else {
                pipe->open = true;
                ++ext->openCount;
                file->FsContext = pipe;
            }
        }
    }
    return CompleteRequest(irp, status, 0);
}

NTSTATUS QtxDispatchClose(DEVICE_OBJECT* device, IRP* irp) {
    DEVICE_EXTENSION* ext = Extension(device);
    IoCountHolder count(ext->ioCount);
    FILE_OBJECT* file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    NTSTATUS status = STATUS_INVALID_HANDLE;
    {
        SpinLockGuard guard(ext->lock);
        auto* pipe = file != nullptr ? static_cast<PipeContext*>(file->FsContext) : nullptr;
        if (pipe != nullptr && pipe->open) {
            pipe->open = false;
            --ext->openCount;
            file->FsContext = nullptr;
            status = STATUS_SUCCESS;
        }
    }
    return CompleteRequest(irp, status, 0);
}

}  // namespace ys::usbpipe
