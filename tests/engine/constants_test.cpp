#include "engine/constants.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/codepage.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/temp_dir.h"

namespace ys::gencalc {
namespace {

using ys::profile::Document;

const char* const kListKeys[] = {"月間日数",       "通し日付",         "素子温度上昇損失補正係数",
                                 "均時差計算定数", "太陽赤緯計算定数", "地表アルベド計算定数",
                                 "時角計算定数a",  "時角計算定数b"};
const char* const kSingleKeys[] = {"全天日射量計算定数",
                                   "天空散乱日射量計算定数",
                                   "太陽定数",
                                   "直達日射量計算定数",
                                   "配線、汚れ損失補正係数",
                                   "屋根材型補正係数",
                                   "傾斜屋根置型補正係数",
                                   "陸屋根置型補正係数",
                                   "異方位ロス係数",
                                   "昇圧ロス係数",
                                   "ロス無し係数"};

// The default file as UTF-8 text, to derive broken variants from.
std::string DefaultText() {
    auto utf8 = codepage::Cp932ToUtf8(test::ReadFile(test::DefaultConstantsPath()));
    EXPECT_TRUE(utf8.ok());
    return utf8 ? *utf8 : std::string();
}

// The text with the value of `key` replaced, or its line removed when `value` is null.
std::string WithKey(const std::string& text, const std::string& key, const char* value) {
    std::istringstream in(text);
    std::string out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) {
            if (value) out += key + "=" + value + "\r\n";
            continue;
        }
        out += line + "\n";
    }
    return out;
}

int Load(const std::string& utf8Text, SimulationContext& ctx) {
    auto cp932 = codepage::Utf8ToCp932(utf8Text);
    EXPECT_TRUE(cp932.ok());
    return LoadConstants(ctx, Document::Parse(cp932 ? *cp932 : std::string()));
}

TEST(DefaultConstantsFile, LoadsWithTheDocumentedValues) {
    SimulationContext ctx;
    ASSERT_EQ(LoadConstants(ctx, test::DefaultConstantsPath()), 0);
    EXPECT_EQ(ctx.daysInMonth,
              (std::array<std::int32_t, 12>{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}));
    EXPECT_EQ(ctx.monthDay, (std::array<std::int32_t, 12>{17, 47, 75, 105, 135, 162, 198, 228, 258,
                                                          288, 318, 344}));
    const double t[] = {0.90, 0.90, 0.85, 0.85, 0.85, 0.80, 0.80, 0.80, 0.85, 0.85, 0.85, 0.90};
    for (int m = 0; m < 12; ++m) EXPECT_EQ(ctx.temperatureFactor[m], static_cast<float>(t[m]));
    const double eot[] = {0.0000075, 0.001868, 0.032077, 0.014615, 0.040849};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(ctx.eotCoefficients[i], 229.18 * eot[i], 1e-6);
    const double decl[] = {0.006918, 0.399912, 0.070257, 0.006758, 0.000907};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ctx.declinationCoefficients[i], static_cast<float>(decl[i]));
    EXPECT_EQ(ctx.albedoConstants[0], 0.2f);
    EXPECT_EQ(ctx.albedoConstants[1], 0.7f);
    EXPECT_EQ(ctx.hourAngleA[0], 0.409f);
    EXPECT_EQ(ctx.hourAngleA[1], 0.5016f);
    EXPECT_EQ(ctx.hourAngleB[0], 0.6609f);
    EXPECT_EQ(ctx.hourAngleB[1], 0.4767f);
    // Single values keep double precision.
    EXPECT_EQ(ctx.globalDivisor, 1.0);
    EXPECT_EQ(ctx.diffuseDivisor, 1.0);
    EXPECT_EQ(ctx.solarConstant, 1.367);
    EXPECT_EQ(ctx.directCoefficient, 0.033);
    EXPECT_EQ(ctx.wiringSoilingFactor, 0.9465);
    EXPECT_EQ(ctx.roofMaterialFactor, 0.95);
    EXPECT_EQ(ctx.pitchedRoofFactor, 1.0);
    EXPECT_EQ(ctx.flatRoofFactor, 0.97);
    EXPECT_EQ(ctx.mixedOrientationLoss, 0.98);
    EXPECT_EQ(ctx.boosterLoss, 0.97);
    EXPECT_EQ(ctx.noLossFactor, 1.0);
}

TEST(DefaultConstantsFile, IsCp932WithCrlfAndCitesEveryKey) {
    const std::string bytes = test::ReadFile(test::DefaultConstantsPath());
    ASSERT_FALSE(bytes.empty());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    ASSERT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    ASSERT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
    ASSERT_TRUE(codepage::Cp932ToUtf8(bytes).ok());

    const std::string text = DefaultText();
    const std::string header = text.substr(0, text.find("\n["));
    for (const char* key : kListKeys) EXPECT_NE(header.find(key), std::string::npos) << key;
    for (const char* key : kSingleKeys) EXPECT_NE(header.find(key), std::string::npos) << key;
}

TEST(DefaultConstantsFile, ShadeSectionHasTheLayoutTheUserPageReads) {
    const Document doc = Document::Load(test::DefaultConstantsPath());
    ASSERT_EQ(doc.Find("影の影響", "NUM"), "4");
    const char* labels[] = {"影の影響なし", "少しある（約5％）", "ある（約10％）",
                            "大きい（約20％）"};
    const char* loss[] = {"0", "5", "10", "20"};
    for (int k = 0; k < 4; ++k) {
        auto row = doc.Find("影の影響", std::to_string(k));
        ASSERT_TRUE(row.has_value());
        const auto comma = row->find(',');
        EXPECT_EQ(row->substr(0, comma), labels[k]);
        std::string expected;
        for (int m = 0; m < 12; ++m) expected += std::string(m ? "," : "") + loss[k];
        EXPECT_EQ(row->substr(comma + 1), expected);
    }
}

TEST(LoadConstants, FailsWithoutTheFileTheSectionOrAnyListKey) {
    SimulationContext ctx;
    EXPECT_EQ(LoadConstants(ctx, "/nonexistent/gencalc.ini"), -1);
    std::string text = DefaultText();
    const auto head = text.find("\n[発電電力量計算]");
    ASSERT_NE(head, std::string::npos);
    EXPECT_EQ(Load(text.replace(head + 1, 23, "[別の節]"), ctx), -1);
    for (const char* key : kListKeys) {
        SCOPED_TRACE(key);
        EXPECT_EQ(Load(WithKey(DefaultText(), key, nullptr), ctx), -1);
        EXPECT_EQ(Load(WithKey(DefaultText(), key, "NOT_FOUND"), ctx), -1);
    }
}

TEST(LoadConstants, MissingSingleValuesAreZero) {
    SimulationContext ctx;
    ASSERT_EQ(Load(WithKey(DefaultText(), "ロス無し係数", nullptr), ctx), 0);
    EXPECT_EQ(ctx.noLossFactor, 0.0);
    EXPECT_EQ(ctx.boosterLoss, 0.97);
}

TEST(LoadConstants, MissingListFieldsAreZero) {
    SimulationContext ctx;
    std::string text = WithKey(DefaultText(), "月間日数", "31,28,31,30,31,30,31,31,30,31,30");
    text = WithKey(text, "時角計算定数a", "0.409");
    ASSERT_EQ(Load(text, ctx), 0);
    EXPECT_EQ(ctx.daysInMonth[10], 30);
    EXPECT_EQ(ctx.daysInMonth[11], 0);
    EXPECT_EQ(ctx.hourAngleA[0], 0.409f);
    EXPECT_EQ(ctx.hourAngleA[1], 0.0);
}

TEST(LoadConstants, ListValuesAreSinglePrecisionAndSingleValuesDouble) {
    SimulationContext ctx;
    std::string text = WithKey(DefaultText(), "地表アルベド計算定数", "0.1,0.7");
    text = WithKey(text, "太陽定数", "0.1");
    ASSERT_EQ(Load(text, ctx), 0);
    EXPECT_EQ(ctx.albedoConstants[0], static_cast<double>(0.1f));
    EXPECT_EQ(ctx.solarConstant, 0.1);
}

TEST(LoadConstants, RefusesDivisorsThatAreZeroOrMissing) {
    SimulationContext ctx;
    for (const char* key : {"全天日射量計算定数", "天空散乱日射量計算定数"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(Load(WithKey(DefaultText(), key, "0"), ctx), -1);
        EXPECT_EQ(Load(WithKey(DefaultText(), key, "abc"), ctx), -1);
        EXPECT_EQ(Load(WithKey(DefaultText(), key, nullptr), ctx), -1);
        EXPECT_EQ(Load(WithKey(DefaultText(), key, "10"), ctx), 0);
    }
}

TEST(LoadConstants, RefusesListValuesThatDoNotFitTheListBuffer) {
    SimulationContext ctx;
    EXPECT_EQ(
        Load(WithKey(DefaultText(), "月間日数", "31,28,31,30,31,30,31,31,30,31,30,31,1,1,1,1,1"),
             ctx),
        -1);
}

TEST(LoadConstants, ClearsTheTablesTheRequestFills) {
    SimulationContext ctx;
    ctx.globalDaily.fill(5);
    ctx.shadowFactor.fill(5);
    ctx.totalMonthly.fill(5);
    ASSERT_EQ(LoadConstants(ctx, test::DefaultConstantsPath()), 0);
    EXPECT_EQ(ctx.globalDaily[3], 0.0);
    EXPECT_EQ(ctx.shadowFactor[3], 0.0);
    EXPECT_EQ(ctx.totalMonthly[3], 0.0);
}

}  // namespace
}  // namespace ys::gencalc
