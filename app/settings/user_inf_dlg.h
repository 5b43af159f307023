// User and installation page.
#pragma once

#include "app/sub_dlg.h"

namespace ys::gui {

class CUserInfDlg : public CSubDlg {
    Q_OBJECT
public:
    CUserInfDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);
};

}  // namespace ys::gui
