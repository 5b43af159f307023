// The base of the six pages of the main window and the page-change protocol they take part in.
#pragma once

#include <QWidget>

namespace ys {
class CYieldscopeApp;
}

namespace ys::gui {

class CYieldscopeDlg;

class CSubDlg : public QWidget {
    Q_OBJECT
public:
    // Pages are 396 x 360 dialog units.
    static constexpr int kWidthDu = 396;
    static constexpr int kHeightDu = 360;

    CSubDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);

    // Called with leaving = 1 on the page about to be left (0 refuses the change) and with
    // leaving = 0 on the page about to be shown (the result is ignored). exitFlag is 1 only
    // when the user pressed the exit button.
    virtual int OnPageChange(int leaving, int exitFlag);

protected:
    CYieldscopeDlg& mainWindow() { return main_; }
    CYieldscopeApp& app() { return app_; }
    const CYieldscopeApp& app() const { return app_; }

    // Places a child at a position in dialog units (x, y, width, height).
    void Place(QWidget* w, int x, int y, int width, int height);

private:
    CYieldscopeDlg& main_;
    CYieldscopeApp& app_;
};

}  // namespace ys::gui
