// The monitor unit's frame protocol, the one definition both sides use: the frames the host
// sends, the sizes and leading bytes of the unit's header and blocks, and the checksum that ends
// every frame in both directions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ys::monitor_unit {

inline constexpr std::size_t kHeaderFrameSize = 5;
inline constexpr std::size_t kBlockFrameSize = 133;

// Frames the host sends.
inline constexpr std::uint8_t kRequestFrame[] = {0x65, 0x00, 0x9B};
inline constexpr std::uint8_t kAckFrame[] = {0x65, 0x01, 0x06, 0x94};
inline constexpr std::uint8_t kNakFrame[] = {0x65, 0x01, 0x15, 0x85};

// The two leading bytes of the unit's header and blocks (the host does not interpret them).
inline constexpr std::uint8_t kHeaderTag[] = {0x65, 0x80};
inline constexpr std::uint8_t kBlockTag[] = {0x65, 0x81};

// The byte that makes the 8-bit sum of a frame, itself included, zero.
std::uint8_t FrameChecksum(std::span<const std::uint8_t> bytes);
// True when the 8-bit sum of the whole frame, checksum included, is zero.
bool FrameSumIsZero(std::span<const std::uint8_t> frame);

}  // namespace ys::monitor_unit
