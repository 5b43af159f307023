// A drawing surface that draws nothing and keeps every operation with the state in force, so
// that tests can check exactly what a chart or the report draws.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/chart/drawing_surface.h"

namespace ys::chart {

struct SurfaceState {
    Rgb pen = kBlack;
    int penWidth = 1;
    Rgb brush = kWhite;
    FontSpec font;
    Rgb textColor = kBlack;
    Rgb background = kWhite;
    bool opaque = true;
    bool operator==(const SurfaceState&) const = default;
};

struct DrawOp {
    enum class Kind { kFillRect, kRectangle, kLine, kText };
    Kind kind = Kind::kLine;
    // Rectangles: left, top, right, bottom. Lines: the two ends. Texts: the point in x1, y1.
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
    Rgb fill;  // the colour of FillRect
    TextAlign align = TextAlign::kLeft;
    std::string text;
    SurfaceState state;
};

class RecordingSurface : public DrawingSurface {
public:
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

    const std::vector<DrawOp>& ops() const { return ops_; }
    // The operations of one kind, in drawing order.
    std::vector<DrawOp> Of(DrawOp::Kind kind) const;
    // The first text operation with exactly this text, or nullptr.
    const DrawOp* FindText(std::string_view text) const;

    const SurfaceState& state() const { return state_; }
    int saveDepth() const { return static_cast<int>(saved_.size()); }
    void Clear() { ops_.clear(); }

private:
    DrawOp& Add(DrawOp::Kind kind, int x1, int y1, int x2, int y2);

    std::vector<DrawOp> ops_;
    SurfaceState state_;
    std::vector<SurfaceState> saved_;
};

}  // namespace ys::chart
