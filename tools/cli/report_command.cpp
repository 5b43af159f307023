// yieldscope-cli report: the printed diagnosis report of a user data file, as a one-page PDF.
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>

#include "app/diagnosis/diagnosis_drawing.h"
#include "app/diagnosis/report_layout.h"
#include "app/diagnosis/verdict.h"
#include "tools/cli/commands.h"
#include "tools/cli/diagnosis_input.h"
#include "tools/cli/pdf_output.h"

namespace ys::cli {
namespace {

struct Paper {
    const char* name;
    QPageSize::PageSizeId id;
};
constexpr Paper kPapers[] = {
    {"A4", QPageSize::A4},    {"A3", QPageSize::A3},         {"B4", QPageSize::JisB4},
    {"B5", QPageSize::JisB5}, {"Letter", QPageSize::Letter},
};

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

    const QPageLayout layout(QPageSize(paper),
                             landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                             QMarginsF(0, 0, 0, 0));
    return WriteOnePagePdf(
        files[1], kReportDocumentName, layout, "the report",
        [&](QPdfWriter& writer) { return PaintDiagnosisReport(writer, *data, verdict); });
}

}  // namespace ys::cli
