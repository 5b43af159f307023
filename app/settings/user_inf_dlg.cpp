#include "app/settings/user_inf_dlg.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSvgRenderer>
#include <QToolTip>
#include <optional>

#include "app/app_data.h"
#include "app/dialog_units.h"
#include "app/local_time.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "app/settings/cp932_input.h"
#include "app/settings/installation_tables.h"
#include "app/settings/near_pos_dlg.h"
#include "app/settings/zip_input_dlg.h"
#include "app/wait_cursor.h"

namespace ys::gui {
namespace {

struct PictureSpec {
    const char* resource;
    int width, height;  // pixels
};

// The monitor-unit pictures, one visible at a time: the two import models, then the others.
constexpr PictureSpec kPictures[] = {
    {":/pictures/monitor_qtx52a.svg", 113, 73},
    {":/pictures/monitor_qtx52e.svg", 118, 94},
    {":/pictures/monitor_qtx40.svg", 118, 87},
};

QPixmap RenderPicture(const PictureSpec& picture) {
    QSvgRenderer svg{QString::fromLatin1(picture.resource)};
    if (!svg.isValid()) return {};
    QPixmap pm(picture.width, picture.height);
    pm.fill(Qt::white);
    QPainter painter(&pm);
    svg.render(&painter);
    return pm;
}

QLabel* AddLabel(QWidget* parent, const QString& text, const QRect& r,
                 Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(r);
    l->setAlignment(align);
    return l;
}

// While the engine runs: the wait cursor, and neither input nor a close request reaches any
// window; painting goes on.
class EngineWait : public QObject {
public:
    EngineWait() { qApp->installEventFilter(this); }
    ~EngineWait() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        (void)watched;
        switch (event->type()) {
            case QEvent::Close:
                event->ignore();
                return true;
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::ShortcutOverride:
                return true;
            default:
                return false;
        }
    }

private:
    WaitCursor cursor_;
};

class PagePrompts : public UserPagePrompts {
public:
    explicit PagePrompts(QWidget* page) : page_(page) {}

    void RequiredFieldsMissing() override {
        MessageBox::Show(page_, QString::fromUtf8(kMsgRequired.data(), kMsgRequired.size()),
                         QStringLiteral("確認"), MsgButtons::kOk, MsgIcon::kWarning);
    }
    bool ConfirmLargeCapacity() override {
        return MessageBox::Confirm(page_,
                                   QString::fromUtf8(kMsgOver10Kw.data(), kMsgOver10Kw.size()));
    }
    void SimulationProblem(const SimulationResult& r) override {
        MessageBox::Show(page_, QString::fromStdString(r.UserMessage()),
                         QString::fromStdString(r.UserTitle()), MsgButtons::kOk, MsgIcon::kError);
    }
    void SaveFailed(const FileResult& r) override {
        MessageBox::Error(page_, QString::fromStdString(r.UserMessage()));
    }
    void SimulationStarting() override { wait_.emplace(); }
    void WhileEngineRuns() override {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    void SimulationEnded() override { wait_.reset(); }

private:
    QWidget* page_;
    std::optional<EngineWait> wait_;
};

int SelectedIndex(const QComboBox* box) {
    return box->currentIndex();
}

}  // namespace

CUserInfDlg::CUserInfDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent)
    : CSubDlg(mainWindow, app, parent) {
    BuildControls();
    LoadChoiceLists();
}

CUserInfDlg::~CUserInfDlg() = default;

QLineEdit* CUserInfDlg::TextEdit(int x, int y, int w) {
    auto* e = new QLineEdit(this);
    Place(e, x, y, w, 12);
    GuardCp932(e);
    return e;
}

void CUserInfDlg::GuardCp932(QLineEdit* edit) {
    edit->setValidator(new Cp932Validator(edit, [this, edit](const QString& message) {
        lastRefusal_ = message;
        QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), message, edit);
    }));
}

void CUserInfDlg::BuildControls() {
    const DialogUnits& du = Dlu();
    auto digitsOnly = [](QLineEdit* e, int maxLength) {
        e->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
        if (maxLength > 0) e->setMaxLength(maxLength);
    };
    auto group = [this, &du](const QString& title, int x, int y, int w, int h) {
        auto* g = new QGroupBox(title, this);
        g->setGeometry(du.Rect(x, y, w, h));
        g->lower();
        return g;
    };
    auto button = [this](const QString& text, int x, int y, int w, int h) {
        auto* b = new QPushButton(text, this);
        Place(b, x, y, w, h);
        b->setAutoDefault(false);
        return b;
    };
    auto combo = [this](int x, int y, int w) {
        auto* c = new QComboBox(this);
        Place(c, x, y, w, 13);
        c->setMaxVisibleItems(16);
        return c;
    };
    auto label = [this, &du](const QString& text, int x, int y, int w) {
        return AddLabel(this, text, du.Rect(x, y, w, 12));
    };

    // 1. The customer.
    group(QStringLiteral("お客様情報（必須）"), 6, 2, 384, 112);
    label(QStringLiteral("お名前"), 14, 14, 66);
    name_ = TextEdit(82, 14, 104);
    label(QStringLiteral("様"), 189, 14, 12);
    label(QStringLiteral("お電話番号"), 208, 14, 50);
    phone_ = TextEdit(262, 14, 118);
    label(QStringLiteral("ご住所"), 14, 30, 66);
    address_ = combo(82, 30, 232);
    address_->setEditable(true);
    address_->setInsertPolicy(QComboBox::NoInsert);
    GuardCp932(address_->lineEdit());
    zip_ = button(QStringLiteral("〒で入力"), 320, 29, 60, 14);
    label(QStringLiteral("Ｅメールアドレス"), 14, 46, 66);
    email_ = TextEdit(82, 46, 298);
    label(QStringLiteral("販社名称"), 14, 62, 66);
    dealerName_ = TextEdit(82, 62, 120);
    label(QStringLiteral("販社TEL"), 208, 62, 50);
    dealerTel_ = TextEdit(262, 62, 118);
    label(QStringLiteral("設置月"), 14, 78, 66);
    year_ = combo(82, 78, 42);
    label(QStringLiteral("年"), 126, 78, 10);
    month_ = combo(138, 78, 30);
    label(QStringLiteral("月"), 170, 78, 10);
    label(QStringLiteral("設置容量"), 208, 78, 50);
    const int digitX[4] = {262, 274, 292, 304};
    for (int i = 0; i < 4; ++i) {
        digits_[i] = new QLineEdit(this);
        Place(digits_[i], digitX[i], 78, 11, 12);
        digits_[i]->setAlignment(Qt::AlignCenter);
        digitsOnly(digits_[i], 1);  // one digit per box, as laid out
    }
    AddLabel(this, QStringLiteral("．"), du.Rect(285, 78, 7, 12), Qt::AlignCenter);
    label(QStringLiteral("ｋW"), 318, 78, 16);
    label(QStringLiteral("最寄地域"), 14, 95, 66);
    region_ = new QLineEdit(this);
    Place(region_, 82, 95, 232, 12);
    region_->setReadOnly(true);
    regionButton_ = button(QStringLiteral("地域選択"), 320, 94, 60, 14);

    // 2. The installation.
    group(QStringLiteral("太陽電池設置情報"), 6, 117, 384, 168);
    radioDetail_ = new QRadioButton(QStringLiteral("入力する"), this);
    Place(radioDetail_, 14, 129, 56, 11);
    radioEstimate_ =
        new QRadioButton(QStringLiteral("入力しない（設置容量から発電量を推定します）"), this);
    Place(radioEstimate_, 76, 129, 230, 11);
    modeGroup_ = new QButtonGroup(this);
    modeGroup_->addButton(radioDetail_, 0);
    modeGroup_->addButton(radioEstimate_, 1);
    label(QStringLiteral("製品名(パワーコンディショナ)"), 14, 144, 120);
    product_ = combo(136, 144, 236);
    label(QStringLiteral("型式(パワーコンディショナ)"), 14, 160, 120);
    model_list_ = combo(136, 160, 236);

    AddLabel(this, QStringLiteral("方位角"), du.Rect(58, 186, 74, 10), Qt::AlignCenter);
    AddLabel(this, QStringLiteral("傾斜角"), du.Rect(134, 186, 56, 10), Qt::AlignCenter);
    AddLabel(this, QStringLiteral("昇圧ユニット"), du.Rect(192, 186, 52, 10), Qt::AlignCenter);
    AddLabel(this, QStringLiteral("モジュール"), du.Rect(246, 176, 96, 10), Qt::AlignCenter);
    // The heading over the narrow kW column, in two lines.
    AddLabel(this, QStringLiteral("太陽電池\n容量合計"), du.Rect(338, 173, 40, 20),
             Qt::AlignCenter);
    const int countX[3] = {246, 278, 310};
    for (int t = 0; t < 3; ++t) {
        watt_[t] = new QLineEdit(this);
        Place(watt_[t], countX[t], 187, 22, 12);
        watt_[t]->setAlignment(Qt::AlignRight);
        digitsOnly(watt_[t], 5);
        label(QStringLiteral("W"), countX[t] + 23, 187, 8);
    }
    static const char* const kSurfaceNames[4] = {"設置面１", "設置面２", "設置面３", "設置面４"};
    for (int s = 0; s < 4; ++s) {
        const int y = 203 + s * 16;
        label(QString::fromUtf8(kSurfaceNames[s]), 14, y, 42);
        azimuth_[s] = combo(58, y, 74);
        tilt_[s] = combo(134, y, 56);
        booster_[s] = combo(192, y, 52);
        for (int t = 0; t < 3; ++t) {
            count_[t][s] = new QLineEdit(this);
            Place(count_[t][s], countX[t], y, 22, 12);
            count_[t][s]->setAlignment(Qt::AlignRight);
            digitsOnly(count_[t][s], 5);
            label(QStringLiteral("枚"), countX[t] + 23, y, 9);
        }
        surfaceKw_[s] = new QLineEdit(this);
        Place(surfaceKw_[s], 344, y, 28, 12);
        surfaceKw_[s]->setReadOnly(true);
        surfaceKw_[s]->setAlignment(Qt::AlignRight);
        label(QStringLiteral("kW"), 373, y, 12);
    }
    label(QStringLiteral("合計"), 322, 268, 20);
    total_ = new QLineEdit(this);
    Place(total_, 344, 268, 28, 12);
    total_->setReadOnly(true);
    total_->setAlignment(Qt::AlignRight);
    label(QStringLiteral("kW"), 373, 268, 12);

    // 3. The monitor unit, 4. shade, 5. onward.
    group(QStringLiteral("ルメトラ"), 6, 287, 250, 71);
    monitor_ = combo(14, 302, 112);
    label(QStringLiteral("ルメナ画像"), 132, 302, 42);
    for (int i = 0; i < 3; ++i) {
        pictures_[i] = new QLabel(this);
        const QPoint at = du.Pos(176, 297);
        pictures_[i]->setGeometry(at.x(), at.y(), kPictures[i].width, kPictures[i].height);
        QPixmap pm = RenderPicture(kPictures[i]);
        if (pm.isNull()) {
            // Picture not available: a plain frame marks the place.
            pictures_[i]->setFrameStyle(QFrame::Box | QFrame::Plain);
        } else {
            pictures_[i]->setPixmap(pm);
        }
        pictures_[i]->hide();
    }
    group(QStringLiteral("影の影響"), 262, 288, 128, 36);
    shade_ = combo(270, 302, 112);
    next_ = button(QStringLiteral("発電シミュレーションへ進む"), 262, 332, 128, 20);

    // Handlers.
    connect(zip_, &QPushButton::clicked, this, &CUserInfDlg::OnZipButton);
    connect(regionButton_, &QPushButton::clicked, this, &CUserInfDlg::OnRegionButton);
    connect(next_, &QPushButton::clicked, this, &CUserInfDlg::OnNextButton);
    connect(radioDetail_, &QRadioButton::clicked, this, &CUserInfDlg::ApplyDetailMode);
    connect(radioEstimate_, &QRadioButton::clicked, this, &CUserInfDlg::OnEstimateClicked);
    connect(product_, &QComboBox::currentIndexChanged, this, [this] {
        if (!suppressEditEvents_) RefillModelList();
    });
    connect(monitor_, &QComboBox::currentIndexChanged, this, &CUserInfDlg::ShowMonitorPicture);
    for (QLineEdit* e : watt_) {
        connect(e, &QLineEdit::textChanged, this, &CUserInfDlg::OnModuleBoxChanged);
    }
    for (auto& column : count_) {
        for (QLineEdit* e : column) {
            connect(e, &QLineEdit::textChanged, this, &CUserInfDlg::OnModuleBoxChanged);
        }
    }
}

void CUserInfDlg::LoadChoiceLists() {
    // The year and month lists first.
    const int currentYear = ToLocal(app().Now()).year;
    model_ = std::make_unique<UserPageModel>(UserPageModel::LoadChoiceLists(app().programDir),
                                             currentYear);
    for (int y : model_->years()) year_->addItem(QString::number(y).rightJustified(4), y);
    for (int m = 1; m <= 12; ++m) month_->addItem(QString::number(m), m);

    const ChoiceCatalogue& c = model_->catalogue();
    for (const std::string& p : model_->products()) product_->addItem(FromCp932(p));
    for (const MonitorUnitEntry& m : c.monitorUnits) monitor_->addItem(FromCp932(m.displayName));
    for (const ShadeEntry& s : c.shades) shade_->addItem(FromCp932(s.label), s.value);
    for (int s = 0; s < 4; ++s) {
        for (const AzimuthChoice& a : kAzimuthTable) {
            azimuth_[s]->addItem(QString::fromUtf8(a.label.data(), a.label.size()));
        }
        for (int t = 0; t < kTiltCount; ++t) {
            tilt_[s]->addItem(QString::fromStdString(TiltLabel(t)), t);
        }
        for (std::string_view b : kBoosterLabels) {
            booster_[s]->addItem(QString::fromUtf8(b.data(), b.size()));
        }
    }
    PushStateToControls();
}

bool CUserInfDlg::CopyControlsToState(bool checkDigits) {
    UserPageState& st = model_->state();
    // A text that cannot be stored (only a damaged record shown with replacement characters)
    // keeps what the state holds.
    auto text = [](const QString& from, std::string& to) {
        std::string cp;
        if (ToCp932(from, cp)) to = std::move(cp);
    };
    text(name_->text(), st.name);
    text(address_->currentText(), st.address);
    text(phone_->text(), st.phone);
    text(email_->text(), st.email);
    text(dealerName_->text(), st.dealerName);
    text(dealerTel_->text(), st.dealerTel);
    st.yearIndex = SelectedIndex(year_);
    st.monthIndex = SelectedIndex(month_);
    for (int i = 0; i < 4; ++i) {
        const DigitValue d = ParseCapacityDigit(digits_[i]->text().toStdString());
        if (d.check == DigitCheck::kOk) {
            st.capacityDigits[i] = d.value;
            continue;
        }
        if (!checkDigits) continue;
        if (d.check == DigitCheck::kNotInteger) {
            MessageBox::Warning(this,
                                QString::fromUtf8(kMsgNotInteger.data(), kMsgNotInteger.size()));
        } else {
            MessageBox::Warning(this,
                                QString::fromStdString(FormatMessage(kMsgDigitRange, {"0", "9"})));
        }
        digits_[i]->setFocus(Qt::OtherFocusReason);
        digits_[i]->selectAll();
        return false;
    }
    st.detailMode = radioEstimate_->isChecked() ? 1 : 0;
    st.productIndex = SelectedIndex(product_);
    st.modelIndex = SelectedIndex(model_list_);
    st.monitorIndex = SelectedIndex(monitor_);
    st.shadeIndex = SelectedIndex(shade_);
    for (int s = 0; s < 4; ++s) {
        st.azimuthIndex[s] = SelectedIndex(azimuth_[s]);
        st.tiltIndex[s] = SelectedIndex(tilt_[s]);
        st.boosterIndex[s] = SelectedIndex(booster_[s]);
    }
    return true;
}

void CUserInfDlg::PushStateToControls() {
    const UserPageState& st = model_->state();
    const bool old = suppressEditEvents_;
    suppressEditEvents_ = true;
    name_->setText(FromCp932(st.name));
    address_->setEditText(FromCp932(st.address));
    phone_->setText(FromCp932(st.phone));
    email_->setText(FromCp932(st.email));
    dealerName_->setText(FromCp932(st.dealerName));
    dealerTel_->setText(FromCp932(st.dealerTel));
    region_->setText(FromCp932(st.regionName));
    year_->setCurrentIndex(st.yearIndex);
    month_->setCurrentIndex(st.monthIndex);
    for (int i = 0; i < 4; ++i) digits_[i]->setText(QString::number(st.capacityDigits[i]));
    (st.detailMode == 1 ? radioEstimate_ : radioDetail_)->setChecked(true);
    product_->setCurrentIndex(st.productIndex);
    FillModelList();
    monitor_->setCurrentIndex(st.monitorIndex);
    shade_->setCurrentIndex(st.shadeIndex);
    for (int s = 0; s < 4; ++s) {
        azimuth_[s]->setCurrentIndex(st.azimuthIndex[s]);
        tilt_[s]->setCurrentIndex(st.tiltIndex[s]);
        booster_[s]->setCurrentIndex(st.boosterIndex[s]);
    }
    suppressEditEvents_ = old;
}

void CUserInfDlg::FillModelList() {
    const bool old = suppressEditEvents_;
    suppressEditEvents_ = true;
    model_list_->clear();
    for (const std::string& m : model_->models()) model_list_->addItem(FromCp932(m));
    model_list_->setCurrentIndex(model_->state().modelIndex);
    model_list_->setEnabled(model_->Enabling().modelList);
    suppressEditEvents_ = old;
}

void CUserInfDlg::RefillModelList() {
    model_->state().productIndex = SelectedIndex(product_);
    model_->RefillModelList();
    FillModelList();
    // Refilling enables a list that has models; the mode may still keep it disabled.
    model_list_->setEnabled(!model_->models().empty() && product_->isEnabled());
}

void CUserInfDlg::ShowCapacity(const CapacityTexts& texts) {
    for (int s = 0; s < 4; ++s) surfaceKw_[s]->setText(QString::fromStdString(texts.surface[s]));
    total_->setText(QString::fromStdString(texts.total));
    if (texts.digitsSet) {
        for (int i = 0; i < 4; ++i) {
            digits_[i]->setText(QString::number(model_->state().capacityDigits[i]));
        }
    }
}

void CUserInfDlg::RecomputeCapacity() {
    ShowCapacity(model_->RecomputeCapacity());
}

void CUserInfDlg::OnModuleBoxChanged() {
    if (suppressEditEvents_) return;
    UserPageState& st = model_->state();
    for (int t = 0; t < 3; ++t) {
        st.moduleWatt[t] = ModuleNumber(watt_[t]->text().toStdString());
        for (int s = 0; s < 4; ++s) {
            st.moduleCount[t][s] = ModuleNumber(count_[t][s]->text().toStdString());
        }
    }
    RecomputeCapacity();
}

void CUserInfDlg::ApplyDetailMode() {
    CopyControlsToState(false);
    RecomputeCapacity();
    const DetailModeEnabling e = model_->Enabling();
    product_->setEnabled(e.productList);
    model_list_->setEnabled(e.modelList);
    for (QLineEdit* w : watt_) w->setEnabled(e.moduleWatt);
    for (int s = 0; s < 4; ++s) {
        azimuth_[s]->setEnabled(e.surfaceLists);
        tilt_[s]->setEnabled(e.surfaceLists);
        for (int t = 0; t < 3; ++t) count_[t][s]->setEnabled(e.moduleCounts);
        surfaceKw_[s]->setEnabled(e.surfaceKw);
        booster_[s]->setEnabled(e.booster[s]);
    }
    total_->setEnabled(e.surfaceKw);
    for (QLineEdit* d : digits_) d->setReadOnly(e.capacityDigitsReadOnly);
}

void CUserInfDlg::ShowMonitorPicture() {
    const int shown = MonitorPictureIndex(monitor_->currentIndex());
    for (int i = 0; i < 3; ++i) pictures_[i]->setVisible(i == shown);
}

void CUserInfDlg::OnEstimateClicked() {
    if (MessageBox::Confirm(this, QString::fromUtf8(kMsgNoDetails.data(), kMsgNoDetails.size()))) {
        ApplyDetailMode();
        return;
    }
    radioDetail_->setChecked(true);
}

void CUserInfDlg::OnZipButton() {
    CZipInputDlg dlg(app().programDir, this);
    const int result = runZipDlg_ ? runZipDlg_(dlg) : dlg.exec();
    if (result != QDialog::Accepted || dlg.resultCount() == 0) return;
    address_->clear();
    for (const std::string& a : dlg.results()) address_->addItem(FromCp932(a));
    address_->setCurrentIndex(0);
}

void CUserInfDlg::OnRegionButton() {
    CopyControlsToState(false);
    UserPageState& st = model_->state();
    CNearPosDlg dlg(app().programDir, st.regionNo, st.regionName, this);
    const int result = runRegionDlg_ ? runRegionDlg_(dlg) : dlg.exec();
    if (result != QDialog::Accepted) return;
    st.regionNo = dlg.regionNo();
    st.regionName = dlg.regionName();
    region_->setText(FromCp932(st.regionName));
}

void CUserInfDlg::OnNextButton() {
    if (mainWindow().ShowPage(Page::kSolarSim) == 1) mainWindow().FocusPageButton(Page::kSolarSim);
}

int CUserInfDlg::OnPageChange(int leaving, int exitFlag) {
    if (leaving == 0) {
        model_->ShowRecord(app().userInfo);
        PushStateToControls();
        ApplyDetailMode();
        ShowMonitorPicture();
        const UserPageState& st = model_->state();
        suppressEditEvents_ = true;
        for (int t = 0; t < 3; ++t) {
            watt_[t]->setText(QString::number(st.moduleWatt[t]));
            for (int s = 0; s < 4; ++s)
                count_[t][s]->setText(QString::number(st.moduleCount[t][s]));
        }
        suppressEditEvents_ = false;
        RecomputeCapacity();
        return 1;
    }
    if (!CopyControlsToState(true)) return 0;
    PagePrompts prompts(this);
    return model_->LeavePage(app(), exitFlag, prompts);
}

void CUserInfDlg::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape do not close or leave the page.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            CSubDlg::keyPressEvent(event);
    }
}

}  // namespace ys::gui
