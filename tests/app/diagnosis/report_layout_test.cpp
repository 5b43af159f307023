#include "app/diagnosis/report_layout.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/diagnosis/verdict.h"
#include "platform/codepage.h"
#include "tests/app/diagnosis/sample_user.h"

namespace ys {
namespace {

// A4 at 600 dpi, portrait and landscape.
constexpr int kA4W = 4960;
constexpr int kA4H = 7016;

const ReportText* Find(const ReportLayout& l, std::string_view prefix) {
    auto it = std::find_if(l.texts.begin(), l.texts.end(),
                           [&](const ReportText& t) { return t.text.starts_with(prefix); });
    return it == l.texts.end() ? nullptr : &*it;
}

int Count(const ReportLayout& l, std::string_view prefix) {
    return static_cast<int>(std::count_if(l.texts.begin(), l.texts.end(), [&](const ReportText& t) {
        return t.text.starts_with(prefix);
    }));
}

class ReportLayoutTest : public ::testing::Test {
protected:
    void SetUp() override { test::MakeSampleUser(data, 0.95); }
    UserData data;
};

TEST_F(ReportLayoutTest, PortraitQuantitiesFollowTheWidth) {
    ReportLayout l = LayoutDiagnosisReport(kA4W, kA4H, data, Verdict::kFair);
    EXPECT_EQ(l.left, 496);
    EXPECT_EQ(l.indent, 99);
    EXPECT_EQ(l.step, 140);
    EXPECT_DOUBLE_EQ(l.m, 0.8 * kA4W / 678);
    EXPECT_EQ(l.frameLeft, 496);
    EXPECT_EQ(l.frameTop, 4349);         // 0.62 H = 4349.92
    EXPECT_NEAR(l.frameRight, 4464, 1);  // 0.1 W + 0.8 W
    EXPECT_EQ(l.frameBottom, 6017);      // 4349.92 + 285 x 5.8525 = 6017.9
    EXPECT_EQ(l.chartOriginX, 496);
    EXPECT_EQ(l.chartOriginY, 4349);
    EXPECT_LT(l.frameBottom, static_cast<int>(0.87 * kA4H));
    // Cell heights trunc(m x size): m = 5.8525
    EXPECT_EQ(Find(l, "ヘリオミル結果")->cellHeight, 93);
    EXPECT_EQ(Find(l, "ユーザー情報")->cellHeight, 87);
    EXPECT_EQ(Find(l, "お名前")->cellHeight, 81);
    EXPECT_EQ(Find(l, "設置面1")->cellHeight, 70);
}

TEST_F(ReportLayoutTest, PortraitPositionsOfEveryBlock) {
    data.userInfo.surfaceKw = {2.16, 0.0, 1.32, 0.0};  // surfaces 1 and 3 only
    ReportLayout l = LayoutDiagnosisReport(kA4W, kA4H, data, Verdict::kFair);
    auto at = [&](std::string_view prefix) {
        const ReportText* t = Find(l, prefix);
        EXPECT_NE(t, nullptr) << prefix;
        return t ? std::pair{t->x, t->y} : std::pair{-1, -1};
    };
    EXPECT_EQ(at("発電シミュレーション値と実発電量の比較"), std::pair(496, 4139));
    EXPECT_EQ(at("シミュレーション値（左側グラフ）"), std::pair(3224, 4139));
    EXPECT_EQ(at("　　　　発電実績値（右側グラフ）"), std::pair(3224, 4244));
    EXPECT_EQ(at("ヘリオミル結果"), std::pair(496, 491));
    EXPECT_EQ(at("ユーザー情報"), std::pair(496, 701));
    EXPECT_EQ(at("お名前"), std::pair(595, 911));
    EXPECT_EQ(at("ご住所"), std::pair(595, 1051));
    EXPECT_EQ(at("最寄地域"), std::pair(595, 2031));
    EXPECT_EQ(at("太陽電池設置情報"), std::pair(496, 2311));
    EXPECT_EQ(at("パワーコンディショナ"), std::pair(595, 2521));
    EXPECT_EQ(at("          　  方位角"), std::pair(595, 2731));
    EXPECT_EQ(at("設置面1"), std::pair(595, 2871));
    EXPECT_EQ(at("設置面3"), std::pair(595, 3011));  // the next row, no gap for surface 2
    EXPECT_EQ(Count(l, "設置面"), 2);
    EXPECT_EQ(at("影の影響"), std::pair(496, 3291));
    EXPECT_EQ(at("　影の影響はほとんどない"), std::pair(595, 3501));
    EXPECT_EQ(at("発電量とシミュレーション値の誤差"), std::pair(496, 6103));
    EXPECT_EQ(at("順調に稼働"), std::pair(496, 6243));
    EXPECT_EQ(at("続けるようであれば"), std::pair(496, 6383));
    EXPECT_EQ(Count(l, "販売店："), 0);  // no dealer line on paper
}

TEST_F(ReportLayoutTest, TextsOfTheHouseholdAndTheInstallation) {
    data.userInfo.surfaceKw = {0.0, 1.44, 0.0, 0.0};
    data.userInfo.installMonth = 4;
    data.userInfo.capacityKw = 4.5;
    ReportLayout l = LayoutDiagnosisReport(kA4W, kA4H, data, Verdict::kGood);
    std::vector<std::string> texts;
    for (const auto& t : l.texts) texts.push_back(t.text);
    const std::vector<std::string> expected = {
        "発電シミュレーション値と実発電量の比較",
        "シミュレーション値（左側グラフ）",
        "　　　　発電実績値（右側グラフ）",
        "ヘリオミル結果",
        "ユーザー情報",
        "お名前　　：　山田 太郎 様",
        "ご住所　　：　東京都千代田区千代田１－１",
        "お電話番号：　03-1234-5678",
        "Ｅメール　：　taro.yamada@example.jp",
        "販社名称　：　サンプル電設",
        "販社TEL 　：　03-9876-5432",
        "設置年月　：　2024年 4月",
        "設置容量　：　4.50 (kW)",
        "最寄地域　：　東京",
        "太陽電池設置情報",
        "パワーコンディショナ ：　ノルベイン パワコン 5.5kW(NPC-55A)",
        "          　  方位角  傾斜角  昇圧ユニット  電池容量  (180W) (120W) ( 95W)",
        "設置面2 ：    -90.0      25      使用する    1.44kW      8枚    0枚    0枚",
        "影の影響",
        "　影の影響はほとんどない",
        "発電量がシミュレーション値を上回っており、システムは正常に稼働して",
        "いると思われます。今後も定期的に診断を実施されることをお勧めします。",
    };
    EXPECT_EQ(texts, expected);
}

TEST_F(ReportLayoutTest, RowsLineUpInTheFixedPitchColumns) {
    ReportLayout l = LayoutDiagnosisReport(kA4W, kA4H, data, Verdict::kGood);
    // Every surface row has the same width in half-width columns (CP932 bytes).
    std::vector<std::size_t> widths;
    for (const auto& t : l.texts) {
        if (t.text.starts_with("設置面")) widths.push_back(codepage::Utf8ToCp932(t.text)->size());
    }
    ASSERT_EQ(widths.size(), 4u);
    for (std::size_t w : widths) EXPECT_EQ(w, widths[0]);
    EXPECT_NE(Find(l, "設置面3 ：     90.0      25    使用しない    1.32kW      4枚    5枚    0枚"),
              nullptr);
    EXPECT_NE(Find(l, "設置面4 ：     45.5      20      使用する    0.84kW      0枚    4枚    4枚"),
              nullptr);
}

TEST_F(ReportLayoutTest, WithoutSurfacesTheSectionEndsTwoStepsBelowTheHeader) {
    data.userInfo.surfaceKw = {};
    ReportLayout l = LayoutDiagnosisReport(kA4W, kA4H, data, Verdict::kGood);
    EXPECT_EQ(Count(l, "設置面"), 0);
    EXPECT_EQ(Find(l, "影の影響")->y, 2731 + 280);
}

TEST_F(ReportLayoutTest, EmptyModelLeavesNoParentheses) {
    data.userInfo.pcModel.clear();
    ReportLayout l = LayoutDiagnosisReport(kA4W, kA4H, data, Verdict::kGood);
    EXPECT_EQ(Find(l, "パワーコンディショナ")->text,
              "パワーコンディショナ ：　ノルベイン パワコン 5.5kW");
}

TEST_F(ReportLayoutTest, DetailsNotEnteredPrintNoTableAndNoVerdict) {
    data.userInfo.detailed = 0;
    ReportLayout l = LayoutDiagnosisReport(kA4W, kA4H, data, Verdict::kPoor);
    const ReportText* none = Find(l, "詳細条件指定なし");
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->x, 595);
    EXPECT_EQ(none->y, 2521);
    EXPECT_EQ(none->cellHeight, 70);
    EXPECT_EQ(Count(l, "パワーコンディショナ"), 0);
    EXPECT_EQ(Count(l, "設置面"), 0);
    EXPECT_EQ(Find(l, "影の影響")->y, 2521 + 280);
    EXPECT_EQ(Count(l, "発電量"), 0);
    EXPECT_EQ(Count(l, "機器異常"), 0);
}

TEST_F(ReportLayoutTest, NoVerdictLinesBeforeADiagnosis) {
    ReportLayout l = LayoutDiagnosisReport(kA4W, kA4H, data, Verdict::kNone);
    EXPECT_EQ(Count(l, "診断未実施"), 0);
    EXPECT_EQ(l.texts.back().text, "　影の影響はほとんどない");
    l = LayoutDiagnosisReport(kA4W, kA4H, data, Verdict::kPoor);
    EXPECT_EQ(Count(l, "発電量がシミュレーション値を１０％以上下回っております。"), 1);
    EXPECT_EQ(Count(l, "機器異常"), 1);
    EXPECT_EQ(l.texts.back().y, 6103 + 140);
}

TEST_F(ReportLayoutTest, LandscapeScaleFollowsTheHeightAndKeepsTheChartOnThePage) {
    ReportLayout l = LayoutDiagnosisReport(kA4H, kA4W, data, Verdict::kGood);
    // 0.24 H / 285 = 4.1768, well below 0.8 W / 678 = 8.278: the chart ends at 0.86 H.
    EXPECT_DOUBLE_EQ(l.m, 0.24 * kA4W / 285);
    EXPECT_EQ(l.left, 701);
    EXPECT_EQ(l.indent, 140);
    EXPECT_EQ(l.step, 99);
    EXPECT_EQ(l.frameTop, 3075);
    EXPECT_EQ(l.frameRight, 3533);   // 701.6 + 678 x 4.1768
    EXPECT_EQ(l.frameBottom, 4265);  // 3075.2 + 1190.4
    EXPECT_EQ(Find(l, "ヘリオミル結果")->cellHeight, 66);
    EXPECT_EQ(Find(l, "ユーザー情報")->cellHeight, 62);
    EXPECT_EQ(Find(l, "お名前")->cellHeight, 58);
    EXPECT_EQ(Find(l, "設置面1")->cellHeight, 50);
    EXPECT_EQ(Find(l, "お名前")->y, 496 + 148);
    const ReportText* verdict = Find(l, "発電量がシミュレーション値を上回って");
    EXPECT_EQ(verdict->y, 4315);
    EXPECT_LT(l.frameBottom, verdict->y);
}

TEST_F(ReportLayoutTest, ChartEndsAboveTheVerdictOnEveryPage) {
    struct Page {
        int w, h;
    };
    for (Page p : {Page{kA4W, kA4H}, Page{5100, 6600}, Page{6600, 5100}, Page{4760, 6814},
                   Page{kA4H, kA4W}, Page{1000, 3000}}) {
        ReportLayout l = LayoutDiagnosisReport(p.w, p.h, data, Verdict::kPoor);
        const ReportText* verdict = Find(l, "発電量がシミュレーション値を１０％以上");
        ASSERT_NE(verdict, nullptr);
        EXPECT_LT(l.frameBottom, verdict->y) << p.w << "x" << p.h;
        EXPECT_LT(l.frameRight, p.w) << p.w << "x" << p.h;
        EXPECT_LT(verdict->y + 2 * l.step, p.h);
    }
    // Letter portrait: the width would allow 6.02, the verdict lines only 5.56.
    EXPECT_EQ(LayoutDiagnosisReport(5100, 6600, data, Verdict::kGood).frameBottom, 5676);
}

}  // namespace
}  // namespace ys
