#include "app/monitor/image_encoder.h"

namespace ys::monitor {
namespace {

PackedDate DateOf(std::int64_t t) {
    const LocalDateTime l = ToLocal(t);
    return {l.year - kBaseYear, l.month, l.day};
}

}  // namespace

ErrorEntry MakeErrorEntry(const CErrorData& error) {
    const LocalDateTime l = ToLocal(error.time);
    return {error.kind, error.code, l.year - kBaseYear, l.month, l.day, l.hour, l.minute};
}

GenerationEntry MakeGenerationEntry(const CDateResult& day) {
    GenerationEntry e{DateOf(day.date), day.generation, day.extra, {}};
    std::copy(day.flags.begin(), day.flags.end(), e.flags.begin());
    return e;
}

GenerationEntry MakeGenerationEntry(const CMonthResult& month) {
    GenerationEntry e{DateOf(month.date), month.generation, month.extra, {}};
    std::copy(month.flags.begin(), month.flags.end(), e.flags.begin());
    return e;
}

}  // namespace ys::monitor
