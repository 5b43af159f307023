#include "app/main_window.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <cstdio>

#include "app/about_dlg.h"
#include "app/app_data.h"
#include "app/diagnosis/result_check_dlg.h"
#include "app/dialog_units.h"
#include "app/errors/error_viewer_dlg.h"
#include "app/message_box.h"
#include "app/monitor/result_input_dlg.h"
#include "app/result_viewer_dlg.h"
#include "app/settings/user_inf_dlg.h"
#include "app/solar_sim_dlg.h"
#include "app/sub_dlg.h"
#include "app/user_data_file.h"

namespace ys::gui {
namespace {

struct ButtonSpec {
    int id;
    const char* text;
    int x, y;
};

// The button column: page buttons, then loading, errors, version and exit.
constexpr ButtonSpec kButtons[] = {
    {1000, "ユーザー情報", 10, 25},      {1001, "発電シミュレーション", 11, 58},
    {1002, "発電データ入力", 10, 91},    {1004, "ヘリオミル", 10, 124},
    {1006, "発電データ表示", 10, 167},   {1010, "ユーザーデータ読込", 11, 236},
    {1007, "エラーデータ表示", 11, 263}, {1008, "バージョン情報", 10, 299},
    {1094, "終　了", 11, 325},
};

struct MarkSpec {
    int x, y;
};
constexpr MarkSpec kMarks[] = {{39, 48}, {38, 80}, {38, 113}};

// The column's frame ends at 82 units; the pages start just right of it (145 pixels at the
// dialog font's usual scale).
constexpr int kPageOriginDu = 83;
constexpr int kWindowWidthDu = 480;
constexpr int kWindowHeightDu = 360;

Page PageOfButton(int id) {
    switch (id) {
        case 1000:
            return Page::kUserInfo;
        case 1001:
            return Page::kSolarSim;
        case 1002:
            return Page::kResultInput;
        case 1004:
            return Page::kResultCheck;
        case 1006:
            return Page::kResultViewer;
        default:
            return Page::kErrorViewer;
    }
}

}  // namespace

CYieldscopeDlg::CYieldscopeDlg(CYieldscopeApp& app, QWidget* parent, const PageFactory& factory)
    : QDialog(parent), app_(app) {
    // A fixed-size dialog that can be minimised, with no context-help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("ヘリオミルシステム"));
    setFont(DialogFont());
    // 1. The program icon.
    setWindowIcon(QIcon(QStringLiteral(":/icons/yieldscope.svg")));

    const DialogUnits& du = Dlu();
    pageOrigin_ = QPoint(du.X(kPageOriginDu), 0);
    const int width = std::max(du.X(kWindowWidthDu), pageOrigin_.x() + du.X(CSubDlg::kWidthDu));
    setFixedSize(width, du.Y(kWindowHeightDu));

    BuildButtonColumn();

    // 2. The default user data file (a missing one leaves the defaults; a refused one is kept
    // aside before anything can write the default file); 3. the month table.
    FileResult r = LoadDefaultUserDataAtStart(app_);
    if (r.outcome == FileOutcome::kCorrupt) {
        ReportRefusedFile(r);
        MessageBox::Error(this, QString::fromStdString(r.UserMessage()));
    }
    app_.RebuildMonthTable();

    // 4. The six pages, 5. the user page.
    pages_ = factory(*this, app_);
    for (CSubDlg* p : pages_) p->hide();
    ShowPage(Page::kUserInfo);
}

CYieldscopeDlg::~CYieldscopeDlg() = default;

void CYieldscopeDlg::BuildButtonColumn() {
    const DialogUnits& du = Dlu();
    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->setGeometry(du.Rect(2, 2, 80, 357));

    for (const ButtonSpec& entry : kButtons) {
        auto* b = new QPushButton(QString::fromUtf8(entry.text), this);
        b->setObjectName(QStringLiteral("button%1").arg(entry.id));
        b->setAutoDefault(false);
        b->setGeometry(du.Rect(entry.x, entry.y, 64, 18));
        switch (entry.id) {
            case 1010:
                connect(b, &QPushButton::clicked, this, &CYieldscopeDlg::OnLoadButton);
                break;
            case 1008:
                connect(b, &QPushButton::clicked, this, &CYieldscopeDlg::OnAbout);
                break;
            case 1094:
                connect(b, &QPushButton::clicked, this, &CYieldscopeDlg::OnExit);
                break;
            default: {
                Page p = PageOfButton(entry.id);
                pageButtons_[static_cast<int>(p)] = b;
                connect(b, &QPushButton::clicked, this, [this, p, b] { OnPageButton(p, b); });
                break;
            }
        }
    }
    for (const MarkSpec& m : kMarks) {
        auto* mark = new QLabel(QStringLiteral("▼"), this);
        mark->setGeometry(du.Rect(m.x, m.y, 10, 9));
    }
}

std::array<CSubDlg*, kPageCount> CYieldscopeDlg::CreateDefaultPages(CYieldscopeDlg& dlg,
                                                                    CYieldscopeApp& app) {
    // Children of the main window: destroyed with it, in the order of creation.
    return {new CUserInfDlg(dlg, app, &dlg),      new CSolarSimDlg(dlg, app, &dlg),
            new CResultInputDlg(dlg, app, &dlg),  new CResultCheckDlg(dlg, app, &dlg),
            new CResultViewerDlg(dlg, app, &dlg), new CErrorViewerDlg(dlg, app, &dlg)};
}

QPushButton* CYieldscopeDlg::pageButton(Page p) const {
    return pageButtons_[static_cast<int>(p)];
}

QPushButton* CYieldscopeDlg::button(int id) const {
    return findChild<QPushButton*>(QStringLiteral("button%1").arg(id));
}

void CYieldscopeDlg::FocusPageButton(Page p) {
    pageButton(p)->setFocus(Qt::OtherFocusReason);
}

int CYieldscopeDlg::ShowPage(Page page) {
    return ShowPage(pages_[static_cast<int>(page)]);
}

int CYieldscopeDlg::ShowPage(CSubDlg* page) {
    if (page == current_) return 0;
    if (current_) {
        if (current_->OnPageChange(1, 0) == 0) return 0;
        current_->hide();
    }
    current_ = page;
    current_->OnPageChange(0, 0);
    current_->move(pageOrigin_);
    current_->show();
    return 1;
}

void CYieldscopeDlg::OnPageButton(Page p, QPushButton* b) {
    if (ShowPage(p) == 1) b->setFocus(Qt::OtherFocusReason);
}

void CYieldscopeDlg::OnLoadButton() {
    QString path;
    if (chooser_) {
        path = chooser_(this);
    } else {
        QFileDialog dlg(this);
        dlg.setNameFilter(QStringLiteral("UserData Files (*.sol)"));
        dlg.setDefaultSuffix(QStringLiteral("sol"));
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.selectFile(QStringLiteral("*.sol"));
        if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()) {
            path = dlg.selectedFiles().front();
        }
    }
    if (path.isEmpty()) return;
    LoadUserDataFrom(path);
}

void CYieldscopeDlg::LoadUserDataFrom(const QString& path) {
    FileResult r = LoadUserData(app_, path.toStdString());
    // A file that cannot be opened is passed over silently; a damaged one changes nothing and
    // is reported, naming the file.
    if (r.outcome == FileOutcome::kCorrupt) {
        ReportRefusedFile(r);
        MessageBox::Error(this, QString::fromStdString(r.UserMessage()));
    }
    page(Page::kUserInfo)->OnPageChange(0, 0);
    if (ShowPage(Page::kUserInfo) == 1) FocusPageButton(Page::kUserInfo);
}

void CYieldscopeDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CYieldscopeDlg::ReportRefusedFile(const FileResult& r) {
    std::fprintf(stderr, "yieldscope: %s: refused: %s\n", r.path.c_str(), r.technical.c_str());
}

bool CYieldscopeDlg::CurrentPageLetsGo(int exitFlag) {
    // The user page commits on leaving; the data entry page asks before typed values are lost.
    if (current_ != page(Page::kUserInfo) && current_ != page(Page::kResultInput)) return true;
    return current_->OnPageChange(1, exitFlag) != 0;
}

void CYieldscopeDlg::OnExit() {
    if (!CurrentPageLetsGo(1)) return;
    closing_ = true;
    done(QDialog::Rejected);
}

void CYieldscopeDlg::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    if (!CurrentPageLetsGo(0)) {
        event->ignore();
        return;
    }
    closing_ = true;
    done(QDialog::Accepted);
    event->accept();
}

void CYieldscopeDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (!isMinimized()) return;
    // Window systems that keep drawing a minimised window show the program icon in it.
    QPainter p(this);
    const QSize side(32, 32);
    const QRect target(QPoint((width() - side.width()) / 2, (height() - side.height()) / 2), side);
    windowIcon().paint(&p, target);
}

void CYieldscopeDlg::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape close nothing here.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CYieldscopeDlg::reject() {
    // Escape is swallowed above; only the exit button and the close command end the dialog.
    if (closing_) QDialog::reject();
}

}  // namespace ys::gui
