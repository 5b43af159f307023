// The memory-image decoder: any image the unit could send becomes records that the program can
// save and load again, and that the month table takes.
#include <algorithm>

#include "app/app_data.h"
#include "app/local_time.h"
#include "app/monitor/image_decoder.h"
#include "app/user_data_file.h"
#include "tests/fuzz/fuzz_support.h"

using namespace ys;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::UseProgramTimeZone();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    monitor::MemoryImage image{};
    std::copy_n(data, std::min(size, image.size()), image.begin());
    UserData d;
    monitor::DecodeMemoryImage(image, d);
    fuzz::Require(d.errorCount >= 0 && d.errorCount <= kMaxErrors);
    fuzz::Require(d.dayCount >= 0 && d.dayCount <= kMaxDays);
    fuzz::Require(d.monthCount >= 0 && d.monthCount <= kMaxMonths);
    RebuildMonthTable(d, MakeLocalTime(2026, 12, 8));
    // What an import stores must load again.
    UserData back;
    fuzz::Require(DeserializeUserData(SerializeUserData(d), back).ok());
    return 0;
}
