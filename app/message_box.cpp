#include "app/message_box.h"

#include <QMessageBox>
#include <QPushButton>

namespace ys::gui {
namespace {

struct TestState {
    bool on = false;
    std::deque<MsgAnswer> answers;
    std::vector<ShownMessage> shown;
};

TestState& State() {
    static TestState state;
    return state;
}

MsgAnswer DefaultAnswer(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::kOk:
            return MsgAnswer::kOk;
        case MsgButtons::kYesNo:
            return MsgAnswer::kNo;
        case MsgButtons::kOkCancel:
            return MsgAnswer::kCancel;
    }
    return MsgAnswer::kOk;
}

}  // namespace

QString ApplicationName() { return QStringLiteral("ヘリオミルシステム"); }

MsgAnswer MessageBox::Show(QWidget* parent, const QString& text, const QString& title,
                           MsgButtons buttons, MsgIcon icon) {
    TestState& st = State();
    if (st.on) {
        st.shown.push_back({title, text, icon, buttons});
        if (st.answers.empty()) return DefaultAnswer(buttons);
        MsgAnswer a = st.answers.front();
        st.answers.pop_front();
        return a;
    }
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
        case MsgIcon::kNone:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MsgIcon::kInformation:
            box.setIcon(QMessageBox::Information);
            break;
        case MsgIcon::kWarning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MsgIcon::kError:
            box.setIcon(QMessageBox::Critical);
            break;
        case MsgIcon::kQuestion:
            box.setIcon(QMessageBox::Question);
            break;
    }
    switch (buttons) {
        case MsgButtons::kOk:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MsgButtons::kYesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            break;
        case MsgButtons::kOkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
    }
    // The button texts of the Japanese desktop, whatever translations are installed.
    if (auto* b = box.button(QMessageBox::Yes)) b->setText(QStringLiteral("はい(&Y)"));
    if (auto* b = box.button(QMessageBox::No)) b->setText(QStringLiteral("いいえ(&N)"));
    if (auto* b = box.button(QMessageBox::Cancel)) b->setText(QStringLiteral("キャンセル"));
    switch (box.exec()) {
        case QMessageBox::Yes:
            return MsgAnswer::kYes;
        case QMessageBox::No:
            return MsgAnswer::kNo;
        case QMessageBox::Cancel:
            return MsgAnswer::kCancel;
        default:
            return buttons == MsgButtons::kYesNo ? MsgAnswer::kNo : MsgAnswer::kOk;
    }
}

bool MessageBox::Confirm(QWidget* parent, const QString& text) {
    return Show(parent, text, QStringLiteral("確認"), MsgButtons::kYesNo, MsgIcon::kWarning) ==
           MsgAnswer::kYes;
}

void MessageBox::Error(QWidget* parent, const QString& text) {
    Show(parent, text, QStringLiteral("エラー"), MsgButtons::kOk, MsgIcon::kError);
}

void MessageBox::Info(QWidget* parent, const QString& text, MsgIcon icon) {
    Show(parent, text, ApplicationName(), MsgButtons::kOk, icon);
}

void MessageBox::Warning(QWidget* parent, const QString& text) {
    Show(parent, text, ApplicationName(), MsgButtons::kOk, MsgIcon::kWarning);
}

void MessageBox::SetTestMode(bool on) {
    State().on = on;
    State().answers.clear();
    State().shown.clear();
}

bool MessageBox::TestMode() { return State().on; }

void MessageBox::SetNextAnswer(MsgAnswer answer) { State().answers.push_back(answer); }

const std::vector<ShownMessage>& MessageBox::Shown() { return State().shown; }

void MessageBox::ClearShown() { State().shown.clear(); }

}  // namespace ys::gui
