#include "tools/cli/pdf_output.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPdfWriter>
#include <cstdlib>

#include "app/fonts.h"
#include "platform/atomic_file.h"
#include "tools/cli/commands.h"

namespace ys::cli {
namespace {

constexpr int kResolution = 600;  // dots per inch, as a common office printer

// Qt's own notes (about the session, the runtime folder, ...) are no concern of the caller; only
// its errors reach stderr, one line each like the tool's own.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) PrintError(text.toStdString());
}

}  // namespace

int WriteOnePagePdf(const std::string& path, std::string_view title, const QPageLayout& layout,
                    std::string_view what, const std::function<bool(QPdfWriter&)>& paint) {
    // No window system is needed to draw a PDF.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(QtMessages);
    int argc = 1;
    char name[] = "yieldscope-cli";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    gui::InstallFontSubstitutions();

    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(kResolution);
        writer.setTitle(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
        writer.setCreator(QStringLiteral("yieldscope-cli"));
        writer.setPageLayout(layout);
        if (!paint(writer)) {
            PrintError(path + ": " + std::string(what) + " could not be drawn");
            return kExitFailure;
        }
    }
    files::WriteOutcome w = files::WriteFileAtomically(path, pdf.toStdString());
    if (!w.ok()) {
        PrintError(path + ": cannot write: " + w.message);
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace ys::cli
