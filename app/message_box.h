// Every message box of the GUI goes through here, so that tests can answer it without a real
// dialog and check what the user would have seen.
#pragma once

#include <QString>
#include <deque>
#include <vector>

class QWidget;

namespace ys::gui {

enum class MsgIcon { kNone, kInformation, kWarning, kError, kQuestion };
enum class MsgButtons { kOk, kYesNo, kOkCancel };
enum class MsgAnswer { kOk, kCancel, kYes, kNo };

struct ShownMessage {
    QString title;
    QString text;
    MsgIcon icon;
    MsgButtons buttons;
};

class MessageBox {
public:
    static MsgAnswer Show(QWidget* parent, const QString& text, const QString& title,
                          MsgButtons buttons, MsgIcon icon);

    // "確認" with Yes and No and the warning icon; true on Yes.
    static bool Confirm(QWidget* parent, const QString& text);
    // "エラー" with the stop icon and OK.
    static void Error(QWidget* parent, const QString& text);
    // The application's name as title, OK, the given icon.
    static void Info(QWidget* parent, const QString& text, MsgIcon icon = MsgIcon::kNone);
    static void Warning(QWidget* parent, const QString& text);

    // Test seam: in test mode no dialog is shown; each box is recorded and answered with the next
    // queued answer, or with its default (OK, or No for a question) when none is queued.
    static void SetTestMode(bool on);
    static bool TestMode();
    static void SetNextAnswer(MsgAnswer answer);
    static const std::vector<ShownMessage>& Shown();
    static void ClearShown();
};

// The title of message boxes that carry the application's name.
QString ApplicationName();

}  // namespace ys::gui
