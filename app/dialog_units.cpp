#include "app/dialog_units.h"

#include <QFontMetrics>
#include <cmath>

namespace ys::gui {
namespace {

// Rounded a * b / c, as the dialog manager scales.
int MulDiv(int a, int b, int c) {
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetrics fm(font);
    // The average width of the 52 Latin letters, rounded as the dialog manager does.
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (width / 26 + 1) / 2;
    baseY_ = fm.height();
}

int DialogUnits::X(int du) const { return MulDiv(du, baseX_, 4); }
int DialogUnits::Y(int du) const { return MulDiv(du, baseY_, 8); }

QFont DialogFont() {
    QFont f(QStringLiteral("MS UI Gothic"));
    f.setPointSize(9);
    return f;
}

const DialogUnits& Dlu() {
    static const DialogUnits units(DialogFont());
    return units;
}

}  // namespace ys::gui
