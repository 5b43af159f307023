// Port discovery on its worker thread (run under ThreadSanitizer too).
#include "app/monitor/port_discovery.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <future>
#include <mutex>

#include "tests/support/temp_dir.h"

namespace ys::monitor {
namespace {

// Every port of the list published in a port folder of its own: the search probes each.
struct AllPortsPublished {
    AllPortsPublished() {
        for (int n : MonitorPortList()) {
            EXPECT_EQ(::symlink("/dev/null", folder.File("COM" + std::to_string(n)).c_str()), 0);
        }
    }
    test::TempDir folder;
    test::ScopedEnv env{"NORVANE_PORT_DIR", folder.path()};
};

TEST(PortDiscovery, ReportsEveryProbeAndThePositionFound) {
    AllPortsPublished published;
    std::mutex m;
    std::vector<std::pair<int, LinkResult>> seen;
    std::promise<int> found;
    PortDiscovery discovery;
    discovery.Start(
        MonitorPortList(),
        [](int port) { return port == 9 ? LinkResult::kSuccess : LinkResult::kOpenFailed; },
        [&](int pos, LinkResult r) {
            std::lock_guard lock(m);
            seen.emplace_back(pos, r);
        },
        [&](int pos) { found.set_value(pos); });
    EXPECT_EQ(found.get_future().get(), 8);
    discovery.Stop();
    EXPECT_FALSE(discovery.Running());
    std::lock_guard lock(m);
    ASSERT_EQ(seen.size(), 9u);
    EXPECT_EQ(seen.back(), (std::pair{8, LinkResult::kSuccess}));
}

TEST(PortDiscovery, NoAnswerSelectsTheFirstPort) {
    AllPortsPublished published;
    std::promise<int> found;
    PortDiscovery discovery;
    discovery.Start(
        MonitorPortList(), [](int) { return LinkResult::kReplyFailed; }, nullptr,
        [&](int pos) { found.set_value(pos); });
    EXPECT_EQ(found.get_future().get(), 0);
}

TEST(PortDiscovery, StoppingEndsAfterTheProbeUnderWayWithoutAResult) {
    AllPortsPublished published;
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    int probes = 0;
    bool done = false;
    std::promise<void> entered;
    PortDiscovery discovery;
    discovery.Start(
        MonitorPortList(),
        [&](int port) {
            std::unique_lock lock(m);
            ++probes;
            if (port == 2) {
                entered.set_value();
                cv.wait(lock, [&] { return release; });
            }
            return LinkResult::kOpenFailed;
        },
        nullptr,
        [&](int) {
            std::lock_guard lock(m);
            done = true;
        });
    entered.get_future().wait();
    EXPECT_TRUE(discovery.Running());
    discovery.RequestStop();
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    discovery.Stop();
    std::lock_guard lock(m);
    EXPECT_EQ(probes, 2);
    EXPECT_FALSE(done);
}

}  // namespace
}  // namespace ys::monitor
