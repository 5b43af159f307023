// The byte ring of the receive and transmit buffers: a fixed array with read and write positions
// and a fill count, under a spin lock of its own.
#pragma once

#include <span>
#include <vector>

#include "drivers/kernel/dispatcher.h"
#include "drivers/kernel/ntstatus.h"

namespace ys::vcom {

using kernel::NTSTATUS;
using kernel::UCHAR;
using kernel::ULONG;

class RingBuffer {
public:
    explicit RingBuffer(ULONG size) : data_(size) {}
    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    // Copies as many bytes as fit; returns how many were taken.
    ULONG Put(std::span<const UCHAR> bytes);
    // Copies up to `out.size()` bytes in arrival order; returns how many were delivered.
    ULONG Get(std::span<UCHAR> out);
    void Clear();
    // Grows the array keeping the content in order; a smaller size is refused, an equal one
    // changes nothing.
    NTSTATUS Enlarge(ULONG size);
    // Empties the buffer and gives it `size` bytes.
    void Recreate(ULONG size);

    ULONG Count() const;
    ULONG Size() const;
    ULONG Free() const;

private:
    mutable kernel::KSPIN_LOCK lock_;
    std::vector<UCHAR> data_;
    ULONG read_ = 0;
    ULONG write_ = 0;
    ULONG count_ = 0;
};

}  // namespace ys::vcom
