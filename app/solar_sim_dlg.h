// Simulation page: the expected generation of the twelve months as a chart with its annual total.
#pragma once

#include <QFrame>

#include "app/sub_dlg.h"

class QPushButton;

namespace ys::gui {

class ChartArea;

// The etched box of the annual total: "%6d kWh" at (30, 8) on a transparent background.
class AnnualTotalBox : public QFrame {
    Q_OBJECT
public:
    explicit AnnualTotalBox(QWidget* parent);
    // An empty text paints nothing.
    void SetText(const QString& text);
    const QString& text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

// "%6d kWh": at least six places, more when the total needs them.
QString FormatAnnualTotal(long long total);

class CSolarSimDlg : public CSubDlg {
    Q_OBJECT
public:
    CSolarSimDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);

    ChartArea* chartArea() const { return chart_; }
    AnnualTotalBox* totalBox() const { return total_; }
    long long annualTotal() const { return annualTotal_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void OnNext();
    void OnCalculationBasis();

    ChartArea* chart_;
    AnnualTotalBox* total_;
    long long annualTotal_ = 0;
};

}  // namespace ys::gui
