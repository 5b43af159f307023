// The drawing surface on a QPainter: a pixmap for the pages, the printer for the report.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <optional>
#include <vector>

#include "app/chart/drawing_surface.h"

class QPainter;

namespace ys::chart {

class PainterSurface : public DrawingSurface {
public:
    // The painter must be active for the life of the surface. Its state is taken over; the
    // painter's own font is the surface's initial font.
    explicit PainterSurface(QPainter& painter);
    ~PainterSurface() override;
    PainterSurface(const PainterSurface&) = delete;
    PainterSurface& operator=(const PainterSurface&) = delete;

    void SaveState() override;
    void RestoreState() override;
    void SetPen(Rgb color, int width) override;
    void SetBrush(Rgb color) override;
    void SetFont(const FontSpec& font) override;
    void SetTextColor(Rgb color) override;
    void SetBackground(Rgb color, bool opaque) override;
    void FillRect(int left, int top, int right, int bottom, Rgb color) override;
    void Rectangle(int left, int top, int right, int bottom) override;
    void Line(int x1, int y1, int x2, int y2) override;
    void Text(int x, int y, TextAlign align, std::string_view utf8) override;

private:
    struct State {
        Rgb pen = kBlack;
        int penWidth = 1;
        Rgb brush = kWhite;
        FontSpec font;
        Rgb textColor = kBlack;
        Rgb background = kWhite;
        bool opaque = true;
    };
    void ApplyFont();

    QPainter& p_;
    QFont deviceFont_;
    State st_;
    std::vector<State> saved_;
    QFont font_;
    std::optional<QFontMetrics> metrics_;
};

}  // namespace ys::chart
