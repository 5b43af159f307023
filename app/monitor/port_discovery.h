// Port discovery off the GUI thread: the probes of the whole port list run on a worker, so that
// ports that exist but answer nothing never hold up the window.
#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "app/monitor/monitor_link.h"

namespace ys::monitor {

// The ports of the import group's list, in list order: COM1 to COM255.
std::vector<int> MonitorPortList();

class PortDiscovery {
public:
    using Probe = std::function<LinkResult(int portNo)>;
    // Both run on the worker thread. `progress` follows every probe; `done` gets the position to
    // select and is not called when the discovery was stopped.
    using Progress = std::function<void(int position, LinkResult result)>;
    using Done = std::function<void(int position)>;

    PortDiscovery() = default;
    ~PortDiscovery() { Stop(); }
    PortDiscovery(const PortDiscovery&) = delete;
    PortDiscovery& operator=(const PortDiscovery&) = delete;

    // Starts a discovery over `ports` (stopping one under way first).
    void Start(std::vector<int> ports, Probe probe, Progress progress, Done done);
    // Asks the worker to end after the probe under way, without waiting.
    void RequestStop() { worker_.request_stop(); }
    // Asks the worker to end and waits for it: at most the probe under way finishes.
    void Stop();
    bool Running() const { return running_.load(); }

private:
    std::jthread worker_;
    std::atomic<bool> running_{false};
};

}  // namespace ys::monitor
