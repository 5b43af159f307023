#include "app/chart/painter_surface.h"

#include <QPainter>
#include <QPen>

#include "app/fonts.h"

namespace ys::chart {
namespace {

QColor ToQColor(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

}  // namespace

PainterSurface::PainterSurface(QPainter& painter) : p_(painter), deviceFont_(painter.font()) {
    p_.save();
    p_.setRenderHint(QPainter::Antialiasing, false);
    p_.setBackgroundMode(Qt::TransparentMode);  // text backgrounds are painted here, not by Qt
    ApplyFont();
}

PainterSurface::~PainterSurface() {
    p_.restore();
}

void PainterSurface::SaveState() {
    saved_.push_back(st_);
}

void PainterSurface::RestoreState() {
    if (saved_.empty()) return;
    const bool fontChanged = !(saved_.back().font == st_.font);
    st_ = saved_.back();
    saved_.pop_back();
    if (fontChanged) ApplyFont();
}

void PainterSurface::SetPen(Rgb color, int width) {
    st_.pen = color;
    st_.penWidth = width;
}

void PainterSurface::SetBrush(Rgb color) {
    st_.brush = color;
}

void PainterSurface::SetFont(const FontSpec& font) {
    if (font == st_.font) return;
    st_.font = font;
    ApplyFont();
}

void PainterSurface::SetTextColor(Rgb color) {
    st_.textColor = color;
}

void PainterSurface::SetBackground(Rgb color, bool opaque) {
    st_.background = color;
    st_.opaque = opaque;
}

void PainterSurface::ApplyFont() {
    if (st_.font.face.empty() || st_.font.height <= 0) {
        font_ = deviceFont_;
    } else {
        font_ =
            gui::FaceFont(QString::fromStdString(st_.font.face), st_.font.height, st_.font.weight);
    }
    p_.setFont(font_);
    metrics_.emplace(font_, p_.device());
}

void PainterSurface::FillRect(int left, int top, int right, int bottom, Rgb color) {
    p_.fillRect(QRect(left, top, right - left, bottom - top), ToQColor(color));
}

void PainterSurface::Rectangle(int left, int top, int right, int bottom) {
    const QRect r(left, top, right - left, bottom - top);
    if (r.width() <= 0 || r.height() <= 0) return;
    p_.fillRect(r, ToQColor(st_.brush));
    QPen pen(ToQColor(st_.pen));
    pen.setWidth(std::max(1, st_.penWidth));
    pen.setJoinStyle(Qt::MiterJoin);
    p_.setPen(pen);
    p_.setBrush(Qt::NoBrush);
    // A 1-unit outline on the rectangle's outermost pixels, as the fill covers them.
    p_.drawRect(QRect(left, top, r.width() - 1, r.height() - 1));
}

void PainterSurface::Line(int x1, int y1, int x2, int y2) {
    QPen pen(ToQColor(st_.pen));
    pen.setWidth(std::max(1, st_.penWidth));
    pen.setCapStyle(Qt::FlatCap);
    p_.setPen(pen);
    p_.drawLine(x1, y1, x2, y2);
}

void PainterSurface::Text(int x, int y, TextAlign align, std::string_view utf8) {
    if (utf8.empty()) return;
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    const int width = metrics_->horizontalAdvance(text);
    int left = x;
    if (align == TextAlign::kCenter) left = x - width / 2;
    if (align == TextAlign::kRight) left = x - width;
    if (st_.opaque)
        p_.fillRect(QRect(left, y, width, metrics_->height()), ToQColor(st_.background));
    p_.setPen(ToQColor(st_.textColor));
    p_.drawText(left, y + metrics_->ascent(), text);
}

}  // namespace ys::chart
