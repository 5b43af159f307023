// yieldscope-cli report: the printed diagnosis report of a user data file, as a one-page PDF.
#include <QBuffer>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <cstdlib>

#include "app/diagnosis/diagnosis_drawing.h"
#include "app/diagnosis/report_layout.h"
#include "app/diagnosis/verdict.h"
#include "app/fonts.h"
#include "platform/atomic_file.h"
#include "tools/cli/commands.h"
#include "tools/cli/diagnosis_input.h"

namespace ys::cli {
namespace {

constexpr int kResolution = 600;  // dots per inch, as a common office printer

struct Paper {
    const char* name;
    QPageSize::PageSizeId id;
};
constexpr Paper kPapers[] = {
    {"A4", QPageSize::A4},    {"A3", QPageSize::A3},         {"B4", QPageSize::JisB4},
    {"B5", QPageSize::JisB5}, {"Letter", QPageSize::Letter},
};

// Qt's own notes (about the session, the runtime folder, ...) are no concern of the caller; only
// its errors reach stderr, one line each like the tool's own.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) PrintError(text.toStdString());
}

}  // namespace

int CmdReport(const Context&, Args args) {
    const char* usage =
        "usage: yieldscope-cli report FILE.sol OUT.pdf [--landscape] [--paper A4|A3|B4|B5|Letter]";
    std::vector<std::string> files;
    bool landscape = false;
    QPageSize::PageSizeId paper = QPageSize::A4;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--landscape") {
            landscape = true;
        } else if (args[i] == "--portrait") {
            landscape = false;
        } else if (args[i] == "--paper" && i + 1 < args.size()) {
            const std::string& name = args[++i];
            bool found = false;
            for (const Paper& p : kPapers) {
                if (name == p.name) {
                    paper = p.id;
                    found = true;
                }
            }
            if (!found) {
                PrintError("unknown paper \"" + name + "\"; " + usage);
                return kExitUsage;
            }
        } else if (args[i].starts_with("--")) {
            PrintError("unknown option \"" + args[i] + "\"; " + usage);
            return kExitUsage;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2) {
        PrintError(usage);
        return kExitUsage;
    }
    auto data = ReadUserDataFile(files[0]);
    if (!data) {
        PrintError(data.error());
        return kExitFailure;
    }
    // As on the page, where the print button needs a simulation result.
    if (data->simDone == 0) {
        PrintError(files[0] + ": holds no simulation result; the report needs one");
        return kExitFailure;
    }
    // The verdict the page would show after its diagnosis button.
    Verdict verdict = Verdict::kNone;
    if (data->userInfo.detailed != 0) {
        const DiagnosisResult r = Diagnose(*data);
        if (r.noData) PrintError("note: " + std::string(kMsgNoGenerationData));
        verdict = r.verdict;
    }

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
        writer.setTitle(QString::fromUtf8(kReportDocumentName));
        writer.setCreator(QStringLiteral("yieldscope-cli"));
        writer.setPageLayout(QPageLayout(QPageSize(paper),
                                         landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0)));
        if (!PaintDiagnosisReport(writer, *data, verdict)) {
            PrintError(files[1] + ": the report could not be drawn");
            return kExitFailure;
        }
    }
    files::WriteOutcome w = files::WriteFileAtomically(files[1], pdf.toStdString());
    if (!w.ok()) {
        PrintError(files[1] + ": cannot write: " + w.message);
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace ys::cli
