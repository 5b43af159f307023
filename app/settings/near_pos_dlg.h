// The region dialog: a prefecture, then one of its regions from the region table.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

#include "app/settings/region_table.h"

class QComboBox;
class QPushButton;

namespace ys::gui {

class CNearPosDlg : public QDialog {
    Q_OBJECT
public:
    // Reads the table from `programDir` and opens on the row of `regionNo` when there is one.
    CNearPosDlg(const std::string& programDir, std::int32_t regionNo, std::string regionName,
                QWidget* parent = nullptr);

    // The choice after OK (CP932 name: prefecture, blank, region).
    std::int32_t regionNo() const { return regionNo_; }
    const std::string& regionName() const { return regionName_; }

    QComboBox* prefectureList() const { return prefecture_; }
    QComboBox* regionList() const { return region_; }
    QPushButton* okButton() const { return ok_; }

    void OnPrefectureChange();
    void OnOK();

private:
    RegionChoices choices_;
    std::vector<std::string> regionNames_;
    std::int32_t regionNo_;
    std::string regionName_;
    QComboBox* prefecture_;
    QComboBox* region_;
    QPushButton* ok_;
};

}  // namespace ys::gui
