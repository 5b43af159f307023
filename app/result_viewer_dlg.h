// Generation data viewer: the monthly or the daily generation as a chart that scrolls
// horizontally behind its fixed value axis.
#pragma once

#include "app/sub_dlg.h"
#include "app/viewer_scroll.h"

class QRadioButton;
class QScrollBar;

namespace ys::gui {

class ChartArea;

class CResultViewerDlg : public CSubDlg {
    Q_OBJECT
public:
    CResultViewerDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);

    // 0 monthly chart, 1 daily chart, -1 when neither button is checked.
    int mode() const { return mode_; }
    int scrollPosition() const { return scroll_; }
    const ScrollRange& scrollRange() const { return range_; }
    // A request of the scroll bar (the bar's own actions come here too).
    void Scroll(ScrollRequest request, int thumb = 0);

    QRadioButton* monthlyButton() const { return monthly_; }
    QRadioButton* dailyButton() const { return daily_; }
    QScrollBar* scrollBar() const { return bar_; }
    ChartArea* chartArea() const { return chart_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int ModeFromButtons() const;
    void OnModeChosen();
    void OnScrollAction(int action);
    void BuildChart();
    void ApplyScroll(int position);

    QRadioButton* monthly_;
    QRadioButton* daily_;
    ChartArea* chart_;
    QScrollBar* bar_;
    int mode_ = 0;
    int scroll_ = 0;
    ScrollRange range_;
    bool settingBar_ = false;
};

}  // namespace ys::gui
