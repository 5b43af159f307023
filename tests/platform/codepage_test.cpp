#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace ys::codepage {
namespace {

TEST(Codepage, JapaneseTextRoundTrips) {
    const std::string utf8 = "山田 太郎（ﾔﾏﾀﾞ）①～Ⅲ";
    auto cp = Utf8ToCp932(utf8);
    ASSERT_TRUE(cp) << cp.error();
    auto back = Cp932ToUtf8(*cp);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, utf8);
}

TEST(Codepage, Cp932SpecificsDifferFromShiftJis) {
    // 0x5C and 0x7E stay ASCII; 0x8160 is the full-width tilde; 0x8740 is the circled one.
    EXPECT_EQ(*Cp932ToUtf8("\\~"), "\\~");
    EXPECT_EQ(*Cp932ToUtf8("\x81\x60"), "\xEF\xBD\x9E");
    EXPECT_EQ(*Cp932ToUtf8("\x87\x40"), "①");
    EXPECT_EQ(*Utf8ToCp932("～"), "\x81\x60");
    // Half-width katakana are single bytes.
    EXPECT_EQ(Utf8ToCp932("ｼﾐｭﾚｰｼｮﾝ値")->substr(0, 7), "\xBC\xD0\xAD\xDA\xB0\xBC\xAE");
}

TEST(Codepage, UnconvertibleInputFailsWithTheOffset) {
    auto r = Utf8ToCp932("ab😀c");
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("byte 2"), std::string::npos) << r.error();

    auto bad = Cp932ToUtf8("ok\x81");  // a lead byte without its trail byte
    ASSERT_FALSE(bad);
    EXPECT_NE(bad.error().find("incomplete"), std::string::npos) << bad.error();

    EXPECT_FALSE(Cp932ToUtf8("\xA0"));  // not a character in CP932
    EXPECT_FALSE(Utf8ToCp932("\xC3"));  // malformed UTF-8
}

TEST(Codepage, LossyShowsReplacementsAndKeepsTheRest) {
    EXPECT_EQ(Cp932ToUtf8Lossy("A\xA0\x88\x9F"), "A\xEF\xBF\xBD亜");
    EXPECT_EQ(Cp932ToUtf8Lossy("\x82"), "\xEF\xBF\xBD");
}

TEST(Codepage, Utf16) {
    auto wide = Utf8ToUtf16Le("A日");
    ASSERT_TRUE(wide);
    EXPECT_EQ(*wide, std::string("A\0\xE5\x65", 4));
    EXPECT_EQ(*Utf16LeToUtf8(*wide), "A日");
    EXPECT_EQ(*Utf16LeToCp932(*wide), "A\x93\xFA");
    EXPECT_TRUE(Cp932ToUtf8("")->empty());
}

}  // namespace
}  // namespace ys::codepage
