// Lays a history of error events, days and months into a memory image as the monitor unit
// writes it (the inverse of the decoder): for the simulator, tests and benchmarks.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "app/local_time.h"
#include "app/monitor/memory_image.h"
#include "app/records.h"
#include "platform/result.h"

namespace ys::monitor {

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

// The image of `history`; everything outside the three tables is zero. Fails when a table has
// more entries than slots, a start outside the table, or a date the entry cannot hold.
Result<MemoryImage> EncodeMemoryImage(const MonitorHistory& history);

// Entries from the records' local times.
ErrorEntry MakeErrorEntry(const CErrorData& error);
GenerationEntry MakeGenerationEntry(const CDateResult& day);
GenerationEntry MakeGenerationEntry(const CMonthResult& month);

// The slot a unit that has written `written` entries in total into an `n`-slot ring keeps its
// oldest entry in.
constexpr int RingStartAfter(long long written, int n) {
    return written <= n ? 0 : static_cast<int>(written % n);
}

}  // namespace ys::monitor
