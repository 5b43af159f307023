// The calculation-basis dialog of the simulation page: a fixed explanation of how the expected
// monthly and annual generation is computed.
#pragma once

#include <QDialog>
#include <string_view>

class QPlainTextEdit;

namespace ys::gui {

// The explanation, lines ended by CR LF (UTF-8).
extern const std::string_view kCalculationBasisText;

class CMessageDlg : public QDialog {
    Q_OBJECT
public:
    explicit CMessageDlg(QWidget* parent = nullptr);
    QPlainTextEdit* textField() const { return text_; }

private:
    QPlainTextEdit* text_;
};

}  // namespace ys::gui
