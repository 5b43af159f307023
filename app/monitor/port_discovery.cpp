#include "app/monitor/port_discovery.h"

namespace ys::monitor {

std::vector<int> MonitorPortList() {
    std::vector<int> ports;
    for (int n = 1; n <= serial::kMaxPortNo; ++n) ports.push_back(n);
    return ports;
}

void PortDiscovery::Start(std::vector<int> ports, Probe probe, Progress progress, Done done) {
    Stop();
    running_ = true;
    worker_ = std::jthread([this, ports = std::move(ports), probe = std::move(probe),
                            progress = std::move(progress),
                            done = std::move(done)](std::stop_token stop) {
        const int position = FindMonitorPort(ports, probe, progress, stop);
        if (position >= 0 && done) done(position);
        running_ = false;
    });
}

void PortDiscovery::Stop() {
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
    }
    running_ = false;
}

}  // namespace ys::monitor
