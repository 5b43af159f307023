#include "app/diagnosis/comparison_chart.h"

#include "app/diagnosis/verdict.h"
#include "app/local_time.h"

namespace ys {

ComparisonChart BuildComparisonChart(const UserData& data) {
    ComparisonChart chart;
    const MonthWindow w = LastTwelveMonths(data);
    for (int i = 0; i < ComparisonChart::kCount; ++i) {
        const int k = w.first + i;
        if (k >= w.end) break;  // past the data: both labels empty, both values 0
        const CMonthResult& m = data.months[k];
        const LocalDateTime d = ToLocal(m.date);
        ComparisonColumn& c = chart.columns[i];
        c.monthLabel = std::to_string(d.month) + "月";
        if (i == 0 || k == 0 || d.month == 1) c.yearLabel = std::to_string(d.year) + "年";
        c.simulated = data.simMonthly[d.month - 1];
        c.real = static_cast<std::uint16_t>(m.generation);
    }
    return chart;
}

}  // namespace ys
