#include "app/about_dlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/dialog_units.h"

namespace ys::gui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("バージョン情報"));
    setFont(DialogFont());
    const DialogUnits& du = Dlu();
    setFixedSize(du.Size(220, 62));

    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("picture"));
    const QSize side(du.X(30), du.X(30));
    picture_->setGeometry(QRect(du.Pos(10, 10), side));
    picture_->setPixmap(
        QIcon(QStringLiteral(":/pictures/about.svg")).pixmap(side, devicePixelRatioF()));

    auto* name = new QLabel(QStringLiteral("ヘリオミルシステム　ソフトウェア"), this);
    name->setGeometry(du.Rect(50, 14, 160, 10));
    auto* version = new QLabel(QStringLiteral("Ver 1.04"), this);
    version->setGeometry(du.Rect(50, 28, 160, 10));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setGeometry(du.Rect(163, 42, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace ys::gui
