// The support contact dialog: writes today's support data file when it opens, explains how the
// data is used, and opens the support folder and a prepared mail to the support desk.
#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>
#include <string>

namespace ys {
class CYieldscopeApp;
}

class QListWidget;
class QPushButton;
class QLabel;

namespace ys::gui {

class CNVConnectionDlg : public QDialog {
    Q_OBJECT
public:
    // Writes the support data file (a failure is shown, the dialog opens all the same).
    CNVConnectionDlg(CYieldscopeApp& app, QWidget* parent = nullptr);

    // Opens the support folder, then the mail link; the dialog stays open.
    void OpenMailAndFolder();

    // How folders and links are handed to the desktop; tests record the calls instead.
    using UrlOpener = std::function<bool(const QUrl&)>;
    static void SetUrlOpener(UrlOpener opener);  // empty: the desktop's own handler

    const std::string& supportFolder() const { return folder_; }
    const std::string& supportFilePath() const { return path_; }
    QUrl mailUrl() const { return mailUrl_; }

    QLabel* privacyText() const { return privacy_; }
    QListWidget* instructions() const { return instructions_; }
    QPushButton* sendButton() const { return send_; }
    QPushButton* closeButton() const { return close_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::string folder_;
    std::string path_;
    QUrl mailUrl_;
    QLabel* privacy_ = nullptr;
    QListWidget* instructions_ = nullptr;
    QPushButton* send_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace ys::gui
