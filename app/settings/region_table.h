// The region table (insolation.csv): the lists of the region dialog and the row that the
// simulation request sends to the engine. Texts are CP932.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace ys {

inline constexpr std::string_view kRegionTableFile = "insolation.csv";
inline constexpr std::size_t kRegionLineBuffer = 2048;  // lines of at most 2047 bytes

struct RegionRow {
    std::string prefectureName;  // field 3
    std::string prefectureCode;  // field 2, two digits when shorter than three characters
    std::string regionName;      // field 1
    std::int32_t number = 0;     // field 0
};

// What the region dialog shows when it opens.
struct RegionChoices {
    std::vector<RegionRow> rows;  // usable rows in file order
    // One entry per distinct code, sorted by code (byte order), named after its first row.
    std::vector<std::string> prefectureNames;
    std::vector<std::string> prefectureCodes;
    // Names of the row whose number is the handed-over regionNo (the last such row); empty when
    // none has it.
    std::string currentPrefecture;
    std::string currentRegion;
};

// Builds the dialog's lists from the table text. Rows whose field 0 is not a positive integer,
// and rows that end before field 3, are left out.
RegionChoices ParseRegionChoices(std::string_view tableText, std::int32_t regionNo);
// The same from the file; an error when it cannot be read.
Result<RegionChoices> LoadRegionChoices(const std::string& path, std::int32_t regionNo);

// The region names of the rows of that prefecture, in file order.
std::vector<std::string> RegionsOfPrefecture(const RegionChoices& choices,
                                             std::string_view prefectureName);

// The position of the last entry equal to `name`, or -1.
int LastIndexOf(const std::vector<std::string>& list, std::string_view name);

struct ChosenRegion {
    std::int32_t regionNo = 0;
    std::string regionName;  // prefecture, one blank, region
};
// The first row of that prefecture and region; regionNo 0 and an empty name when there is none.
ChosenRegion ChooseRegion(const RegionChoices& choices, std::string_view prefectureName,
                          std::string_view regionName);

// Fields 1 to 45 of the region's row (index 0 unused), treated; all empty when no row has that
// number. A later row with the same number overwrites the fields it has.
using RegionFields = std::array<std::string, 46>;
RegionFields ParseRegionFields(std::string_view tableText, std::int32_t regionNo);
Result<RegionFields> ReadRegionFields(const std::string& path, std::int32_t regionNo);

}  // namespace ys
