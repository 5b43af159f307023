// The decoder of the unit's memory image, and the encoder the simulator builds images with.
#include "app/monitor/image_decoder.h"

#include <gtest/gtest.h>

#include "app/local_time.h"
#include "app/monitor/image_encoder.h"

namespace ys::monitor {
namespace {

std::uint8_t* At(MemoryImage& image, const TableLayout& t, int i) {
    return image.data() + t.offset + static_cast<std::size_t>(i) * t.entrySize;
}

void PutError(MemoryImage& image, int i, std::uint8_t kind, std::uint8_t code, int off, int month,
              int day, int hour = 0, int minute = 0) {
    std::uint8_t* p = At(image, kErrorTable, i);
    const std::uint8_t bytes[] = {kind,
                                  code,
                                  static_cast<std::uint8_t>(off),
                                  static_cast<std::uint8_t>(month),
                                  static_cast<std::uint8_t>(day),
                                  static_cast<std::uint8_t>(hour),
                                  static_cast<std::uint8_t>(minute),
                                  0xCC};
    std::copy(std::begin(bytes), std::end(bytes), p);
}

void PutDate(MemoryImage& image, const TableLayout& t, int i, int off, int month, int day,
             std::int16_t generation = 0) {
    std::uint8_t* p = At(image, t, i);
    const std::uint16_t packed = PackDate({off, month, day});
    p[0] = static_cast<std::uint8_t>(packed >> 8);
    p[1] = static_cast<std::uint8_t>(packed & 0xFF);
    p[2] = static_cast<std::uint8_t>(generation & 0xFF);
    p[3] = static_cast<std::uint8_t>((generation >> 8) & 0xFF);
}

LocalDateTime Local(std::int64_t t) {
    return ToLocal(t);
}

bool SameDay(std::int64_t t, int y, int m, int d) {
    const LocalDateTime l = Local(t);
    return l.year == y && l.month == m && l.day == d && l.hour == 0 && l.minute == 0 &&
           l.second == 0;
}

TEST(FindRingStart, StopsAtTheFirstFallOrTheFirstEmptyKey) {
    EXPECT_EQ(FindRingStart(std::vector{110503, 110601, 101201, 101215, 0}), 2);
    EXPECT_EQ(FindRingStart(std::vector{1, 2, 0, 1}), 0);  // empty before the fall
    EXPECT_EQ(FindRingStart(std::vector{5, 5, 5, 4}), 3);  // equal keys go on
    EXPECT_EQ(FindRingStart(std::vector{1, 2, 3}), 0);
    EXPECT_EQ(FindRingStart(std::vector{0, 9, 1}), 0);
}

TEST(DecodeMemoryImage, ErrorsStoredRoundComeOutOldestFirst) {
    MemoryImage image{};
    PutError(image, 0, 1, 11, 11, 5, 3, 14, 5);    // key 110503
    PutError(image, 1, 2, 7, 11, 6, 1, 9, 30);     // 110601
    PutError(image, 2, 0x81, 0, 10, 12, 1, 0, 0);  // 101201: the ring's start
    PutError(image, 3, 0x82, 3, 10, 12, 15, 23, 59);
    UserData data;
    DecodeMemoryImage(image, data);
    ASSERT_EQ(data.errorCount, 4);
    EXPECT_EQ(data.errors[0].kind, 0x81);
    EXPECT_EQ(data.errors[0].time, MakeLocalTime(2005, 12, 1, 0, 0));
    EXPECT_EQ(data.errors[1].kind, 0x82);
    EXPECT_EQ(data.errors[1].code, 3);
    EXPECT_EQ(data.errors[1].time, MakeLocalTime(2005, 12, 15, 23, 59));
    EXPECT_EQ(data.errors[2].kind, 1);
    EXPECT_EQ(data.errors[2].code, 11);
    EXPECT_EQ(data.errors[2].time, MakeLocalTime(2006, 5, 3, 14, 5));
    EXPECT_EQ(data.errors[3].time, MakeLocalTime(2006, 6, 1, 9, 30));
    EXPECT_EQ(Local(data.errors[3].time).second, 0);
}

TEST(DecodeMemoryImage, AnEmptyEntryInTheMiddleEndsTheSearchAndIsSkipped) {
    MemoryImage image{};
    // A full day table counting up from 2010-01-01, with an empty entry at 200 and a fall at 300
    // that would be the ring's start if the empty entry did not end the search first.
    for (int i = 0; i < 400; ++i) {
        if (i == 200) continue;
        const int off = i < 300 ? 15 : 14;
        PutDate(image, kDayTable, i, off, 1 + i / 28, 1 + i % 28, static_cast<std::int16_t>(i));
    }
    UserData data;
    DecodeMemoryImage(image, data);
    ASSERT_EQ(data.dayCount, 399);
    EXPECT_EQ(data.days[0].generation, 0);
    EXPECT_EQ(data.days[199].generation, 199);
    EXPECT_EQ(data.days[200].generation, 201);  // entry 200 was skipped
    EXPECT_EQ(data.days[398].generation, 399);
}

TEST(DecodeMemoryImage, AnEntryWithoutYearFindsTheStartButIsNotImported) {
    MemoryImage image{};
    PutDate(image, kDayTable, 0, 20, 1, 1, 11);
    PutDate(image, kDayTable, 1, 20, 1, 2, 12);
    PutDate(image, kDayTable, 2, 0, 3, 4, 99);  // key 304: smaller, so the start
    PutDate(image, kDayTable, 3, 19, 12, 31, 10);
    UserData data;
    DecodeMemoryImage(image, data);
    ASSERT_EQ(data.dayCount, 3);
    EXPECT_TRUE(SameDay(data.days[0].date, 2014, 12, 31));
    EXPECT_EQ(data.days[0].generation, 10);
    EXPECT_TRUE(SameDay(data.days[1].date, 2015, 1, 1));
    EXPECT_TRUE(SameDay(data.days[2].date, 2015, 1, 2));
}

TEST(DecodeMemoryImage, YearOffsetsAndNormalisedDates) {
    MemoryImage image{};
    PutDate(image, kMonthTable, 0, 16, 3, 1);    // 2011
    PutDate(image, kMonthTable, 1, 28, 3, 0);    // day 0: the last day of February
    PutDate(image, kMonthTable, 2, 29, 13, 1);   // month 13: January of the next year
    PutDate(image, kMonthTable, 3, 127, 12, 1);  // the largest offset: 2122
    PutError(image, 0, 1, 1, 16, 3, 31, 24, 0);  // hour 24: midnight of the next day
    UserData data;
    DecodeMemoryImage(image, data);
    ASSERT_EQ(data.monthCount, 4);
    EXPECT_TRUE(SameDay(data.months[0].date, 2011, 3, 1));
    EXPECT_TRUE(SameDay(data.months[1].date, 2023, 2, 28));
    EXPECT_TRUE(SameDay(data.months[2].date, 2025, 1, 1));
    EXPECT_TRUE(SameDay(data.months[3].date, 2122, 12, 1));
    ASSERT_EQ(data.errorCount, 1);
    EXPECT_TRUE(SameDay(data.errors[0].time, 2011, 4, 1));
}

TEST(DecodeMemoryImage, CopiesValuesAndFlagsAndLeavesSlotsBeyondTheCount) {
    MemoryImage image{};
    std::uint8_t* d = At(image, kDayTable, 0);
    PutDate(image, kDayTable, 0, 20, 7, 7, -2);  // 0xFFFE: read unsigned it is 65534
    for (int x = 0; x < 8; ++x) d[4 + x] = static_cast<std::uint8_t>(0x10 + x);
    for (int f = 0; f < 6; ++f) d[12 + f] = static_cast<std::uint8_t>(0xA0 + f);
    d[18] = 0x55;  // not read
    std::uint8_t* m = At(image, kMonthTable, 0);
    PutDate(image, kMonthTable, 0, 20, 7, 1, 321);
    for (int f = 0; f < 6; ++f) m[12 + f] = static_cast<std::uint8_t>(0xB0 + f);

    UserData data;
    data.days[1].generation = 77;
    data.months[1].generation = 88;
    data.errors[0].code = 5;
    data.errorCount = 1;
    DecodeMemoryImage(image, data);
    ASSERT_EQ(data.dayCount, 1);
    EXPECT_EQ(data.days[0].generation, -2);
    EXPECT_EQ(data.days[0].extra, (std::array<std::int16_t, 4>{0x1110, 0x1312, 0x1514, 0x1716}));
    EXPECT_EQ(data.days[0].flags,
              (std::array<std::uint8_t, 6>{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
    ASSERT_EQ(data.monthCount, 1);
    EXPECT_EQ(data.months[0].generation, 321);
    EXPECT_EQ(data.months[0].flags, (std::array<std::uint8_t, 5>{0xB0, 0xB1, 0xB2, 0xB3, 0xB4}));
    // Counts replaced, slots beyond them as they were.
    EXPECT_EQ(data.errorCount, 0);
    EXPECT_EQ(data.errors[0].code, 5);
    EXPECT_EQ(data.days[1].generation, 77);
    EXPECT_EQ(data.months[1].generation, 88);
}

TEST(ImageEncoder, DecodingGivesBackTheRecordsOfAWrappedHistory) {
    MonitorHistory h;
    for (int i = 0; i < 50; ++i) {
        h.errors.entries.push_back({static_cast<std::uint8_t>(1 + i % 2),
                                    static_cast<std::uint8_t>(i), 20, 1 + i / 28, 1 + i % 28,
                                    i % 24, i % 60});
    }
    h.errors.start = 17;
    for (int i = 0; i < 400; ++i) {
        GenerationEntry e;
        e.date = {25 + i / 336, 1 + (i / 28) % 12, 1 + i % 28};
        e.generation = static_cast<std::int16_t>(i * 3);
        e.extra = {static_cast<std::int16_t>(i), -1, 2, 3};
        e.flags = {1, 2, 3, 4, 5, 6};
        h.days.entries.push_back(e);
    }
    h.days.start = 123;
    for (int i = 0; i < 7; ++i) {
        GenerationEntry e;
        e.date = {28, 1 + i, 1};
        e.generation = static_cast<std::int16_t>(400 + i);
        h.months.entries.push_back(e);
    }
    auto image = EncodeMemoryImage(h);
    ASSERT_TRUE(image) << image.error();
    UserData data;
    DecodeMemoryImage(*image, data);
    ASSERT_EQ(data.errorCount, 50);
    ASSERT_EQ(data.dayCount, 400);
    ASSERT_EQ(data.monthCount, 7);
    for (int i = 0; i < 50; ++i) {
        const ErrorEntry back = MakeErrorEntry(data.errors[i]);
        const ErrorEntry& want = h.errors.entries[i];
        EXPECT_EQ(back.kind, want.kind);
        EXPECT_EQ(back.code, want.code);
        EXPECT_EQ(back.yearOffset, want.yearOffset);
        EXPECT_EQ(back.month, want.month);
        EXPECT_EQ(back.day, want.day);
        EXPECT_EQ(back.hour, want.hour);
        EXPECT_EQ(back.minute, want.minute);
    }
    for (int i = 0; i < 400; ++i) {
        const GenerationEntry back = MakeGenerationEntry(data.days[i]);
        EXPECT_EQ(PackDate(back.date), PackDate(h.days.entries[i].date)) << i;
        EXPECT_EQ(back.generation, h.days.entries[i].generation);
        EXPECT_EQ(back.extra, h.days.entries[i].extra);
        EXPECT_EQ(back.flags, h.days.entries[i].flags);
    }
    EXPECT_EQ(data.months[6].generation, 406);
    EXPECT_EQ(data.months[6].flags, (std::array<std::uint8_t, 5>{}));
}

TEST(ImageEncoder, RefusesWhatTheUnitCannotHold) {
    MonitorHistory h;
    h.months.entries.resize(61, GenerationEntry{{20, 1, 1}});
    EXPECT_FALSE(EncodeMemoryImage(h));
    h.months.entries.resize(60);
    EXPECT_TRUE(EncodeMemoryImage(h));
    h.months.start = 60;
    EXPECT_FALSE(EncodeMemoryImage(h));
    h.months.start = 0;
    h.days.entries.push_back({{128, 1, 1}});  // the packed year has seven bits
    EXPECT_FALSE(EncodeMemoryImage(h));
    h.days.entries.back().date.yearOffset = 0;  // would read as an empty entry
    EXPECT_FALSE(EncodeMemoryImage(h));
    EXPECT_EQ(RingStartAfter(400, 400), 0);
    EXPECT_EQ(RingStartAfter(401, 400), 1);
    EXPECT_EQ(RingStartAfter(7, 60), 0);
}

}  // namespace
}  // namespace ys::monitor
