// Generation data viewer: monthly and daily charts with scrolling.
#pragma once

#include "app/sub_dlg.h"

namespace ys::gui {

class CResultViewerDlg : public CSubDlg {
    Q_OBJECT
public:
    CResultViewerDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);
};

}  // namespace ys::gui
