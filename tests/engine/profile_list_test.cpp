#include "engine/profile_list.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "platform/codepage.h"

namespace ys::gencalc {
namespace {

using ys::profile::Document;

// Reads `value` (UTF-8) from a CP932 file, as every engine file is.
int Read(const std::string& value, SimulationContext& ctx) {
    auto cp932 = codepage::Utf8ToCp932("[S]\r\nK=" + value + "\r\n");
    EXPECT_TRUE(cp932.ok());
    return ReadProfileList("S", "K", Document::Parse(cp932 ? *cp932 : ""), ctx);
}

std::string Fields(int n, const std::string& each) {
    std::string v;
    for (int i = 0; i < n; ++i) v += (i ? "," : "") + each;
    return v;
}

TEST(ReadProfileList, MissingKeySectionOrFileAndTheNotFoundTextGiveMinusOne) {
    SimulationContext ctx;
    const Document doc = Document::Parse("[S]\r\nK=1,2\r\nN=NOT_FOUND\r\n");
    EXPECT_EQ(ReadProfileList("S", "X", doc, ctx), kListMissing);
    EXPECT_EQ(ReadProfileList("T", "K", doc, ctx), kListMissing);
    EXPECT_EQ(ReadProfileList("S", "N", doc, ctx), kListMissing);
    EXPECT_EQ(ReadProfileList("S", "K", Document::Load("/nonexistent/x.ini"), ctx), kListMissing);
    // Names match regardless of ASCII case, as in every profile file.
    EXPECT_EQ(ReadProfileList("s", "k", doc, ctx), 2);
}

TEST(ReadProfileList, SplitsAtEveryCommaWithoutTrimming) {
    SimulationContext ctx;
    EXPECT_EQ(Read("", ctx), 1);
    EXPECT_EQ(ctx.listBuffer[0], "");

    EXPECT_EQ(Read("a,,b, c ,", ctx), 5);
    EXPECT_EQ(ctx.listBuffer[0], "a");
    EXPECT_EQ(ctx.listBuffer[1], "");
    EXPECT_EQ(ctx.listBuffer[2], "b");
    EXPECT_EQ(ctx.listBuffer[3], " c ");
    EXPECT_EQ(ctx.listBuffer[4], "");

    // A shorter value leaves no field of the earlier one behind.
    EXPECT_EQ(Read("x", ctx), 1);
    EXPECT_EQ(ctx.listBuffer[1], "");
    EXPECT_EQ(ctx.listBuffer[2], "");
}

TEST(ReadProfileList, RefusesValuesThatDoNotFitTheBuffer) {
    SimulationContext ctx;
    EXPECT_EQ(Read(Fields(16, "1"), ctx), 16);
    EXPECT_EQ(Read(Fields(17, "1"), ctx), kListTooLong);
    EXPECT_EQ(Read(Fields(16, "1") + ",", ctx), kListTooLong);

    EXPECT_EQ(Read(std::string(255, '7'), ctx), 1);
    EXPECT_EQ(Read(std::string(256, '7'), ctx), kListTooLong);
    // Characters, not bytes: 255 kanji fit.
    std::string kanji;
    for (int i = 0; i < 255; ++i) kanji += "日";
    EXPECT_EQ(Read(kanji, ctx), 1);
    EXPECT_EQ(Read(kanji + "日", ctx), kListTooLong);

    // Four fields of 255 plus three commas is 1023 characters, the most a value can hold.
    const std::string wide(255, '1');
    EXPECT_EQ(Read(Fields(4, wide), ctx), 4);
    EXPECT_EQ(Read(Fields(4, wide) + "2", ctx), kListTooLong);
}

TEST(ReadProfileString, CutsAt1023CharactersAndGivesTheDefaultWhenMissing) {
    const Document doc =
        Document::Parse("[S]\r\nK=" + std::string(1100, 'x') + "\r\nQ=\"1.5\"\r\n");
    EXPECT_EQ(ReadProfileString("S", "K", "", doc).size(), 1023u);
    EXPECT_EQ(ReadProfileString("S", "Q", "", doc), "1.5");
    EXPECT_EQ(ReadProfileString("S", "missing", "dflt", doc), "dflt");
}

TEST(NumberConversion, ListRealsAreNarrowedToSinglePrecision) {
    EXPECT_EQ(ParseListReal("0.1"), static_cast<double>(0.1f));
    EXPECT_NE(ParseListReal("0.1"), 0.1);
    EXPECT_EQ(ParseReal("0.1"), 0.1);
    EXPECT_EQ(ParseListReal("1e39"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ParseListReal("-1e39"), -std::numeric_limits<double>::infinity());
}

TEST(NumberConversion, SkipLeadingBlanksAndStopAtTheFirstCharacterThatDoesNotFit) {
    EXPECT_EQ(ParseReal("  12.5abc"), 12.5);
    EXPECT_EQ(ParseReal("\t-3"), -3.0);
    EXPECT_EQ(ParseReal("+2e1"), 20.0);
    EXPECT_EQ(ParseReal("abc"), 0.0);
    EXPECT_EQ(ParseReal(""), 0.0);
    EXPECT_EQ(ParseReal("1,5"), 1.0);

    EXPECT_EQ(ParseInteger("3500.7"), 3500);
    EXPECT_EQ(ParseInteger(" -12x"), -12);
    EXPECT_EQ(ParseInteger("x12"), 0);
    EXPECT_EQ(ParseInteger(""), 0);
    EXPECT_EQ(ParseInteger("99999999999"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(ParseInteger("-99999999999"), std::numeric_limits<std::int32_t>::min());
}

TEST(NumberConversion, IgnoresTheProcessLocale) {
    const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    if (!german) GTEST_SKIP() << "no locale with a decimal comma on this machine";
    const double v = ParseReal("0.945");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(v, 0.945);
}

}  // namespace
}  // namespace ys::gencalc
