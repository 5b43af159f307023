#include "app/solar_sim_dlg.h"

namespace ys::gui {

CSolarSimDlg::CSolarSimDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : CSubDlg(mainWindow, app, parent) {}

}  // namespace ys::gui
