#include "app/settings/region_table.h"

#include <gtest/gtest.h>

#include <set>

#include "app/settings/csv_field.h"
#include "platform/paths.h"
#include "tests/app/settings/settings_fixtures.h"

namespace ys {
namespace {

using test::FullRegionLine;
using test::RegionLine;
using test::Sjis;

std::vector<std::string> Utf8List(const std::vector<std::string>& cp932) {
    std::vector<std::string> out;
    for (const auto& s : cp932) out.push_back(test::Utf8(s));
    return out;
}

TEST(RegionChoices, HeadingLineIsIgnored) {
    const std::string rows =
        RegionLine("1", "札幌", "01", "北海道") + RegionLine("2", "東京", "13", "東京都");
    const RegionChoices with =
        ParseRegionChoices(Sjis("地域番号,地域名,コード,都道府県\r\n") + rows, 0);
    const RegionChoices without = ParseRegionChoices(rows, 0);
    EXPECT_EQ(with.prefectureNames, without.prefectureNames);
    EXPECT_EQ(with.rows.size(), 2u);
    EXPECT_EQ(Utf8List(with.prefectureNames), (std::vector<std::string>{"北海道", "東京都"}));
}

TEST(RegionChoices, PrefecturesSortedByPaddedCodeNamedAfterTheirFirstRow) {
    const std::string table = RegionLine("1", "東京", "13", "東京都") +
                              RegionLine("2", "札幌", "1", "北海道") +
                              RegionLine("3", "旭川", "01", "北海道（別名）");
    const RegionChoices c = ParseRegionChoices(table, 0);
    EXPECT_EQ(c.prefectureCodes, (std::vector<std::string>{"01", "13"}));
    EXPECT_EQ(Utf8List(c.prefectureNames), (std::vector<std::string>{"北海道", "東京都"}));
    EXPECT_EQ(c.rows[1].prefectureCode, "01");
    // A code of three characters or more is taken as it is.
    EXPECT_EQ(ParseRegionChoices(RegionLine("1", "x", "100", "y"), 0).rows[0].prefectureCode,
              "100");
}

TEST(RegionChoices, RegionNameInTwoPrefecturesIsOfferedUnderEach) {
    const std::string table = RegionLine("10", "府中", "13", "東京都") +
                              RegionLine("20", "府中", "34", "広島県") +
                              RegionLine("30", "広島", "34", "広島県");
    const RegionChoices c = ParseRegionChoices(table, 0);
    EXPECT_EQ(Utf8List(RegionsOfPrefecture(c, Sjis("広島県"))),
              (std::vector<std::string>{"府中", "広島"}));
    EXPECT_EQ(Utf8List(RegionsOfPrefecture(c, Sjis("東京都"))), (std::vector<std::string>{"府中"}));
    const ChosenRegion chosen = ChooseRegion(c, Sjis("広島県"), Sjis("府中"));
    EXPECT_EQ(chosen.regionNo, 20);
    EXPECT_EQ(test::Utf8(chosen.regionName), "広島県 府中");
    EXPECT_EQ(ChooseRegion(c, Sjis("東京都"), Sjis("広島")).regionNo, 0);
    EXPECT_EQ(ChooseRegion(c, Sjis("東京都"), Sjis("広島")).regionName, "");
}

TEST(RegionChoices, RemembersTheHandedOverRegionLastRowWins) {
    const std::string table = RegionLine("5", "旭川", "01", "北海道") +
                              RegionLine("7", "那覇", "47", "沖縄県") +
                              RegionLine("5", "札幌", "01", "北海道");
    const RegionChoices c = ParseRegionChoices(table, 5);
    EXPECT_EQ(test::Utf8(c.currentPrefecture), "北海道");
    EXPECT_EQ(test::Utf8(c.currentRegion), "札幌");
    const RegionChoices none = ParseRegionChoices(table, 99);
    EXPECT_TRUE(none.currentPrefecture.empty());
    EXPECT_TRUE(none.currentRegion.empty());
    EXPECT_EQ(LastIndexOf({"a", "b", "a"}, "a"), 2);
    EXPECT_EQ(LastIndexOf({"a"}, ""), -1);
}

TEST(RegionChoices, QuotedNamesLoseQuotesAndTheirBlanks) {
    const RegionChoices c =
        ParseRegionChoices("8,\"" + Sjis("大阪") + "\", \"27\" ,\"" + Sjis("大阪府") + "\"\r\n", 0);
    ASSERT_EQ(c.rows.size(), 1u);
    EXPECT_EQ(test::Utf8(c.rows[0].regionName), "大阪");
    EXPECT_EQ(test::Utf8(c.rows[0].prefectureName), "大阪府");
    EXPECT_EQ(c.rows[0].prefectureCode, "27");
}

TEST(RegionChoices, UnusableRowsAreLeftOut) {
    const std::string table = "0," + Sjis("ゼロ") + ",01," + Sjis("北海道") + "\r\n" +  // number 0
                              "-3," + Sjis("負") + ",01," + Sjis("北海道") + "\r\n" + "4," +
                              Sjis("短い") + ",01\r\n" +  // no field 3
                              "6," + Sjis("空") + ",\"\"," + Sjis("北海道") +
                              "\r\n" +  // empty code
                              RegionLine("9", "札幌", "01", "北海道");
    const RegionChoices c = ParseRegionChoices(table, 0);
    ASSERT_EQ(c.rows.size(), 1u);
    EXPECT_EQ(c.rows[0].number, 9);
}

TEST(RegionChoices, RunOfCommasShiftsTheFields) {
    // An empty region name is dropped: the code is taken as the name, and so on.
    const RegionChoices c = ParseRegionChoices("3,,01," + Sjis("北海道") + ",45\r\n", 0);
    ASSERT_EQ(c.rows.size(), 1u);
    EXPECT_EQ(c.rows[0].regionName, "01");
    EXPECT_EQ(test::Utf8(c.rows[0].prefectureCode), "北海道");
    EXPECT_EQ(c.rows[0].prefectureName, "45");
}

TEST(RegionChoices, MissingFileIsAnError) {
    test::TempDir dir;
    EXPECT_FALSE(LoadRegionChoices(dir.File("insolation.csv"), 0).ok());
}

TEST(RegionFields, TakesFieldsOneToFortyFiveOfTheRow) {
    const std::string table = Sjis("番号,名前\r\n") + FullRegionLine("12", "東京", "13", "東京都") +
                              FullRegionLine("120", "other", "13", "x");
    const RegionFields f = ParseRegionFields(table, 12);
    EXPECT_EQ(test::Utf8(f[1]), "東京");
    EXPECT_EQ(f[2], "13");
    EXPECT_EQ(f[4], "35");
    EXPECT_EQ(f[5], "41.1");
    EXPECT_EQ(f[6], "139");
    EXPECT_EQ(f[7], "45.6");
    EXPECT_EQ(f[8], "g1");
    EXPECT_EQ(f[19], "g12");
    EXPECT_EQ(f[20], "d1");
    EXPECT_EQ(f[43], "a12");
    EXPECT_EQ(f[44], "");
    EXPECT_EQ(f[0], "");
}

TEST(RegionFields, EmptyTreatedFieldEndsTheRowAndLaterRowsOverwrite) {
    const std::string table =
        "7,a,01,b,35,41,139,45,\"\",g2\r\n"  // field 8 empty: row ends
        "7,A,02,B,36\r\n";                   // overwrites 1-4, clears 5
    const RegionFields f = ParseRegionFields(table, 7);
    EXPECT_EQ(f[1], "A");
    EXPECT_EQ(f[4], "36");
    EXPECT_EQ(f[5], "");     // the later row's end is stored as empty
    EXPECT_EQ(f[6], "139");  // beyond it the first row's fields stay
    EXPECT_EQ(f[7], "45");
    EXPECT_EQ(f[8], "");
    EXPECT_EQ(f[9], "");  // never read after the empty field
}

TEST(RegionFields, NumberNotInTheTableGivesEmptyFields) {
    const RegionFields f = ParseRegionFields(FullRegionLine("1", "x", "01", "y"), 2);
    for (const auto& field : f) EXPECT_EQ(field, "");
}

// The table that ships in the program folder: every row as the readers need it.
TEST(ShippedRegionTable, EveryRowHasItsFortyFourFields) {
    auto text = test::ReadFile(paths::Join(test::SourceDir(), "resources/program/insolation.csv"));
    ASSERT_FALSE(text.empty());
    const RegionChoices c = ParseRegionChoices(text, 0);
    EXPECT_EQ(c.rows.size(), 840u);
    EXPECT_EQ(c.prefectureCodes.size(), 47u);
    EXPECT_EQ(c.prefectureCodes.front(), "01");
    EXPECT_EQ(test::Utf8(c.prefectureNames.front()), "北海道");
    EXPECT_EQ(test::Utf8(c.prefectureNames.back()), "沖縄県");
    std::set<int> numbers;
    LineReader lines(text, kRegionLineBuffer);
    std::string_view line;
    int count = 0;
    while (lines.Next(line)) {
        ASSERT_EQ(line.substr(line.size() - 2), "\r\n");
        ASSERT_LT(line.size(), kRegionLineBuffer - 1);
        if (count++ == 0) continue;  // heading
        const int number = LeadingInt(line);
        ASSERT_GT(number, 0);
        EXPECT_TRUE(numbers.insert(number).second) << number;
        const RegionFields f = ParseRegionFields(line, number);
        for (int k = 1; k <= 43; ++k) ASSERT_FALSE(f[k].empty()) << number << " field " << k;
        EXPECT_TRUE(f[44].empty());
    }
    // Tokyo (site 44132): the row as the engine will get it.
    const RegionFields tokyo = ParseRegionFields(text, 44132);
    EXPECT_EQ(test::Utf8(tokyo[1]), "東京");
    EXPECT_EQ(tokyo[2], "13");
    EXPECT_EQ(tokyo[4], "35");
}

}  // namespace
}  // namespace ys
