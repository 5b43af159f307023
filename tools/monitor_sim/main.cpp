// monitor-sim: a monitor unit on a pseudo-terminal, published as port COMn, serving a memory
// image from a file or a generated demo history, with the faults a real unit can show.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/monitor_unit/demo_history.h"
#include "platform/atomic_file.h"
#include "platform/number.h"
#include "platform/serial.h"
#include "tools/monitor_sim/pty_unit.h"
#include "tools/monitor_sim/unit_options.h"

namespace ys::monitor_unit {
namespace {

constexpr char kUsage[] =
    "usage: monitor-sim --port N (--image FILE | --demo [--capacity KW] [--install YYYY-MM])\n"
    "                   [--today YYYY-MM-DD] [--fault MODE] [--unpaced] [--pace frame|byte]\n"
    "                   [--baud RATE]\n"
    "                   [--port-dir DIR] [--dump-image FILE] [--quiet]\n"
    "\n"
    "Serves a monitor unit on a pseudo-terminal published as COMN in the port folder\n"
    "($NORVANE_PORT_DIR, else $XDG_RUNTIME_DIR/norvane/ports, else /run/norvane/ports).\n"
    "Prints one line \"monitor-sim: COMN -> DEVICE ...\" on stdout once the port is ready; ends\n"
    "on SIGINT or SIGTERM and removes the link.\n"
    "\n"
    "  --image FILE       serve this 32768-byte memory image\n"
    "  --demo             serve a generated history (default capacity 4.5 kW, install 2020-04)\n"
    "  --today DATE       the demo history ends the day before (default: today)\n"
    "  --fault MODE       none, bad-header, bad-block:K, silence:K, duplicate:K, big-number:K,\n"
    "                     count-zero, count-negative, count-over, no-answer\n"
    "  --unpaced          answer at once instead of at the line's speed (default 115200 8N1)\n"
    "  --pace frame|byte  when paced, hand each frame over whole once its last byte is through\n"
    "                     (default), or stream it byte by byte\n"
    "  --dump-image FILE  write the image to FILE and end without serving\n";

struct Options {
    int port = 0;
    UnitOptions unit;
    LineTiming timing;
    std::string portDir;
    std::string dumpFile;
    bool quiet = false;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    SetToday(o.unit.site, std::time(nullptr));

    auto bad = [](const std::string& what) {
        std::fprintf(stderr, "monitor-sim: %s\n%s", what.c_str(), kUsage);
        return std::nullopt;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string_view(argv[++i]);
        };
        std::optional<std::string_view> v;
        std::string error;
        const UnitOption unitOption = ParseUnitOption(a, value, o.unit, error);
        if (unitOption == UnitOption::kBad) return bad(error);
        if (unitOption == UnitOption::kTaken) continue;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--unpaced") {
            o.timing.paced = false;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (!(v = value())) {
            return bad(std::string(a) + " needs a value");
        } else if (a == "--port") {
            o.port = ParseNumber<int>(*v).value_or(0);
            if (o.port < 1 || o.port > serial::kMaxPortNo) {
                return bad("--port takes a number from 1 to 255");
            }
        } else if (a == "--pace") {
            if (*v != "frame" && *v != "byte") return bad("--pace takes frame or byte");
            o.timing.wholeFrames = *v == "frame";
        } else if (a == "--baud") {
            o.timing.baudRate = ParseNumber<std::uint32_t>(*v).value_or(0);
            if (o.timing.baudRate == 0) {
                return bad("--baud takes a positive number");
            }
        } else if (a == "--port-dir") {
            o.portDir = *v;
        } else if (a == "--dump-image") {
            o.dumpFile = *v;
        } else {
            return bad("unknown option " + std::string(a));
        }
    }
    if (o.unit.demo == !o.unit.imageFile.empty()) return bad("give either --image FILE or --demo");
    if (o.port == 0 && o.dumpFile.empty()) return bad("--port N is required");
    if (o.portDir.empty()) o.portDir = serial::PortFolder();
    return o;
}

std::int64_t NowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Reports the clients' exchanges on stderr.
class SessionLog {
public:
    explicit SessionLog(bool quiet) : quiet_(quiet) {}
    void Update(const MonitorUnitModel& m) {
        if (quiet_) return;
        if (m.requestsReceived() != requests_) {
            if (active_) Ended("abandoned");
            requests_ = m.requestsReceived();
            acksAtStart_ = m.acksReceived();
            naksAtStart_ = m.naksReceived();
            active_ = true;
            std::fprintf(stderr, "monitor-sim: request %d\n", requests_);
        }
        acks_ = m.acksReceived() - acksAtStart_;
        naks_ = m.naksReceived() - naksAtStart_;
        blocks_ = m.blocksSent();  // counted per transfer by the model
        if (active_ && !m.transferActive() && (acks_ > 0 || naks_ > 0 || blocks_ == 0)) {
            Ended("over");
        }
    }

private:
    void Ended(const char* how) {
        std::fprintf(stderr, "monitor-sim: exchange %s: %d blocks sent, %d ACK, %d NAK\n", how,
                     blocks_, acks_, naks_);
        active_ = false;
    }

    bool quiet_;
    bool active_ = false;
    int requests_ = 0, acks_ = 0, naks_ = 0, blocks_ = 0;
    int acksAtStart_ = 0, naksAtStart_ = 0;
};

int Run(const Options& o) {
    auto loaded = LoadUnitImage(o.unit);
    if (!loaded) {
        std::fprintf(stderr, "monitor-sim: %s\n", loaded.error().c_str());
        return 1;
    }
    const std::vector<std::uint8_t>& image = *loaded;
    if (!o.dumpFile.empty()) {
        const std::string_view bytes(reinterpret_cast<const char*>(image.data()), image.size());
        files::WriteOutcome w = files::WriteFileAtomically(o.dumpFile, bytes);
        if (!w.ok()) {
            std::fprintf(stderr, "monitor-sim: %s: %s\n", o.dumpFile.c_str(), w.message.c_str());
            return 1;
        }
        return 0;
    }

    // Signals arrive as readable data, so the loop ends cleanly and the link is removed.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int sigFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (sigFd < 0) {
        std::perror("monitor-sim: signalfd");
        return 1;
    }

    auto unit = PtyUnit::Create(image, o.unit.fault, o.timing);
    if (!unit) {
        std::fprintf(stderr, "monitor-sim: %s\n", unit.error().c_str());
        return 1;
    }
    auto link = serial::PortLink::Publish(o.portDir, o.port, (*unit)->slavePath());
    if (!link) {
        std::fprintf(stderr, "monitor-sim: %s\n", link.error().c_str());
        return 1;
    }
    std::printf("monitor-sim: %s -> %s (%s, %s)\n", serial::PortName(o.port).c_str(),
                (*unit)->slavePath().c_str(),
                o.timing.paced ? ("paced at " + std::to_string(o.timing.baudRate) + " baud" +
                                  (o.timing.wholeFrames ? ", whole frames" : ", byte by byte"))
                                     .c_str()
                               : "unpaced",
                o.unit.demo ? "demo history" : o.unit.imageFile.c_str());
    std::fflush(stdout);

    // Wake up on time: the default slack of 50 µs adds up over 256 blocks.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    PtyUnit& u = **unit;
    SessionLog log(o.quiet);
    for (;;) {
        const std::int64_t now = NowNs();
        const std::optional<std::int64_t> due = u.Service(now);
        log.Update(u.model());
        pollfd fds[2] = {{u.masterFd(), u.PollEvents(), 0}, {sigFd, POLLIN, 0}};
        timespec wait{};
        if (due) {
            const std::int64_t ns = std::max<std::int64_t>(0, *due - NowNs());
            wait = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        }
        const int r = ::ppoll(fds, 2, due ? &wait : nullptr, nullptr);
        if (r < 0 && errno != EINTR) {
            std::perror("monitor-sim: ppoll");
            break;
        }
        if (r > 0 && (fds[1].revents & POLLIN)) {
            signalfd_siginfo info{};
            (void)!::read(sigFd, &info, sizeof info);
            break;
        }
        if (r > 0 && (fds[0].revents & (POLLERR | POLLNVAL))) {
            std::fprintf(stderr, "monitor-sim: the pseudo-terminal failed\n");
            break;
        }
    }
    (*link)->Remove();
    ::close(sigFd);
    return 0;
}

}  // namespace
}  // namespace ys::monitor_unit

int main(int argc, char** argv) {
    const auto options = ys::monitor_unit::ParseOptions(argc, argv);
    if (!options) return 2;
    return ys::monitor_unit::Run(*options);
}
