// A simulated monitor unit on a real pseudo-terminal, published as a COM port in a temporary
// port folder, for tests of the link over the tty backend. Everything runs on the test's thread:
// whenever the port would wait, the unit first answers what the host has written; when the unit
// has nothing more to say, the wait ends in virtual time. So time-outs cost no real time and the
// outcome never depends on the machine's speed.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/monitor/monitor_link.h"
#include "platform/serial.h"
#include "tests/support/temp_dir.h"
#include "tools/monitor_sim/pty_unit.h"

namespace ys::test {

class UnitOnPty : public serial::Timing {
public:
    static constexpr int kPortNo = 7;

    explicit UnitOnPty(std::span<const std::uint8_t> image, monitor_unit::FaultConfig fault = {});
    ~UnitOnPty() override;

    // Ports made by this LinkIo talk to the unit; its sleeps only add to the virtual clock.
    monitor::LinkIo Io();

    const monitor_unit::MonitorUnitModel& unit() const { return unit_->model(); }
    // Everything the host wrote, as the unit received it.
    const std::vector<std::uint8_t>& hostBytes() {
        CatchUpWithHost();
        return unit_->model().hostBytes();
    }
    int opens() const { return opens_; }
    int closes() const { return closes_; }
    // Virtual milliseconds spent in waits of the link and time-outs of the port.
    std::int64_t elapsedMs() const { return nowNs_ / 1'000'000; }
    std::vector<std::chrono::milliseconds> sleeps() const { return sleeps_; }
    const std::string& device() const { return unit_->slavePath(); }

    // Called at every wait of the link (after the open, after the request, after the header).
    void SetSleepHook(std::function<void(int sleepNo)> hook) { sleepHook_ = std::move(hook); }
    // Puts bytes on the line from the unit's side outside the protocol (the remains of an
    // earlier exchange); returns once the port side holds them.
    void SendStray(const std::vector<std::uint8_t>& bytes);

    // Leaves the port as a terminal program would (9600 baud, canonical, echo), and tells
    // whether it is still so.
    void SetTerminalLine();
    bool LineIsAsSet() const;

    // True when the port can be opened exclusively again and carries no exclusive flag: the
    // link closed it properly.
    bool PortIsFree() const;

    // serial::Timing
    std::int64_t NowNs() override { return nowNs_; }
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;

private:
    class CountingPort;
    void CatchUpWithHost();

    TempDir folder_;
    ScopedEnv env_;
    std::unique_ptr<monitor_unit::PtyUnit> unit_;
    std::unique_ptr<serial::PortLink> link_;
    int watch_ = -1;  // a second slave descriptor, to see the port's state from outside
    termios line_{};
    std::int64_t nowNs_ = 0;
    std::uint64_t hostWritten_ = 0;
    int opens_ = 0;
    int closes_ = 0;
    std::vector<std::chrono::milliseconds> sleeps_;
    std::function<void(int)> sleepHook_;
};

}  // namespace ys::test
