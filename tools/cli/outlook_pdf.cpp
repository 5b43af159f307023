// yieldscope-cli outlook --pdf: the outlook as a one-page PDF, A4 portrait, in the report's fonts.
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>

#include "app/diagnosis/outlook_drawing.h"
#include "tools/cli/commands.h"
#include "tools/cli/pdf_output.h"

namespace ys::cli {

int WriteOutlookPdf(const Outlook& outlook, const std::string& path) {
    const QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                             QMarginsF(0, 0, 0, 0));
    return WriteOnePagePdf(path, kOutlookTitle, layout, "the outlook",
                           [&](QPdfWriter& writer) { return PaintOutlookReport(writer, outlook); });
}

}  // namespace ys::cli
