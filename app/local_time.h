// Times as the system keeps them: seconds since 1970 UTC, made from and shown as local time.
#pragma once

#include <cstdint>
#include <ctime>

namespace ys {

struct LocalDateTime {
    int year = 1970;
    int month = 1;  // 1-12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// mktime semantics: out-of-range fields are normalised (day 0 is the last day of the month
// before). Returns -1 when the C library cannot represent the time.
std::int64_t MakeLocalTime(int year, int month, int day, int hour = 0, int minute = 0,
                           int second = 0);

// Local calendar fields of a time; a time the C library cannot convert gives 1970-01-01.
LocalDateTime ToLocal(std::int64_t t);

}  // namespace ys
