#include "app/chart/recording_surface.h"

namespace ys::chart {

void RecordingSurface::SaveState() {
    saved_.push_back(state_);
}

void RecordingSurface::RestoreState() {
    if (saved_.empty()) return;
    state_ = saved_.back();
    saved_.pop_back();
}

void RecordingSurface::SetPen(Rgb color, int width) {
    state_.pen = color;
    state_.penWidth = width;
}

void RecordingSurface::SetBrush(Rgb color) {
    state_.brush = color;
}
void RecordingSurface::SetFont(const FontSpec& font) {
    state_.font = font;
}
void RecordingSurface::SetTextColor(Rgb color) {
    state_.textColor = color;
}

void RecordingSurface::SetBackground(Rgb color, bool opaque) {
    state_.background = color;
    state_.opaque = opaque;
}

DrawOp& RecordingSurface::Add(DrawOp::Kind kind, int x1, int y1, int x2, int y2) {
    DrawOp& op = ops_.emplace_back();
    op.kind = kind;
    op.x1 = x1;
    op.y1 = y1;
    op.x2 = x2;
    op.y2 = y2;
    op.state = state_;
    return op;
}

void RecordingSurface::FillRect(int left, int top, int right, int bottom, Rgb color) {
    Add(DrawOp::Kind::kFillRect, left, top, right, bottom).fill = color;
}

void RecordingSurface::Rectangle(int left, int top, int right, int bottom) {
    Add(DrawOp::Kind::kRectangle, left, top, right, bottom);
}

void RecordingSurface::Line(int x1, int y1, int x2, int y2) {
    Add(DrawOp::Kind::kLine, x1, y1, x2, y2);
}

void RecordingSurface::Text(int x, int y, TextAlign align, std::string_view utf8) {
    DrawOp& op = Add(DrawOp::Kind::kText, x, y, x, y);
    op.align = align;
    op.text = std::string(utf8);
}

std::vector<DrawOp> RecordingSurface::Of(DrawOp::Kind kind) const {
    std::vector<DrawOp> out;
    for (const DrawOp& op : ops_) {
        if (op.kind == kind) out.push_back(op);
    }
    return out;
}

const DrawOp* RecordingSurface::FindText(std::string_view text) const {
    for (const DrawOp& op : ops_) {
        if (op.kind == DrawOp::Kind::kText && op.text == text) return &op;
    }
    return nullptr;
}

}  // namespace ys::chart
