#include "devices/monitor_unit/image_encoder.h"

#include <string>

namespace ys::monitor_unit {
namespace {

std::uint8_t* Slot(MemoryImage& image, const TableLayout& table, int i) {
    return image.data() + table.offset + static_cast<std::size_t>(i) * table.entrySize;
}

void PutInt16(std::uint8_t* p, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    p[0] = static_cast<std::uint8_t>(u & 0xFF);
    p[1] = static_cast<std::uint8_t>(u >> 8);
}

template <class Entry>
Status CheckRing(const char* name, const Ring<Entry>& ring, const TableLayout& table) {
    if (ring.entries.size() > static_cast<std::size_t>(table.entries)) {
        return Error{std::string(name) + ": " + std::to_string(ring.entries.size()) +
                     " entries do not fit " + std::to_string(table.entries) + " slots"};
    }
    if (ring.start < 0 || ring.start >= table.entries) {
        return Error{std::string(name) + ": ring start " + std::to_string(ring.start) +
                     " is outside the table"};
    }
    return {};
}

Status EncodeGeneration(const char* name, const Ring<GenerationEntry>& ring,
                        const TableLayout& table, std::size_t flagCount, MemoryImage& image) {
    if (Status s = CheckRing(name, ring, table); !s) return s;
    for (std::size_t j = 0; j < ring.entries.size(); ++j) {
        const GenerationEntry& e = ring.entries[j];
        const PackedDate& d = e.date;
        if (d.yearOffset < 1 || d.yearOffset > 127 || d.month < 0 || d.month > 15 || d.day < 0 ||
            d.day > 31) {
            return Error{std::string(name) + ": entry " + std::to_string(j) +
                         " has a date the unit cannot store"};
        }
        std::uint8_t* p = Slot(image, table, (ring.start + static_cast<int>(j)) % table.entries);
        const std::uint16_t packed = PackDate(d);
        p[0] = static_cast<std::uint8_t>(packed >> 8);
        p[1] = static_cast<std::uint8_t>(packed & 0xFF);
        PutInt16(p + 2, e.generation);
        for (std::size_t x = 0; x < e.extra.size(); ++x) PutInt16(p + 4 + 2 * x, e.extra[x]);
        for (std::size_t f = 0; f < flagCount; ++f) p[12 + f] = e.flags[f];
    }
    return {};
}

}  // namespace

Result<MemoryImage> EncodeMemoryImage(const MonitorHistory& history) {
    MemoryImage image{};
    if (Status s = CheckRing("errors", history.errors, kErrorTable); !s) return Error{s.error()};
    for (std::size_t j = 0; j < history.errors.entries.size(); ++j) {
        const ErrorEntry& e = history.errors.entries[j];
        if (e.yearOffset < 1 || e.yearOffset > 255 || e.month < 0 || e.month > 255 || e.day < 0 ||
            e.day > 255 || e.hour < 0 || e.hour > 255 || e.minute < 0 || e.minute > 255) {
            return Error{"errors: entry " + std::to_string(j) +
                         " has a date the unit cannot store"};
        }
        std::uint8_t* p = Slot(image, kErrorTable,
                               (history.errors.start + static_cast<int>(j)) % kErrorTable.entries);
        p[0] = e.kind;
        p[1] = e.code;
        p[2] = static_cast<std::uint8_t>(e.yearOffset);
        p[3] = static_cast<std::uint8_t>(e.month);
        p[4] = static_cast<std::uint8_t>(e.day);
        p[5] = static_cast<std::uint8_t>(e.hour);
        p[6] = static_cast<std::uint8_t>(e.minute);
    }
    if (Status s = EncodeGeneration("days", history.days, kDayTable, 6, image); !s) {
        return Error{s.error()};
    }
    if (Status s = EncodeGeneration("months", history.months, kMonthTable, 5, image); !s) {
        return Error{s.error()};
    }
    return image;
}

}  // namespace ys::monitor_unit
