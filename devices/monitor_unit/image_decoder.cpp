#include "devices/monitor_unit/image_decoder.h"

namespace ys::monitor_unit {
namespace {

// An entry's date fields as stored; hour and minute only in error entries.
struct EntryDate {
    int yearOffset = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int Key() const { return yearOffset * 10000 + month * 100 + day; }
};

const std::uint8_t* Entry(const MemoryImage& image, const TableLayout& table, int i) {
    return image.data() + table.offset + static_cast<std::size_t>(i) * table.entrySize;
}

std::int16_t Int16At(const std::uint8_t* p) {
    return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

EntryDate ErrorDate(const std::uint8_t* e) {
    return {e[2], e[3], e[4], e[5], e[6]};
}

EntryDate GenerationDate(const std::uint8_t* e) {
    const PackedDate d = UnpackDate(e[0], e[1]);
    return {d.yearOffset, d.month, d.day, 0, 0};
}

// The visiting order of a table's entries: from the ring's start to the end, then from the top.
template <class DateOf>
std::vector<int> RingOrder(const MemoryImage& image, const TableLayout& table, DateOf dateOf) {
    std::vector<int> keys(static_cast<std::size_t>(table.entries));
    for (int i = 0; i < table.entries; ++i) keys[i] = dateOf(Entry(image, table, i)).Key();
    const int start = FindRingStart(keys);
    std::vector<int> order;
    for (int k = 0; k < table.entries; ++k) order.push_back((start + k) % table.entries);
    return order;
}

std::vector<GenerationEntry> DecodeGeneration(const MemoryImage& image, const TableLayout& table) {
    std::vector<GenerationEntry> out;
    for (int i : RingOrder(image, table, GenerationDate)) {
        const std::uint8_t* e = Entry(image, table, i);
        const PackedDate date = UnpackDate(e[0], e[1]);
        if (date.yearOffset == 0) continue;
        GenerationEntry& r = out.emplace_back();
        r.date = date;
        r.generation = Int16At(e + 2);
        for (std::size_t x = 0; x < r.extra.size(); ++x) r.extra[x] = Int16At(e + 4 + 2 * x);
        for (std::size_t f = 0; f < r.flags.size(); ++f) r.flags[f] = e[12 + f];
    }
    return out;
}

}  // namespace

int FindRingStart(std::span<const int> keys) {
    int previous = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == 0) return 0;
        if (keys[i] < previous) return static_cast<int>(i);
        previous = keys[i];
    }
    return 0;
}

DecodedImage DecodeImage(const MemoryImage& image) {
    DecodedImage out;
    for (int i : RingOrder(image, kErrorTable, ErrorDate)) {
        const std::uint8_t* e = Entry(image, kErrorTable, i);
        const EntryDate date = ErrorDate(e);
        if (date.yearOffset == 0) continue;
        out.errors.push_back(
            {e[0], e[1], date.yearOffset, date.month, date.day, date.hour, date.minute});
    }
    out.days = DecodeGeneration(image, kDayTable);
    out.months = DecodeGeneration(image, kMonthTable);
    return out;
}

}  // namespace ys::monitor_unit
