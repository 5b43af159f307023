#include "app/result_viewer_dlg.h"

#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>
#include <QShowEvent>
#include <memory>

#include "app/app_data.h"
#include "app/chart/chart_pixmap.h"
#include "app/chart/chart_sources.h"
#include "app/chart_area.h"

namespace ys::gui {

CResultViewerDlg::CResultViewerDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : CSubDlg(mainWindow, app, parent) {
    auto* heading = new QLabel(QStringLiteral("発電データ表示"), this);
    Place(heading, 11, 13, 120, 10);
    monthly_ = new QRadioButton(
        QStringLiteral("月次グラフ（月ごとの発電量を表示します。）　　※最大60カ月"), this);
    monthly_->setObjectName(QStringLiteral("control1023"));
    Place(monthly_, 40, 34, 300, 12);
    daily_ = new QRadioButton(
        QStringLiteral("日次グラフ（日ごとの発電量を表示します。）　　※最大400日"), this);
    daily_->setObjectName(QStringLiteral("control1024"));
    Place(daily_, 40, 52, 300, 12);
    // Exclusive by hand: a disabled button must be able to lose its check, leaving none.
    for (QRadioButton* b : {monthly_, daily_}) b->setAutoExclusive(false);
    auto* note =
        new QLabel(QStringLiteral("「発電データの自動取込」を行った場合のみ表示可能です。"), this);
    Place(note, 180, 64, 210, 10);

    chart_ = new ChartArea(this);
    chart_->setObjectName(QStringLiteral("control1029"));
    Place(chart_, 10, 85, 375, 194);
    bar_ = new QScrollBar(Qt::Horizontal, this);
    bar_->setObjectName(QStringLiteral("control1075"));
    Place(bar_, 10, 278, 375, 12);
    bar_->setRange(0, 0);

    monthly_->setChecked(true);
    connect(monthly_, &QRadioButton::clicked, this, [this] {
        daily_->setChecked(false);
        monthly_->setChecked(true);
        OnModeChosen();
    });
    connect(daily_, &QRadioButton::clicked, this, [this] {
        monthly_->setChecked(false);
        daily_->setChecked(true);
        OnModeChosen();
    });
    connect(bar_, &QScrollBar::actionTriggered, this, &CResultViewerDlg::OnScrollAction);
    connect(bar_, &QScrollBar::valueChanged, this, [this](int value) {
        if (!settingBar_) ApplyScroll(value);
    });
}

int CResultViewerDlg::ModeFromButtons() const {
    if (monthly_->isChecked()) return 0;
    if (daily_->isChecked()) return 1;
    return -1;
}

void CResultViewerDlg::showEvent(QShowEvent* event) {
    CSubDlg::showEvent(event);
    if (event->spontaneous()) return;
    mode_ = ModeFromButtons();
    if (app().monthCount == 0) monthly_->setChecked(false);
    monthly_->setEnabled(app().monthCount > 0);
    if (app().dayCount == 0) daily_->setChecked(false);
    daily_->setEnabled(app().dayCount > 0);
    BuildChart();
}

void CResultViewerDlg::hideEvent(QHideEvent* event) {
    CSubDlg::hideEvent(event);
    if (event->spontaneous()) return;
    chart_->ReleasePixmap();
}

void CResultViewerDlg::OnModeChosen() {
    const int mode = ModeFromButtons();
    if (mode == mode_) return;
    mode_ = mode;
    scroll_ = 0;
    chart_->ReleasePixmap();
    BuildChart();
    chart_->update();
}

void CResultViewerDlg::BuildChart() {
    const chart::ChartStyle* style = nullptr;
    auto data = std::make_unique<chart::ChartData>();
    if (mode_ == 0) {
        style = &chart::kMonthlyChart;
        chart::FillMonthlyChart(app(), *data);
    } else if (mode_ == 1) {
        style = &chart::kDailyChart;
        chart::FillDailyChart(app(), *data);
    }
    if (style) {
        const int width = chart::ViewerChartWidth(*style, data->count);
        chart_->SetPixmap(chart::RenderChartPixmap(QSize(width, chart_->height()),
                                                   devicePixelRatioF(), style->type,
                                                   style->roundExponent, *data));
        range_ = ViewerScrollRange(width, chart_->width());
    } else {
        chart_->ReleasePixmap();
        range_ = ScrollRange{};
    }
    chart_->SetPaintEnabled((mode_ == 0 && app().monthCount > 0) ||
                            (mode_ == 1 && app().dayCount > 0));
    // A position kept from other data is brought into the new range.
    scroll_ = ClampScrollPosition(range_, scroll_);
    settingBar_ = true;
    bar_->setRange(range_.min, range_.Limit());
    bar_->setPageStep(std::max(1, range_.page));
    bar_->setSingleStep(1);
    bar_->setValue(scroll_);
    settingBar_ = false;
    chart_->SetSplit(kFixedStripWidth, ScrolledSourceX(scroll_));
}

void CResultViewerDlg::OnScrollAction(int action) {
    ScrollRequest request;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            request = ScrollRequest::kLineLeft;
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            request = ScrollRequest::kLineRight;
            break;
        case QAbstractSlider::SliderPageStepSub:
            request = ScrollRequest::kPageLeft;
            break;
        case QAbstractSlider::SliderPageStepAdd:
            request = ScrollRequest::kPageRight;
            break;
        case QAbstractSlider::SliderToMinimum:
            request = ScrollRequest::kLeftEnd;
            break;
        case QAbstractSlider::SliderToMaximum:
            request = ScrollRequest::kRightEnd;
            break;
        case QAbstractSlider::SliderMove:
            request = ScrollRequest::kThumbTrack;
            break;
        default:
            return;
    }
    // The bar has already moved by its own rules; the viewer's rules decide.
    const int next = NextScrollPosition(range_, scroll_, request, bar_->sliderPosition());
    bar_->setSliderPosition(next);
}

void CResultViewerDlg::Scroll(ScrollRequest request, int thumb) {
    ApplyScroll(NextScrollPosition(range_, scroll_, request, thumb));
}

void CResultViewerDlg::ApplyScroll(int position) {
    scroll_ = position;
    settingBar_ = true;
    bar_->setValue(position);
    settingBar_ = false;
    chart_->SetSplit(kFixedStripWidth, ScrolledSourceX(scroll_));
    chart_->update();
}

}  // namespace ys::gui
