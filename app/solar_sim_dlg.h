// Simulation page: the expected generation as a chart.
#pragma once

#include "app/sub_dlg.h"

namespace ys::gui {

class CSolarSimDlg : public CSubDlg {
    Q_OBJECT
public:
    CSolarSimDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);
};

}  // namespace ys::gui
