#include "app/archive.h"

#include <gtest/gtest.h>

namespace ys {
namespace {

std::string Stored(std::string text) {
    CArchive ar;
    ar.Text(text);
    return ar.buffer();
}

std::string Loaded(std::string_view bytes) {
    CArchive ar(bytes);
    std::string v;
    ar.Text(v);
    EXPECT_EQ(ar.remaining(), 0u);
    return v;
}

TEST(Archive, LengthPrefixForms) {
    EXPECT_EQ(TextLengthPrefix(0), std::string(1, '\0'));
    EXPECT_EQ(TextLengthPrefix(254), "\xFE");
    EXPECT_EQ(TextLengthPrefix(255), std::string("\xFF\xFF\x00", 3));
    EXPECT_EQ(TextLengthPrefix(0xFFFD), "\xFF\xFD\xFF");
    EXPECT_EQ(TextLengthPrefix(0xFFFE), std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7));
    EXPECT_EQ(TextLengthPrefix(0x100000000ull),
              std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x00\x00\x00\x00\x01\x00\x00\x00", 15));
}

TEST(Archive, TextsRoundTripAtEveryPrefixSize) {
    for (std::size_t n : {0u, 1u, 254u, 255u, 256u, 0xFFFDu, 0xFFFEu, 70000u}) {
        std::string text(n, 'x');
        std::string bytes = Stored(text);
        EXPECT_EQ(bytes.size(), TextLengthPrefix(n).size() + n);
        EXPECT_EQ(Loaded(bytes), text) << n;
    }
}

TEST(Archive, WideTextsAreReadAndConvertedToCp932) {
    // 0xFF, 0xFFFE marks the wide form; then a count of UTF-16 units and the units.
    std::string bytes("\xFF\xFE\xFF\x03" "A\0\xE5\x65\x2C\x67", 10);  // "A日本"
    EXPECT_EQ(Loaded(bytes), "A\x93\xFA\x96\x7B");
    // A character CP932 cannot hold becomes the default character.
    EXPECT_EQ(Loaded(std::string("\xFF\xFE\xFF\x02\x3D\xD8\x00\xDE", 8)), "?");
    // The wide count may itself use the wider prefix.
    std::string wide300("\xFF\xFE\xFF\xFF\x2C\x01", 6);
    for (int i = 0; i < 300; ++i) wide300 += std::string("B\0", 2);
    EXPECT_EQ(Loaded(wide300), std::string(300, 'B'));
}

TEST(Archive, CountsPastTheEndAreCorruptAndAllocateNothing) {
    for (std::string_view bad : {std::string_view("\x05" "abc"),
                                 std::string_view("\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 7),
                                 std::string_view("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 15),
                                 std::string_view("\xFF\xFE\xFF\x10" "ab", 6),
                                 std::string_view("\xFF\xFE\xFF\xFF\xFE\xFF", 6),
                                 std::string_view("\xFF\x01", 2)}) {
        CArchive ar(bad);
        std::string v;
        EXPECT_THROW(ar.Text(v), ArchiveError);
    }
}

TEST(Archive, NumbersAreLittleEndian) {
    CArchive ar;
    std::int32_t i = 0x01020304;
    std::int16_t s = -2;
    std::int64_t t = 0x0102030405060708;
    double d = 1.5;
    std::uint8_t b = 0xAB;
    ar.Int32(i);
    ar.Int16(s);
    ar.Int64(t);
    ar.Double(d);
    ar.Int8(b);
    EXPECT_EQ(ar.buffer(), std::string("\x04\x03\x02\x01\xFE\xFF\x08\x07\x06\x05\x04\x03\x02\x01"
                                       "\x00\x00\x00\x00\x00\x00\xF8\x3F\xAB", 23));
    CArchive in(ar.buffer());
    std::int32_t i2 = 0;
    std::int16_t s2 = 0;
    std::int64_t t2 = 0;
    double d2 = 0;
    std::uint8_t b2 = 0;
    in.Int32(i2);
    in.Int16(s2);
    in.Int64(t2);
    in.Double(d2);
    in.Int8(b2);
    EXPECT_EQ(std::tie(i2, s2, t2, d2, b2), std::tie(i, s, t, d, b));
    EXPECT_THROW(in.Int8(b2), ArchiveError);
}

}  // namespace
}  // namespace ys
