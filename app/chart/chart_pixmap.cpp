#include "app/chart/chart_pixmap.h"

#include <QPainter>
#include <algorithm>

#include "app/chart/painter_surface.h"

namespace ys::chart {

QPixmap RenderChartPixmap(QSize size, qreal devicePixelRatio, ChartType type, int roundExponent,
                          ChartData& data) {
    constexpr int kMaxDeviceSide = 32767;
    const int longest = std::max({size.width(), size.height(), 1});
    const qreal dpr = std::clamp<qreal>(devicePixelRatio, 1.0, qreal(kMaxDeviceSide) / longest);
    QPixmap pixmap(size * dpr);
    pixmap.setDevicePixelRatio(dpr);
    {
        QPainter painter(&pixmap);
        PainterSurface surface(painter);
        data.surface = &surface;
        DrawBarChart(size.width(), size.height(), type, true, roundExponent, data);
        data.surface = nullptr;
    }
    return pixmap;
}

}  // namespace ys::chart
