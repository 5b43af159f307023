// The scroll arithmetic of the generation data viewer: the chart bitmap scrolls in steps of 10
// device units behind a fixed strip of 80 units that holds the value axis and row headers.
#pragma once

namespace ys {

inline constexpr int kScrollUnit = 10;
inline constexpr int kFixedStripWidth = 80;

enum class ScrollRequest {
    kLineLeft,
    kLineRight,
    kPageLeft,
    kPageRight,
    kThumbTrack,
    kThumbPosition,
    kLeftEnd,
    kRightEnd,
    kEndScroll,
};

struct ScrollRange {
    int min = 0;
    int max = 0;
    int page = 0;
    // The largest position at which a whole page is visible; never below min, so that a chart
    // narrower than the area cannot be scrolled to a negative position.
    int Limit() const;
};

// Minimum 0, maximum bitmapWidth / 10 - 1, page areaWidth / 10 + 1.
ScrollRange ViewerScrollRange(int bitmapWidth, int areaWidth);

// The position after a request of the scroll bar; `thumb` is the thumb's position for the
// thumb requests.
int NextScrollPosition(const ScrollRange& range, int position, ScrollRequest request, int thumb);

// A stored position brought into min..Limit() (after the chart was rebuilt for other data).
int ClampScrollPosition(const ScrollRange& range, int position);

// Where in the bitmap the scrolled part of the area starts.
inline int ScrolledSourceX(int position) {
    return position * kScrollUnit + kFixedStripWidth;
}

}  // namespace ys
