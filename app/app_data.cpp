#include "app/app_data.h"

#include <ctime>
#include <vector>

#include "app/local_time.h"

namespace ys {

CYieldscopeApp::CYieldscopeApp()
    : clock_([] { return static_cast<std::int64_t>(std::time(nullptr)); }) {}

void CYieldscopeApp::RebuildMonthTable() {
    ys::RebuildMonthTable(*this, Now());
}

void RebuildMonthTable(UserData& data, std::int64_t today) {
    const LocalDateTime now = ToLocal(today);
    // 64-bit: a stored year of any value cannot overflow the month index.
    const std::int64_t first =
        std::int64_t{data.userInfo.installYear} * 12 + data.userInfo.installMonth;
    const std::int64_t last = std::int64_t{now.year} * 12 + (now.month - 1) - 1;

    std::vector<CMonthResult> fresh;  // newest first
    for (std::int64_t k = last; k >= first && fresh.size() < kMaxMonths; --k) {
        CMonthResult entry;
        // Floor division keeps the month index right for (absurd) negative years too.
        const std::int64_t year = k >= 0 ? k / 12 : -((-k + 11) / 12);
        const int month0 = static_cast<int>(k - year * 12);
        entry.date = MakeLocalTime(static_cast<int>(year), month0 + 1, 1);
        for (int i = 0; i < data.monthCount && i < kMaxMonths; ++i) {
            LocalDateTime old = ToLocal(data.months[i].date);
            if (old.year == year && old.month == month0 + 1) {
                entry = data.months[i];
                break;
            }
        }
        fresh.push_back(entry);
    }
    data.monthCount = static_cast<std::int32_t>(fresh.size());
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        data.months[i] = fresh[fresh.size() - 1 - i];
    }
}

namespace {

template <class Table>
Table* FindMonth(Table* table, int count, int year, int month) {
    for (int i = 0; i < count; ++i) {
        LocalDateTime t = ToLocal(table[i].date);
        if (t.year == year && t.month == month) return &table[i];
    }
    return nullptr;
}

}  // namespace

int GetMonthGeneration(const CMonthResult* table, int count, int year, int month) {
    const CMonthResult* e = FindMonth(table, count, year, month);
    // Read unsigned, as everywhere it is shown: 40000 kWh must not come back as a negative value
    // or as 65535 = -1 "no entry".
    return e ? static_cast<std::uint16_t>(e->generation) : -1;
}

int SetMonthGeneration(CMonthResult* table, int count, int year, int month, int value) {
    CMonthResult* e = FindMonth(table, count, year, month);
    if (!e) return 0;
    int old = static_cast<std::uint16_t>(e->generation);
    e->generation = static_cast<std::int16_t>(value);
    return old;
}

}  // namespace ys
