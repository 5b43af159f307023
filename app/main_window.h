// The main window: the button column on the left, one page at a time on the right.
#pragma once

#include <QDialog>
#include <array>
#include <functional>

namespace ys {
class CYieldscopeApp;
struct FileResult;
}  // namespace ys

class QPushButton;

namespace ys::gui {

class CSubDlg;

enum class Page { kUserInfo, kSolarSim, kResultInput, kResultCheck, kResultViewer, kErrorViewer };
inline constexpr int kPageCount = 6;

class CYieldscopeDlg : public QDialog {
    Q_OBJECT
public:
    // Creates the six pages in the order of `Page`; tests put recording pages in.
    using PageFactory =
        std::function<std::array<CSubDlg*, kPageCount>(CYieldscopeDlg&, CYieldscopeApp&)>;
    static std::array<CSubDlg*, kPageCount> CreateDefaultPages(CYieldscopeDlg& dlg,
                                                               CYieldscopeApp& app);

    explicit CYieldscopeDlg(CYieldscopeApp& app, QWidget* parent = nullptr,
                            const PageFactory& factory = CreateDefaultPages);
    ~CYieldscopeDlg() override;

    // Switches to `page`, asking the current page first. 1 when switched, else 0.
    int ShowPage(Page page);
    int ShowPage(CSubDlg* page);

    CSubDlg* page(Page p) const { return pages_[static_cast<int>(p)]; }
    CSubDlg* currentPage() const { return current_; }
    // The button of the column that shows `page`.
    QPushButton* pageButton(Page p) const;
    // Moves the keyboard focus to the button of `page` (after a page's lead-on button switched).
    void FocusPageButton(Page p);

    // "ユーザーデータ読込" after the file dialog: loads `path` and refreshes the user page.
    void LoadUserDataFrom(const QString& path);
    // The file dialog of "ユーザーデータ読込"; tests replace it.
    void SetFileChooser(std::function<QString(QWidget*)> chooser) { chooser_ = std::move(chooser); }

    // The exit button; the title bar's close goes through closeEvent.
    void OnExit();

    QPushButton* button(int id) const;
    // Where the pages are shown in the client area.
    QPoint pageOrigin() const { return pageOrigin_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void reject() override;

private:
    void BuildButtonColumn();
    void OnPageButton(Page p, QPushButton* b);
    void OnLoadButton();
    void OnAbout();
    // Asks the shown page before the program ends; false keeps the window open.
    bool CurrentPageLetsGo(int exitFlag);
    void ReportRefusedFile(const FileResult& r);

    CYieldscopeApp& app_;
    std::array<CSubDlg*, kPageCount> pages_{};
    CSubDlg* current_ = nullptr;
    std::array<QPushButton*, kPageCount> pageButtons_{};
    std::function<QString(QWidget*)> chooser_;
    bool closing_ = false;  // the exit button already asked the user page
    QPoint pageOrigin_;
};

}  // namespace ys::gui
