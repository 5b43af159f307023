// A program folder and a data folder for the widget tests of the settings pages.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include "app/app_data.h"
#include "app/local_time.h"
#include "platform/paths.h"
#include "tests/app/settings/settings_fixtures.h"

namespace ys::test {

inline void PrepareProgramFolder(const TempDir& program) {
    const std::string shipped = paths::Join(SourceDir(), "resources/program");
    program.Write("admin.ini", ReadFile(paths::Join(shipped, "admin.ini")));
    program.Write("insolation.csv", ReadFile(paths::Join(shipped, "insolation.csv")));
    program.Write("gencalc.ini", Sjis("[影の影響]\r\nNUM=3\r\n0=影なし,0,0,0,0,0,0,0,0,0,0,0,0\r\n"
                                      "1=少しある,5,5,5,5,5,5,5,5,5,5,5,5\r\n"
                                      "2=かなりある,20,20,20,20,20,20,20,20,20,20,20,20\r\n"));
}

inline void PrepareApp(CYieldscopeApp& app, const TempDir& program, const TempDir& data) {
    app.programDir = program.path();
    app.dataDir = data.path();
    app.SetClock([] { return MakeLocalTime(2026, 12, 7); });
}

// Types text into the focused-to-be widget as key presses carrying that text.
inline void TypeText(QWidget* w, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

}  // namespace ys::test
