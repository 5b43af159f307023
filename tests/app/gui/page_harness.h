// The main window for widget tests: recording pages that log every page-change call (and refuse
// to be left when told to), with the real pages under test in their own slots.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <memory>
#include <vector>

#include "app/app_data.h"
#include "app/errors/error_viewer_dlg.h"
#include "app/local_time.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "app/result_viewer_dlg.h"
#include "app/solar_sim_dlg.h"
#include "app/sub_dlg.h"
#include "tests/support/temp_dir.h"

namespace ys::gui::test {

struct Call {
    int page;
    int leaving;
    int exitFlag;
    bool operator==(const Call&) const = default;
};

class RecordingPage : public CSubDlg {
public:
    RecordingPage(CYieldscopeDlg& dlg, CYieldscopeApp& app, int index, std::vector<Call>& log)
        : CSubDlg(dlg, app, &dlg), index_(index), log_(log) {}
    int OnPageChange(int leaving, int exitFlag) override {
        log_.push_back({index_, leaving, exitFlag});
        return (leaving && refuse) ? 0 : 1;
    }
    bool refuse = false;

private:
    int index_;
    std::vector<Call>& log_;
};

class PageHarness : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBox::SetTestMode(true);
        app.dataDir = dir.path();
        app.SetClock([] { return MakeLocalTime(2026, 12, 7); });
    }

    // The pages in `real` are the program's own; the others record.
    std::unique_ptr<CYieldscopeDlg> Make(std::initializer_list<Page> real = {}) {
        return std::make_unique<CYieldscopeDlg>(
            app, nullptr, [this, real](CYieldscopeDlg& d, CYieldscopeApp& a) {
                std::array<CSubDlg*, kPageCount> out{};
                for (int i = 0; i < kPageCount; ++i) {
                    const Page p = static_cast<Page>(i);
                    if (std::find(real.begin(), real.end(), p) != real.end()) {
                        out[i] = RealPage(p, d, a);
                        pages[i] = nullptr;
                    } else {
                        pages[i] = new RecordingPage(d, a, i, log);
                        out[i] = pages[i];
                    }
                }
                return out;
            });
    }

    static CSubDlg* RealPage(Page p, CYieldscopeDlg& d, CYieldscopeApp& a) {
        switch (p) {
            case Page::kSolarSim:
                return new CSolarSimDlg(d, a, &d);
            case Page::kResultViewer:
                return new CResultViewerDlg(d, a, &d);
            case Page::kErrorViewer:
                return new CErrorViewerDlg(d, a, &d);
            default:
                ADD_FAILURE() << "no real page for this slot in these tests";
                return nullptr;
        }
    }

    ys::test::TempDir dir;
    CYieldscopeApp app;
    std::vector<Call> log;
    std::array<RecordingPage*, kPageCount> pages{};
};

}  // namespace ys::gui::test
