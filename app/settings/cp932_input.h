// Text fields whose content is kept in CP932: a character that CP932 cannot hold is refused as
// it is typed or pasted, with a message shown at the field.
#pragma once

#include <QString>
#include <QValidator>
#include <functional>
#include <string>

class QLineEdit;
class QComboBox;

namespace ys::gui {

class Cp932Validator : public QValidator {
    Q_OBJECT
public:
    // `refused` is called with the message for the user when an input is refused.
    Cp932Validator(QObject* parent, std::function<void(const QString&)> refused);
    State validate(QString& input, int& pos) const override;

private:
    std::function<void(const QString&)> refused_;
};

// The message for a refused character.
QString Cp932RefusalMessage(const QString& character);

// The first character of `text` that CP932 cannot hold; empty when there is none.
QString FirstNonCp932Character(const QString& text);

// UTF-8/UTF-16 text to CP932 bytes; false when it holds a character CP932 cannot hold.
bool ToCp932(const QString& text, std::string& out);
// CP932 bytes for display (bytes that do not decode show as U+FFFD).
QString FromCp932(const std::string& cp932);

}  // namespace ys::gui
