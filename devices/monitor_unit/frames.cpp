#include "devices/monitor_unit/frames.h"

#include <numeric>

namespace ys::monitor_unit {

std::uint8_t FrameChecksum(std::span<const std::uint8_t> bytes) {
    const unsigned sum = std::accumulate(bytes.begin(), bytes.end(), 0u);
    return static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
}

bool FrameSumIsZero(std::span<const std::uint8_t> frame) {
    return (std::accumulate(frame.begin(), frame.end(), 0u) & 0xFF) == 0;
}

}  // namespace ys::monitor_unit
