#include "app/settings/zip_input_dlg.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "app/dialog_units.h"
#include "app/message_box.h"
#include "app/settings/postal_lookup.h"
#include "app/wait_cursor.h"
#include "platform/paths.h"

namespace ys::gui {

CZipInputDlg::CZipInputDlg(std::string programDir, QWidget* parent)
    : QDialog(parent), programDir_(std::move(programDir)) {
    setWindowTitle(QStringLiteral("郵便番号検索"));
    setFont(DialogFont());
    const DialogUnits& du = Dlu();
    setFixedSize(du.Size(200, 64));

    auto* label = new QLabel(QStringLiteral("郵便番号"), this);
    label->setGeometry(du.Rect(10, 12, 36, 10));
    code_ = new QLineEdit(this);
    code_->setObjectName(QStringLiteral("code"));
    code_->setGeometry(du.Rect(48, 10, 50, 13));
    // Digits only: a hyphen or a full-width digit cannot be typed.
    code_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), code_));
    auto* hint = new QLabel(QStringLiteral(" ”－” なしの半角７桁の数字を入力"), this);
    hint->setGeometry(du.Rect(10, 28, 180, 10));

    search_ = new QPushButton(QStringLiteral("検索"), this);
    search_->setGeometry(du.Rect(88, 44, 50, 14));
    search_->setDefault(true);
    auto* close = new QPushButton(QStringLiteral("閉じる"), this);
    close->setGeometry(du.Rect(142, 44, 50, 14));
    close->setAutoDefault(false);
    connect(search_, &QPushButton::clicked, this, &CZipInputDlg::OnSearch);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

void CZipInputDlg::OnSearch() {
    results_.clear();
    const std::string code = code_->text().toStdString();  // digits only: ASCII
    const std::string path = paths::Join(programDir_, std::string(kPostalCodeFile));
    Result<std::vector<std::string>> found = [&] {
        WaitCursor wait;
        return SearchPostalCode(path, code);
    }();
    if (!found) {
        MessageBox::Error(this, QStringLiteral("住所データファイルが開けません。"));
        return;
    }
    results_ = std::move(*found);
    if (!results_.empty()) {
        accept();
        return;
    }
    QString text = QStringLiteral("指定の郵便番号に合致する住所が見つかりませんでした。");
    // A placeholder file (the national file was not installed) finds nothing: say why.
    if (QFileInfo(QString::fromStdString(path)).size() == 0) {
        text += QStringLiteral(
            "\n（住所データファイル KEN_ALL.CSV が空のため、住所を検索できません。）");
    }
    MessageBox::Show(this, text, QStringLiteral("郵便番号検索"), MsgButtons::kOk,
                     MsgIcon::kWarning);
}

}  // namespace ys::gui
