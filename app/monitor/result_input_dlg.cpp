#include "app/monitor/result_input_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "app/dialog_units.h"
#include "app/main_window.h"
#include "app/message_box.h"

namespace ys::gui {
namespace {

constexpr const char* kMonthLabels[12] = {"１月", "２月", "３月", "４月",   "５月",   "６月",
                                          "７月", "８月", "９月", "１０月", "１１月", "１２月"};

// The connection lamp: 32 x 18 pixels, black text on green or on white.
QPixmap LampPicture(const QString& text, const QColor& background) {
    QPixmap pixmap(32, 18);
    pixmap.fill(background);
    QPainter painter(&pixmap);
    painter.setPen(Qt::black);
    painter.drawRect(0, 0, 31, 17);
    QFont font = DialogFont();
    font.setBold(true);
    font.setPixelSize(12);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, text);
    return pixmap;
}

QString Utf8(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

CResultInputDlg::CResultInputDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent,
                                 monitor::LinkIo io, bool discover)
    : CSubDlg(mainWindow, app, parent),
      io_(io),
      logic_(app, *this, std::move(io)),
      ports_(monitor::MonitorPortList()) {
    BuildEntryGroup();
    BuildImportGroup();

    diagnosis_ = new QPushButton(QStringLiteral("ヘリオミルへ進む"), this);
    diagnosis_->setAutoDefault(false);
    Place(diagnosis_, 310, 334, 76, 18);
    connect(diagnosis_, &QPushButton::clicked, this, [this] {
        if (this->mainWindow().ShowPage(Page::kResultCheck) == 1) {
            this->mainWindow().FocusPageButton(Page::kResultCheck);
        }
    });

    // The page shows its fields before it is first entered.
    logic_.EnterPage();
    SetLamp(false);
    if (discover) StartDiscovery();
}

CResultInputDlg::~CResultInputDlg() {
    // The worker calls back into this page; it must be gone before the widgets are.
    discovery_.Stop();
}

void CResultInputDlg::BuildEntryGroup() {
    auto* group = new QGroupBox(QStringLiteral("発電データの入力"), this);
    Place(group, 7, 4, 382, 158);

    auto* hint = new QLabel(
        QStringLiteral("ルメトラの月次発電量画面を参照して、各月の発電量(kWh)を入力してください。"),
        this);
    Place(hint, 16, 18, 366, 10);

    yearList_ = new QComboBox(this);
    yearList_->setEditable(false);
    Place(yearList_, 16, 34, 44, 14);
    auto* yearLabel = new QLabel(QStringLiteral("年"), this);
    Place(yearLabel, 64, 36, 12, 10);
    connect(yearList_, &QComboBox::activated, this, [this](int index) {
        logic_.ChangeYear(monitor::ResultInput::YearStep::kSelected, index);
    });

    previous_ = new QPushButton(QStringLiteral("＜前へ"), this);
    Place(previous_, 14, 70, 34, 30);
    next_ = new QPushButton(QStringLiteral("後へ＞"), this);
    Place(next_, 348, 70, 34, 30);
    for (QPushButton* b : {previous_, next_}) b->setAutoDefault(false);
    connect(previous_, &QPushButton::clicked, this,
            [this] { logic_.ChangeYear(monitor::ResultInput::YearStep::kPrevious); });
    connect(next_, &QPushButton::clicked, this,
            [this] { logic_.ChangeYear(monitor::ResultInput::YearStep::kNext); });

    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    for (int m = 1; m <= 12; ++m) {
        const int column = (m - 1) % 6;
        const int row = (m - 1) / 6;
        const int x = 54 + column * 49;
        auto* label = new QLabel(QString::fromUtf8(kMonthLabels[m - 1]), this);
        label->setAlignment(Qt::AlignCenter);
        Place(label, x, 58 + row * 32, 44, 10);
        auto* field = new QLineEdit(this);
        field->setValidator(digits);
        field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        field->setObjectName(QStringLiteral("month%1").arg(m));
        Place(field, x, 68 + row * 32, 44, 14);
        connect(field, &QLineEdit::textEdited, this, [this] { logic_.OnMonthEdited(); });
        fields_[static_cast<std::size_t>(m - 1)] = field;
    }

    complete_ = new QPushButton(QStringLiteral("入力完了"), this);
    complete_->setAutoDefault(false);
    Place(complete_, 298, 136, 64, 18);
    connect(complete_, &QPushButton::clicked, this, [this] { logic_.CompleteEntry(); });
}

void CResultInputDlg::BuildImportGroup() {
    importGroup_ = new QGroupBox(QStringLiteral("発電データの自動取込"), this);
    Place(importGroup_, 7, 170, 382, 96);
    const char* lines[] = {
        "ルメトラの「型式QTX52A」、「型式QTX52E」では、自動で発電データを取り込むことができます。",
        "パソコンとルメトラをUSBケーブルで接続してから、「取込実行」ボタンをクリックしてください。",
        "結果は上の入力欄に表示されます。",
    };
    for (int i = 0; i < 3; ++i) {
        auto* text = new QLabel(QString::fromUtf8(lines[i]), this);
        Place(text, 16, 184 + i * 12, 366, 10);
    }

    auto* portLabel = new QLabel(QStringLiteral("通信ポート："), this);
    Place(portLabel, 16, 232, 44, 10);
    portList_ = new QComboBox(this);
    portList_->setEditable(false);
    portList_->setMaxVisibleItems(12);
    for (int n : ports_) portList_->addItem(QStringLiteral("COM%1").arg(n), n);
    portList_->setCurrentIndex(0);
    Place(portList_, 62, 230, 52, 14);
    // Only the user's choice probes: the program's own selections do not emit `activated`.
    connect(portList_, &QComboBox::activated, this,
            [this](int) { logic_.ProbePort(SelectedPort()); });

    lampOk_ = new QLabel(this);
    lampOk_->setPixmap(LampPicture(QStringLiteral("OK"), QColor(0, 200, 0)));
    lampNg_ = new QLabel(this);
    lampNg_->setPixmap(LampPicture(QStringLiteral("NG"), Qt::white));
    for (QLabel* lamp : {lampOk_, lampNg_}) {
        lamp->move(Dlu().Pos(120, 229));
        lamp->resize(32, 18);
    }

    import_ = new QPushButton(QStringLiteral("取込実行"), this);
    import_->setAutoDefault(false);
    Place(import_, 160, 228, 64, 18);
    connect(import_, &QPushButton::clicked, this, [this] { logic_.Import(SelectedPort()); });
}

int CResultInputDlg::OnPageChange(int leaving, int exitFlag) {
    (void)exitFlag;
    if (!leaving) {
        logic_.EnterPage();
        return 1;
    }
    return logic_.CanLeavePage() ? 1 : 0;
}

int CResultInputDlg::SelectedPort() const {
    return portList_->currentData().toInt();
}

void CResultInputDlg::StartDiscovery() {
    discovering_ = true;
    UpdateImportControls();
    importGroup_->setCursor(Qt::BusyCursor);
    monitor::LinkIo io = io_;
    // The worker only posts to this page; queued calls die with it.
    discovery_.Start(
        ports_, [io](int portNo) { return monitor::ProbeMonitorUnit(portNo, io); },
        [this](int position, monitor::LinkResult result) {
            QMetaObject::invokeMethod(
                this, [this, position, result] { OnDiscoveryProgress(position, result); },
                Qt::QueuedConnection);
        },
        [this](int position) {
            QMetaObject::invokeMethod(
                this, [this, position] { OnDiscoveryDone(position); }, Qt::QueuedConnection);
        });
}

void CResultInputDlg::OnDiscoveryProgress(int position, monitor::LinkResult result) {
    (void)position;
    SetLamp(result == monitor::LinkResult::kSuccess);
}

void CResultInputDlg::OnDiscoveryDone(int position) {
    discovery_.Stop();  // the worker has ended; this reaps it
    portList_->setCurrentIndex(position);
    discovering_ = false;
    importGroup_->unsetCursor();
    UpdateImportControls();
    emit discoveryFinished();
}

void CResultInputDlg::UpdateImportControls() {
    portList_->setEnabled(!discovering_);
    import_->setEnabled(importWanted_ && !discovering_);
}

bool CResultInputDlg::lampOk() const {
    return !lampOk_->isHidden();
}

void CResultInputDlg::SetYearList(std::span<const int> years, int selected) {
    const QSignalBlocker block(yearList_);
    yearList_->clear();
    for (int y : years) yearList_->addItem(QString::asprintf("%4d", y), y);
    yearList_->setCurrentIndex(selected);
}

void CResultInputDlg::SelectYearPosition(int position) {
    const QSignalBlocker block(yearList_);
    yearList_->setCurrentIndex(position);
}

std::string CResultInputDlg::MonthText(int month) const {
    return monthField(month)->text().toStdString();
}

void CResultInputDlg::SetMonthText(int month, const std::string& text) {
    monthField(month)->setText(Utf8(text));
}

void CResultInputDlg::SetMonthEnabled(int month, bool enabled) {
    monthField(month)->setEnabled(enabled);
}

void CResultInputDlg::SetCompleteEnabled(bool enabled) {
    complete_->setEnabled(enabled);
}

void CResultInputDlg::SetImportEnabled(bool enabled) {
    importWanted_ = enabled;
    UpdateImportControls();
}

void CResultInputDlg::SetLamp(bool ok) {
    lampOk_->setVisible(ok);
    lampNg_->setVisible(!ok);
}

void CResultInputDlg::RefuseField(int month, const std::string& message) {
    MessageBox::Show(this, Utf8(message), ApplicationName(), MsgButtons::kOk, MsgIcon::kWarning);
    QLineEdit* field = monthField(month);
    field->setFocus();
    field->selectAll();
}

bool CResultInputDlg::AskYesNo(const std::string& question) {
    return MessageBox::Confirm(this, Utf8(question));
}

void CResultInputDlg::ShowFileError(const std::string& message) {
    MessageBox::Error(this, Utf8(message));
}

void CResultInputDlg::ShowNotice(const std::string& message) {
    MessageBox::Info(this, Utf8(message), MsgIcon::kNone);
}

void CResultInputDlg::BeginWait() {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    // Let the cursor reach the screen before the thread blocks.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CResultInputDlg::EndWait() {
    QApplication::restoreOverrideCursor();
}

}  // namespace ys::gui
