#include "app/diagnosis/result_check_dlg.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QShowEvent>
#include <algorithm>

#include "app/app_data.h"
#include "app/chart/chart_pixmap.h"
#include "app/diagnosis/comparison_chart.h"
#include "app/diagnosis/diagnosis_drawing.h"
#include "app/diagnosis/outlook.h"
#include "app/diagnosis/outlook_dlg.h"
#include "app/diagnosis/print_dialog.h"
#include "app/diagnosis/report_layout.h"
#include "app/diagnosis/verdict.h"
#include "app/errors/support_contact_dlg.h"
#include "app/fonts.h"
#include "app/message_box.h"
#include "app/wait_cursor.h"

namespace ys::gui {
namespace {

QString Q(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QLabel* MakeLabel(QWidget* parent, const char* text) {
    return new QLabel(QString::fromUtf8(text), parent);
}

// The verdict is drawn in the plain screen font of a fresh drawing surface, not the dialog font.
QFont VerdictFont() {
    return FaceFont(QStringLiteral("ＭＳ Ｐゴシック"), 16);
}

}  // namespace

class CResultCheckDlg::GraphArea : public QWidget {
public:
    GraphArea(CResultCheckDlg& page) : QWidget(&page), page_(page) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        page_.PaintGraph(p);
    }

private:
    CResultCheckDlg& page_;
};

class CResultCheckDlg::VerdictArea : public QFrame {
public:
    VerdictArea(CResultCheckDlg& page) : QFrame(&page), page_(page) {
        setFrameStyle(QFrame::Box | QFrame::Sunken);  // etched
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QFrame::paintEvent(event);
        QPainter p(this);
        page_.PaintVerdict(p);
    }

private:
    CResultCheckDlg& page_;
};

CResultCheckDlg::CResultCheckDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : CSubDlg(mainWindow, app, parent),
      chooser_([this](QWidget* owner) { return ChoosePagePrinter(owner, ProposedReportFile()); }) {
    // The substituted fonts run wider than the template's face: labels grow to their text
    // instead of being cut, and the legend keeps its right edge so that it stays on the page.
    QLabel* caption = MakeLabel(this, "シミュレーション値と実発電量の比較");
    Place(caption, 12, 15, 99, 8);
    caption->resize(std::max(caption->width(), caption->sizeHint().width()), caption->height());
    PlaceLegend(MakeLabel(this, "シミュレーション値"), MakeLabel(this, "（左側グラフ）"), 14);
    PlaceLegend(MakeLabel(this, "発電実績値"), MakeLabel(this, "（右側グラフ）"), 24);

    graph_ = new GraphArea(*this);
    Place(graph_, 5, 35, 385, 192);
    verdictArea_ = new VerdictArea(*this);
    Place(verdictArea_, 14, 234, 364, 70);

    print_ = new QPushButton(QStringLiteral("印刷"), this);
    Place(print_, 258, 318, 56, 22);
    diagnose_ = new QPushButton(QStringLiteral("ヘリオミルを行う"), this);
    Place(diagnose_, 318, 318, 67, 22);
    next_ = new QPushButton(QStringLiteral("次へ"), this);
    Place(next_, 69, 324, 59, 20);
    next_->hide();
    hint_ = new QLabel(this);
    Place(hint_, 30, 313, 222, 9);
    // In the free space left of the print button, below the hint line.
    outlook_ = new QPushButton(QStringLiteral("天候との比較"), this);
    Place(outlook_, 190, 324, 64, 20);

    for (QPushButton* b : {print_, diagnose_, next_, outlook_}) b->setAutoDefault(false);
    connect(outlook_, &QPushButton::clicked, this, &CResultCheckDlg::OnOutlook);
    connect(print_, &QPushButton::clicked, this, &CResultCheckDlg::OnPrint);
    connect(diagnose_, &QPushButton::clicked, this, &CResultCheckDlg::RunDiagnosis);
    connect(next_, &QPushButton::clicked, this, &CResultCheckDlg::OnNext);
    contact_ = [this](QWidget* parent) {
        CNVConnectionDlg dialog(this->app(), parent);
        dialog.exec();
    };
}

CResultCheckDlg::~CResultCheckDlg() = default;

void CResultCheckDlg::PlaceLegend(QLabel* name, QLabel* side, int y) {
    // "（左側グラフ）" ends at 341 + 36 units; the name ends where it begins.
    Place(side, 341, y, 36, 8);
    const int right = side->geometry().right();
    const int sideWidth = std::max(side->width(), side->sizeHint().width());
    side->setGeometry(right + 1 - sideWidth, side->y(), sideWidth, side->height());
    Place(name, 293, y, 47, 8);
    const int nameWidth = std::max(name->width(), name->sizeHint().width());
    name->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    name->setGeometry(side->x() - nameWidth, name->y(), nameWidth, name->height());
}

QWidget* CResultCheckDlg::graphArea() const {
    return graph_;
}
QWidget* CResultCheckDlg::verdictArea() const {
    return verdictArea_;
}

bool CResultCheckDlg::ChartVisible() const {
    return app().simDone != 0 && app().monthCount > 0 && !chart_.isNull();
}

void CResultCheckDlg::showEvent(QShowEvent* event) {
    CSubDlg::showEvent(event);
    if (!event->spontaneous()) Refresh();
}

void CResultCheckDlg::hideEvent(QHideEvent* event) {
    CSubDlg::hideEvent(event);
    if (!event->spontaneous()) chart_ = QPixmap();  // the bitmap lives while the page is shown
}

void CResultCheckDlg::Refresh() {
    const CYieldscopeApp& a = app();
    auto data = std::make_unique<chart::ChartData>();
    FillComparisonChart(a.data(), *data);
    chart_ =
        chart::RenderChartPixmap(graph_->size(), devicePixelRatioF(), chart::ChartType::kComparison,
                                 ComparisonChart::kRoundExponent, *data);
    if (a.userInfo.detailed == 0) {
        hint_->clear();
        next_->hide();
    }
    print_->setEnabled(a.simDone != 0);
    diagnose_->setEnabled(a.simDone != 0 && a.userInfo.detailed != 0);
    // Exactly when the diagnosis would give a verdict.
    outlook_->setEnabled(diagnose_->isEnabled() && !Diagnose(a.data()).noData);
    update();
}

void CResultCheckDlg::RunDiagnosis() {
    const DiagnosisResult r = Diagnose(app().data());
    if (r.noData) MessageBox::Info(this, Q(kMsgNoGenerationData));
    verdict_ = r.verdict;
    if (verdict_ == Verdict::kPoor) {
        hint_->setText(Q(kHintContactSupport));
        next_->show();
    } else {
        hint_->clear();
        next_->hide();
    }
    repaint();  // the whole page at once
}

void CResultCheckDlg::OnPrint() {
    std::unique_ptr<QPrinter> printer = chooser_ ? chooser_(this) : nullptr;
    if (!printer) return;
    printer->setDocName(QString::fromUtf8(kReportDocumentName));
    printer->setFullPage(false);
    WaitCursor wait;
    // Printer faults are the printing system's to report.
    (void)PaintDiagnosisReport(*printer, app().data(), verdict_);
}

QString CResultCheckDlg::ProposedReportFile() const {
    return ProposedPdfFile(kReportDocumentName, app().Now());
}

void CResultCheckDlg::OnNext() {
    if (contact_) contact_(this);
}

void CResultCheckDlg::OnOutlook() {
    auto range = [this] {
        WaitCursor wait;
        return HouseholdWeatherRange(app().userInfo, app().programDir);
    }();
    if (!range) {
        MessageBox::Error(this,
                          QStringLiteral("天候との比較に必要なデータを読み込めませんでした。\n") +
                              Q(range.error()));
        return;
    }
    COutlookDlg dialog(BuildOutlook(app().data(), *range), app().Now(), this);
    if (outlookRunner_) {
        outlookRunner_(dialog);
    } else {
        dialog.exec();
    }
}

void CResultCheckDlg::PaintGraph(QPainter& painter) {
    if (ChartVisible()) painter.drawPixmap(0, 0, chart_);
}

void CResultCheckDlg::PaintVerdict(QPainter& painter) {
    painter.setFont(VerdictFont());
    painter.setPen(Qt::black);
    painter.setBackgroundMode(Qt::TransparentMode);
    const QFontMetrics fm(painter.font());
    for (const VerdictLine& line : VerdictAreaLines(app().userInfo, verdict_)) {
        painter.drawText(line.x, line.y + fm.ascent(), Q(line.text));
    }
}

}  // namespace ys::gui
