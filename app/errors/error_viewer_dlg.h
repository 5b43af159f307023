// Error data page: the power conditioner errors the monitor unit logged.
#pragma once

#include "app/sub_dlg.h"

namespace ys::gui {

class CErrorViewerDlg : public CSubDlg {
    Q_OBJECT
public:
    CErrorViewerDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);
};

}  // namespace ys::gui
