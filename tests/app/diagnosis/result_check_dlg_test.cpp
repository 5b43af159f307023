#include "app/diagnosis/result_check_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>

#include "app/app_data.h"
#include "app/diagnosis/outlook_dlg.h"
#include "app/diagnosis/verdict.h"
#include "app/local_time.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "tests/app/diagnosis/sample_user.h"
#include "tests/support/temp_dir.h"

namespace ys::gui {
namespace {

class ResultCheckDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBox::ClearShown();
        app.dataDir = dir.path();
        app.SetClock([] { return MakeLocalTime(2026, 1, 20); });
        main = std::make_unique<CYieldscopeDlg>(app, nullptr,
                                                [this](CYieldscopeDlg& d, CYieldscopeApp& a) {
                                                    std::array<CSubDlg*, kPageCount> out{};
                                                    for (int i = 0; i < kPageCount; ++i)
                                                        out[i] = new CSubDlg(d, a, &d);
                                                    delete out[3];
                                                    page = new CResultCheckDlg(d, a, &d);
                                                    out[3] = page;
                                                    return out;
                                                });
        // The window rebuilt the month table at start; the test's data replace it.
        test::MakeSampleUser(app.data(), 1.05);
        page->SetContactRunner([this](QWidget*) { ++contactRuns; });
        main->show();
    }
    void ShowPage() {
        main->ShowPage(Page::kUserInfo);
        main->ShowPage(Page::kResultCheck);
    }
    bool NextShown() const { return !page->nextButton()->isHidden(); }

    test::TempDir dir;
    CYieldscopeApp app;
    std::unique_ptr<CYieldscopeDlg> main;
    CResultCheckDlg* page = nullptr;
    int contactRuns = 0;
};

TEST_F(ResultCheckDlgTest, WithASimulationAndDataEverythingIsOn) {
    ShowPage();
    EXPECT_TRUE(page->printButton()->isEnabled());
    EXPECT_TRUE(page->diagnoseButton()->isEnabled());
    EXPECT_FALSE(NextShown());
    EXPECT_TRUE(page->ChartVisible());
    EXPECT_EQ(page->chartPixmap().deviceIndependentSize().toSize(), page->graphArea()->size());
    // The chart's cyan bars reach the screen.
    const QImage shot = page->graphArea()->grab().toImage();
    bool cyan = false;
    for (int y = 0; y < shot.height() && !cyan; y += 2) {
        for (int x = 0; x < shot.width() && !cyan; ++x)
            cyan = shot.pixel(x, y) == qRgb(0, 255, 255);
    }
    EXPECT_TRUE(cyan);
    EXPECT_EQ(page->verdict(), Verdict::kNone);
}

TEST_F(ResultCheckDlgTest, WithoutASimulationPrintAndDiagnosisAreOffAndTheGraphIsEmpty) {
    app.simDone = 0;
    ShowPage();
    EXPECT_FALSE(page->printButton()->isEnabled());
    EXPECT_FALSE(page->diagnoseButton()->isEnabled());
    EXPECT_FALSE(page->ChartVisible());
}

TEST_F(ResultCheckDlgTest, WithoutMonthsTheGraphIsEmpty) {
    app.monthCount = 0;
    ShowPage();
    EXPECT_TRUE(page->printButton()->isEnabled());
    EXPECT_FALSE(page->ChartVisible());
    const QImage shot = page->graphArea()->grab().toImage();
    for (int x = 0; x < shot.width(); x += 7)
        EXPECT_NE(shot.pixel(x, shot.height() / 2), qRgb(0, 255, 255));
}

TEST_F(ResultCheckDlgTest, EachVerdictSetsTheHintAndTheNextButton) {
    ShowPage();
    page->RunDiagnosis();
    EXPECT_EQ(page->verdict(), Verdict::kGood);
    EXPECT_TRUE(page->hintLine()->text().isEmpty());
    EXPECT_FALSE(NextShown());

    test::MakeSampleUser(app.data(), 0.7);
    page->RunDiagnosis();
    EXPECT_EQ(page->verdict(), Verdict::kPoor);
    EXPECT_EQ(page->hintLine()->text(),
              QStringLiteral("購入元と連絡が取れない場合は下のボタンを押してください。"));
    EXPECT_TRUE(NextShown());
    page->nextButton()->click();
    EXPECT_EQ(contactRuns, 1);

    test::MakeSampleUser(app.data(), 0.95);
    page->RunDiagnosis();
    EXPECT_EQ(page->verdict(), Verdict::kFair);
    EXPECT_TRUE(page->hintLine()->text().isEmpty());
    EXPECT_FALSE(NextShown());
    EXPECT_TRUE(MessageBox::Shown().empty());
}

TEST_F(ResultCheckDlgTest, NoDataShowsTheMessageAndResetsTheVerdict) {
    ShowPage();
    test::MakeSampleUser(app.data(), 0.7);
    page->diagnoseButton()->click();
    ASSERT_EQ(page->verdict(), Verdict::kPoor);
    for (int i = 0; i < app.monthCount; ++i) app.months[i].generation = 0;
    page->diagnoseButton()->click();
    EXPECT_EQ(page->verdict(), Verdict::kNone);
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_EQ(MessageBox::Shown()[0].text,
              QStringLiteral("発電実績がないため、診断を行うことができません。"));
    EXPECT_EQ(MessageBox::Shown()[0].title, QStringLiteral("ヘリオミルシステム"));
    EXPECT_EQ(MessageBox::Shown()[0].buttons, MsgButtons::kOk);
    EXPECT_FALSE(NextShown());
    EXPECT_TRUE(page->hintLine()->text().isEmpty());
}

TEST_F(ResultCheckDlgTest, VerdictAndNextButtonSurviveAPageChange) {
    test::MakeSampleUser(app.data(), 0.7);
    ShowPage();
    page->RunDiagnosis();
    main->ShowPage(Page::kResultViewer);
    EXPECT_TRUE(page->chartPixmap().isNull());  // released while hidden
    main->ShowPage(Page::kResultCheck);
    EXPECT_EQ(page->verdict(), Verdict::kPoor);
    EXPECT_TRUE(NextShown());
    EXPECT_FALSE(page->hintLine()->text().isEmpty());
    EXPECT_FALSE(page->chartPixmap().isNull());
}

TEST_F(ResultCheckDlgTest, DetailsNotEnteredDisableTheDiagnosisAndClearTheHint) {
    test::MakeSampleUser(app.data(), 0.7);
    ShowPage();
    page->RunDiagnosis();
    ASSERT_TRUE(NextShown());
    app.userInfo.detailed = 0;
    ShowPage();
    EXPECT_FALSE(page->diagnoseButton()->isEnabled());
    EXPECT_TRUE(page->printButton()->isEnabled());
    EXPECT_FALSE(NextShown());
    EXPECT_TRUE(page->hintLine()->text().isEmpty());
    const auto lines = VerdictAreaLines(app.userInfo, page->verdict());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "太陽電池設置情報の詳細が入力されていないため診断できません。");
}

TEST_F(ResultCheckDlgTest, PrintGoesToTheChosenPrinterAndCancelPrintsNothing) {
    ShowPage();
    page->RunDiagnosis();
    int asked = 0;
    page->SetPrinterChooser([&](QWidget*) -> std::unique_ptr<QPrinter> {
        ++asked;
        return nullptr;  // cancelled
    });
    page->printButton()->click();
    EXPECT_EQ(asked, 1);

    const QString pdf = QString::fromStdString(dir.File("report.pdf"));
    QString docName;
    page->SetPrinterChooser([&](QWidget*) {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return printer;
    });
    page->printButton()->click();
    const std::string bytes = test::ReadFile(pdf.toStdString());
    EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
    EXPECT_NE(bytes.find("/Title"), std::string::npos);
}

// Printing to a file proposes the report's name with today's date in the documents folder (the
// one of user-dirs.dirs), or in the home folder when there is none; never the toolkit's print.pdf.
TEST_F(ResultCheckDlgTest, PrintToFileProposesTheDatedReportInTheDocumentsFolder) {
    const std::string home = dir.File("home");
    test::ScopedEnv homeEnv("HOME", home);
    test::ScopedEnv configEnv("XDG_CONFIG_HOME", home + "/.config");
    dir.Write("home/.keep", "");
    ShowPage();
    page->RunDiagnosis();

    EXPECT_EQ(page->ProposedReportFile().toStdString(), home + "/ヘリオミル結果_20260120.pdf");
    dir.Write("home/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/文書\"\n");
    dir.Write("home/文書/.keep", "");
    const std::string proposed = home + "/文書/ヘリオミル結果_20260120.pdf";
    EXPECT_EQ(page->ProposedReportFile().toStdString(), proposed);

    // The real print dialog shows it; cancelling prints nothing.
    QString shown;
    QTimer::singleShot(0, [&] {
        QPrintDialog* dialog = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<QPrintDialog*>(w); d && d->isVisible()) dialog = d;
        }
        if (!dialog) {  // not the print dialog: close whatever came, the check below fails
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
            return;
        }
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("filename")))
            shown = name->text();
        dialog->reject();
    });
    page->printButton()->click();
    EXPECT_EQ(shown.toStdString(), proposed);
    EXPECT_TRUE(test::ReadFile(proposed).empty());
}

TEST_F(ResultCheckDlgTest, TheWeatherButtonIsOnExactlyWhenTheDiagnosisCouldGiveAVerdict) {
    struct Case {
        const char* name;
        int simDone;
        int detailed;
        bool generation;
        bool enabled;
    } cases[] = {
        {"all there", 1, 1, true, true},
        {"no simulation", 0, 1, true, false},
        {"no details", 1, 0, true, false},
        {"no generation", 1, 1, false, false},
    };
    for (const Case& c : cases) {
        test::MakeSampleUser(app.data(), 1.0);
        app.simDone = c.simDone;
        app.userInfo.detailed = c.detailed;
        if (!c.generation) {
            for (int i = 0; i < app.monthCount; ++i) app.months[i].generation = 0;
        }
        ShowPage();
        EXPECT_EQ(page->outlookButton()->isEnabled(), c.enabled) << c.name;
    }
    // It takes free space: no control of the page moves or is covered.
    const QRect outlook = page->outlookButton()->geometry();
    for (QWidget* w :
         {static_cast<QWidget*>(page->printButton()), static_cast<QWidget*>(page->diagnoseButton()),
          static_cast<QWidget*>(page->nextButton()), static_cast<QWidget*>(page->hintLine()),
          page->graphArea(), page->verdictArea()}) {
        EXPECT_FALSE(outlook.intersects(w->geometry())) << w->metaObject()->className();
    }
    EXPECT_EQ(page->outlookButton()->text(), QStringLiteral("天候との比較"));
}

TEST_F(ResultCheckDlgTest, TheWeatherDialogShowsTheRangeAndPrintsIt) {
    app.programDir = test::ProgramDir();
    app.userInfo.regionNo = 44132;
    app.userInfo.pcCode = "QPC-450A";
    app.userInfo.pcEfficiency = 0.955;
    ShowPage();
    int shown = 0;
    const QString pdf = QString::fromStdString(dir.File("outlook.pdf"));
    page->SetOutlookRunner([&](COutlookDlg& dialog) {
        ++shown;
        dialog.show();
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("天候との比較"));
        EXPECT_EQ(dialog.outlook().months.size(), 15u);
        EXPECT_TRUE(dialog.summary()->text().startsWith(QStringLiteral("直近12か月　発電実績 ")));
        EXPECT_TRUE(
            dialog.summary()->text().contains(QStringLiteral("経年変化はまだ求められません")));
        // The range bars reach the screen.
        const QImage shot = dialog.chartArea()->grab().toImage();
        int rangePixels = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x)
                rangePixels += shot.pixel(x, y) == qRgb(205, 220, 238);
        }
        EXPECT_GT(rangePixels, 1000);

        dialog.SetPrinterChooser([&](QWidget*) {
            auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(pdf);
            return printer;
        });
        dialog.printButton()->click();
    });
    page->outlookButton()->click();
    EXPECT_EQ(shown, 1);
    const std::string bytes = test::ReadFile(pdf.toStdString());
    EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
    EXPECT_NE(bytes.find("/Count 1"), std::string::npos);
    EXPECT_TRUE(MessageBox::Shown().empty());
}

TEST_F(ResultCheckDlgTest, WithoutTheRangeFileTheWeatherDialogDoesNotOpen) {
    app.programDir = dir.path();  // no support files at all
    app.userInfo.regionNo = 44132;
    ShowPage();
    int shown = 0;
    page->SetOutlookRunner([&](COutlookDlg&) { ++shown; });
    page->outlookButton()->click();
    EXPECT_EQ(shown, 0);
    ASSERT_EQ(MessageBox::Shown().size(), 1u);
    EXPECT_TRUE(
        MessageBox::Shown()[0].text.contains(QStringLiteral("insolation_range.csv: cannot open")))
        << MessageBox::Shown()[0].text.toStdString();
}

}  // namespace
}  // namespace ys::gui
