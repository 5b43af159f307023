// The version dialog.
#pragma once

#include <QDialog>

namespace ys::gui {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace ys::gui
