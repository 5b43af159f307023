#include "app/errors/error_catalogue.h"

#include <gtest/gtest.h>

#include "app/local_time.h"

namespace ys {
namespace {

CErrorData Event(int kind, int code, std::int64_t time) {
    CErrorData e;
    e.kind = static_cast<std::uint8_t>(kind);
    e.code = static_cast<std::uint8_t>(code);
    e.time = time;
    return e;
}

TEST(ErrorCatalogue, NamesByKindAndCode) {
    EXPECT_EQ(ErrorEventName(1, 0), "Ｅエラー（停電）");
    EXPECT_EQ(ErrorEventName(1, 30), "Ｅエラー（逆電力昇圧）");
    EXPECT_EQ(ErrorEventName(2, 0), "Ｆエラー（直流過電圧）");
    EXPECT_EQ(ErrorEventName(2, 37), "Ｆエラー（昇圧瞬時不足電圧）");
    EXPECT_EQ(ErrorEventName(2, 19), ErrorEventName(2, 31));
    // The one ordinary space in a full-width name.
    EXPECT_EQ(ErrorEventName(2, 14), "Ｆエラー（ＥＥＰＲＯＭ ＳＵＭ異常）");
    EXPECT_EQ(ErrorEventName(0x81, 0), "異常");
    EXPECT_EQ(ErrorEventName(0x81, 200), "異常");
    EXPECT_EQ(ErrorEventName(0x82, 5), "重故障");
}

TEST(ErrorCatalogue, UnknownCodesAndKindsHaveNoNameAtAll) {
    for (int code : {11, 13, 29, 31, 255}) EXPECT_EQ(ErrorEventName(1, code), "") << code;
    for (int code : {9, 22, 29, 38}) EXPECT_EQ(ErrorEventName(2, code), "") << code;
    for (int kind : {0, 3, 0x80, 0x83, 0xFF}) EXPECT_EQ(ErrorEventName(kind, 1), "") << kind;
    EXPECT_EQ(errorNamesE.size(), 13u);
    EXPECT_EQ(errorNamesF.size(), 29u);
}

TEST(ErrorCatalogue, LineFormat) {
    EXPECT_EQ(FormatErrorLine(Event(1, 1, MakeLocalTime(2011, 5, 3, 14, 5))),
              "2011/05/03 14:05 : 01h  1 : Ｅエラー（系統過電圧）");
    EXPECT_EQ(FormatErrorLine(Event(0x82, 5, MakeLocalTime(2024, 8, 12, 9, 30))),
              "2024/08/12 09:30 : 82h  5 : 重故障");
    // No name: the line ends with the separator.
    EXPECT_EQ(FormatErrorLine(Event(1, 11, MakeLocalTime(2024, 1, 2, 3, 4))),
              "2024/01/02 03:04 : 01h 11 : ");
    EXPECT_EQ(FormatErrorLine(Event(0xAB, 200, MakeLocalTime(2024, 1, 2, 3, 4))),
              "2024/01/02 03:04 : ABh 200 : ");
}

TEST(ErrorCatalogue, LinesAreSortedOldestFirstThenByKindAndCode) {
    UserData d;
    const std::int64_t t = MakeLocalTime(2024, 6, 1, 12, 0);
    d.errors[0] = Event(1, 2, MakeLocalTime(2025, 1, 1, 0, 0));  // newest first in the table
    d.errors[1] = Event(2, 10, t);
    d.errors[2] = Event(2, 3, t);
    d.errors[3] = Event(0x81, 0, t);
    d.errors[4] = Event(1, 1, MakeLocalTime(2023, 12, 31, 23, 59));
    d.errors[5] = Event(1, 9, MakeLocalTime(1999, 1, 1));  // beyond the count: not listed
    d.errorCount = 5;
    auto lines = ErrorLines(d);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].substr(0, 16), "2023/12/31 23:59");
    EXPECT_EQ(lines[1].substr(17), ": 02h  3 : Ｆエラー（制御異常）");
    EXPECT_EQ(lines[2].substr(17), ": 02h 10 : Ｆエラー（インバータ入出力特性異常）");
    EXPECT_EQ(lines[3].substr(17), ": 81h  0 : 異常");
    EXPECT_EQ(lines[4].substr(0, 16), "2025/01/01 00:00");

    d.errorCount = 0;
    EXPECT_TRUE(ErrorLines(d).empty());
}

}  // namespace
}  // namespace ys
