#include "app/settings/csv_field.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/app/settings/settings_fixtures.h"

namespace ys {
namespace {

// Every field of a line until the tokenizer says it is finished (the final empty one included).
std::vector<std::string> AllFields(std::string_view line) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    bool finished = false;
    while (!finished) out.emplace_back(NextCsvField(line, pos, finished));
    return out;
}

TEST(NextCsvField, RunOfCommasIsOneSeparatorAndEmptyOnlyAtTheEnd) {
    EXPECT_EQ(AllFields("a,b,c"), (std::vector<std::string>{"a", "b", "c", ""}));
    // The empty field between the commas is dropped: the fields behind it move forward.
    EXPECT_EQ(AllFields("1,,x,,,y"), (std::vector<std::string>{"1", "x", "y", ""}));
    EXPECT_EQ(AllFields(",,lead"), (std::vector<std::string>{"lead", ""}));
    EXPECT_EQ(AllFields("trail,,,"), (std::vector<std::string>{"trail", ""}));
    EXPECT_EQ(AllFields(""), (std::vector<std::string>{""}));
    EXPECT_EQ(AllFields(",,,"), (std::vector<std::string>{""}));
}

TEST(NextCsvField, KeepsQuotesAndLineEnd) {
    EXPECT_EQ(AllFields("\"a\" ,b\r\n"), (std::vector<std::string>{"\"a\" ", "b\r\n", ""}));
}

TEST(TreatCsvField, QuotesBecomeBlanksAndWhiteSpaceIsTrimmed) {
    EXPECT_EQ(TreatCsvField("\"" + test::Sjis("東京都") + "\""), test::Sjis("東京都"));
    EXPECT_EQ(TreatCsvField(" \t\"a\"b\"\r\n"), "a b");
    EXPECT_EQ(TreatCsvField("\"\""), "");
    EXPECT_EQ(TreatCsvField("\r\n"), "");
    // A double-byte character whose trail byte is 0x5C stays whole.
    EXPECT_EQ(TreatCsvField("\"\x83\x5c\""), "\x83\x5c");
}

TEST(TreatCsvField, TrailByteIsNeverTakenForAQuoteOrBlank) {
    // The lead byte swallows the byte after it, whatever that is.
    const std::string s = std::string("\x82") + '"';
    EXPECT_EQ(TreatCsvField(s), s);
}

TEST(LeadingInt, ReadsAsTheRuntimeDoes) {
    EXPECT_EQ(LeadingInt("  42abc"), 42);
    EXPECT_EQ(LeadingInt("-7"), -7);
    EXPECT_EQ(LeadingInt("+7"), 7);
    EXPECT_EQ(LeadingInt("abc"), 0);
    EXPECT_EQ(LeadingInt("\"12\""), 0);
    EXPECT_EQ(LeadingInt(""), 0);
    EXPECT_EQ(LeadingInt("99999999999999999999"), 2147483647);
}

TEST(LeadingReal, ReadsIndependentlyOfTheLocale) {
    EXPECT_DOUBLE_EQ(LeadingReal("0.945"), 0.945);
    EXPECT_DOUBLE_EQ(LeadingReal(" 0.5xyz"), 0.5);
    EXPECT_DOUBLE_EQ(LeadingReal("+1e2"), 100.0);
    EXPECT_DOUBLE_EQ(LeadingReal("0,945"), 0.0);
    EXPECT_DOUBLE_EQ(LeadingReal("x"), 0.0);
    EXPECT_DOUBLE_EQ(LeadingReal("1e999"), 0.0);
}

TEST(LineReader, SplitsAtLineFeedsAndAtTheBufferSize) {
    LineReader r("ab\r\ncdefg\nh", 4);  // pieces of at most 3 bytes
    std::vector<std::string> pieces;
    std::string_view line;
    while (r.Next(line)) pieces.emplace_back(line);
    EXPECT_EQ(pieces, (std::vector<std::string>{"ab\r", "\n", "cde", "fg\n", "h"}));
}

}  // namespace
}  // namespace ys
