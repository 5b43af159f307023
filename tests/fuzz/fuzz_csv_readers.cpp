// The CSV readers of the support files: the region table, the catalogue rows of admin.ini and
// the constants file, and the postal-code file. The first byte chooses the reader, the next
// four the region number or the code asked for.
#include <cstring>
#include <string>

#include "app/settings/choice_catalogue.h"
#include "app/settings/postal_lookup.h"
#include "app/settings/region_table.h"
#include "tests/fuzz/fuzz_support.h"

using namespace ys;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    std::int32_t number = 0;
    std::memcpy(&number, data + 1, sizeof number);
    const std::string_view text = fuzz::Bytes(data + 5, size - 5);
    switch (data[0] % 4) {
        case 0: {
            const RegionChoices choices = ParseRegionChoices(text, number);
            for (const std::string& p : choices.prefectureNames) {
                (void)RegionsOfPrefecture(choices, p);
            }
            (void)ParseRegionFields(text, number);
            break;
        }
        case 1: {
            const PowerConditionerEntry row = ParsePowerConditionerRow(text);
            (void)DistinctProducts({row, row});
            (void)ParseMonitorUnitRow(text);
            (void)ParseShadeRow(number, text);
            break;
        }
        case 2:
            // A seven-digit code from the number, as the dialog would pass it.
            (void)SearchPostalCodeText(
                text, std::to_string(static_cast<std::uint32_t>(number) % 10000000u));
            break;
        default:
            (void)SearchPostalCodeText(text, text.substr(0, 7));
            break;
    }
    return 0;
}
