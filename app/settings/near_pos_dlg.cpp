#include "app/settings/near_pos_dlg.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/dialog_units.h"
#include "app/message_box.h"
#include "app/settings/cp932_input.h"
#include "platform/paths.h"

namespace ys::gui {

CNearPosDlg::CNearPosDlg(const std::string& programDir, std::int32_t regionNo,
                         std::string regionName, QWidget* parent)
    : QDialog(parent), regionNo_(regionNo), regionName_(std::move(regionName)) {
    setWindowTitle(QStringLiteral("最寄地域入力"));
    setFont(DialogFont());
    const DialogUnits& du = Dlu();
    setFixedSize(du.Size(216, 100));

    auto* text =
        new QLabel(QStringLiteral("発電量を算出するため、最寄りの地域を指定してください。"), this);
    text->setGeometry(du.Rect(10, 8, 200, 10));
    auto* prefLabel = new QLabel(QStringLiteral("都道府県"), this);
    prefLabel->setGeometry(du.Rect(14, 28, 40, 10));
    prefecture_ = new QComboBox(this);
    prefecture_->setObjectName(QStringLiteral("prefecture"));
    prefecture_->setGeometry(du.Rect(60, 26, 90, 13));
    prefecture_->setMaxVisibleItems(20);
    auto* regionLabel = new QLabel(QStringLiteral("地域名"), this);
    regionLabel->setGeometry(du.Rect(14, 47, 40, 10));
    region_ = new QComboBox(this);
    region_->setObjectName(QStringLiteral("region"));
    region_->setGeometry(du.Rect(60, 45, 90, 13));
    region_->setMaxVisibleItems(20);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setGeometry(du.Rect(104, 76, 50, 14));
    ok_->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setGeometry(du.Rect(158, 76, 50, 14));
    cancel->setAutoDefault(false);
    connect(ok_, &QPushButton::clicked, this, &CNearPosDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    // 1-3. The table, read afresh each time.
    const std::string path = paths::Join(programDir, std::string(kRegionTableFile));
    auto loaded = LoadRegionChoices(path, regionNo_);
    if (!loaded) {
        MessageBox::Error(this, QStringLiteral("地域データファイルが開けません。"));
    } else {
        choices_ = std::move(*loaded);
    }
    // 5. The prefectures, the remembered one selected.
    for (const std::string& name : choices_.prefectureNames) prefecture_->addItem(FromCp932(name));
    prefecture_->setCurrentIndex(LastIndexOf(choices_.prefectureNames, choices_.currentPrefecture));
    // 6. Its regions, the remembered one selected.
    OnPrefectureChange();
    region_->setCurrentIndex(LastIndexOf(regionNames_, choices_.currentRegion));

    connect(prefecture_, &QComboBox::currentIndexChanged, this, [this] { OnPrefectureChange(); });
}

void CNearPosDlg::OnPrefectureChange() {
    const int i = prefecture_->currentIndex();
    const std::string name =
        (i >= 0 && static_cast<std::size_t>(i) < choices_.prefectureNames.size())
            ? choices_.prefectureNames[i]
            : std::string();
    regionNames_ = name.empty() ? std::vector<std::string>() : RegionsOfPrefecture(choices_, name);
    region_->clear();
    for (const std::string& r : regionNames_) region_->addItem(FromCp932(r));
    region_->setCurrentIndex(-1);
}

void CNearPosDlg::OnOK() {
    const int p = prefecture_->currentIndex();
    const int r = region_->currentIndex();
    const bool havePrefecture =
        p >= 0 && static_cast<std::size_t>(p) < choices_.prefectureNames.size();
    const bool haveRegion = r >= 0 && static_cast<std::size_t>(r) < regionNames_.size();
    if (!havePrefecture || !haveRegion) {
        MessageBox::Info(this, QStringLiteral("正しく設定されていません。"), MsgIcon::kNone);
        return;
    }
    const ChosenRegion chosen =
        ChooseRegion(choices_, choices_.prefectureNames[p], regionNames_[r]);
    regionNo_ = chosen.regionNo;
    regionName_ = chosen.regionName;
    accept();
}

}  // namespace ys::gui
