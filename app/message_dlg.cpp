#include "app/message_dlg.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include "app/dialog_units.h"

namespace ys::gui {

const std::string_view kCalculationBasisText =
    "「月間および年間予測発電電力量」は、次の条件で算出しております。\r\n"
    "（1）ソーラー発電システムの容量\r\n"
    "　 ※システムの「太陽電池容量」は、JIS 規格に基づいて算出された太陽電池モジュール\r\n"
    "　 　出力の合計値です。実使用時の出力（発電電力）は、日射の強さ、設置条件\r\n"
    "　 　（方位・角度・周辺環境）、地域差、及び温度条件により異なります。発電電力\r\n"
    "　 　は最大でも次の損失により、太陽電池容量の70～80％程度になります。\r\n"
    "（2）日射量データは、NEDO(独立行政法人 新エネルギー･産業技術総合開発機構)／\r\n"
    "　 　(財)日本気象協会「日射関連データの作成・調査」(平成10 年3 月)の日射データに\r\n"
    "　 　よります。\r\n"
    "（3）太陽電池モジュールからの発電電力量の損失について\r\n"
    "　・素子温度の上昇による損失率は、12 月～2 月を10%、3 月～5 月及び9 月～11 月を\r\n"
    "　　15%、6 月～8 月を20%としています。\r\n"
    "　・その他損失(配線、受光面の汚れ、逆流防止ダイオードによる損失など)率を5.35%と\r\n"
    "　　しています。\r\n"
    "（4） 使用パワーコンディショナの電力変換効率\r\n"
    "（5） 太陽電池モジュール設置条件 傾斜角および方位\r\n";

CMessageDlg::CMessageDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("「月間および年間予測発電電力量」の算出根拠について"));
    setFont(DialogFont());
    const DialogUnits& du = Dlu();
    setFixedSize(du.Size(316, 180));

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("control1108"));
    text_->setReadOnly(true);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The widget keeps lines by "\n"; the text itself is kept with CR LF.
    QString shown = QString::fromUtf8(kCalculationBasisText.data(),
                                      static_cast<qsizetype>(kCalculationBasisText.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (shown.endsWith(QLatin1Char('\n'))) shown.chop(1);
    text_->setPlainText(shown);
    text_->setGeometry(du.Rect(7, 7, 302, 144));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setGeometry(du.Rect(133, 158, 50, 15));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
}

}  // namespace ys::gui
