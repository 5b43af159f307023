#include "app/errors/error_viewer_dlg.h"

#include <QLabel>
#include <QListWidget>
#include <QShowEvent>

#include "app/app_data.h"
#include "app/errors/error_catalogue.h"

namespace ys::gui {

CErrorViewerDlg::CErrorViewerDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : CSubDlg(mainWindow, app, parent) {
    // A fixed-pitch font, so that the columns of the lines align.
    QFont fixed(QStringLiteral("ＭＳ ゴシック"));
    fixed.setPointSize(9);
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setFixedPitch(true);
    setFont(fixed);

    auto* label = new QLabel(QStringLiteral("エラーデータ"), this);
    Place(label, 11, 13, 120, 10);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("errorList"));
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    Place(list_, 11, 27, 374, 320);
}

void CErrorViewerDlg::showEvent(QShowEvent* event) {
    CSubDlg::showEvent(event);
    if (!event->spontaneous()) Rebuild();
}

void CErrorViewerDlg::Rebuild() {
    list_->clear();
    for (const std::string& line : ErrorLines(app())) {
        list_->addItem(QString::fromStdString(line));
    }
}

}  // namespace ys::gui
