// The catalogues behind the user page's lists: power conditioners and monitor-unit models from
// admin.ini, and the shade-influence table from the engine's constants file. Texts are CP932.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ys {

struct PowerConditionerEntry {
    std::string product;
    std::string model;
    std::string code;
    std::int32_t efficiencyPermille = 0;  // efficiency ratio x 1000, truncated toward zero
};

struct MonitorUnitEntry {
    std::string displayName;  // shown in the list
    std::string model;        // stored as monitorModel
    std::int32_t importFlag = 0;
};

struct ShadeEntry {
    std::int32_t value = 0;  // the list item's value, stored as shadeLevel
    std::string label;
    std::string lossList;  // twelve monthly loss percentages, passed on unchanged
};

struct ChoiceCatalogue {
    std::vector<PowerConditionerEntry> powerConditioners;
    std::vector<MonitorUnitEntry> monitorUnits;
    std::vector<ShadeEntry> shades;
};

// Section and key names (UTF-8; the files hold them in CP932).
inline constexpr std::string_view kPowerConditionerSection = "パワーコンディショナー仕様";
inline constexpr std::string_view kMonitorUnitSection = "ルメナ仕様";
inline constexpr std::string_view kShadeSection = "影の影響";
inline constexpr int kMaxPowerConditionerKey = 29;
inline constexpr int kMaxMonitorUnitKey = 9;

// "product,model,code,efficiency". A field whose comma is missing is empty and the whole rest is
// carried on to the next field.
PowerConditionerEntry ParsePowerConditionerRow(std::string_view value);
// "display name,model,import flag".
MonitorUnitEntry ParseMonitorUnitRow(std::string_view value);
// "label,loss,loss,...": the label is the text before the first comma, the rest the loss list.
ShadeEntry ParseShadeRow(std::int32_t value, std::string_view row);

// Reads the two admin.ini sections and the shade section. Missing files, sections or keys leave
// the lists short or empty.
ChoiceCatalogue LoadChoiceCatalogue(const std::string& adminIniPath,
                                    const std::string& gencalcIniPath);

// The distinct products in order of first appearance.
std::vector<std::string> DistinctProducts(const std::vector<PowerConditionerEntry>& rows);
// The non-empty models of `product` in catalogue order, duplicates kept.
std::vector<std::string> ModelsOfProduct(const std::vector<PowerConditionerEntry>& rows,
                                         std::string_view product);

}  // namespace ys
