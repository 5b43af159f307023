// A monitor unit on a pseudo-terminal: the protocol model behind the master side, with the bytes
// in both directions paced as on a serial line (or not at all). The slave side is the unit's COM
// port; clients may open and close it any number of times.
#pragma once

#include <poll.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "devices/monitor_unit/unit_model.h"
#include "platform/result.h"
#include "platform/unique_fd.h"

namespace ys::monitor_unit {

struct LineTiming {
    bool paced = true;
    std::uint32_t baudRate = 115200;  // 8N1: ten bit times per byte
    // Hand each frame over whole at the moment its last byte is through, rather than byte by
    // byte: the frame completes at the same time, but a simulator that the machine holds up for
    // a few milliseconds no longer opens a gap inside a frame that the host would take for the
    // end of the reply.
    bool wholeFrames = true;
    std::int64_t ByteNs() const { return paced ? 10'000'000'000LL / baudRate : 0; }
};

class PtyUnit {
public:
    // Opens a pseudo-terminal in raw mode and keeps a slave descriptor open, so that a client's
    // close never hangs up the master side.
    static Result<std::unique_ptr<PtyUnit>> Create(std::span<const std::uint8_t> image,
                                                   FaultConfig fault, LineTiming timing);
    ~PtyUnit();
    PtyUnit(const PtyUnit&) = delete;
    PtyUnit& operator=(const PtyUnit&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_.get(); }

    // Takes the host's bytes, answers them and writes what is due at `nowNs` (monotonic).
    // Returns when something next falls due, if anything is waiting.
    std::optional<std::int64_t> Service(std::int64_t nowNs);
    // The poll() events to wait for on the master besides the time from Service.
    short PollEvents() const { return static_cast<short>(POLLIN | (writeBlocked_ ? POLLOUT : 0)); }

    const MonitorUnitModel& model() const { return model_; }
    std::uint64_t bytesReceived() const { return received_; }
    std::uint64_t bytesWritten() const { return written_; }
    // True when every answer so far has been written to the line.
    bool idle() const { return out_.empty(); }

private:
    PtyUnit(std::span<const std::uint8_t> image, FaultConfig fault, LineTiming timing);
    void Take(std::uint8_t byte, std::int64_t arrivalNs);
    void WriteDue(std::int64_t nowNs);

    struct Pending {
        std::uint8_t byte;
        std::int64_t dueNs;
    };

    MonitorUnitModel model_;
    LineTiming timing_;
    UniqueFd master_;
    UniqueFd slaveKeepAlive_;
    std::string slavePath_;
    std::deque<Pending> out_;
    std::int64_t inFreeNs_ = 0;   // when the host's line is idle again
    std::int64_t outFreeNs_ = 0;  // when the unit's line is idle again
    bool writeBlocked_ = false;
    std::uint64_t received_ = 0;
    std::uint64_t written_ = 0;
};

}  // namespace ys::monitor_unit
