#include "app/diagnosis/outlook_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/chart/painter_surface.h"
#include "app/diagnosis/outlook_drawing.h"
#include "app/diagnosis/print_dialog.h"
#include "app/wait_cursor.h"

namespace ys::gui {
namespace {

constexpr int kChartFontPixels = 12;

QString Q(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace

// The chart, drawn by the same code as on paper.
class COutlookDlg::ChartArea : public QWidget {
public:
    ChartArea(const Outlook& outlook, QWidget* parent) : QWidget(parent), outlook_(outlook) {
        setMinimumSize(720, 330);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        chart::PainterSurface surface(p);
        DrawOutlookChart(surface, 0, 0, width(), height(), kChartFontPixels, outlook_);
    }

private:
    const Outlook& outlook_;
};

COutlookDlg::COutlookDlg(Outlook outlook, std::int64_t today, QWidget* parent)
    : QDialog(parent), outlook_(std::move(outlook)), chooser_([today](QWidget* owner) {
          return ChoosePagePrinter(owner, ProposedPdfFile(kOutlookTitle, today));
      }) {
    setWindowTitle(QString::fromUtf8(kOutlookTitle));
    auto* layout = new QVBoxLayout(this);
    chart_ = new ChartArea(outlook_, this);
    layout->addWidget(chart_, 1);

    QStringList lines;
    for (const std::string& line : OutlookSummaryLines(outlook_, 60)) lines << Q(line);
    summary_ = new QLabel(lines.join(QLatin1Char('\n')), this);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(summary_);
    auto* source = new QLabel(QString::fromUtf8(kOutlookSource), this);
    source->setWordWrap(true);
    QFont small = source->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    source->setFont(small);
    layout->addWidget(source);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    print_ = new QPushButton(QStringLiteral("印刷"), this);
    close_ = new QPushButton(QStringLiteral("閉じる"), this);
    print_->setAutoDefault(false);
    buttons->addWidget(print_);
    buttons->addWidget(close_);
    layout->addLayout(buttons);
    connect(print_, &QPushButton::clicked, this, &COutlookDlg::OnPrint);
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);
}

COutlookDlg::~COutlookDlg() = default;

QWidget* COutlookDlg::chartArea() const {
    return chart_;
}

void COutlookDlg::OnPrint() {
    std::unique_ptr<QPrinter> printer = chooser_ ? chooser_(this) : nullptr;
    if (!printer) return;
    printer->setDocName(QString::fromUtf8(kOutlookTitle));
    printer->setFullPage(false);
    WaitCursor wait;
    // Printer faults are the printing system's to report, as for the diagnosis report.
    (void)PaintOutlookReport(*printer, outlook_);
}

}  // namespace ys::gui
