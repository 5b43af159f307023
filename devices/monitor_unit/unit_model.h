// The monitor unit's side of the frame protocol, free of any transport and timing: bytes from the
// host go in, the unit's answer comes out. The simulator on a pseudo-terminal and the USB device
// model of the driver tests both run this one model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "devices/monitor_unit/frames.h"
#include "devices/monitor_unit/memory_image.h"

namespace ys::monitor_unit {

enum class Fault {
    kNone,
    kBadHeaderChecksum,    // the header's checksum is off by one
    kBadBlockChecksum,     // block `k` carries a wrong checksum
    kSilenceAfterBlocks,   // the unit stops after sending `k` blocks
    kDuplicateBlock,       // block `k` is sent twice (the count announces one more block)
    kBlockNumberTooLarge,  // block `k` carries the number 256 + k
    kAnnounceZero,         // the header announces 0 blocks
    kAnnounceNegative,     // the header announces -1 (0xFFFF)
    kAnnounceTooMany,      // the header announces 300 blocks; numbers wrap at 256
    kNoAnswer,             // the unit never answers
};

struct FaultConfig {
    Fault fault = Fault::kNone;
    int k = 0;
};

// Parses "none", "bad-header", "bad-block:K", "silence:K", "duplicate:K", "big-number:K",
// "count-zero", "count-negative", "count-over", "no-answer". False for anything else.
bool ParseFault(std::string_view text, FaultConfig& out);

class MonitorUnitModel {
public:
    // `image` must hold kImageSize bytes.
    explicit MonitorUnitModel(std::span<const std::uint8_t> image, FaultConfig fault = {});

    // Bytes written by the host (any split); returns what the unit sends in reply.
    std::vector<std::uint8_t> Receive(std::span<const std::uint8_t> bytes);

    // Everything the host has sent, in order, and the frames it was parsed into.
    const std::vector<std::uint8_t>& hostBytes() const { return hostBytes_; }
    int requestsReceived() const { return requests_; }
    int acksReceived() const { return acks_; }
    int naksReceived() const { return naks_; }
    int blocksSent() const { return sent_; }
    bool transferActive() const { return active_; }

    // The header and block frames as the unit sends them (for tests of the host side).
    std::vector<std::uint8_t> HeaderFrame(std::int16_t count, bool badChecksum = false) const;
    std::vector<std::uint8_t> BlockFrame(unsigned number, std::size_t slot,
                                         bool badChecksum = false) const;

private:
    void StartTransfer(std::vector<std::uint8_t>& out);
    void SendNextBlock(std::vector<std::uint8_t>& out);
    void OnFrame(std::span<const std::uint8_t> frame, std::vector<std::uint8_t>& out);

    std::vector<std::uint8_t> image_;
    FaultConfig fault_;
    std::vector<std::uint8_t> hostBytes_;
    std::vector<std::uint8_t> pending_;  // host bytes not yet forming a frame
    bool active_ = false;
    int toSend_ = 0;  // blocks the header announced (as the unit will send them)
    int sent_ = 0;
    int requests_ = 0;
    int acks_ = 0;
    int naks_ = 0;
};

}  // namespace ys::monitor_unit
