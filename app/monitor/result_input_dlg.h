// Generation data entry page: typed monthly values and the import from the monitor unit.
#pragma once

#include "app/sub_dlg.h"

namespace ys::gui {

class CResultInputDlg : public CSubDlg {
    Q_OBJECT
public:
    CResultInputDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);
};

}  // namespace ys::gui
