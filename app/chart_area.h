// The picture control of the chart pages: shows a chart bitmap drawn earlier, whole or with the
// viewer's fixed left strip and a scrolled remainder.
#pragma once

#include <QPixmap>
#include <QWidget>

namespace ys::gui {

class ChartArea : public QWidget {
    Q_OBJECT
public:
    explicit ChartArea(QWidget* parent = nullptr);

    void SetPixmap(QPixmap pixmap) { pixmap_ = std::move(pixmap); }
    void ReleasePixmap() { pixmap_ = QPixmap(); }
    const QPixmap& pixmap() const { return pixmap_; }

    // Whether painting copies the bitmap at all (the pages leave the area empty without data).
    void SetPaintEnabled(bool on) { paintEnabled_ = on; }
    bool paintEnabled() const { return paintEnabled_ && !pixmap_.isNull(); }

    // Split painting: the bitmap's left `fixedWidth` units stay at the left edge, the rest of
    // the area shows the bitmap from `sourceX`. A fixed width of 0 copies the bitmap as it is.
    void SetSplit(int fixedWidth, int sourceX);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap pixmap_;
    bool paintEnabled_ = true;
    int fixedWidth_ = 0;
    int sourceX_ = 0;
};

}  // namespace ys::gui
