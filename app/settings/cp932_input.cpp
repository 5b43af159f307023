#include "app/settings/cp932_input.h"

#include "platform/codepage.h"

namespace ys::gui {

Cp932Validator::Cp932Validator(QObject* parent, std::function<void(const QString&)> refused)
    : QValidator(parent), refused_(std::move(refused)) {}

QValidator::State Cp932Validator::validate(QString& input, int& pos) const {
    (void)pos;
    const QString bad = FirstNonCp932Character(input);
    if (bad.isEmpty()) return Acceptable;
    if (refused_) refused_(Cp932RefusalMessage(bad));
    return Invalid;
}

QString Cp932RefusalMessage(const QString& character) {
    return QStringLiteral(
               "「%1」は使用できない文字です。\n"
               "シフトJIS（CP932）で表せる文字で入力してください。")
        .arg(character);
}

QString FirstNonCp932Character(const QString& text) {
    if (codepage::Utf8ToCp932(text.toStdString())) return {};
    // Find the offending character (a surrogate pair counts as one).
    for (int i = 0; i < text.size(); ++i) {
        const int len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString ch = text.mid(i, len);
        if (!codepage::Utf8ToCp932(ch.toStdString())) return ch;
        i += len - 1;
    }
    return text.left(1);
}

bool ToCp932(const QString& text, std::string& out) {
    auto r = codepage::Utf8ToCp932(text.toStdString());
    if (!r) return false;
    out = std::move(*r);
    return true;
}

QString FromCp932(const std::string& cp932) {
    return QString::fromStdString(codepage::Cp932ToUtf8Lossy(cp932));
}

}  // namespace ys::gui
