#include "app/settings/choice_catalogue.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/settings/csv_field.h"
#include "platform/codepage.h"
#include "platform/profile.h"

namespace ys {
namespace {

constexpr std::size_t kValueBuffer = 1024;  // values of at most 1023 bytes
constexpr int kMaxShadeEntries = 1000;

// Takes the text up to the next comma; without a comma the field is empty and `rest` stays.
std::string TakeCarriedField(std::string_view& rest) {
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos) return {};
    std::string field(rest.substr(0, comma));
    rest.remove_prefix(comma + 1);
    return field;
}

// Takes the text up to the next comma, or all of it.
std::string TakeField(std::string_view& rest) {
    const std::size_t comma = rest.find(',');
    std::string field(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    return field;
}

std::int32_t TruncateToInt(double v) {
    if (!std::isfinite(v)) return 0;
    v = std::trunc(v);
    v = std::clamp(v, double{std::numeric_limits<std::int32_t>::min()},
                   double{std::numeric_limits<std::int32_t>::max()});
    return static_cast<std::int32_t>(v);
}

// A value as the ANSI profile reader gives it: CP932, at most 1023 bytes, empty when missing.
std::string ReadValue(const profile::Document& doc, std::string_view section, int key) {
    auto value = doc.Find(section, std::to_string(key));
    if (!value) return {};
    auto cp = codepage::Utf8ToCp932(*value);
    if (!cp) return {};
    std::string_view s = *cp;
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t len = IsCp932LeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
        if (i + len > kValueBuffer - 1) break;
        i += len;
    }
    return std::string(s.substr(0, std::min(i, s.size())));
}

}  // namespace

PowerConditionerEntry ParsePowerConditionerRow(std::string_view value) {
    PowerConditionerEntry e;
    std::string_view rest = value;
    e.product = TakeCarriedField(rest);
    e.model = TakeCarriedField(rest);
    e.code = TakeCarriedField(rest);
    const double ratio = LeadingReal(rest);
    e.efficiencyPermille = TruncateToInt(ratio * 1000.0);
    return e;
}

MonitorUnitEntry ParseMonitorUnitRow(std::string_view value) {
    MonitorUnitEntry e;
    std::string_view rest = value;
    e.displayName = TakeField(rest);
    e.model = TakeField(rest);
    e.importFlag = TruncateToInt(LeadingReal(rest));
    return e;
}

ShadeEntry ParseShadeRow(std::int32_t value, std::string_view row) {
    ShadeEntry e;
    e.value = value;
    std::string_view rest = row;
    e.label = TakeField(rest);
    e.lossList = std::string(rest);
    return e;
}

ChoiceCatalogue LoadChoiceCatalogue(const std::string& adminIniPath,
                                    const std::string& gencalcIniPath) {
    ChoiceCatalogue c;
    const profile::Document admin = profile::Document::Load(adminIniPath);
    const profile::Document constants = profile::Document::Load(gencalcIniPath);
    for (int n = 1; n <= kMaxPowerConditionerKey; ++n) {
        const std::string v = ReadValue(admin, kPowerConditionerSection, n);
        if (v.empty()) break;
        c.powerConditioners.push_back(ParsePowerConditionerRow(v));
    }
    for (int n = 1; n <= kMaxMonitorUnitKey; ++n) {
        const std::string v = ReadValue(admin, kMonitorUnitSection, n);
        if (v.empty()) break;
        c.monitorUnits.push_back(ParseMonitorUnitRow(v));
    }
    const auto num = constants.Find(kShadeSection, "NUM");
    // A damaged NUM must not make the page read keys for ever.
    const int count = std::min(num ? profile::ParseProfileInt(*num) : -1, kMaxShadeEntries);
    for (int k = 0; k < count; ++k) {
        c.shades.push_back(ParseShadeRow(k, ReadValue(constants, kShadeSection, k)));
    }
    return c;
}

std::vector<std::string> DistinctProducts(const std::vector<PowerConditionerEntry>& rows) {
    std::vector<std::string> products;
    for (const auto& r : rows) {
        if (std::find(products.begin(), products.end(), r.product) == products.end()) {
            products.push_back(r.product);
        }
    }
    return products;
}

std::vector<std::string> ModelsOfProduct(const std::vector<PowerConditionerEntry>& rows,
                                         std::string_view product) {
    std::vector<std::string> models;
    for (const auto& r : rows) {
        if (r.product == product && !r.model.empty()) models.push_back(r.model);
    }
    return models;
}

}  // namespace ys
