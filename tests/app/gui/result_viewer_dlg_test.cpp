#include "app/result_viewer_dlg.h"

#include <gtest/gtest.h>

#include <QRadioButton>
#include <QScrollBar>

#include "app/chart_area.h"
#include "tests/app/gui/page_harness.h"

namespace ys::gui {
namespace {

class ViewerTest : public test::PageHarness {
protected:
    void Days(int n) {
        app.dayCount = n;
        for (int i = 0; i < n; ++i) {
            app.days[i].date = MakeLocalTime(2025, 11, 1 + i);
            app.days[i].generation = static_cast<std::int16_t>(i % 25);
        }
    }
    // The main window is opened with installation 2026/10 and "today" 2026/12/7: one month.
    CResultViewerDlg* Open() {
        dlg = Make({Page::kResultViewer});
        dlg->show();
        return static_cast<CResultViewerDlg*>(dlg->page(Page::kResultViewer));
    }
    std::unique_ptr<CYieldscopeDlg> dlg;
};

TEST_F(ViewerTest, WithoutRecordsBothButtonsAreDisabledAndTheAreaStaysEmpty) {
    app.userInfo.installYear = 2026;
    app.userInfo.installMonth = 11;  // the month table is empty
    CResultViewerDlg* v = Open();
    dlg->ShowPage(Page::kResultViewer);
    EXPECT_EQ(app.monthCount, 0);
    EXPECT_FALSE(v->monthlyButton()->isEnabled());
    EXPECT_FALSE(v->dailyButton()->isEnabled());
    EXPECT_FALSE(v->monthlyButton()->isChecked());
    EXPECT_FALSE(v->chartArea()->paintEnabled());
}

TEST_F(ViewerTest, WithDaysOnlyTheDailyChartAppearsWhenChosen) {
    app.userInfo.installYear = 2026;
    app.userInfo.installMonth = 11;
    Days(400);
    CResultViewerDlg* v = Open();
    dlg->ShowPage(Page::kResultViewer);
    EXPECT_FALSE(v->monthlyButton()->isEnabled());
    EXPECT_FALSE(v->monthlyButton()->isChecked());
    EXPECT_TRUE(v->dailyButton()->isEnabled());
    EXPECT_FALSE(v->dailyButton()->isChecked());
    EXPECT_FALSE(v->chartArea()->paintEnabled());

    v->dailyButton()->click();
    EXPECT_EQ(v->mode(), 1);
    EXPECT_TRUE(v->dailyButton()->isChecked());
    EXPECT_TRUE(v->chartArea()->paintEnabled());
    // 400 days: a 7,300-unit bitmap; the bar's maximum is 729.
    EXPECT_EQ(v->chartArea()->pixmap().deviceIndependentSize().width(), 7300);
    EXPECT_EQ(v->chartArea()->pixmap().deviceIndependentSize().height(), v->chartArea()->height());
    EXPECT_EQ(v->scrollRange().max, 729);
    EXPECT_EQ(v->scrollRange().page, v->chartArea()->width() / 10 + 1);
    EXPECT_EQ(v->scrollBar()->maximum(), v->scrollRange().Limit());
    EXPECT_EQ(v->scrollBar()->pageStep(), v->scrollRange().page);

    // The next showing reads the daily mode from its button.
    dlg->ShowPage(Page::kUserInfo);
    EXPECT_TRUE(v->chartArea()->pixmap().isNull());
    dlg->ShowPage(Page::kResultViewer);
    EXPECT_EQ(v->mode(), 1);
    EXPECT_TRUE(v->chartArea()->paintEnabled());
}

TEST_F(ViewerTest, ScrollBarRequestsFollowTheViewerRules) {
    Days(400);
    CResultViewerDlg* v = Open();
    dlg->ShowPage(Page::kResultViewer);
    v->dailyButton()->click();
    const int limit = v->scrollRange().Limit();
    const int page = v->scrollRange().page;
    QScrollBar* bar = v->scrollBar();

    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(v->scrollPosition(), 0);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(v->scrollPosition(), page);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(v->scrollPosition(), page + 1);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(v->scrollPosition(), limit);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(v->scrollPosition(), limit);
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(v->scrollPosition(), 0);
    v->Scroll(ScrollRequest::kThumbPosition, 300);
    EXPECT_EQ(v->scrollPosition(), 300);
    EXPECT_EQ(bar->value(), 300);
}

TEST_F(ViewerTest, SwitchingModesResetsTheScrollPositionChoosingTheSameKeepsIt) {
    Days(400);  // and 2 months of the month table
    CResultViewerDlg* v = Open();
    dlg->ShowPage(Page::kResultViewer);
    EXPECT_EQ(v->mode(), 0);
    EXPECT_EQ(v->chartArea()->pixmap().deviceIndependentSize().width(), app.monthCount * 40 + 100);
    v->dailyButton()->click();
    v->Scroll(ScrollRequest::kPageRight);
    const int pos = v->scrollPosition();
    EXPECT_GT(pos, 0);
    v->dailyButton()->click();
    EXPECT_EQ(v->scrollPosition(), pos);
    EXPECT_TRUE(v->dailyButton()->isChecked());
    v->monthlyButton()->click();
    EXPECT_EQ(v->mode(), 0);
    EXPECT_EQ(v->scrollPosition(), 0);
    EXPECT_FALSE(v->dailyButton()->isChecked());
}

TEST_F(ViewerTest, AKeptPositionIsBroughtIntoTheRangeOfNewData) {
    Days(400);
    CResultViewerDlg* v = Open();
    dlg->ShowPage(Page::kResultViewer);
    v->dailyButton()->click();
    v->Scroll(ScrollRequest::kRightEnd);
    dlg->ShowPage(Page::kUserInfo);
    Days(40);  // a smaller file was loaded meanwhile
    dlg->ShowPage(Page::kResultViewer);
    EXPECT_EQ(v->scrollPosition(), v->scrollRange().Limit());
    EXPECT_LE(ScrolledSourceX(v->scrollPosition()) + v->chartArea()->width() - kFixedStripWidth,
              40 * 18 + 100);
}

}  // namespace
}  // namespace ys::gui
