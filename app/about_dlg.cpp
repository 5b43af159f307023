#include "app/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/dialog_units.h"

namespace ys::gui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("バージョン情報"));
    setFont(DialogFont());
    const DialogUnits& du = Dlu();
    setFixedSize(du.Size(200, 70));
    auto* name = new QLabel(QStringLiteral("ヘリオミルシステム　ソフトウェア"), this);
    name->setGeometry(du.Rect(50, 12, 140, 10));
    auto* version = new QLabel(QStringLiteral("Ver 1.04"), this);
    version->setGeometry(du.Rect(50, 26, 140, 10));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setGeometry(du.Rect(143, 48, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace ys::gui
