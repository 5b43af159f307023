#include "app/errors/error_viewer_dlg.h"

namespace ys::gui {

CErrorViewerDlg::CErrorViewerDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : CSubDlg(mainWindow, app, parent) {}

}  // namespace ys::gui
