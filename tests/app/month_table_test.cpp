#include <gtest/gtest.h>

#include "app/app_data.h"
#include "app/local_time.h"

namespace ys {
namespace {

struct YM {
    int year, month;
    bool operator==(const YM&) const = default;
};

std::vector<YM> Months(const UserData& d) {
    std::vector<YM> out;
    for (int i = 0; i < d.monthCount; ++i) {
        LocalDateTime t = ToLocal(d.months[i].date);
        EXPECT_EQ(t.day, 1);
        EXPECT_EQ(t.hour, 0);
        out.push_back({t.year, t.month});
    }
    return out;
}

const std::int64_t kToday = MakeLocalTime(2026, 12, 7, 15, 30);

TEST(MonthTable, DefaultInstallationGivesTheLastSixtyMonths) {
    UserData d;
    RebuildMonthTable(d, kToday);
    auto m = Months(d);
    ASSERT_EQ(m.size(), 60u);
    EXPECT_EQ(m.front(), (YM{2021, 12}));
    EXPECT_EQ(m.back(), (YM{2026, 11}));
}

TEST(MonthTable, RecentInstallations) {
    UserData d;
    d.userInfo.installYear = 2026;
    d.userInfo.installMonth = 11;  // last month: nothing yet
    RebuildMonthTable(d, kToday);
    EXPECT_EQ(d.monthCount, 0);
    d.userInfo.installMonth = 10;  // two months ago: last month only
    RebuildMonthTable(d, kToday);
    EXPECT_EQ(Months(d), (std::vector<YM>{{2026, 11}}));
    d.userInfo.installMonth = 12;  // this month
    RebuildMonthTable(d, kToday);
    EXPECT_EQ(d.monthCount, 0);
}

TEST(MonthTable, AcrossTheYearBoundary) {
    UserData d;
    d.userInfo.installYear = 2026;
    d.userInfo.installMonth = 10;
    RebuildMonthTable(d, MakeLocalTime(2027, 1, 1));
    EXPECT_EQ(Months(d), (std::vector<YM>{{2026, 11}, {2026, 12}}));
    d.userInfo.installYear = 2025;
    d.userInfo.installMonth = 12;
    RebuildMonthTable(d, MakeLocalTime(2026, 2, 28));
    EXPECT_EQ(Months(d), (std::vector<YM>{{2026, 1}}));
}

TEST(MonthTable, ValuesFollowTheirMonthAndDroppedMonthsComeBackEmpty) {
    UserData d;
    d.userInfo.installYear = 2025;
    d.userInfo.installMonth = 12;
    RebuildMonthTable(d, kToday);
    ASSERT_EQ(d.monthCount, 11);
    for (int i = 0; i < d.monthCount; ++i) {
        d.months[i].generation = static_cast<std::int16_t>(100 + i);
        d.months[i].extra[2] = 7;
        d.months[i].flags[4] = 9;
    }
    // Later installation: the older months and their values go.
    d.userInfo.installYear = 2026;
    d.userInfo.installMonth = 5;
    RebuildMonthTable(d, kToday);
    ASSERT_EQ(Months(d), (std::vector<YM>{{2026, 6}, {2026, 7}, {2026, 8}, {2026, 9}, {2026, 10}, {2026, 11}}));
    EXPECT_EQ(d.months[0].generation, 105);  // June kept its value
    EXPECT_EQ(d.months[0].extra[2], 7);
    EXPECT_EQ(d.months[0].flags[4], 9);
    // Earlier again: January comes back with 0.
    d.userInfo.installYear = 2025;
    d.userInfo.installMonth = 12;
    RebuildMonthTable(d, kToday);
    ASSERT_EQ(d.monthCount, 11);
    EXPECT_EQ(d.months[0].generation, 0);
    EXPECT_EQ(d.months[5].generation, 105);
}

TEST(MonthTable, AMonthStoredOnAnotherDayIsMatchedByYearAndMonth) {
    UserData d;
    d.userInfo.installYear = 2026;
    d.userInfo.installMonth = 9;
    d.monthCount = 1;
    d.months[0].date = MakeLocalTime(2026, 10, 15);
    d.months[0].generation = 321;
    RebuildMonthTable(d, kToday);
    ASSERT_EQ(d.monthCount, 2);
    EXPECT_EQ(d.months[0].generation, 321);
    EXPECT_EQ(ToLocal(d.months[0].date).day, 15);  // the whole old entry is kept
}

TEST(MonthTable, SlotsBeyondTheNewCountAreLeftAsTheyWere) {
    UserData d;
    d.months[59].generation = 77;
    d.userInfo.installYear = 2026;
    d.userInfo.installMonth = 1;
    RebuildMonthTable(d, kToday);
    EXPECT_EQ(d.monthCount, 10);
    EXPECT_EQ(d.months[59].generation, 77);
}

TEST(MonthTable, LookupsTakeTheFirstMatchWithinTheCount) {
    std::array<CMonthResult, 3> t{};
    t[0].date = MakeLocalTime(2026, 3, 1);
    t[0].generation = 10;
    t[1].date = MakeLocalTime(2026, 3, 20);
    t[1].generation = 20;
    t[2].date = MakeLocalTime(2026, 4, 1);
    t[2].generation = 30;
    EXPECT_EQ(GetMonthGeneration(t.data(), 3, 2026, 3), 10);
    EXPECT_EQ(GetMonthGeneration(t.data(), 2, 2026, 4), -1);  // beyond the count
    EXPECT_EQ(GetMonthGeneration(t.data(), 3, 2025, 3), -1);
    EXPECT_EQ(SetMonthGeneration(t.data(), 3, 2026, 3, 55), 10);
    EXPECT_EQ(t[0].generation, 55);
    EXPECT_EQ(t[1].generation, 20);
    EXPECT_EQ(SetMonthGeneration(t.data(), 3, 2027, 1, 99), 0);
    EXPECT_EQ(t[2].generation, 30);
}

TEST(MonthTable, TheAppRebuildsFromItsClock) {
    CYieldscopeApp app;
    app.SetClock([] { return MakeLocalTime(2030, 1, 15); });
    app.userInfo.installYear = 2029;
    app.userInfo.installMonth = 10;
    app.RebuildMonthTable();
    EXPECT_EQ(Months(app), (std::vector<YM>{{2029, 11}, {2029, 12}}));
}

}  // namespace
}  // namespace ys
