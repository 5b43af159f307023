#include <gtest/gtest.h>

#include <QBuffer>
#include <QPdfWriter>
#include <algorithm>

#include "app/chart/recording_surface.h"
#include "app/diagnosis/diagnosis_drawing.h"
#include "app/diagnosis/report_layout.h"
#include "app/diagnosis/verdict.h"
#include "tests/app/diagnosis/sample_user.h"

namespace ys {
namespace {

using chart::DrawOp;
using chart::RecordingSurface;

class ReportDrawingTest : public ::testing::Test {
protected:
    void SetUp() override { test::MakeSampleUser(data, 0.8); }
    RecordingSurface Draw(int w, int h, Verdict verdict) {
        layout = LayoutDiagnosisReport(w, h, data, verdict);
        RecordingSurface s;
        DrawDiagnosisReport(s, layout, data);
        return s;
    }
    std::vector<const DrawOp*> ReportTexts(const RecordingSurface& s) {
        std::vector<const DrawOp*> out;
        for (const DrawOp& op : s.ops()) {
            if (op.kind == DrawOp::Kind::kText && op.state.font.face == kReportFontFace) {
                out.push_back(&op);
            }
        }
        return out;
    }
    UserData data;
    ReportLayout layout;
};

TEST_F(ReportDrawingTest, FrameFirstThenChartThenTextsAtTheirPositions) {
    RecordingSurface s = Draw(4960, 7016, Verdict::kPoor);
    ASSERT_FALSE(s.ops().empty());
    const DrawOp& frame = s.ops().front();
    EXPECT_EQ(frame.kind, DrawOp::Kind::kRectangle);
    EXPECT_EQ(frame.x1, 496);
    EXPECT_EQ(frame.y1, 4349);
    EXPECT_EQ(frame.x2, layout.frameRight);
    EXPECT_EQ(frame.y2, 6017);
    EXPECT_EQ(frame.state.pen, chart::kBlack);
    EXPECT_EQ(frame.state.penWidth, 1);
    EXPECT_EQ(frame.state.brush, chart::kWhite);

    // Every text of the layout, in the fixed-pitch face at its cell height, top-left aligned.
    auto texts = ReportTexts(s);
    ASSERT_EQ(texts.size(), layout.texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(texts[i]->text, layout.texts[i].text);
        EXPECT_EQ(texts[i]->x1, layout.texts[i].x);
        EXPECT_EQ(texts[i]->y1, layout.texts[i].y);
        EXPECT_EQ(texts[i]->align, chart::TextAlign::kLeft);
        EXPECT_EQ(texts[i]->state.font.height, layout.texts[i].cellHeight);
        EXPECT_EQ(texts[i]->state.font.weight, 400);
    }
    const DrawOp* title = s.FindText("ヘリオミル結果");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->x1, 496);
    EXPECT_EQ(title->y1, 491);
    EXPECT_EQ(title->state.font.height, 93);
    const DrawOp* verdict = s.FindText("発電量がシミュレーション値を１０％以上下回っております。");
    ASSERT_NE(verdict, nullptr);
    EXPECT_EQ(verdict->y1, 6103);
    EXPECT_EQ(s.saveDepth(), 0);
    EXPECT_EQ(s.state(), chart::SurfaceState{});
}

TEST_F(ReportDrawingTest, ChartIsScaledIntoTheFrame) {
    RecordingSurface s = Draw(4960, 7016, Verdict::kPoor);
    const double m = layout.m;
    // The axis unit at virtual (77, 3), right-aligned; the first year label above column 1.
    const DrawOp* unit = s.FindText("(kWh)");
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->x1, 496 + static_cast<int>(77 * m));
    EXPECT_EQ(unit->y1, 4349 + static_cast<int>(3 * m));
    EXPECT_EQ(unit->state.font.face, chart::kChartFace);
    EXPECT_EQ(unit->state.font.height, static_cast<int>(12 * m));
    const DrawOp* year = s.FindText("2025年");
    ASSERT_NE(year, nullptr);
    EXPECT_EQ(year->x1, 496 + static_cast<int>(108 * m));
    EXPECT_EQ(year->y1, 4349 + static_cast<int>(210 * m));
    // Both series of the last twelve months and the totals, inside the frame.
    EXPECT_NE(s.FindText("ｼﾐｭﾚｰｼｮﾝ値"), nullptr);
    EXPECT_NE(s.FindText("合計"), nullptr);
    EXPECT_NE(s.FindText("6040"), nullptr);  // simulated total of the twelve months
    for (const DrawOp& op : s.ops()) {
        if (op.state.font.face == kReportFontFace) continue;
        EXPECT_GE(op.x1, layout.frameLeft);
        EXPECT_LE(op.x1, layout.frameRight);
        EXPECT_GE(op.y1, layout.frameTop);
        EXPECT_LE(op.y1, layout.frameBottom);
    }
}

TEST_F(ReportDrawingTest, LandscapeChartFollowsTheHeight) {
    RecordingSurface s = Draw(7016, 4960, Verdict::kGood);
    EXPECT_DOUBLE_EQ(layout.m, 0.24 * 4960 / 285);
    const DrawOp* unit = s.FindText("(kWh)");
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->state.font.height, 50);  // 12 x 4.1768
    EXPECT_EQ(s.ops().front().y2, 4265);
}

TEST_F(ReportDrawingTest, DetailsNotEnteredAndVerdictZeroDrawNoVerdict) {
    data.userInfo.detailed = 0;
    RecordingSurface s = Draw(4960, 7016, Verdict::kPoor);
    EXPECT_NE(s.FindText("詳細条件指定なし"), nullptr);
    EXPECT_EQ(s.FindText("発電量がシミュレーション値を１０％以上下回っております。"), nullptr);
    EXPECT_EQ(s.FindText("太陽電池設置情報の詳細が入力されていないため診断できません。"), nullptr);

    data.userInfo.detailed = 1;
    s = Draw(4960, 7016, Verdict::kNone);
    EXPECT_EQ(s.FindText("診断未実施"), nullptr);
    EXPECT_EQ(ReportTexts(s).back()->text, "　影の影響はほとんどない");
}

TEST_F(ReportDrawingTest, PaintsOnAPdfWriter) {
    QByteArray pdf;
    QBuffer buffer(&pdf);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(600);
        ASSERT_TRUE(PaintDiagnosisReport(writer, data, Verdict::kFair));
    }
    EXPECT_TRUE(pdf.startsWith("%PDF-"));
    EXPECT_GT(pdf.size(), 10000);  // the embedded fonts and the drawing
}

}  // namespace
}  // namespace ys
