// Generation data entry page: typed monthly values and the import from the monitor unit. The
// widgets only copy values to and from monitor::ResultInput and show its messages.
#pragma once

#include <array>
#include <memory>

#include "app/monitor/port_discovery.h"
#include "app/monitor/result_input.h"
#include "app/sub_dlg.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ys::gui {

class CResultInputDlg : public CSubDlg, private monitor::ResultInputView {
    Q_OBJECT
public:
    // `discover`: look for the monitor unit's port right away (in the background). Tests pass
    // their own link and start discovery themselves.
    CResultInputDlg(CYieldscopeDlg& mainWindow, CYieldscopeApp& app, QWidget* parent,
                    monitor::LinkIo io = monitor::DefaultLinkIo(), bool discover = true);
    ~CResultInputDlg() override;

    int OnPageChange(int leaving, int exitFlag) override;

    // Probes the ports of the list in the background; the list and the import button wait
    // until it has ended.
    void StartDiscovery();
    bool discovering() const { return discovering_; }

    monitor::ResultInput& logic() { return logic_; }
    QComboBox* yearList() const { return yearList_; }
    QLineEdit* monthField(int month) const { return fields_.at(month - 1); }
    QPushButton* previousButton() const { return previous_; }
    QPushButton* nextButton() const { return next_; }
    QPushButton* completeButton() const { return complete_; }
    QComboBox* portList() const { return portList_; }
    QPushButton* importButton() const { return import_; }
    QPushButton* diagnosisButton() const { return diagnosis_; }
    // True when the lamp shows "OK", false for "NG".
    bool lampOk() const;

signals:
    // Discovery has ended and its port is selected.
    void discoveryFinished();

private:
    void BuildEntryGroup();
    void BuildImportGroup();
    void UpdateImportControls();
    int SelectedPort() const;
    void OnDiscoveryProgress(int position, monitor::LinkResult result);
    void OnDiscoveryDone(int position);

    // monitor::ResultInputView
    void SetYearList(std::span<const int> years, int selected) override;
    void SelectYearPosition(int position) override;
    std::string MonthText(int month) const override;
    void SetMonthText(int month, const std::string& text) override;
    void SetMonthEnabled(int month, bool enabled) override;
    void SetCompleteEnabled(bool enabled) override;
    void SetImportEnabled(bool enabled) override;
    void SetLamp(bool ok) override;
    void RefuseField(int month, const std::string& message) override;
    bool AskYesNo(const std::string& question) override;
    void ShowFileError(const std::string& message) override;
    void ShowNotice(const std::string& message) override;
    void BeginWait() override;
    void EndWait() override;

    monitor::LinkIo io_;
    monitor::ResultInput logic_;
    monitor::PortDiscovery discovery_;
    std::vector<int> ports_;
    bool discovering_ = false;
    bool importWanted_ = false;

    QComboBox* yearList_ = nullptr;
    std::array<QLineEdit*, 12> fields_{};
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* complete_ = nullptr;
    QGroupBox* importGroup_ = nullptr;
    QComboBox* portList_ = nullptr;
    QLabel* lampOk_ = nullptr;
    QLabel* lampNg_ = nullptr;
    QPushButton* import_ = nullptr;
    QPushButton* diagnosis_ = nullptr;
};

}  // namespace ys::gui
