#include "app/fonts.h"

#include <QFontMetricsF>
#include <QHash>
#include <QStringList>
#include <cmath>

namespace ys::gui {

void InstallFontSubstitutions() {
    const QStringList proportional = {QStringLiteral("IPAPGothic"), QStringLiteral("IPAexGothic"),
                                      QStringLiteral("Noto Sans CJK JP"),
                                      QStringLiteral("Droid Sans Fallback")};
    const QStringList fixed = {QStringLiteral("IPAGothic"),
                               QStringLiteral("Noto Sans Mono CJK JP")};
    for (const char* face : {"MS UI Gothic", "UI ゴシック", "ＭＳ Ｐゴシック", "MS PGothic"}) {
        QFont::insertSubstitutions(QString::fromUtf8(face), proportional);
    }
    for (const char* face : {"ＭＳ ゴシック", "MS Gothic"}) {
        QFont::insertSubstitutions(QString::fromUtf8(face), fixed);
    }
}

QFont FaceFont(const QString& face, int pixelHeight, int weight) {
    QFont f(face);
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setStyleHint(face.contains(QStringLiteral("Ｐ")) || face.contains(QStringLiteral("UI"))
                       ? QFont::SansSerif
                       : QFont::TypeWriter);
    // The cell height (ascent + descent) is asked for; Qt sizes fonts by their em, which is
    // smaller than the cell for the substituted faces. The ratio is measured once per face.
    static QHash<QString, double> emPerCell;
    auto it = emPerCell.find(face);
    if (it == emPerCell.end()) {
        QFont probe = f;
        probe.setPixelSize(100);
        const double cell = QFontMetricsF(probe).height();
        it = emPerCell.insert(face, cell > 0 ? 100.0 / cell : 1.0);
    }
    const int em = static_cast<int>(std::lround(std::max(1, pixelHeight) * it.value()));
    f.setPixelSize(std::max(1, em));
    return f;
}

}  // namespace ys::gui
