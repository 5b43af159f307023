#include "app/settings/user_inf_dlg.h"

namespace ys::gui {

CUserInfDlg::CUserInfDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : CSubDlg(mainWindow, app, parent) {}

}  // namespace ys::gui
