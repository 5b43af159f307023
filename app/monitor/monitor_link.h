// The program's side of the monitor unit's frame protocol over a COM port: a probe that tells
// whether a unit answers, and the transfer of its whole memory image. Each operation opens the
// port, runs its exchange and closes the port again; nothing is shown here.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stop_token>
#include <string_view>

#include "app/monitor/memory_image.h"
#include "devices/monitor_unit/frames.h"
#include "platform/serial.h"

namespace ys::monitor {

enum class LinkResult : int {
    kSuccess = 0,
    kOpenFailed = 1,         // the port failed to open
    kRequestNotWritten = 2,  // the request was not written completely
    kReplyFailed = 3,        // reply missing, short or corrupt, or an acknowledgement not written
};

// A few words on a result, for logs and the command line.
std::string_view DescribeLinkResult(LinkResult result);

// The frames, as the unit's protocol defines them.
using monitor_unit::FrameChecksum;
using monitor_unit::FrameSumIsZero;
using monitor_unit::kAckFrame;
using monitor_unit::kBlockFrameSize;
using monitor_unit::kHeaderFrameSize;
using monitor_unit::kNakFrame;
using monitor_unit::kRequestFrame;

inline constexpr serial::LineSettings kMonitorLine{};  // 115200 baud 8N1, binary
inline constexpr serial::Timeouts kMonitorTimeouts{30, 15, 750, 15, 750};

// The port backend and the fixed waits of the exchange; tests replace both.
struct LinkIo {
    serial::PortFactory makePort;
    std::function<void(std::chrono::milliseconds)> sleep;
};
// The backend chosen with SetDefaultPortFactory (the tty backend unless changed) and real sleeps.
LinkIo DefaultLinkIo();
void SetDefaultPortFactory(serial::PortFactory factory);

// Opens port n and sets the line and time-outs (whose failures are ignored, as only the open can
// fail); null when it cannot be opened. The port closes when the pointer is released.
std::unique_ptr<serial::Port> OpenMonitorPort(int portNo, const LinkIo& io = DefaultLinkIo());

// Whether a monitor unit answers on port n: request, header, first block, then a negative
// acknowledgement that ends the exchange. Both operations discard what arrived before the
// request, so that the remains of an exchange broken off earlier are never taken for a reply.
LinkResult ProbeMonitorUnit(int portNo, const LinkIo& io = DefaultLinkIo());

// Reads the whole memory image into `image` (zeroed first). A block with a wrong checksum or a
// number beyond the image ends the transfer with a negative acknowledgement and kReplyFailed;
// such a block is never stored.
LinkResult ReadMonitorImage(int portNo, MemoryImage& image, const LinkIo& io = DefaultLinkIo());

// Port discovery over the port list `ports` (port numbers in list order): probes each position
// whose port is published in the port folder (serial::IsPublishedPort) in turn and stops at the
// first unit that answers; other positions are passed over without a probe. `afterProbe` sees
// every probe's result (for the connection lamp). Returns the position to select: the answering
// one, else 0. Returns -1 when `stop` was requested before the scan ended.
int FindMonitorPort(std::span<const int> ports, const std::function<LinkResult(int)>& probe,
                    const std::function<void(int position, LinkResult)>& afterProbe,
                    std::stop_token stop = {});

}  // namespace ys::monitor
