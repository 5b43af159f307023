#include "app/chart_area.h"

#include <QPainter>
#include <algorithm>

namespace ys::gui {

ChartArea::ChartArea(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void ChartArea::SetSplit(int fixedWidth, int sourceX) {
    fixedWidth_ = fixedWidth;
    sourceX_ = sourceX;
}

void ChartArea::paintEvent(QPaintEvent*) {
    if (!paintEnabled()) return;
    QPainter p(this);
    const qreal dpr = pixmap_.devicePixelRatio();
    const QSizeF logical = pixmap_.deviceIndependentSize();
    const int h = std::min(height(), static_cast<int>(logical.height()));
    // Source rectangles are in the bitmap's own pixels; nothing is read beyond its edge.
    auto copy = [&](int targetX, int sourceX, int width) {
        width = std::min(width, static_cast<int>(logical.width()) - sourceX);
        if (width <= 0 || sourceX < 0) return;
        p.drawPixmap(QRectF(targetX, 0, width, h), pixmap_,
                     QRectF(sourceX * dpr, 0, width * dpr, h * dpr));
    };
    if (fixedWidth_ <= 0) {
        copy(0, 0, width());
        return;
    }
    copy(0, 0, fixedWidth_);
    copy(fixedWidth_, sourceX_, width() - fixedWidth_);
}

}  // namespace ys::gui
