// The columns of the comparison chart (simulation against real generation of the last twelve
// recorded months), shared by the diagnosis page and the printed report.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/app_data.h"

namespace ys {

struct ComparisonColumn {
    std::string yearLabel;   // UTF-8, "%d年" on the first column and on January
    std::string monthLabel;  // UTF-8, "%d月"; empty past the last record
    std::int32_t simulated = 0;
    std::int32_t real = 0;
};

struct ComparisonChart {
    static constexpr int kChartType = 3;
    static constexpr int kColumnWidth = 45;
    static constexpr int kCount = 12;
    static constexpr int kRoundExponent = 2;
    std::array<ComparisonColumn, kCount> columns;
};

ComparisonChart BuildComparisonChart(const UserData& data);

}  // namespace ys
