#include "app/monitor/image_decoder.h"

#include "app/local_time.h"

namespace ys::monitor {
namespace {

std::int64_t TimeOf(int yearOffset, int month, int day, int hour = 0, int minute = 0) {
    return MakeLocalTime(kBaseYear + yearOffset, month, day, hour, minute, 0);
}

template <class Record, std::size_t Capacity>
void FillGeneration(const std::vector<monitor_unit::GenerationEntry>& entries,
                    std::array<Record, Capacity>& records, std::int32_t& count) {
    std::size_t filled = 0;
    for (const monitor_unit::GenerationEntry& e : entries) {
        Record& r = records[filled++];
        r.date = TimeOf(e.date.yearOffset, e.date.month, e.date.day);
        r.generation = e.generation;
        r.extra = e.extra;
        std::copy_n(e.flags.begin(), r.flags.size(), r.flags.begin());
    }
    count = static_cast<std::int32_t>(filled);
}

}  // namespace

void DecodeMemoryImage(const MemoryImage& image, UserData& data) {
    static_assert(kErrorTable.entries == kMaxErrors && kDayTable.entries == kMaxDays &&
                  kMonthTable.entries == kMaxMonths);
    const monitor_unit::DecodedImage decoded = monitor_unit::DecodeImage(image);
    std::size_t errors = 0;
    for (const monitor_unit::ErrorEntry& e : decoded.errors) {
        CErrorData& r = data.errors[errors++];
        r.kind = e.kind;
        r.code = e.code;
        r.time = TimeOf(e.yearOffset, e.month, e.day, e.hour, e.minute);
    }
    data.errorCount = static_cast<std::int32_t>(errors);
    FillGeneration(decoded.days, data.days, data.dayCount);
    FillGeneration(decoded.months, data.months, data.monthCount);
}

}  // namespace ys::monitor
