#include "devices/monitor_unit/unit_model.h"

#include <algorithm>
#include <optional>

#include "platform/number.h"

namespace ys::monitor_unit {

bool ParseFault(std::string_view text, FaultConfig& out) {
    struct Name {
        std::string_view name;
        Fault fault;
        bool takesK;
    };
    static constexpr Name kNames[] = {
        {"none", Fault::kNone, false},
        {"bad-header", Fault::kBadHeaderChecksum, false},
        {"bad-block", Fault::kBadBlockChecksum, true},
        {"silence", Fault::kSilenceAfterBlocks, true},
        {"duplicate", Fault::kDuplicateBlock, true},
        {"big-number", Fault::kBlockNumberTooLarge, true},
        {"count-zero", Fault::kAnnounceZero, false},
        {"count-negative", Fault::kAnnounceNegative, false},
        {"count-over", Fault::kAnnounceTooMany, false},
        {"no-answer", Fault::kNoAnswer, false},
    };
    std::string_view name = text, arg;
    if (auto colon = text.find(':'); colon != std::string_view::npos) {
        name = text.substr(0, colon);
        arg = text.substr(colon + 1);
    }
    for (const Name& n : kNames) {
        if (n.name != name) continue;
        FaultConfig f{n.fault, 0};
        if (n.takesK) {
            const std::optional<int> k = ParseNumber<int>(arg);
            if (!k || *k < 0 || *k >= static_cast<int>(kBlockCount)) return false;
            f.k = *k;
        } else if (!arg.empty()) {
            return false;
        }
        out = f;
        return true;
    }
    return false;
}

MonitorUnitModel::MonitorUnitModel(std::span<const std::uint8_t> image, FaultConfig fault)
    : image_(kImageSize, 0), fault_(fault) {
    std::copy_n(image.begin(), std::min(image.size(), kImageSize), image_.begin());
}

std::vector<std::uint8_t> MonitorUnitModel::HeaderFrame(std::int16_t count, bool bad) const {
    std::vector<std::uint8_t> f = {kHeaderTag[0], kHeaderTag[1],
                                   static_cast<std::uint8_t>(count & 0xFF),
                                   static_cast<std::uint8_t>((count >> 8) & 0xFF)};
    f.push_back(static_cast<std::uint8_t>(FrameChecksum(f) + (bad ? 1 : 0)));
    return f;
}

std::vector<std::uint8_t> MonitorUnitModel::BlockFrame(unsigned number, std::size_t slot,
                                                       bool bad) const {
    std::vector<std::uint8_t> f = {kBlockTag[0], kBlockTag[1],
                                   static_cast<std::uint8_t>(number & 0xFF),
                                   static_cast<std::uint8_t>((number >> 8) & 0xFF)};
    const std::size_t s = slot % kBlockCount;
    f.insert(f.end(), image_.begin() + static_cast<std::ptrdiff_t>(s * kBlockDataSize),
             image_.begin() + static_cast<std::ptrdiff_t>((s + 1) * kBlockDataSize));
    f.push_back(static_cast<std::uint8_t>(FrameChecksum(f) + (bad ? 1 : 0)));
    return f;
}

void MonitorUnitModel::StartTransfer(std::vector<std::uint8_t>& out) {
    std::int16_t announce = static_cast<std::int16_t>(kBlockCount);
    toSend_ = static_cast<int>(kBlockCount);
    switch (fault_.fault) {
        case Fault::kDuplicateBlock:
            announce = static_cast<std::int16_t>(kBlockCount + 1);
            toSend_ = announce;
            break;
        case Fault::kAnnounceZero:
            announce = 0;
            toSend_ = 0;
            break;
        case Fault::kAnnounceNegative:
            announce = -1;
            toSend_ = 0;
            break;
        case Fault::kAnnounceTooMany:
            announce = 300;
            toSend_ = 300;
            break;
        default:
            break;
    }
    const std::vector<std::uint8_t> header =
        HeaderFrame(announce, fault_.fault == Fault::kBadHeaderChecksum);
    out.insert(out.end(), header.begin(), header.end());
    sent_ = 0;
    active_ = fault_.fault != Fault::kBadHeaderChecksum && toSend_ > 0;
    if (active_) SendNextBlock(out);
}

void MonitorUnitModel::SendNextBlock(std::vector<std::uint8_t>& out) {
    if (sent_ >= toSend_) {
        active_ = false;
        return;
    }
    if (fault_.fault == Fault::kSilenceAfterBlocks && sent_ >= fault_.k) {
        active_ = false;
        return;
    }
    const int i = sent_;
    int slot = i;
    if (fault_.fault == Fault::kDuplicateBlock && i > fault_.k) slot = i - 1;
    unsigned number = static_cast<unsigned>(slot % static_cast<int>(kBlockCount));
    if (fault_.fault == Fault::kBlockNumberTooLarge && i == fault_.k) number += kBlockCount;
    const bool bad = fault_.fault == Fault::kBadBlockChecksum && i == fault_.k;
    const std::vector<std::uint8_t> block = BlockFrame(number, static_cast<std::size_t>(slot), bad);
    out.insert(out.end(), block.begin(), block.end());
    ++sent_;
}

void MonitorUnitModel::OnFrame(std::span<const std::uint8_t> frame,
                               std::vector<std::uint8_t>& out) {
    auto is = [&](std::span<const std::uint8_t> f) { return std::ranges::equal(frame, f); };
    if (is(kRequestFrame)) {
        ++requests_;
        StartTransfer(out);
    } else if (is(kAckFrame)) {
        ++acks_;
        if (active_) SendNextBlock(out);
    } else if (is(kNakFrame)) {
        ++naks_;
        active_ = false;  // the host ends the exchange
    }
}

std::vector<std::uint8_t> MonitorUnitModel::Receive(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> out;
    hostBytes_.insert(hostBytes_.end(), bytes.begin(), bytes.end());
    if (fault_.fault == Fault::kNoAnswer) return out;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    // Frames start with 0x65; the second byte tells the length (request 3, (N)ACK 4).
    for (;;) {
        auto start = std::find(pending_.begin(), pending_.end(), std::uint8_t{0x65});
        pending_.erase(pending_.begin(), start);
        if (pending_.size() < 2) break;
        const std::size_t len = pending_[1] == 0x00 ? 3 : pending_[1] == 0x01 ? 4 : 1;
        if (len == 1) {  // not a frame we know: resynchronise on the next 0x65
            pending_.erase(pending_.begin());
            continue;
        }
        if (pending_.size() < len) break;
        std::vector<std::uint8_t> frame(pending_.begin(),
                                        pending_.begin() + static_cast<std::ptrdiff_t>(len));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(len));
        OnFrame(frame, out);
    }
    return out;
}

}  // namespace ys::monitor_unit
