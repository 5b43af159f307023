// Diagnosis page: the comparison chart of the last twelve months, the verdict, the printed report
// and the way on to the support contact after a poor verdict.
#pragma once

#include <QPixmap>
#include <functional>
#include <memory>

#include "app/diagnosis/verdict.h"
#include "app/sub_dlg.h"

class QLabel;
class QPrinter;
class QPushButton;

namespace ys::gui {

class COutlookDlg;

class CResultCheckDlg : public CSubDlg {
    Q_OBJECT
public:
    CResultCheckDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);
    ~CResultCheckDlg() override;

    // "ヘリオミルを行う": compares, sets the verdict and the hint line and redraws.
    void RunDiagnosis();
    // "印刷": the print dialog, then the report on the chosen printer.
    void OnPrint();
    // "次へ": the support contact dialog.
    void OnNext();
    // "天候との比較": the weather's range and the trend in their own dialog.
    void OnOutlook();

    Verdict verdict() const { return verdict_; }
    // The file a report printed to a file is proposed under: the documents folder,
    // "ヘリオミル結果_YYYYMMDD.pdf" with today's date.
    QString ProposedReportFile() const;

    // The print dialog: returns the chosen printer set up for the report, or null when the
    // user cancelled. Tests hand in a printer that writes a PDF file.
    using PrinterChooser = std::function<std::unique_ptr<QPrinter>(QWidget* parent)>;
    void SetPrinterChooser(PrinterChooser chooser) { chooser_ = std::move(chooser); }
    // Runs the support contact dialog modally; tests record the call instead.
    using ContactRunner = std::function<void(QWidget* parent)>;
    void SetContactRunner(ContactRunner runner) { contact_ = std::move(runner); }
    // Runs the outlook dialog modally; tests look at it instead.
    using OutlookRunner = std::function<void(COutlookDlg& dialog)>;
    void SetOutlookRunner(OutlookRunner runner) { outlookRunner_ = std::move(runner); }

    QPushButton* printButton() const { return print_; }
    QPushButton* diagnoseButton() const { return diagnose_; }
    QPushButton* nextButton() const { return next_; }
    QPushButton* outlookButton() const { return outlook_; }
    QLabel* hintLine() const { return hint_; }
    QWidget* graphArea() const;
    QWidget* verdictArea() const;
    // The chart bitmap while the page is shown (null otherwise).
    const QPixmap& chartPixmap() const { return chart_; }
    // Whether the graph area shows the chart (a simulation and at least one month).
    bool ChartVisible() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    class GraphArea;
    class VerdictArea;

    void PlaceLegend(QLabel* name, QLabel* side, int y);
    void Refresh();
    void PaintGraph(QPainter& painter);
    void PaintVerdict(QPainter& painter);

    Verdict verdict_ = Verdict::kNone;
    QPixmap chart_;
    GraphArea* graph_ = nullptr;
    VerdictArea* verdictArea_ = nullptr;
    QLabel* hint_ = nullptr;
    QPushButton* print_ = nullptr;
    QPushButton* diagnose_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* outlook_ = nullptr;
    PrinterChooser chooser_;
    ContactRunner contact_;
    OutlookRunner outlookRunner_;
};

}  // namespace ys::gui
