#include "app/local_time.h"

#include <limits>

namespace ys {

std::int64_t MakeLocalTime(int year, int month, int day, int hour, int minute, int second) {
    // A year whose offset from 1900 does not fit the C library's field has no time.
    if (year < std::numeric_limits<int>::min() + 1900) return -1;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

LocalDateTime ToLocal(std::int64_t t) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (!localtime_r(&tt, &tm)) return {};
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace ys
