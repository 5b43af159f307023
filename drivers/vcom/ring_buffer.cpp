#include "drivers/vcom/ring_buffer.h"

#include <algorithm>
#include <new>

namespace ys::vcom {

using kernel::SpinLockGuard;

ULONG RingBuffer::Put(std::span<const UCHAR> bytes) {
    SpinLockGuard guard(lock_);
    const ULONG size = static_cast<ULONG>(data_.size());
    const ULONG n = std::min<ULONG>(static_cast<ULONG>(bytes.size()), size - count_);
    // In at most two pieces: up to the end of the storage, then from its start.
    const ULONG first = std::min<ULONG>(n, size - write_);
    std::copy_n(bytes.begin(), first, data_.begin() + write_);
    std::copy_n(bytes.begin() + first, n - first, data_.begin());
    if (n > 0) write_ = (write_ + n) % size;
    count_ += n;
    return n;
}

ULONG RingBuffer::Get(std::span<UCHAR> out) {
    SpinLockGuard guard(lock_);
    const ULONG size = static_cast<ULONG>(data_.size());
    const ULONG n = std::min<ULONG>(static_cast<ULONG>(out.size()), count_);
    const ULONG first = std::min<ULONG>(n, size - read_);
    std::copy_n(data_.begin() + read_, first, out.begin());
    std::copy_n(data_.begin(), n - first, out.begin() + first);
    if (n > 0) read_ = (read_ + n) % size;
    count_ -= n;
    return n;
}

void RingBuffer::Clear() {
    SpinLockGuard guard(lock_);
    read_ = write_ = count_ = 0;
}

NTSTATUS RingBuffer::Enlarge(ULONG size) {
    SpinLockGuard guard(lock_);
    const ULONG old = static_cast<ULONG>(data_.size());
    if (size < old) return kernel::STATUS_INVALID_PARAMETER;
    if (size == old) return kernel::STATUS_SUCCESS;
    std::vector<UCHAR> grown;
    try {
        grown.resize(size);
    } catch (const std::bad_alloc&) {
        return kernel::STATUS_INSUFFICIENT_RESOURCES;
    }
    for (ULONG i = 0; i < count_; ++i) grown[i] = data_[(read_ + i) % old];
    data_.swap(grown);
    read_ = 0;
    write_ = count_ % size;
    return kernel::STATUS_SUCCESS;
}

void RingBuffer::Recreate(ULONG size) {
    SpinLockGuard guard(lock_);
    data_.assign(size, 0);
    read_ = write_ = count_ = 0;
}

ULONG RingBuffer::Count() const {
    SpinLockGuard guard(lock_);
    return count_;
}

ULONG RingBuffer::Size() const {
    SpinLockGuard guard(lock_);
    return static_cast<ULONG>(data_.size());
}

ULONG RingBuffer::Free() const {
    SpinLockGuard guard(lock_);
    return static_cast<ULONG>(data_.size()) - count_;
}

}  // namespace ys::vcom
