// qtxportd: the driver host. Loads qtxusb64 and qtxvcom64 above the monitor unit's USB device
// (a real one through libusb, with hot-plug, or the simulated unit) and publishes its COM port
// as a pseudo-terminal linked as COMn in the port folder.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/host/driver_stack.h"
#include "drivers/usb/libusb_backend.h"
#include "drivers/usb/monitor_unit_device.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/serial.h"
#include "tools/monitor_sim/unit_options.h"
#include "tools/qtxportd/ported_device.h"

namespace ys::portd {
namespace {

constexpr char kUsage[] =
    "usage: qtxportd [--config FILE] [--port-dir DIR] [--quiet]\n"
    "       qtxportd --simulate (--image FILE | --demo [--capacity KW] [--install YYYY-MM]\n"
    "                [--today YYYY-MM-DD]) [--fault MODE] [--config FILE] [--port-dir DIR]\n"
    "                [--quiet]\n"
    "\n"
    "Loads qtxusb64 and qtxvcom64 above the monitor unit's USB device and publishes its COM port\n"
    "(PortName of the configuration) as a link COMn to a pseudo-terminal in the port folder\n"
    "($NORVANE_PORT_DIR, else $XDG_RUNTIME_DIR/norvane/ports, else /run/norvane/ports).\n"
    "Without --simulate it serves the USB device of the configuration's VendorId and ProductId\n"
    "whenever it is plugged in; with --simulate, the simulated unit on a simulated bus.\n"
    "Prints \"qtxportd: COMn -> DEVICE ...\" on stdout when the port is ready; ends on SIGINT or\n"
    "SIGTERM and removes the link.\n"
    "\n"
    "  --config FILE   the device configuration (default: monitor_unit.ini beside qtxportd)\n"
    "  --image FILE    the simulated unit serves this 32768-byte memory image\n"
    "  --demo          the simulated unit serves a generated history (default 4.5 kW, 2020-04)\n"
    "  --today DATE    the demo history ends the day before (default: today)\n"
    "  --fault MODE    none, bad-header, bad-block:K, silence:K, duplicate:K, big-number:K,\n"
    "                  count-zero, count-negative, count-over, no-answer\n";

struct Options {
    std::string config;
    std::string portDir;
    bool quiet = false;
    bool simulate = false;
    monitor_unit::UnitOptions unit;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    monitor_unit::SetToday(o.unit.site, std::time(nullptr));
    bool simulatedOnly = false;

    auto bad = [](const std::string& what) {
        std::fprintf(stderr, "qtxportd: %s\n%s", what.c_str(), kUsage);
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
        switch (monitor_unit::ParseUnitOption(a, value, o.unit, error)) {
            case monitor_unit::UnitOption::kBad:
                return bad(error);
            case monitor_unit::UnitOption::kTaken:
                simulatedOnly = true;
                continue;
            case monitor_unit::UnitOption::kNotOne:
                break;
        }
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--simulate") {
            o.simulate = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (!(v = value())) {
            return bad(std::string(a) + " needs a value");
        } else if (a == "--config") {
            o.config = *v;
        } else if (a == "--port-dir") {
            o.portDir = *v;
        } else {
            return bad("unknown option " + std::string(a));
        }
    }
    if (o.simulate && o.unit.demo == !o.unit.imageFile.empty()) {
        return bad("--simulate needs either --image FILE or --demo");
    }
    if (!o.simulate && simulatedOnly) return bad("the unit's options need --simulate");
    if (o.config.empty()) o.config = paths::Join(paths::ProgramDir(), "monitor_unit.ini");
    if (o.portDir.empty()) o.portDir = serial::PortFolder();
    return o;
}

BridgeEvents Reporting(const Options& o, const std::string& port) {
    BridgeEvents e;
    e.failed = [port](const std::string& what) {
        std::fprintf(stderr, "qtxportd: %s: %s\n", port.c_str(), what.c_str());
    };
    if (!o.quiet) {
        e.opened = [port] { std::fprintf(stderr, "qtxportd: %s opened\n", port.c_str()); };
        e.closed = [port] { std::fprintf(stderr, "qtxportd: %s closed\n", port.c_str()); };
    }
    return e;
}

void Ready(const PortedDevice& d, const PortdConfig& c, const std::string& what) {
    std::printf("qtxportd: %s -> %s (%s)\n", c.portName.c_str(), d.slavePath().c_str(),
                what.c_str());
    std::fflush(stdout);
}

// Signals arrive as readable data, so the host ends cleanly and removes its links.
int SignalFd() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);
    return ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

int RunSimulated(const Options& o, const PortdConfig& config, int sigFd) {
    auto image = monitor_unit::LoadUnitImage(o.unit);
    if (!image) {
        std::fprintf(stderr, "qtxportd: %s\n", image.error().c_str());
        return 1;
    }
    host::DriverStack stack(kernel::Dispatcher::CreateRealTime());
    if (!stack.loaded()) {
        std::fprintf(stderr, "qtxportd: the drivers failed to load\n");
        return 1;
    }
    usb::MonitorUnitDevice::Options unitOptions;
    unitOptions.protocolFault = o.unit.fault;
    auto unit =
        std::make_shared<usb::MonitorUnitDevice>(stack.kernel().dispatcher(), *image, unitOptions);
    auto device =
        PortedDevice::Start(stack, unit, config, "SIM1", o.portDir, Reporting(o, config.portName));
    if (!device) {
        std::fprintf(stderr, "qtxportd: %s\n", device.error().c_str());
        return 1;
    }
    Ready(**device, config,
          "simulated monitor unit, " +
              (o.unit.demo ? std::string("demo history") : o.unit.imageFile));
    pollfd p{sigFd, POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    (*device)->Stop();
    return 0;
}

int RunUsb(const Options& o, const PortdConfig& config, int sigFd) {
    // Declared before the stack: the libusb event thread must outlive every device handle.
    auto context = usb::LibusbContext::Create(config.vendorId, config.productId);
    if (!context) {
        std::fprintf(stderr, "qtxportd: %s\n", context.error().c_str());
        return 1;
    }
    host::DriverStack stack(kernel::Dispatcher::CreateRealTime());
    if (!stack.loaded()) {
        std::fprintf(stderr, "qtxportd: the drivers failed to load\n");
        return 1;
    }
    struct Served {
        std::shared_ptr<usb::LibusbBackend> backend;
        std::unique_ptr<PortedDevice> device;
    };
    std::vector<std::pair<usb::LibusbDeviceKey, Served>> served;
    char id[16];
    std::snprintf(id, sizeof id, "%04x:%04x", config.vendorId, config.productId);
    std::printf("qtxportd: waiting for USB device %s (%s)\n", id, config.portName.c_str());
    std::fflush(stdout);

    for (;;) {
        pollfd fds[2] = {{sigFd, POLLIN, 0}, {(*context)->eventFd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & POLLIN) break;
        for (const auto& e : (*context)->TakeEvents()) {
            const std::string where =
                "USB " + std::to_string(e.key.bus) + ":" + std::to_string(e.key.address);
            auto it = std::find_if(served.begin(), served.end(),
                                   [&](const auto& s) { return s.first == e.key; });
            if (!e.arrived) {
                if (it == served.end()) continue;
                // A surprise removal: transfers end, the bus reports the loss, then removal.
                it->second.backend->Disconnected();
                it->second.device->Depart();
                served.erase(it);
                if (!o.quiet) std::fprintf(stderr, "qtxportd: %s left\n", where.c_str());
                continue;
            }
            if (it != served.end()) continue;
            auto api = (*context)->Open(e.key);
            if (!api) {
                std::fprintf(stderr, "qtxportd: %s\n", api.error().c_str());
                continue;
            }
            auto backend = std::make_shared<usb::LibusbBackend>(std::move(*api));
            const std::string serial =
                std::to_string(e.key.bus) + "-" + std::to_string(e.key.address);
            auto device = PortedDevice::Start(stack, backend, config, serial, o.portDir,
                                              Reporting(o, config.portName));
            if (!device) {
                std::fprintf(stderr, "qtxportd: %s: %s\n", where.c_str(), device.error().c_str());
                continue;
            }
            Ready(**device, config, where);
            served.emplace_back(e.key, Served{backend, std::move(*device)});
        }
    }
    for (auto& s : served) s.second.device->Stop();
    return 0;
}

}  // namespace
}  // namespace ys::portd

int main(int argc, char** argv) {
    using namespace ys::portd;
    const auto options = ParseOptions(argc, argv);
    if (!options) return 2;
    const auto config = LoadConfig(options->config);
    if (!config) {
        std::fprintf(stderr, "qtxportd: %s\n", config.error().c_str());
        return 1;
    }
    const int sigFd = SignalFd();
    if (sigFd < 0) {
        std::perror("qtxportd: signalfd");
        return 1;
    }
    const int code = options->simulate ? RunSimulated(*options, *config, sigFd)
                                       : RunUsb(*options, *config, sigFd);
    ::close(sigFd);
    return code;
}
