// The drawing seam of the charts and the printed report: a device-context-like surface with a
// current pen, brush, font, text colour and background mode, and four drawing operations.
//
// Every chart and report drawing goes through `DrawingSurface` instead of a QPainter, so that
// one implementation paints (`PainterSurface`, on a pixmap or the printer) and another records
// (`RecordingSurface`), and tests check exactly what was drawn: each operation with its device
// coordinates, texts and the pen, brush, font and colours in force.
//
// Conventions (as the drawing code expects them):
// - Coordinates are device units (pixels of the pixmap or of the printer page), integers.
// - Rectangles span left..right-1 and top..bottom-1; `Rectangle` fills with the brush and
//   outlines with the pen, `FillRect` fills with a colour and no outline.
// - `Text` puts the top of the text cell at y; x is the left edge, the centre or the right edge
//   by `TextAlign`. An opaque background paints the text cell in the background colour first.
// - A new surface has a black pen 1 unit wide, a white brush, black text on an opaque white
//   background and the device's own font (a `FontSpec` with an empty face).
// - `SaveState`/`RestoreState` keep and bring back pen, brush, font, text colour and background.
//
// Drawing a chart on the printer (or any QPaintDevice) and checking it in a test:
//   QPainter painter(&printer);           // or a QPdfWriter, a QImage
//   chart::PainterSurface surface(painter);
//   data.surface = &surface;              // data: a filled chart::ChartData
//   chart::DrawBarChart(W, H, chart::ChartType::kComparison, false, 2, data);
//
//   chart::RecordingSurface rec;          // the same calls on the recorder
//   data.surface = &rec;  ...  rec.ops()  // every operation with coordinates, text and state
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ys::chart {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend constexpr bool operator==(Rgb, Rgb) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};

enum class TextAlign { kLeft, kCenter, kRight };

// A font by face name (UTF-8, the Windows face names are substituted by the platform), height
// of the character cell in device units and weight (400 normal, 700 bold).
struct FontSpec {
    std::string face;
    int height = 0;
    int weight = 400;
    bool operator==(const FontSpec&) const = default;
};

class DrawingSurface {
public:
    virtual ~DrawingSurface() = default;

    virtual void SaveState() = 0;
    virtual void RestoreState() = 0;

    virtual void SetPen(Rgb color, int width) = 0;
    virtual void SetBrush(Rgb color) = 0;
    virtual void SetFont(const FontSpec& font) = 0;
    virtual void SetTextColor(Rgb color) = 0;
    virtual void SetBackground(Rgb color, bool opaque) = 0;

    virtual void FillRect(int left, int top, int right, int bottom, Rgb color) = 0;
    virtual void Rectangle(int left, int top, int right, int bottom) = 0;
    virtual void Line(int x1, int y1, int x2, int y2) = 0;
    virtual void Text(int x, int y, TextAlign align, std::string_view utf8) = 0;
};

}  // namespace ys::chart
