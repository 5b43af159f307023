#include "app/settings/installation_tables.h"

namespace ys {
namespace {

struct PitchName {
    int degrees;
    std::string_view suffix;
};

constexpr PitchName kPitchNames[] = {
    {0, "(水平)"},   {11, "(2寸)"}, {14, "(2.5寸)"}, {17, "(3寸)"}, {19, "(3.5寸)"}, {22, "(4寸)"},
    {24, "(4.5寸)"}, {27, "(5寸)"}, {29, "(5.5寸)"}, {31, "(6寸)"}, {90, "(垂直)"},
};

}  // namespace

std::string TiltLabel(int degrees) {
    std::string label = std::to_string(degrees) + "°";
    for (const PitchName& p : kPitchNames) {
        if (p.degrees == degrees) label += p.suffix;
    }
    return label;
}

std::vector<int> YearListValues(int currentYear) {
    std::vector<int> years;
    for (int y = kFirstListedYear; y <= currentYear; ++y) years.push_back(y);
    return years;
}

int AzimuthIndexOf(double degrees) {
    for (std::size_t i = 0; i < kAzimuthTable.size(); ++i) {
        if (kAzimuthTable[i].degrees == degrees) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace ys
