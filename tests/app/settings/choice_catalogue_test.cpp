#include "app/settings/choice_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/paths.h"
#include "tests/app/settings/settings_fixtures.h"

namespace ys {
namespace {

using test::Sjis;

TEST(PowerConditionerRow, SplitsAtCommasAndTruncatesTheEfficiency) {
    const auto e = ParsePowerConditionerRow("Prod,QPC-310A,C310,0.945");
    EXPECT_EQ(e.product, "Prod");
    EXPECT_EQ(e.model, "QPC-310A");
    EXPECT_EQ(e.code, "C310");
    EXPECT_EQ(e.efficiencyPermille, 945);  // formed in double precision, then truncated
    EXPECT_EQ(ParsePowerConditionerRow("a,b,c,0.9999").efficiencyPermille, 999);
    EXPECT_EQ(ParsePowerConditionerRow("a,b,c,0.96").efficiencyPermille, 960);
    EXPECT_EQ(ParsePowerConditionerRow("a,,c,0.95").model, "");
}

TEST(PowerConditionerRow, MissingCommaEmptiesTheFieldAndCarriesTheRest) {
    // No comma for the code: the code is empty and the rest is the efficiency.
    auto e = ParsePowerConditionerRow("Prod,M1,0.945");
    EXPECT_EQ(e.product, "Prod");
    EXPECT_EQ(e.model, "M1");
    EXPECT_EQ(e.code, "");
    EXPECT_EQ(e.efficiencyPermille, 945);
    e = ParsePowerConditionerRow("Prod,0.945");
    EXPECT_EQ(e.product, "Prod");
    EXPECT_EQ(e.model, "");
    EXPECT_EQ(e.code, "");
    EXPECT_EQ(e.efficiencyPermille, 945);
    e = ParsePowerConditionerRow("only text");
    EXPECT_EQ(e.product, "");
    EXPECT_EQ(e.model, "");
    EXPECT_EQ(e.code, "");
    EXPECT_EQ(e.efficiencyPermille, 0);
    EXPECT_EQ(ParsePowerConditionerRow("a,b,c,").efficiencyPermille, 0);
    EXPECT_EQ(ParsePowerConditionerRow("a,b,c,inf").efficiencyPermille, 0);
}

TEST(MonitorUnitRow, DisplayNameModelAndImportFlag) {
    auto m = ParseMonitorUnitRow(Sjis("ルメトラ QTX52A,QTX52A,1"));
    EXPECT_EQ(test::Utf8(m.displayName), "ルメトラ QTX52A");
    EXPECT_EQ(m.model, "QTX52A");
    EXPECT_EQ(m.importFlag, 1);
    EXPECT_EQ(ParseMonitorUnitRow("a,b,1.9").importFlag, 1);
    m = ParseMonitorUnitRow("name only");
    EXPECT_EQ(m.displayName, "name only");
    EXPECT_EQ(m.model, "");
    EXPECT_EQ(m.importFlag, 0);
}

TEST(ShadeRow, LabelThenTheWholeLossList) {
    const auto s = ParseShadeRow(2, Sjis("ある,1,2,3,4,5,6,7,8,9,10,11,12"));
    EXPECT_EQ(s.value, 2);
    EXPECT_EQ(test::Utf8(s.label), "ある");
    EXPECT_EQ(s.lossList, "1,2,3,4,5,6,7,8,9,10,11,12");
    EXPECT_EQ(ParseShadeRow(0, "").label, "");
}

TEST(ChoiceCatalogue, ReadsTheSectionsUpToTheFirstMissingKey) {
    test::TempDir dir;
    const std::string admin = dir.Write(
        "admin.ini", Sjis("[パワーコンディショナー仕様]\r\n1=A,M1,C1,0.945\r\n2=A,M2,C2,0.95\r\n"
                          "3=B,,C3,0.94\r\n5=late,M5,C5,0.9\r\n[ルメナ仕様]\r\n"
                          "1=ルメトラ X,X,1\r\n2=ルメトラ Y,Y,0\r\n"));
    const std::string constants =
        dir.Write("gencalc.ini",
                  Sjis("[発電電力量計算]\r\nNUM=9\r\n[影の影響]\r\nNUM=2\r\n"
                       "0=なし,0,0,0,0,0,0,0,0,0,0,0,0\r\n1=ある,5,5,5,5,5,5,5,5,5,5,5,5\r\n"));
    const ChoiceCatalogue c = LoadChoiceCatalogue(admin, constants);
    ASSERT_EQ(c.powerConditioners.size(), 3u);  // key 4 is missing: 5 is never read
    EXPECT_EQ(c.powerConditioners[2].product, "B");
    ASSERT_EQ(c.monitorUnits.size(), 2u);
    EXPECT_EQ(c.monitorUnits[1].importFlag, 0);
    ASSERT_EQ(c.shades.size(), 2u);
    EXPECT_EQ(test::Utf8(c.shades[1].label), "ある");
    EXPECT_EQ(c.shades[1].value, 1);
    EXPECT_EQ(c.shades[1].lossList, "5,5,5,5,5,5,5,5,5,5,5,5");
    EXPECT_EQ(DistinctProducts(c.powerConditioners), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ModelsOfProduct(c.powerConditioners, "A"), (std::vector<std::string>{"M1", "M2"}));
    EXPECT_TRUE(ModelsOfProduct(c.powerConditioners, "B").empty());
}

TEST(ChoiceCatalogue, MissingFilesSectionsAndNumLeaveListsEmpty) {
    test::TempDir dir;
    ChoiceCatalogue c = LoadChoiceCatalogue(dir.File("admin.ini"), dir.File("gencalc.ini"));
    EXPECT_TRUE(c.powerConditioners.empty());
    EXPECT_TRUE(c.monitorUnits.empty());
    EXPECT_TRUE(c.shades.empty());
    const std::string constants =
        dir.Write("gencalc.ini", Sjis("[影の影響]\r\nNUM=0\r\n0=なし,0\r\n"));
    EXPECT_TRUE(LoadChoiceCatalogue(dir.File("admin.ini"), constants).shades.empty());
    // Keys missing below NUM still give entries (empty ones).
    dir.Write("gencalc.ini", Sjis("[影の影響]\r\nNUM=2\r\n0=なし,0\r\n"));
    c = LoadChoiceCatalogue(dir.File("admin.ini"), constants);
    ASSERT_EQ(c.shades.size(), 2u);
    EXPECT_EQ(c.shades[1].label, "");
}

TEST(ChoiceCatalogue, DuplicateProductsKeepFirstAppearanceOrder) {
    std::vector<PowerConditionerEntry> rows = {{"B", "1", "c", 0},
                                               {"A", "2", "c", 0},
                                               {"B", "3", "c", 0},
                                               {"B", "", "c", 0},
                                               {"B", "3", "d", 0}};
    EXPECT_EQ(DistinctProducts(rows), (std::vector<std::string>{"B", "A"}));
    EXPECT_EQ(ModelsOfProduct(rows, "B"), (std::vector<std::string>{"1", "3", "3"}));
}

// The admin.ini that ships in the program folder.
TEST(ShippedAdminIni, HasTheDefaultModelAndMonitorUnitsWithAndWithoutImport) {
    const std::string admin = paths::Join(test::SourceDir(), "resources/program/admin.ini");
    const ChoiceCatalogue c = LoadChoiceCatalogue(admin, "");
    ASSERT_FALSE(c.powerConditioners.empty());
    bool default310 = false;
    for (const auto& pc : c.powerConditioners) {
        if (pc.model == "QPC-310A" && pc.code == "QPC-310A")
            default310 = pc.efficiencyPermille == 945;
        EXPECT_FALSE(pc.product.empty());
        EXPECT_FALSE(pc.code.empty());
        EXPECT_GT(pc.efficiencyPermille, 900);
    }
    EXPECT_TRUE(default310);
    ASSERT_GE(c.monitorUnits.size(), 3u);
    EXPECT_EQ(c.monitorUnits[0].model, "QTX52A");
    EXPECT_EQ(c.monitorUnits[0].importFlag, 1);
    EXPECT_EQ(c.monitorUnits[1].model, "QTX52E");
    EXPECT_EQ(c.monitorUnits[1].importFlag, 1);
    bool withoutImport = false;
    for (const auto& m : c.monitorUnits) withoutImport |= m.importFlag == 0;
    EXPECT_TRUE(withoutImport);
    const std::string bytes = test::ReadFile(admin);
    EXPECT_NE(bytes.find("\r\n"), std::string::npos);
    EXPECT_EQ(bytes.find("\n", 0), bytes.find("\r\n", 0) + 1);
    EXPECT_TRUE(codepage::Cp932ToUtf8(bytes).ok());
}

// The shade section of the engine's constants file that ships in the program folder.
TEST(ShippedGencalcIni, ShadeSectionGivesTheShadeList) {
    const std::string constants = paths::Join(test::SourceDir(), "resources/program/gencalc.ini");
    if (test::ReadFile(constants).empty()) GTEST_SKIP() << constants << " is not there yet";
    const ChoiceCatalogue c = LoadChoiceCatalogue("", constants);
    ASSERT_GE(c.shades.size(), 2u);
    for (std::size_t k = 0; k < c.shades.size(); ++k) {
        EXPECT_EQ(c.shades[k].value, static_cast<int>(k));
        EXPECT_FALSE(c.shades[k].label.empty());
        // Twelve monthly percentages for the request's SHADOW_LOSS.
        EXPECT_EQ(std::count(c.shades[k].lossList.begin(), c.shades[k].lossList.end(), ','), 11)
            << c.shades[k].lossList;
    }
    EXPECT_EQ(c.shades[0].lossList, "0,0,0,0,0,0,0,0,0,0,0,0");
}

}  // namespace
}  // namespace ys
