// yieldscope: start-up, then the main window modally; the program ends when it closes.
#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <ctime>

#include "app/app_data.h"
#include "app/fonts.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "app/startup.h"
#include "platform/paths.h"

int main(int argc, char** argv) {
    tzset();
    QApplication qapp(argc, argv);
    // No display name: the platform would append it to every caption.
    QApplication::setApplicationName(QStringLiteral("yieldscope"));
    // The program speaks Japanese only: the toolkit's own dialogs (file, print) follow it.
    QTranslator toolkitTexts;
    if (toolkitTexts.load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&toolkitTexts);
    }
    ys::gui::InitResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/yieldscope.svg")));
    ys::gui::InstallFontSubstitutions();

    ys::CYieldscopeApp app;
    if (!ys::gui::PrepareStartup(app, ys::paths::ProgramDir(), ys::paths::DataDir())) return 0;

    ys::gui::CYieldscopeDlg dlg(app);
    dlg.exec();
    return 0;
}
