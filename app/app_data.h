// The application object without its GUI: the one set of user data, the two folders and the
// month-table maintenance. The Qt application object is separate and owns one of these.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "app/records.h"

namespace ys {

// Everything the user data file holds.
struct UserData {
    CUserInfo userInfo;
    std::array<std::int32_t, 12> simMonthly{};
    std::int32_t simDone = 0;
    std::array<CErrorData, kMaxErrors> errors{};
    std::int32_t errorCount = 0;
    std::array<CDateResult, kMaxDays> days{};
    std::int32_t dayCount = 0;
    std::array<CMonthResult, kMaxMonths> months{};
    std::int32_t monthCount = 0;
};

class CYieldscopeApp : public UserData {
public:
    using Clock = std::function<std::int64_t()>;

    CYieldscopeApp();

    // "Today" for the month table and the support file name; tests inject a fixed clock.
    void SetClock(Clock clock) { clock_ = std::move(clock); }
    std::int64_t Now() const { return clock_(); }

    void RebuildMonthTable();

    UserData& data() { return *this; }
    const UserData& data() const { return *this; }

    std::string programDir;
    std::string dataDir;
    // Set when the default file was refused at start and could not be kept aside: its bytes
    // must survive, so nothing writes it in this run.
    bool defaultFileProtected = false;

private:
    Clock clock_;
};

// The months from the one after the installation month to the one before `today`, at most the
// last 60, oldest first, keeping the values of entries already in `months`.
void RebuildMonthTable(UserData& data, std::int64_t today);

// The generation (0-65535) of the first of the first `count` entries in that calendar month, or -1.
int GetMonthGeneration(const CMonthResult* table, int count, int year, int month);
// Replaces that entry's generation and returns the old value; 0 and no change when there is none.
int SetMonthGeneration(CMonthResult* table, int count, int year, int month, int value);

}  // namespace ys
