// Error data page: the power conditioner's error events that the monitor unit logged, one line
// each, oldest first.
#pragma once

#include "app/sub_dlg.h"

class QListWidget;

namespace ys::gui {

class CErrorViewerDlg : public CSubDlg {
    Q_OBJECT
public:
    CErrorViewerDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);

    QListWidget* list() const { return list_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Rebuild();

    QListWidget* list_;
};

}  // namespace ys::gui
