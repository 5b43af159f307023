#include "app/fonts.h"

#include <QStringList>

namespace ys::gui {

void InstallFontSubstitutions() {
    const QStringList proportional = {QStringLiteral("IPAPGothic"), QStringLiteral("IPAexGothic"),
                                      QStringLiteral("Noto Sans CJK JP"),
                                      QStringLiteral("Droid Sans Fallback")};
    const QStringList fixed = {QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP")};
    for (const char* face : {"MS UI Gothic", "UI ゴシック", "ＭＳ Ｐゴシック", "MS PGothic"}) {
        QFont::insertSubstitutions(QString::fromUtf8(face), proportional);
    }
    for (const char* face : {"ＭＳ ゴシック", "MS Gothic"}) {
        QFont::insertSubstitutions(QString::fromUtf8(face), fixed);
    }
}

QFont FaceFont(const QString& face, int pixelHeight, int weight) {
    QFont f(face);
    f.setPixelSize(pixelHeight > 0 ? pixelHeight : 1);
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setStyleHint(face.contains(QStringLiteral("Ｐ")) || face.contains(QStringLiteral("UI"))
                       ? QFont::SansSerif
                       : QFont::TypeWriter);
    return f;
}

}  // namespace ys::gui
