// The version dialog: the program picture, the program's name and version, and OK.
#pragma once

#include <QDialog>

class QLabel;

namespace ys::gui {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    QLabel* picture() const { return picture_; }

private:
    QLabel* picture_;
};

}  // namespace ys::gui
