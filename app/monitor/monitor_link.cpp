#include "app/monitor/monitor_link.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <thread>

namespace ys::monitor {
namespace {

using namespace std::chrono_literals;

constexpr auto kSettleWait = 100ms;  // the unit needs this between the steps of the exchange

std::mutex& FactoryMutex() {
    static std::mutex m;
    return m;
}
serial::PortFactory& DefaultFactory() {
    static serial::PortFactory factory = serial::TtyPortFactory();
    return factory;
}

template <std::size_t N>
bool WriteFrame(serial::Port& port, const std::uint8_t (&frame)[N]) {
    return port.Write(std::span<const std::uint8_t>(frame, N)) == N;
}

// Sends the request on a quiet line: whatever a unit still sent from an exchange that was broken
// off has arrived during the wait and goes, so that it can never be taken for the reply (the rest
// of a block of zeros reads as a valid header announcing no blocks).
bool SendRequest(serial::Port& port) {
    port.PurgeInput();
    return WriteFrame(port, kRequestFrame);
}

}  // namespace

std::string_view DescribeLinkResult(LinkResult result) {
    switch (result) {
        case LinkResult::kSuccess:
            return "success";
        case LinkResult::kOpenFailed:
            return "the port could not be opened";
        case LinkResult::kRequestNotWritten:
            return "the request could not be sent";
        case LinkResult::kReplyFailed:
            return "the monitor unit's reply was missing, short or corrupt";
    }
    return "unknown result";
}

LinkIo DefaultLinkIo() {
    std::lock_guard lock(FactoryMutex());
    return {DefaultFactory(), [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }};
}

void SetDefaultPortFactory(serial::PortFactory factory) {
    std::lock_guard lock(FactoryMutex());
    DefaultFactory() = std::move(factory);
}

std::unique_ptr<serial::Port> OpenMonitorPort(int portNo, const LinkIo& io) {
    std::unique_ptr<serial::Port> port = io.makePort();
    if (!port || !port->Open(portNo)) return nullptr;
    (void)port->SetLineSettings(kMonitorLine);
    (void)port->SetTimeouts(kMonitorTimeouts);
    return port;
}

LinkResult ProbeMonitorUnit(int portNo, const LinkIo& io) {
    const std::unique_ptr<serial::Port> port = OpenMonitorPort(portNo, io);
    if (!port) return LinkResult::kOpenFailed;
    io.sleep(kSettleWait);
    if (!SendRequest(*port)) return LinkResult::kRequestNotWritten;

    io.sleep(kSettleWait);
    port->ClearErrors();
    std::array<std::uint8_t, kHeaderFrameSize> header{};
    if (port->Read(header) != header.size() || !FrameSumIsZero(header)) {
        return LinkResult::kReplyFailed;
    }

    io.sleep(kSettleWait);
    port->ClearErrors();
    std::array<std::uint8_t, kBlockFrameSize> block{};
    if (port->Read(block) != block.size()) return LinkResult::kReplyFailed;
    const bool blockOk = FrameSumIsZero(block);
    // The negative acknowledgement ends the exchange on the unit's side, good block or not.
    const bool nakWritten = WriteFrame(*port, kNakFrame);
    return blockOk && nakWritten ? LinkResult::kSuccess : LinkResult::kReplyFailed;
}

LinkResult ReadMonitorImage(int portNo, MemoryImage& image, const LinkIo& io) {
    image.fill(0);
    const std::unique_ptr<serial::Port> port = OpenMonitorPort(portNo, io);
    if (!port) return LinkResult::kOpenFailed;
    io.sleep(kSettleWait);
    if (!SendRequest(*port)) return LinkResult::kRequestNotWritten;

    io.sleep(kSettleWait);
    port->ClearErrors();
    std::array<std::uint8_t, kHeaderFrameSize> header{};
    if (port->Read(header) != header.size() || !FrameSumIsZero(header)) {
        return LinkResult::kReplyFailed;
    }
    io.sleep(kSettleWait);
    const auto count = static_cast<std::int16_t>(header[2] | (header[3] << 8));

    std::array<std::uint8_t, kBlockFrameSize> block{};
    for (int i = 0; i < count; ++i) {
        port->ClearErrors();
        block.fill(0);
        if (port->Read(block) != block.size()) return LinkResult::kReplyFailed;
        const unsigned number = block[2] | (block[3] << 8);
        if (!FrameSumIsZero(block) || number >= kBlockCount) {
            // A corrupt block or one beyond the image: nothing of it is stored, and the whole
            // transfer fails rather than leave a hole the user would never see.
            (void)WriteFrame(*port, kNakFrame);
            return LinkResult::kReplyFailed;
        }
        std::copy_n(block.begin() + 4, kBlockDataSize,
                    image.begin() + static_cast<std::ptrdiff_t>(number * kBlockDataSize));
        if (!WriteFrame(*port, kAckFrame)) return LinkResult::kReplyFailed;
    }
    return LinkResult::kSuccess;
}

int FindMonitorPort(std::span<const int> ports, const std::function<LinkResult(int)>& probe,
                    const std::function<void(int, LinkResult)>& afterProbe, std::stop_token stop) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (stop.stop_requested()) return -1;
        // Only the ports that a simulator or the driver host publishes can be a monitor unit;
        // a fixed device may be someone's console, modem or board and gets no request.
        if (!serial::IsPublishedPort(ports[i])) continue;
        const LinkResult r = probe(ports[i]);
        if (afterProbe) afterProbe(static_cast<int>(i), r);
        if (r == LinkResult::kSuccess) return static_cast<int>(i);
    }
    return stop.stop_requested() ? -1 : 0;
}

}  // namespace ys::monitor
