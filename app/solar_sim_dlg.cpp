#include "app/solar_sim_dlg.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <memory>

#include "app/app_data.h"
#include "app/chart/chart_pixmap.h"
#include "app/chart/chart_sources.h"
#include "app/chart_area.h"
#include "app/main_window.h"
#include "app/message_dlg.h"

namespace ys::gui {

AnnualTotalBox::AnnualTotalBox(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Box | QFrame::Sunken);
}

void AnnualTotalBox::SetText(const QString& text) {
    text_ = text;
    update();
}

void AnnualTotalBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (text_.isEmpty()) return;
    QPainter p(this);
    p.setFont(font());
    p.drawText(30, 8 + p.fontMetrics().ascent(), text_);
}

QString FormatAnnualTotal(long long total) {
    return QStringLiteral("%1 kWh").arg(total, 6, 10, QLatin1Char(' '));
}

CSolarSimDlg::CSolarSimDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : CSubDlg(mainWindow, app, parent) {
    auto label = [this](const char* text, int x, int y, int w) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        Place(l, x, y, w, 10);
        return l;
    };
    label("お客様の発電システムの発電量シミュレーション", 15, 16, 250);
    chart_ = new ChartArea(this);
    chart_->setObjectName(QStringLiteral("control1029"));
    Place(chart_, 5, 31, 385, 172);
    label("発電シミュレーション", 33, 213, 150);
    label("お客様の設置システムで想定される発電量です。", 49, 231, 250);
    label("年間の発電量", 70, 252, 100);
    total_ = new AnnualTotalBox(this);
    total_->setObjectName(QStringLiteral("control1106"));
    Place(total_, 88, 264, 76, 21);

    auto* basis =
        new QPushButton(QStringLiteral("「月間および年間予測発電電力量」の算出根拠について"), this);
    basis->setObjectName(QStringLiteral("button1109"));
    basis->setAutoDefault(false);
    Place(basis, 27, 318, 174, 22);
    connect(basis, &QPushButton::clicked, this, &CSolarSimDlg::OnCalculationBasis);

    auto* next = new QPushButton(QStringLiteral("発電データ入力へ進む"), this);
    next->setObjectName(QStringLiteral("button1003"));
    next->setAutoDefault(false);
    Place(next, 294, 318, 85, 22);
    connect(next, &QPushButton::clicked, this, &CSolarSimDlg::OnNext);
}

void CSolarSimDlg::showEvent(QShowEvent* event) {
    CSubDlg::showEvent(event);
    if (event->spontaneous()) return;
    auto chart = std::make_unique<chart::ChartData>();
    chart::FillSimulationChart(app(), *chart);
    const chart::ChartStyle& style = chart::kSimulationChart;
    chart_->SetPixmap(chart::RenderChartPixmap(chart_->size(), devicePixelRatioF(), style.type,
                                               style.roundExponent, *chart));
    annualTotal_ = 0;
    for (std::int32_t v : app().simMonthly) annualTotal_ += v;
    // Before any simulation the chart area and the total box stay empty.
    const bool simulated = app().simDone != 0;
    chart_->SetPaintEnabled(simulated);
    total_->SetText(simulated ? FormatAnnualTotal(annualTotal_) : QString());
}

void CSolarSimDlg::hideEvent(QHideEvent* event) {
    CSubDlg::hideEvent(event);
    if (event->spontaneous()) return;
    chart_->ReleasePixmap();
}

void CSolarSimDlg::OnNext() {
    if (mainWindow().ShowPage(Page::kResultInput) == 1) {
        mainWindow().FocusPageButton(Page::kResultInput);
    }
}

void CSolarSimDlg::OnCalculationBasis() {
    CMessageDlg dlg(this);
    dlg.exec();
}

}  // namespace ys::gui
