// Dialog units to pixels from the dialog font's metrics, so that every page keeps the
// proportions its layout was drawn in: a horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its character height.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace ys::gui {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    // Fixed base units (average character width and height in pixels), for tests.
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

    int X(int du) const;
    int Y(int du) const;
    QPoint Pos(int x, int y) const { return {X(x), Y(y)}; }
    QSize Size(int w, int h) const { return {X(w), Y(h)}; }
    QRect Rect(int x, int y, int w, int h) const { return {Pos(x, y), Size(w, h)}; }

    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }

private:
    int baseX_;
    int baseY_;
};

// The dialog font of the main window and its pages ("MS UI Gothic", 9 points).
QFont DialogFont();

// The units of the dialog font; computed once.
const DialogUnits& Dlu();

}  // namespace ys::gui
