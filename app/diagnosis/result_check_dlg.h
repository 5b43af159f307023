// Diagnosis page: the verdict and the comparison chart.
#pragma once

#include "app/sub_dlg.h"

namespace ys::gui {

class CResultCheckDlg : public CSubDlg {
    Q_OBJECT
public:
    CResultCheckDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);
};

}  // namespace ys::gui
