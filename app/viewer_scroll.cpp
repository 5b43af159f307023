#include "app/viewer_scroll.h"

#include <algorithm>

namespace ys {

int ScrollRange::Limit() const {
    return std::max(min, max - page + 1);
}

ScrollRange ViewerScrollRange(int bitmapWidth, int areaWidth) {
    return {0, bitmapWidth / kScrollUnit - 1, areaWidth / kScrollUnit + 1};
}

int NextScrollPosition(const ScrollRange& range, int position, ScrollRequest request, int thumb) {
    const int limit = range.Limit();
    switch (request) {
        case ScrollRequest::kLineLeft:
            return position > range.min ? position - 1 : position;
        case ScrollRequest::kLineRight:
            return position < limit ? position + 1 : position;
        case ScrollRequest::kPageLeft:
            return position > range.min ? std::max(range.min, position - range.page) : position;
        case ScrollRequest::kPageRight:
            return position < limit ? std::min(limit, position + range.page) : position;
        case ScrollRequest::kThumbTrack:
        case ScrollRequest::kThumbPosition:
            return std::clamp(thumb, range.min, limit);
        case ScrollRequest::kLeftEnd:
            return range.min;
        case ScrollRequest::kRightEnd:
            return limit;
        case ScrollRequest::kEndScroll:
            return position;
    }
    return position;
}

int ClampScrollPosition(const ScrollRange& range, int position) {
    return std::clamp(position, range.min, range.Limit());
}

}  // namespace ys
