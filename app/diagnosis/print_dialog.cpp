#include "app/diagnosis/print_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <string>

#include "app/diagnosis/report_layout.h"
#include "platform/paths.h"

namespace ys::gui {

QString ProposedPdfFile(std::string_view document, std::int64_t today) {
    QString folder = QString::fromStdString(paths::DocumentsDir());
    if (!QFileInfo(folder).isDir()) folder = QDir::homePath();
    return QDir(folder).filePath(QString::fromStdString(DatedPdfName(document, today)));
}

std::unique_ptr<QPrinter> ChoosePagePrinter(QWidget* parent, const QString& proposedFile) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    // Without a printer the file is the only output: the dialog then starts from this name.
    if (printer->outputFormat() == QPrinter::PdfFormat) printer->setOutputFileName(proposedFile);
    QPrintDialog dialog(printer.get(), parent);
    // With a printer the output stays on it, and the file name is proposed in case the user
    // switches to a file (the dialog's own proposal is print.pdf in the current folder).
    if (auto* fileName = dialog.findChild<QLineEdit*>(QStringLiteral("filename")))
        fileName->setText(proposedFile);
    // All pages only. Printing to a file stays on offer: on a desktop without a printer it is
    // the one way to get the page (as a PDF).
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    if (dialog.exec() != QDialog::Accepted) return nullptr;
    return printer;
}

}  // namespace ys::gui
