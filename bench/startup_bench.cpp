// Start-up to the first painted main window: each run starts this program afresh as a child
// that goes through the program's start-up with a full default user data file (60 months, 400
// days, 50 errors) and reports when the main window has painted for the first time. The time
// is taken from just before the child is started, so it includes loading, Qt and fonts.
//
//   startup_bench [RUNS]      (QT_QPA_PLATFORM picks the window system; offscreen by default)
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_data.h"
#include "app/fonts.h"
#include "app/local_time.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/user_data_file.h"

namespace {

// Reports the first paint of the main window on `fd`, after the paint has completed.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(int fd) : fd_(fd) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint && !done_) {
            done_ = true;
            QTimer::singleShot(0, [this] {
                (void)!::write(fd_, "p", 1);
                QApplication::exit(0);
            });
        }
        return QObject::eventFilter(o, e);
    }

private:
    int fd_;
    bool done_ = false;
};

int Child(const char* programDir, const char* dataDir, int fd) {
    tzset();
    int argc = 1;
    char name[] = "yieldscope";
    char* argv[] = {name, nullptr};
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("yieldscope"));
    ys::gui::InitResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/yieldscope.svg")));
    ys::gui::InstallFontSubstitutions();
    ys::CYieldscopeApp app;
    if (!ys::gui::PrepareStartup(app, programDir, dataDir)) return 1;
    ys::gui::CYieldscopeDlg dlg(app);
    FirstPaint probe(fd);
    dlg.installEventFilter(&probe);
    dlg.show();
    return qapp.exec();
}

void Prepare(const std::string& programDir, const std::string& dataDir) {
    std::filesystem::create_directories(programDir);
    for (const char* f : {"admin.ini", "insolation.csv", "KEN_ALL.CSV", "gencalc", "gencalc.ini"}) {
        std::FILE* out = std::fopen((programDir + "/" + f).c_str(), "wb");
        if (out) std::fclose(out);
    }
    ys::CYieldscopeApp app;
    app.dataDir = dataDir;
    std::filesystem::create_directories(dataDir);
    app.simDone = 1;
    for (int i = 0; i < 12; ++i) app.simMonthly[i] = 300 + 20 * i;
    app.errorCount = ys::kMaxErrors;
    for (int i = 0; i < ys::kMaxErrors; ++i) {
        app.errors[i].kind = 1;
        app.errors[i].code = static_cast<std::uint8_t>(i % 10);
        app.errors[i].time = ys::MakeLocalTime(2025, 1, 1 + i, 12, 0);
    }
    app.dayCount = ys::kMaxDays;
    for (int i = 0; i < ys::kMaxDays; ++i) {
        app.days[i].date = ys::MakeLocalTime(2025, 1, 1 + i);
        app.days[i].generation = static_cast<std::int16_t>(5 + i % 20);
    }
    app.RebuildMonthTable();
    for (int i = 0; i < app.monthCount; ++i) app.months[i].generation = 300;
    if (!ys::SaveUserData(app, std::string()).ok()) std::fprintf(stderr, "cannot save\n");
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("TZ", "Asia/Tokyo", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
        return Child(argv[2], argv[3], std::atoi(argv[4]));
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    char tmpl[] = "/tmp/ys-startup-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string root = tmpl;
    const std::string programDir = root + "/program";
    const std::string dataDir = root + "/data/Norvane";
    Prepare(programDir, dataDir);

    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        int fds[2];
        if (::pipe(fds) != 0) return 1;
        const auto t0 = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execl("/proc/self/exe", argv[0], "--child", programDir.c_str(), dataDir.c_str(),
                    fd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        char c = 0;
        const bool painted = ::read(fds[0], &c, 1) == 1;
        const auto t1 = std::chrono::steady_clock::now();
        ::close(fds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!painted) {
            std::fprintf(stderr, "run %d: the main window did not paint\n", r);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::filesystem::remove_all(root);
    std::sort(ms.begin(), ms.end());
    std::printf("start-up to first paint over %d runs: min %.1f ms, median %.1f ms, max %.1f ms\n",
                runs, ms.front(), ms[ms.size() / 2], ms.back());
    return 0;
}
