// The monitor unit's memory image: 32 KiB read in 128-byte blocks, and where its error, day and
// month tables lie in it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ys::monitor_unit {

inline constexpr std::size_t kImageSize = 32768;
inline constexpr std::size_t kBlockDataSize = 128;
inline constexpr std::size_t kBlockCount = kImageSize / kBlockDataSize;  // 256

using MemoryImage = std::array<std::uint8_t, kImageSize>;

// Years in the image count from this one; a year offset of 0 marks an empty entry.
inline constexpr int kBaseYear = 1995;

struct TableLayout {
    std::size_t offset;
    std::size_t entrySize;
    int entries;
};
inline constexpr TableLayout kErrorTable{40, 8, 50};
inline constexpr TableLayout kDayTable{20824, 24, 400};
inline constexpr TableLayout kMonthTable{30448, 28, 60};

// Day and month entries carry their date as 16 bits, high byte first: 7 bits year offset,
// 4 bits month, 5 bits day.
struct PackedDate {
    int yearOffset = 0;  // 0-127
    int month = 0;       // 0-15
    int day = 0;         // 0-31
};
constexpr PackedDate UnpackDate(std::uint8_t high, std::uint8_t low) {
    const unsigned v = (unsigned{high} << 8) | low;
    return {static_cast<int>(v >> 9), static_cast<int>((v >> 5) & 0x0F),
            static_cast<int>(v & 0x1F)};
}
constexpr std::uint16_t PackDate(const PackedDate& d) {
    return static_cast<std::uint16_t>(((d.yearOffset & 0x7F) << 9) | ((d.month & 0x0F) << 5) |
                                      (d.day & 0x1F));
}

}  // namespace ys::monitor_unit
