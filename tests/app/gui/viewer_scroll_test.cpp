#include "app/viewer_scroll.h"

#include <gtest/gtest.h>

namespace ys {
namespace {

using R = ScrollRequest;

TEST(ViewerScroll, FourHundredDaysInTheViewerArea) {
    // 400 days of 18 units plus 100: a 7,300-unit bitmap in an area 656 units wide.
    const ScrollRange r = ViewerScrollRange(7300, 656);
    EXPECT_EQ(r.min, 0);
    EXPECT_EQ(r.max, 729);
    EXPECT_EQ(r.page, 66);
    EXPECT_EQ(r.Limit(), 664);
    EXPECT_EQ(ScrolledSourceX(664), 6720);  // the last page ends inside the bitmap
    EXPECT_LE(ScrolledSourceX(664) + 656 - kFixedStripWidth, 7300);
}

TEST(ViewerScroll, StepsAndPagesStopAtBothEnds) {
    const ScrollRange r = ViewerScrollRange(7300, 656);
    EXPECT_EQ(NextScrollPosition(r, 0, R::kLineLeft, 0), 0);
    EXPECT_EQ(NextScrollPosition(r, 0, R::kPageLeft, 0), 0);
    EXPECT_EQ(NextScrollPosition(r, 0, R::kLineRight, 0), 1);
    EXPECT_EQ(NextScrollPosition(r, 0, R::kPageRight, 0), 66);
    EXPECT_EQ(NextScrollPosition(r, 30, R::kPageLeft, 0), 0);  // not below the minimum
    EXPECT_EQ(NextScrollPosition(r, 100, R::kPageLeft, 0), 34);
    EXPECT_EQ(NextScrollPosition(r, 600, R::kPageRight, 0), 664);  // not above the limit
    EXPECT_EQ(NextScrollPosition(r, 664, R::kPageRight, 0), 664);
    EXPECT_EQ(NextScrollPosition(r, 664, R::kLineRight, 0), 664);
    EXPECT_EQ(NextScrollPosition(r, 664, R::kLineLeft, 0), 663);
    EXPECT_EQ(NextScrollPosition(r, 300, R::kLeftEnd, 0), 0);
    EXPECT_EQ(NextScrollPosition(r, 300, R::kRightEnd, 0), 664);
    EXPECT_EQ(NextScrollPosition(r, 300, R::kThumbTrack, 123), 123);
    EXPECT_EQ(NextScrollPosition(r, 300, R::kThumbPosition, 700), 664);
    EXPECT_EQ(NextScrollPosition(r, 300, R::kEndScroll, 5), 300);
}

TEST(ViewerScroll, AChartNarrowerThanTheAreaNeverScrolls) {
    // Three months: 220 units in 656.
    const ScrollRange r = ViewerScrollRange(3 * 40 + 100, 656);
    EXPECT_EQ(r.max, 21);
    EXPECT_EQ(r.Limit(), 0);
    for (R req : {R::kLineRight, R::kPageRight, R::kRightEnd, R::kLineLeft, R::kPageLeft}) {
        EXPECT_EQ(NextScrollPosition(r, 0, req, 0), 0);
    }
    EXPECT_EQ(ClampScrollPosition(r, 50), 0);
    EXPECT_EQ(ClampScrollPosition(ViewerScrollRange(7300, 656), 700), 664);
    EXPECT_EQ(ClampScrollPosition(ViewerScrollRange(7300, 656), -3), 0);
}

}  // namespace
}  // namespace ys
