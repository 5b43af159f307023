// User and installation page: the household, the nearest region and the installation. Leaving
// it with valid entries stores the record, runs the simulation and saves the user data file.
#pragma once

#include <QString>
#include <array>
#include <functional>
#include <memory>

#include "app/settings/user_page_model.h"
#include "app/sub_dlg.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace ys::gui {

class CNearPosDlg;
class CZipInputDlg;

class CUserInfDlg : public CSubDlg {
    Q_OBJECT
public:
    CUserInfDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent);
    ~CUserInfDlg() override;

    int OnPageChange(int leaving, int exitFlag) override;

    // Steps of the handlers.
    void LoadChoiceLists();
    void RecomputeCapacity();
    void ApplyDetailMode();
    void RefillModelList();
    void ShowMonitorPicture();

    // Handlers of the buttons (tests call them; the dialogs they open are modal).
    void OnZipButton();
    void OnRegionButton();
    void OnNextButton();
    void OnEstimateClicked();

    const UserPageModel& model() const { return *model_; }

    // The controls, for tests.
    QLineEdit* nameEdit() const { return name_; }
    QComboBox* addressBox() const { return address_; }
    QLineEdit* phoneEdit() const { return phone_; }
    QLineEdit* emailEdit() const { return email_; }
    QLineEdit* dealerNameEdit() const { return dealerName_; }
    QLineEdit* dealerTelEdit() const { return dealerTel_; }
    QComboBox* yearList() const { return year_; }
    QComboBox* monthList() const { return month_; }
    QLineEdit* capacityDigit(int i) const { return digits_[i]; }
    QLineEdit* regionEdit() const { return region_; }
    QRadioButton* detailRadio() const { return radioDetail_; }
    QRadioButton* estimateRadio() const { return radioEstimate_; }
    QComboBox* productList() const { return product_; }
    QComboBox* modelList() const { return model_list_; }
    QLineEdit* moduleWattEdit(int type) const { return watt_[type]; }
    QComboBox* azimuthList(int s) const { return azimuth_[s]; }
    QComboBox* tiltList(int s) const { return tilt_[s]; }
    QComboBox* boosterList(int s) const { return booster_[s]; }
    QLineEdit* moduleCountEdit(int type, int s) const { return count_[type][s]; }
    QLineEdit* surfaceKwEdit(int s) const { return surfaceKw_[s]; }
    QLineEdit* totalEdit() const { return total_; }
    QComboBox* monitorList() const { return monitor_; }
    QLabel* monitorPicture(int i) const { return pictures_[i]; }
    QComboBox* shadeList() const { return shade_; }
    QPushButton* nextButton() const { return next_; }
    QPushButton* zipButton() const { return zip_; }
    QPushButton* regionButton() const { return regionButton_; }

    // The last message shown at a field for a character that CP932 cannot hold.
    const QString& lastRefusal() const { return lastRefusal_; }

    // Test seams for the two secondary dialogs: each gets the dialog before it runs and returns
    // its result instead of running it.
    void SetRegionDialogRunner(std::function<int(CNearPosDlg&)> run) {
        runRegionDlg_ = std::move(run);
    }
    void SetZipDialogRunner(std::function<int(CZipInputDlg&)> run) { runZipDlg_ = std::move(run); }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    QLineEdit* TextEdit(int x, int y, int w);
    void GuardCp932(QLineEdit* edit);
    // Controls into the page state. With `checkDigits` a capacity digit box that is not a digit
    // shows its message and gives false; without, such a box keeps the state's digit.
    bool CopyControlsToState(bool checkDigits);
    void PushStateToControls();
    void FillModelList();
    void OnModuleBoxChanged();
    void ShowCapacity(const CapacityTexts& texts);

    std::unique_ptr<UserPageModel> model_;
    bool suppressEditEvents_ = false;
    QString lastRefusal_;
    std::function<int(CNearPosDlg&)> runRegionDlg_;
    std::function<int(CZipInputDlg&)> runZipDlg_;

    QLineEdit* name_ = nullptr;
    QComboBox* address_ = nullptr;
    QPushButton* zip_ = nullptr;
    QLineEdit* phone_ = nullptr;
    QLineEdit* email_ = nullptr;
    QLineEdit* dealerName_ = nullptr;
    QLineEdit* dealerTel_ = nullptr;
    QComboBox* year_ = nullptr;
    QComboBox* month_ = nullptr;
    std::array<QLineEdit*, 4> digits_{};
    QLineEdit* region_ = nullptr;
    QPushButton* regionButton_ = nullptr;
    QButtonGroup* modeGroup_ = nullptr;
    QRadioButton* radioDetail_ = nullptr;
    QRadioButton* radioEstimate_ = nullptr;
    QComboBox* product_ = nullptr;
    QComboBox* model_list_ = nullptr;
    std::array<QLineEdit*, 3> watt_{};
    std::array<QComboBox*, 4> azimuth_{};
    std::array<QComboBox*, 4> tilt_{};
    std::array<QComboBox*, 4> booster_{};
    std::array<std::array<QLineEdit*, 4>, 3> count_{};
    std::array<QLineEdit*, 4> surfaceKw_{};
    QLineEdit* total_ = nullptr;
    QComboBox* monitor_ = nullptr;
    std::array<QLabel*, 3> pictures_{};
    QComboBox* shade_ = nullptr;
    QPushButton* next_ = nullptr;
};

}  // namespace ys::gui
