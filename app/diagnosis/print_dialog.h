// The print dialog of the printed pages (the diagnosis report and the weather comparison): all
// pages only, printing to a file on offer, and the file proposed in the documents folder under
// the page's name and today's date rather than the toolkit's print.pdf.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string_view>

class QPrinter;
class QWidget;

namespace ys::gui {

// "<documents folder>/<document>_YYYYMMDD.pdf"; the home folder when there is no documents folder.
QString ProposedPdfFile(std::string_view document, std::int64_t today);

// The chosen printer, or null when the user cancelled.
std::unique_ptr<QPrinter> ChoosePagePrinter(QWidget* parent, const QString& proposedFile);

}  // namespace ys::gui
