// The data entry page's import through a COM port published by qtxportd --simulate: the GUI's
// link over the tty backend, the pseudo-terminal, both drivers, the simulated bus and the unit.
#include <gtest/gtest.h>
#include <signal.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/app_data.h"
#include "app/local_time.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "app/monitor/image_encoder.h"
#include "app/monitor/result_input_dlg.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/child_process.h"

namespace ys::gui {
namespace {

class PlainPage : public CSubDlg {
public:
    using CSubDlg::CSubDlg;
};

TEST(QtxportdGui, TheEntryPageImportsThroughTheDriverHost) {
    test::TempDir dir;
    test::ScopedEnv ports("NORVANE_PORT_DIR", dir.File("ports"));
    monitor::MonitorHistory history;
    for (int m = 1; m <= 5; ++m) {
        history.months.entries.push_back({{29, m, 1}, static_cast<std::int16_t>(m * 111)});
    }
    const auto image = *monitor::EncodeMemoryImage(history);
    const std::string imageFile = dir.Write("unit.img", std::string(image.begin(), image.end()));
    test::ChildProcess portd(
        {test::ProgramDir() + "/qtxportd", "--simulate", "--image", imageFile, "--quiet"});
    ASSERT_EQ(portd.ReadLine().rfind("qtxportd: COM3 -> ", 0), 0u) << portd.err();

    MessageBox::SetTestMode(true);
    CYieldscopeApp app;
    app.dataDir = dir.path();
    app.SetClock([] { return MakeLocalTime(2024, 6, 15, 12); });
    app.userInfo.installYear = 2021;
    app.userInfo.installMonth = 4;
    app.userInfo.monitorImport = 1;
    CResultInputDlg* page = nullptr;
    auto window =
        std::make_unique<CYieldscopeDlg>(app, nullptr, [&](CYieldscopeDlg& d, CYieldscopeApp& a) {
            std::array<CSubDlg*, kPageCount> out{};
            for (int i = 0; i < kPageCount; ++i) {
                if (i == static_cast<int>(Page::kResultInput)) {
                    page = new CResultInputDlg(d, a, &d, monitor::DefaultLinkIo(), false);
                    out[i] = page;
                } else {
                    out[i] = new PlainPage(d, a, &d);
                }
            }
            return out;
        });
    ASSERT_EQ(window->ShowPage(Page::kResultInput), 1);
    page->portList()->setCurrentIndex(2);  // COM3
    page->importButton()->click();
    const auto shown = MessageBox::Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "発電データの受信を完了しました。");
    EXPECT_EQ(page->monthField(1)->text(), "111");
    EXPECT_EQ(page->monthField(5)->text(), "555");
    window.reset();
    MessageBox::SetTestMode(false);

    portd.Signal(SIGTERM);
    EXPECT_EQ(portd.Wait(), 0) << portd.err();
}

}  // namespace
}  // namespace ys::gui
