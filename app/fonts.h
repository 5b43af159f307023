// The Windows face names the program asks for, mapped to the Japanese fonts of this system.
#pragma once

#include <QFont>
#include <QString>

namespace ys::gui {

// Proportional gothic for "MS UI Gothic", "UI ゴシック", "ＭＳ Ｐゴシック"; a fixed-pitch gothic
// whose full-width characters are exactly two half-width ones for "ＭＳ ゴシック".
void InstallFontSubstitutions();

// A font by face name whose character cell (ascent + descent) is about `pixelHeight` pixels of
// the device it draws on. Needs the application's font database (a QGuiApplication).
QFont FaceFont(const QString& face, int pixelHeight, int weight = 400);

}  // namespace ys::gui
