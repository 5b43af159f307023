// "天候との比較": the chart of each month's weather range with the real generation, the twelve
// months of the diagnosis and the trend, as the printout shows them, and a print button.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/diagnosis/outlook.h"

class QLabel;
class QPrinter;
class QPushButton;

namespace ys::gui {

class COutlookDlg : public QDialog {
    Q_OBJECT
public:
    // `today` dates the file a print to a file proposes.
    COutlookDlg(Outlook outlook, std::int64_t today, QWidget* parent = nullptr);
    ~COutlookDlg() override;

    // The print dialog, as the diagnosis report's; tests hand in a printer that writes a PDF.
    using PrinterChooser = std::function<std::unique_ptr<QPrinter>(QWidget* parent)>;
    void SetPrinterChooser(PrinterChooser chooser) { chooser_ = std::move(chooser); }
    void OnPrint();

    const Outlook& outlook() const { return outlook_; }
    QWidget* chartArea() const;
    QLabel* summary() const { return summary_; }
    QPushButton* printButton() const { return print_; }
    QPushButton* closeButton() const { return close_; }

private:
    class ChartArea;

    Outlook outlook_;
    ChartArea* chart_ = nullptr;
    QLabel* summary_ = nullptr;
    QPushButton* print_ = nullptr;
    QPushButton* close_ = nullptr;
    PrinterChooser chooser_;
};

}  // namespace ys::gui
