// A monitor unit's history as its memory image holds it: error events, days and months, entry by
// entry with the fields as stored.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "devices/monitor_unit/memory_image.h"

namespace ys::monitor_unit {

struct ErrorEntry {
    std::uint8_t kind = 0;
    std::uint8_t code = 0;
    int yearOffset = 0;  // year - 1995, 1-255
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
};

struct GenerationEntry {
    PackedDate date;  // year offset 1-127
    std::int16_t generation = 0;
    std::array<std::int16_t, 4> extra{};
    std::array<std::uint8_t, 6> flags{};  // months store the first five
};

// One table's entries, oldest first, and the slot the oldest one occupies: the unit writes its
// tables round, so once full, the oldest entry sits just after the newest.
template <class Entry>
struct Ring {
    std::vector<Entry> entries;
    int start = 0;
};

struct MonitorHistory {
    Ring<ErrorEntry> errors;
    Ring<GenerationEntry> days;
    Ring<GenerationEntry> months;
};

// The slot a unit that has written `written` entries in total into an `n`-slot ring keeps its
// oldest entry in.
constexpr int RingStartAfter(long long written, int n) {
    return written <= n ? 0 : static_cast<int>(written % n);
}

}  // namespace ys::monitor_unit
