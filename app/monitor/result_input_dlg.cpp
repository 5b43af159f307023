#include "app/monitor/result_input_dlg.h"

namespace ys::gui {

CResultInputDlg::CResultInputDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : CSubDlg(mainWindow, app, parent) {}

}  // namespace ys::gui
