#include "app/errors/error_viewer_dlg.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QListWidget>

#include "tests/app/gui/page_harness.h"

namespace ys::gui {
namespace {

class ErrorPageTest : public test::PageHarness {
protected:
    void Add(int kind, int code, std::int64_t time) {
        CErrorData& e = app.errors[app.errorCount++];
        e.kind = static_cast<std::uint8_t>(kind);
        e.code = static_cast<std::uint8_t>(code);
        e.time = time;
    }
    QStringList Lines(CErrorViewerDlg* page) {
        QStringList out;
        for (int i = 0; i < page->list()->count(); ++i) out << page->list()->item(i)->text();
        return out;
    }
};

TEST_F(ErrorPageTest, ListsTheEventsOldestFirstInAFixedPitchFont) {
    Add(0x82, 5, MakeLocalTime(2024, 8, 12, 9, 30));
    Add(1, 1, MakeLocalTime(2011, 5, 3, 14, 5));
    auto dlg = Make({Page::kErrorViewer});
    dlg->show();
    auto* page = static_cast<CErrorViewerDlg*>(dlg->page(Page::kErrorViewer));
    dlg->ShowPage(Page::kErrorViewer);
    EXPECT_EQ(Lines(page),
              (QStringList{QStringLiteral("2011/05/03 14:05 : 01h  1 : Ｅエラー（系統過電圧）"),
                           QStringLiteral("2024/08/12 09:30 : 82h  5 : 重故障")}));
    // Every half-width character takes one cell and every full-width one two, so the columns
    // align.
    QFontMetrics fm(page->list()->font());
    const int cell = fm.horizontalAdvance(QLatin1Char('0'));
    for (QChar c : QStringLiteral("i W: /"))
        EXPECT_EQ(fm.horizontalAdvance(c), cell) << int(c.unicode());
    EXPECT_EQ(fm.horizontalAdvance(QStringLiteral("エ（")), 4 * cell);
}

TEST_F(ErrorPageTest, TheListIsRebuiltEachTimeThePageIsShown) {
    auto dlg = Make({Page::kErrorViewer});
    dlg->show();
    auto* page = static_cast<CErrorViewerDlg*>(dlg->page(Page::kErrorViewer));
    dlg->ShowPage(Page::kErrorViewer);
    EXPECT_EQ(page->list()->count(), 0);
    dlg->ShowPage(Page::kUserInfo);
    Add(3, 7, MakeLocalTime(2025, 1, 1, 0, 0));
    Add(1, 11, MakeLocalTime(2024, 12, 31, 23, 59));
    dlg->ShowPage(Page::kErrorViewer);
    EXPECT_EQ(Lines(page), (QStringList{QStringLiteral("2024/12/31 23:59 : 01h 11 : "),
                                        QStringLiteral("2025/01/01 00:00 : 03h  7 : ")}));
}

}  // namespace
}  // namespace ys::gui
