// yieldscope-cli outlook --pdf: the outlook as a one-page PDF, A4 portrait, in the report's fonts.
#include <QBuffer>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <cstdlib>

#include "app/diagnosis/outlook_drawing.h"
#include "app/fonts.h"
#include "platform/atomic_file.h"
#include "tools/cli/commands.h"

namespace ys::cli {
namespace {

constexpr int kResolution = 600;  // dots per inch, as the report

void QtErrorsOnly(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) PrintError(text.toStdString());
}

}  // namespace

int WriteOutlookPdf(const Outlook& outlook, const std::string& path) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(QtErrorsOnly);
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
        writer.setTitle(QString::fromUtf8(kOutlookTitle));
        writer.setCreator(QStringLiteral("yieldscope-cli"));
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        if (!PaintOutlookReport(writer, outlook)) {
            PrintError(path + ": the outlook could not be drawn");
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
