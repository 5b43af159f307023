#include "app/settings/postal_lookup.h"

#include <gtest/gtest.h>

#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "tests/app/settings/settings_fixtures.h"

namespace ys {
namespace {

using test::Sjis;

// One row of the national file's layout (15 fields).
std::string Row(std::string_view code, std::string_view pref, std::string_view city,
                std::string_view town) {
    return "13101,\"100  \",\"" + std::string(code) + "\",\"ﾄｳｷｮｳﾄ\",\"ﾁﾖﾀﾞｸ\",\"ｶﾅ\",\"" +
           Sjis(pref) + "\",\"" + Sjis(city) + "\",\"" + Sjis(town) + "\",0,0,0,0,0,0\r\n";
}

std::vector<std::string> Utf8List(const std::vector<std::string>& cp932) {
    std::vector<std::string> out;
    for (const auto& s : cp932) out.push_back(test::Utf8(s));
    return out;
}

TEST(PostalLookup, CatchAllRowGivesPrefectureAndCityOnly) {
    const std::string file = Row("1000000", "東京都", "千代田区", "以下に掲載がない場合") +
                             Row("1000001", "東京都", "千代田区", "千代田");
    EXPECT_EQ(Utf8List(SearchPostalCodeText(file, "1000000")),
              (std::vector<std::string>{"東京都 千代田区"}));
    EXPECT_EQ(Utf8List(SearchPostalCodeText(file, "1000001")),
              (std::vector<std::string>{"東京都 千代田区 千代田"}));
}

TEST(PostalLookup, SeveralRowsInFileOrderDuplicatesKept) {
    const std::string file = Row("0600001", "北海道", "札幌市中央区", "北一条西") +
                             Row("0600002", "北海道", "札幌市中央区", "北二条西") +
                             Row("0600001", "北海道", "札幌市中央区", "北一条東") +
                             Row("0600001", "北海道", "札幌市中央区", "北一条西");
    EXPECT_EQ(
        Utf8List(SearchPostalCodeText(file, "0600001")),
        (std::vector<std::string>{"北海道 札幌市中央区 北一条西", "北海道 札幌市中央区 北一条東",
                                  "北海道 札幌市中央区 北一条西"}));
}

TEST(PostalLookup, OnlyFieldTwoWithItsQuotesMatches) {
    std::string file = Row("1234567", "東京都", "港区", "芝");
    EXPECT_TRUE(SearchPostalCodeText(file, "").empty());
    EXPECT_TRUE(SearchPostalCodeText(file, "123456").empty());
    EXPECT_TRUE(SearchPostalCodeText(file, "12345678").empty());
    EXPECT_TRUE(SearchPostalCodeText(file, "123-4567").empty());
    // The code elsewhere in the row, or field 2 without quotes, is no match.
    file = "13101,\"1234567\",\"9999999\",a,b,c,d,e,f\r\n13101,100,1234567,a,b,c,d,e,f\r\n";
    EXPECT_TRUE(SearchPostalCodeText(file, "1234567").empty());
    EXPECT_EQ(SearchPostalCodeText(file, "9999999").size(), 1u);
}

TEST(PostalLookup, AtMostOneHundredResults) {
    std::string file;
    for (int i = 0; i < 130; ++i)
        file += Row("5000000", "岐阜県", "岐阜市", "町" + std::to_string(i));
    const auto found = SearchPostalCodeText(file, "5000000");
    ASSERT_EQ(found.size(), kMaxPostalResults);
    EXPECT_EQ(test::Utf8(found.back()), "岐阜県 岐阜市 町99");
}

TEST(PostalLookup, EmptyTreatedFieldEndsTheRowAndLongLinesAreCut) {
    // The town is empty: the row ends there and the town slot is empty.
    const std::string file =
        "1,\"2\",\"7777777\",a,b,c,\"" + Sjis("県") + "\",\"" + Sjis("市") + "\",\"\",0\r\n";
    EXPECT_EQ(Utf8List(SearchPostalCodeText(file, "7777777")),
              (std::vector<std::string>{"県 市 "}));
    // A line longer than the reader's buffer is read in pieces: the code in the second piece
    // is no field 2 of any piece.
    const std::string longLine = "1,\"" + std::string(1100, 'x') + "\",\"7777777\",a,b,c,p,q,r\r\n";
    EXPECT_TRUE(SearchPostalCodeText(longLine, "7777777").empty());
}

TEST(PostalLookup, MissingFileIsAnError) {
    test::TempDir dir;
    EXPECT_FALSE(SearchPostalCode(dir.File("KEN_ALL.CSV"), "1000001").ok());
    const std::string empty = dir.Write("KEN_ALL.CSV", "");
    auto r = SearchPostalCode(empty, "1000001");
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r->empty());
}

// On the national file in the program folder (installed by scripts/install-ken-all.sh).
class RealPostalFile : public ::testing::Test {
protected:
    void SetUp() override {
        path = paths::Join(test::ProgramDir(), "KEN_ALL.CSV");
        text = test::ReadFile(path);
        if (text.empty()) {
            GTEST_SKIP() << path << " is missing or empty: install it with "
                         << "scripts/install-ken-all.sh to run the tests of the real file";
        }
    }
    std::string path;
    std::string text;
};

TEST_F(RealPostalFile, CatchAllRowOfAMunicipality) {
    auto found = SearchPostalCode(path, "0600000");
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(Utf8List(*found), (std::vector<std::string>{"北海道 札幌市中央区"}));
}

TEST_F(RealPostalFile, CodeWithSeveralRowsInFileOrder) {
    auto found = SearchPostalCode(path, "0491321");
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(Utf8List(*found),
              (std::vector<std::string>{"北海道 松前郡福島町 月崎", "北海道 松前郡福島町 丸山団地",
                                        "北海道 松前郡福島町 緑町"}));
    // A long town name continued over three rows gives three addresses.
    found = SearchPostalCode(path, "0660005");
    ASSERT_TRUE(found.ok());
    ASSERT_EQ(found->size(), 3u);
    EXPECT_EQ(test::Utf8((*found)[0]).rfind("北海道 千歳市 協和（８８－２", 0), 0u);
}

TEST_F(RealPostalFile, CapOfOneHundredOverRealRows) {
    // The most rows of one code in the real file is 66: its rows twice make 132.
    std::string rows;
    const std::string key = "\"4520961\"";
    std::size_t at = 0;
    while ((at = text.find(key, at)) != std::string::npos) {
        const std::size_t start = text.rfind('\n', at) + 1;
        const std::size_t end = text.find('\n', at) + 1;
        rows += text.substr(start, end - start);
        at = end;
    }
    ASSERT_EQ(SearchPostalCodeText(rows, "4520961").size(), 66u);
    const auto found = SearchPostalCodeText(rows + rows, "4520961");
    ASSERT_EQ(found.size(), 100u);
    EXPECT_EQ(found[66], found[0]);
}

TEST_F(RealPostalFile, UnknownCodeFindsNothing) {
    auto found = SearchPostalCode(path, "0000000");
    ASSERT_TRUE(found.ok());
    EXPECT_TRUE(found->empty());
}

}  // namespace
}  // namespace ys
