#include "app/sub_dlg.h"

#include "app/dialog_units.h"

namespace ys::gui {

CSubDlg::CSubDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : QWidget(parent), main_(mainWindow), app_(app) {
    setFont(DialogFont());
    resize(Dlu().Size(kWidthDu, kHeightDu));
}

int CSubDlg::OnPageChange(int leaving, int exitFlag) {
    (void)leaving;
    (void)exitFlag;
    return 1;
}

void CSubDlg::Place(QWidget* w, int x, int y, int width, int height) {
    w->setGeometry(Dlu().Rect(x, y, width, height));
}

}  // namespace ys::gui
