#include "app/diagnosis/result_check_dlg.h"

namespace ys::gui {

CResultCheckDlg::CResultCheckDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : CSubDlg(mainWindow, app, parent) {}

}  // namespace ys::gui
