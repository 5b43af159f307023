// The link's frame reading over a port that replays the input as the unit's replies: the first
// byte limits how much each write may take, the rest arrives in reads of the sizes asked for.
#include <algorithm>
#include <memory>

#include "app/monitor/monitor_link.h"
#include "tests/fuzz/fuzz_support.h"

using namespace ys;

namespace {

class ReplayPort final : public serial::Port {
public:
    ReplayPort(std::string_view replies, std::size_t writeLimit)
        : replies_(replies), writeLimit_(writeLimit) {}
    Status Open(int) override {
        open_ = true;
        return {};
    }
    bool IsOpen() const override { return open_; }
    Status SetLineSettings(const serial::LineSettings&) override { return {}; }
    Status SetTimeouts(const serial::Timeouts&) override { return {}; }
    std::size_t Read(std::span<std::uint8_t> buffer) override {
        fuzz::Require(open_);
        const std::size_t n = std::min(buffer.size(), replies_.size());
        std::copy_n(replies_.begin(), n, buffer.begin());
        replies_.remove_prefix(n);
        return n;
    }
    std::size_t Write(std::span<const std::uint8_t> bytes) override {
        fuzz::Require(open_);
        return std::min(bytes.size(), writeLimit_);
    }
    void ClearErrors() override {}
    void PurgeInput() override {}
    void Close() override { open_ = false; }

private:
    std::string_view replies_;
    std::size_t writeLimit_;
    bool open_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t writeLimit = data[0] >= 0x80 ? 4 : data[0];
    const std::string_view replies = fuzz::Bytes(data + 1, size - 1);
    monitor::LinkIo io;
    io.makePort = [&] { return std::make_unique<ReplayPort>(replies, writeLimit); };
    io.sleep = [](std::chrono::milliseconds) {};
    monitor::MemoryImage image{};
    const monitor::LinkResult r = monitor::ReadMonitorImage(1, image, io);
    fuzz::Require(r == monitor::LinkResult::kSuccess ||
                  r == monitor::LinkResult::kRequestNotWritten ||
                  r == monitor::LinkResult::kReplyFailed);
    (void)monitor::ProbeMonitorUnit(1, io);
    return 0;
}
