// The postal-code dialog: the addresses of a seven-digit postal code from the national file.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QLineEdit;
class QPushButton;

namespace ys::gui {

class CZipInputDlg : public QDialog {
    Q_OBJECT
public:
    explicit CZipInputDlg(std::string programDir, QWidget* parent = nullptr);

    // The addresses found by the search that ended the dialog with OK (CP932), at most 100.
    const std::vector<std::string>& results() const { return results_; }
    int resultCount() const { return static_cast<int>(results_.size()); }

    QLineEdit* codeEdit() const { return code_; }
    QPushButton* searchButton() const { return search_; }

    void OnSearch();

private:
    std::string programDir_;
    std::vector<std::string> results_;
    QLineEdit* code_;
    QPushButton* search_;
};

}  // namespace ys::gui
