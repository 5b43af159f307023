#include "app/solar_sim_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "app/chart_area.h"
#include "app/message_dlg.h"
#include "tests/app/gui/page_harness.h"

namespace ys::gui {
namespace {

using SimPageTest = test::PageHarness;

int CountColour(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == colour ? 1 : 0;
    }
    return n;
}

TEST(AnnualTotal, SixPlacesAtLeast) {
    EXPECT_EQ(FormatAnnualTotal(5080), QStringLiteral("  5080 kWh"));
    EXPECT_EQ(FormatAnnualTotal(0), QStringLiteral("     0 kWh"));
    EXPECT_EQ(FormatAnnualTotal(1234567), QStringLiteral("1234567 kWh"));
}

TEST_F(SimPageTest, BeforeASimulationTheChartAndTotalStayEmpty) {
    auto dlg = Make({Page::kSolarSim});
    dlg->show();
    auto* page = static_cast<CSolarSimDlg*>(dlg->page(Page::kSolarSim));
    dlg->ShowPage(Page::kSolarSim);
    EXPECT_FALSE(page->chartArea()->pixmap().isNull());  // drawn, but not shown
    EXPECT_FALSE(page->chartArea()->paintEnabled());
    EXPECT_TRUE(page->totalBox()->text().isEmpty());
    const QImage shot = page->chartArea()->grab().toImage();
    EXPECT_EQ(CountColour(shot, qRgb(0, 255, 255)), 0);
    EXPECT_EQ(CountColour(shot, qRgb(255, 255, 255)), 0);
}

TEST_F(SimPageTest, AfterASimulationTheChartAndTheAnnualTotalAreShown) {
    const int values[12] = {310, 350, 450, 500, 540, 470, 500, 540, 420, 380, 320, 300};
    for (int i = 0; i < 12; ++i) app.simMonthly[i] = values[i];
    app.simDone = 1;
    auto dlg = Make({Page::kSolarSim});
    dlg->show();
    auto* page = static_cast<CSolarSimDlg*>(dlg->page(Page::kSolarSim));
    dlg->ShowPage(Page::kSolarSim);
    EXPECT_EQ(page->annualTotal(), 5080);
    EXPECT_EQ(page->totalBox()->text(), QStringLiteral("  5080 kWh"));
    const QPixmap& pm = page->chartArea()->pixmap();
    EXPECT_EQ(pm.deviceIndependentSize().toSize(), page->chartArea()->size());
    EXPECT_EQ(pm.devicePixelRatio(), page->devicePixelRatioF());
    const QImage shot = page->chartArea()->grab().toImage();
    EXPECT_GT(CountColour(shot, qRgb(0, 255, 255)), 1000);

    // Values change only with the next showing; hiding releases the bitmap.
    app.simMonthly[0] = 1000;
    EXPECT_EQ(page->annualTotal(), 5080);
    dlg->ShowPage(Page::kUserInfo);
    EXPECT_TRUE(page->chartArea()->pixmap().isNull());
    dlg->ShowPage(Page::kSolarSim);
    EXPECT_EQ(page->totalBox()->text(), QStringLiteral("  5770 kWh"));
}

TEST_F(SimPageTest, TheLeadOnButtonShowsTheEntryPageAndFocusesItsButton) {
    auto dlg = Make({Page::kSolarSim});
    dlg->show();
    dlg->ShowPage(Page::kSolarSim);
    log.clear();
    dlg->page(Page::kSolarSim)->findChild<QPushButton*>(QStringLiteral("button1003"))->click();
    EXPECT_EQ(dlg->currentPage(), dlg->page(Page::kResultInput));
    EXPECT_EQ(log, (std::vector<test::Call>{{2, 0, 0}}));
    EXPECT_EQ(dlg->focusWidget(), dlg->button(1002));
}

TEST_F(SimPageTest, TheCalculationBasisDialogShowsItsFixedText) {
    auto dlg = Make({Page::kSolarSim});
    dlg->ShowPage(Page::kSolarSim);
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* basis = qobject_cast<CMessageDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(basis, nullptr);
        seen = true;
        EXPECT_EQ(basis->windowTitle(),
                  QStringLiteral("「月間および年間予測発電電力量」の算出根拠について"));
        EXPECT_TRUE(basis->textField()->isReadOnly());
        const QStringList lines = basis->textField()->toPlainText().split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 16);
        EXPECT_EQ(
            lines[0],
            QStringLiteral("「月間および年間予測発電電力量」は、次の条件で算出しております。"));
        EXPECT_EQ(lines[2], QStringLiteral("　 ※システムの「太陽電池容量」は、JIS "
                                           "規格に基づいて算出された太陽電池モジュール"));
        EXPECT_EQ(lines[15], QStringLiteral("（5） 太陽電池モジュール設置条件 傾斜角および方位"));
        basis->accept();
    });
    dlg->page(Page::kSolarSim)->findChild<QPushButton*>(QStringLiteral("button1109"))->click();
    EXPECT_TRUE(seen);
    // The text itself: sixteen lines, each ended by CR LF.
    std::size_t crlf = 0;
    for (std::size_t p = 0; (p = kCalculationBasisText.find("\r\n", p)) != std::string_view::npos;
         p += 2) {
        ++crlf;
    }
    EXPECT_EQ(crlf, 16u);
    EXPECT_TRUE(kCalculationBasisText.ends_with("\r\n"));
}

}  // namespace
}  // namespace ys::gui
