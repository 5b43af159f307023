// Off-screen chart bitmaps for the pages, drawn at the screen's device-pixel ratio so that the
// charts stay sharp on a high-density screen.
#pragma once

#include <QPixmap>
#include <QSize>

#include "app/chart/bar_chart.h"

namespace ys::chart {

// A bitmap of `size` device-independent pixels at `devicePixelRatio` (lowered where the bitmap
// would exceed the largest size the painter handles), cleared white, with the chart drawn on
// it. `data.surface` is set for the drawing and cleared again.
QPixmap RenderChartPixmap(QSize size, qreal devicePixelRatio, ChartType type, int roundExponent,
                          ChartData& data);

}  // namespace ys::chart
