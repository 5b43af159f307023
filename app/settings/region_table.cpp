#include "app/settings/region_table.h"

#include <algorithm>
#include <cstdio>

#include "app/settings/csv_field.h"
#include "platform/atomic_file.h"

namespace ys {
namespace {

std::string PadPrefectureCode(std::string code) {
    if (code.size() >= 3) return code;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", static_cast<int>(LeadingInt(code)));
    return buf;
}

}  // namespace

RegionChoices ParseRegionChoices(std::string_view tableText, std::int32_t regionNo) {
    RegionChoices c;
    LineReader reader(tableText, kRegionLineBuffer);
    std::string_view line;
    while (reader.Next(line)) {
        std::size_t pos = 0;
        bool finished = false;
        const std::int32_t number = LeadingInt(NextCsvField(line, pos, finished));
        if (number <= 0) continue;
        std::array<std::string, 3> f;  // fields 1, 2, 3
        bool complete = true;
        for (std::string& field : f) {
            field = TreatCsvField(NextCsvField(line, pos, finished));
            if (field.empty()) {
                complete = false;
                break;
            }
        }
        // A row that ends before its prefecture name cannot be offered.
        if (!complete) continue;
        RegionRow row{f[2], PadPrefectureCode(f[1]), f[0], number};
        if (number == regionNo) {
            c.currentPrefecture = row.prefectureName;
            c.currentRegion = row.regionName;
        }
        c.rows.push_back(std::move(row));
    }
    for (const RegionRow& row : c.rows) {
        if (std::find(c.prefectureCodes.begin(), c.prefectureCodes.end(), row.prefectureCode) !=
            c.prefectureCodes.end()) {
            continue;
        }
        auto at = std::find_if(c.prefectureCodes.begin(), c.prefectureCodes.end(),
                               [&](const std::string& code) { return code > row.prefectureCode; });
        const auto index = at - c.prefectureCodes.begin();
        c.prefectureCodes.insert(at, row.prefectureCode);
        c.prefectureNames.insert(c.prefectureNames.begin() + index, row.prefectureName);
    }
    return c;
}

Result<RegionChoices> LoadRegionChoices(const std::string& path, std::int32_t regionNo) {
    auto text = files::ReadWholeFile(path);
    if (!text) return Error{text.error()};
    return ParseRegionChoices(*text, regionNo);
}

std::vector<std::string> RegionsOfPrefecture(const RegionChoices& choices,
                                             std::string_view prefectureName) {
    std::vector<std::string> names;
    for (const RegionRow& row : choices.rows) {
        if (row.prefectureName == prefectureName) names.push_back(row.regionName);
    }
    return names;
}

int LastIndexOf(const std::vector<std::string>& list, std::string_view name) {
    for (std::size_t i = list.size(); i-- > 0;) {
        if (list[i] == name) return static_cast<int>(i);
    }
    return -1;
}

ChosenRegion ChooseRegion(const RegionChoices& choices, std::string_view prefectureName,
                          std::string_view regionName) {
    for (const RegionRow& row : choices.rows) {
        if (row.prefectureName == prefectureName && row.regionName == regionName) {
            return {row.number, row.prefectureName + " " + row.regionName};
        }
    }
    return {};
}

RegionFields ParseRegionFields(std::string_view tableText, std::int32_t regionNo) {
    RegionFields fields;
    LineReader reader(tableText, kRegionLineBuffer);
    std::string_view line;
    while (reader.Next(line)) {
        std::size_t pos = 0;
        bool finished = false;
        if (LeadingInt(NextCsvField(line, pos, finished)) != regionNo) continue;
        for (std::size_t k = 1; k < fields.size() && !finished; ++k) {
            fields[k] = TreatCsvField(NextCsvField(line, pos, finished));
            if (fields[k].empty()) break;
        }
    }
    return fields;
}

Result<RegionFields> ReadRegionFields(const std::string& path, std::int32_t regionNo) {
    auto text = files::ReadWholeFile(path);
    if (!text) return Error{text.error()};
    return ParseRegionFields(*text, regionNo);
}

}  // namespace ys
