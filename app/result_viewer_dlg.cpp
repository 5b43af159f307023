#include "app/result_viewer_dlg.h"

namespace ys::gui {

CResultViewerDlg::CResultViewerDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : CSubDlg(mainWindow, app, parent) {}

}  // namespace ys::gui
