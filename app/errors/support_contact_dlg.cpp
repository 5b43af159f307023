#include "app/errors/support_contact_dlg.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "app/app_data.h"
#include "app/dialog_units.h"
#include "app/errors/support_contact.h"
#include "app/fonts.h"
#include "app/message_box.h"
#include "platform/paths.h"

namespace ys::gui {
namespace {

CNVConnectionDlg::UrlOpener& Opener() {
    static CNVConnectionDlg::UrlOpener opener;
    return opener;
}

bool OpenUrl(const QUrl& url) {
    if (Opener()) return Opener()(url);
    return QDesktopServices::openUrl(url);
}

QString Q(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// The dialog's face at 9 points, like the dialog template.
QFont ContactFont() {
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPointSize(9);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

}  // namespace

void CNVConnectionDlg::SetUrlOpener(UrlOpener opener) {
    Opener() = std::move(opener);
}

CNVConnectionDlg::CNVConnectionDlg(CYieldscopeApp& app, QWidget* parent) : QDialog(parent) {
    setWindowTitle(Q(kContactDlgTitle));
    const QFont font = ContactFont();
    setFont(font);
    const DialogUnits du(font);
    setFixedSize(du.Size(420, 300));

    auto* privacyCaption = new QLabel(Q(kPrivacyCaption), this);
    privacyCaption->setGeometry(du.Rect(7, 7, 200, 9));
    privacy_ = new QLabel(this);
    privacy_->setGeometry(du.Rect(7, 18, 406, 124));
    privacy_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    privacy_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    privacy_->setMargin(du.X(2));

    auto* sendCaption = new QLabel(Q(kSendCaption), this);
    sendCaption->setGeometry(du.Rect(7, 150, 200, 9));
    instructions_ = new QListWidget(this);
    instructions_->setGeometry(du.Rect(7, 161, 406, 106));
    instructions_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    instructions_->setSortingEnabled(false);

    send_ = new QPushButton(Q(kSendButton), this);
    send_->setGeometry(du.Rect(248, 275, 100, 16));
    send_->setDefault(true);
    send_->setAutoDefault(true);
    close_ = new QPushButton(Q(kCloseButton), this);
    close_->setGeometry(du.Rect(353, 275, 60, 16));
    close_->setAutoDefault(false);
    connect(send_, &QPushButton::clicked, this, &CNVConnectionDlg::OpenMailAndFolder);
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);

    // The support data file is written as the dialog opens.
    const SupportFile file = PrepareSupportFile(app, paths::DocumentsDir());
    folder_ = file.folder;
    path_ = file.save.path;
    mailUrl_ = QUrl::fromEncoded(
        QByteArray::fromStdString(BuildSupportMailLink(SupportMailAddress(app.programDir))),
        QUrl::StrictMode);
    if (!file.save.ok()) MessageBox::Error(this, QString::fromStdString(file.save.UserMessage()));

    privacy_->setText(Q(kPrivacyText));
    for (const std::string& line : InstructionLines(file.fileName)) {
        instructions_->addItem(QString::fromStdString(line));
    }
    send_->setFocus();
}

void CNVConnectionDlg::OpenMailAndFolder() {
    // What the desktop makes of them is not looked at: it shows its own errors.
    (void)OpenUrl(QUrl::fromLocalFile(QString::fromStdString(folder_)));
    (void)OpenUrl(mailUrl_);
}

void CNVConnectionDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {  // only "閉じる" and the close command end it
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace ys::gui
