// The link against the simulated unit over a real pseudo-terminal and the tty backend: results,
// the exact bytes the program sends, and the port closed on every path.
#include "app/monitor/monitor_link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <deque>

#include "tests/app/monitor/unit_on_pty.h"
#include "tests/platform/port_holder.h"

namespace ys::monitor {
namespace {

using monitor_unit::Fault;
using monitor_unit::FaultConfig;
using test::UnitOnPty;
using namespace std::chrono_literals;

std::vector<std::uint8_t> PatternImage() {
    std::vector<std::uint8_t> image(kImageSize);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 13 + i / 128 + 1);
    }
    return image;
}

// What a host sends: the request, then `acks` acknowledgements, then optionally a NAK.
std::vector<std::uint8_t> Sent(int acks, bool nak) {
    std::vector<std::uint8_t> v(std::begin(kRequestFrame), std::end(kRequestFrame));
    for (int i = 0; i < acks; ++i) v.insert(v.end(), std::begin(kAckFrame), std::end(kAckFrame));
    if (nak) v.insert(v.end(), std::begin(kNakFrame), std::end(kNakFrame));
    return v;
}

bool SlotIs(const MemoryImage& image, const std::vector<std::uint8_t>& source, std::size_t slot) {
    return std::equal(image.begin() + slot * kBlockDataSize,
                      image.begin() + (slot + 1) * kBlockDataSize,
                      source.begin() + slot * kBlockDataSize);
}

bool SlotIsZero(const MemoryImage& image, std::size_t slot) {
    return std::all_of(image.begin() + slot * kBlockDataSize,
                       image.begin() + (slot + 1) * kBlockDataSize,
                       [](std::uint8_t b) { return b == 0; });
}

TEST(FrameChecksum, FramesOfBothSidesSumToZero) {
    EXPECT_EQ(FrameChecksum(std::span(kRequestFrame, 2)), kRequestFrame[2]);
    EXPECT_EQ(FrameChecksum(std::span(kAckFrame, 3)), kAckFrame[3]);
    EXPECT_EQ(FrameChecksum(std::span(kNakFrame, 3)), kNakFrame[3]);
    const std::uint8_t header[] = {0x65, 0x80, 0x00, 0x01, 0x1A};
    EXPECT_TRUE(FrameSumIsZero(header));
    const std::uint8_t bad[] = {0x65, 0x80, 0x00, 0x01, 0x1B};
    EXPECT_FALSE(FrameSumIsZero(bad));
}

TEST(ReadMonitorImage, TransfersTheWholeImageWithOneAckPerBlock) {
    const auto source = PatternImage();
    UnitOnPty unit(source);
    MemoryImage image;
    image.fill(0xEE);  // must be cleared by the transfer
    EXPECT_EQ(ReadMonitorImage(UnitOnPty::kPortNo, image, unit.Io()), LinkResult::kSuccess);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), source.begin()));
    EXPECT_EQ(unit.hostBytes(), Sent(256, false));
    EXPECT_EQ(unit.sleeps(), (std::vector{100ms, 100ms, 100ms}));
    EXPECT_EQ(unit.opens(), 1);
    EXPECT_EQ(unit.closes(), 1);
    EXPECT_TRUE(unit.PortIsFree());
}

TEST(ProbeMonitorUnit, SendsTheRequestAndOneNakAndLeavesTheUnitReady) {
    UnitOnPty unit(PatternImage());
    EXPECT_EQ(ProbeMonitorUnit(UnitOnPty::kPortNo, unit.Io()), LinkResult::kSuccess);
    EXPECT_EQ(unit.hostBytes(), Sent(0, true));
    EXPECT_EQ(unit.closes(), 1);
    EXPECT_TRUE(unit.PortIsFree());
    // The port opens again for the next operation, and the unit answers afresh.
    EXPECT_EQ(ProbeMonitorUnit(UnitOnPty::kPortNo, unit.Io()), LinkResult::kSuccess);
    MemoryImage image{};
    EXPECT_EQ(ReadMonitorImage(UnitOnPty::kPortNo, image, unit.Io()), LinkResult::kSuccess);
    EXPECT_EQ(unit.unit().requestsReceived(), 3);
    EXPECT_EQ(unit.closes(), 3);
}

struct TransferCase {
    const char* fault;
    LinkResult result;
    int acks;
    bool nak;
    int slotsStored;  // the first slots that must hold the source data; -1: all 256
};

class TransferFaults : public ::testing::TestWithParam<TransferCase> {};

TEST_P(TransferFaults, EndWithTheRightResultAndBytesAndAClosedPort) {
    const TransferCase& c = GetParam();
    FaultConfig fault;
    ASSERT_TRUE(monitor_unit::ParseFault(c.fault, fault));
    const auto source = PatternImage();
    UnitOnPty unit(source, fault);
    unit.SetTerminalLine();
    MemoryImage image{};
    EXPECT_EQ(ReadMonitorImage(UnitOnPty::kPortNo, image, unit.Io()), c.result);
    EXPECT_TRUE(unit.LineIsAsSet());  // given back as found, whatever the outcome
    EXPECT_EQ(unit.hostBytes(), Sent(c.acks, c.nak));
    const int stored = c.slotsStored < 0 ? 256 : c.slotsStored;
    for (int s = 0; s < 256; ++s) {
        if (s < stored) {
            EXPECT_TRUE(SlotIs(image, source, s)) << "slot " << s;
        } else {
            EXPECT_TRUE(SlotIsZero(image, s)) << "slot " << s;
        }
    }
    EXPECT_EQ(unit.opens(), 1);
    EXPECT_EQ(unit.closes(), 1);
    EXPECT_TRUE(unit.PortIsFree());
}

INSTANTIATE_TEST_SUITE_P(
    Link, TransferFaults,
    ::testing::Values(
        // A bad header: nothing is acknowledged.
        TransferCase{"bad-header", LinkResult::kReplyFailed, 0, false, 0},
        // A corrupt block is refused with a NAK, never stored, and ends the transfer.
        TransferCase{"bad-block:5", LinkResult::kReplyFailed, 5, true, 5},
        TransferCase{"bad-block:0", LinkResult::kReplyFailed, 0, true, 0},
        // Silence after ten blocks: the eleventh read times out.
        TransferCase{"silence:10", LinkResult::kReplyFailed, 10, false, 10},
        // A repeated block overwrites its slot and counts toward the announced 257.
        TransferCase{"duplicate:5", LinkResult::kSuccess, 257, false, -1},
        // A block number beyond the image ends the transfer; nothing of it is stored.
        TransferCase{"big-number:4", LinkResult::kReplyFailed, 4, true, 4},
        // Zero or a negative count: done at once with an empty image.
        TransferCase{"count-zero", LinkResult::kSuccess, 0, false, 0},
        TransferCase{"count-negative", LinkResult::kSuccess, 0, false, 0},
        // More than 256 blocks announced: accepted; the wrapped numbers overwrite their slots.
        TransferCase{"count-over", LinkResult::kSuccess, 300, false, -1},
        TransferCase{"no-answer", LinkResult::kReplyFailed, 0, false, 0}),
    [](const auto& info) {
        std::string name = info.param.fault;
        for (char& ch : name) {
            if (ch == '-' || ch == ':') ch = '_';
        }
        return name;
    });

TEST(ReadMonitorImage, RemainsOfAnEarlierExchangeAreNeverTakenForTheReply) {
    // The rest of a block of zeros, still arriving after the port was opened, would read as a
    // valid header announcing no blocks: an "empty" unit whose import wipes the history.
    const auto source = PatternImage();
    for (bool probe : {false, true}) {
        UnitOnPty unit(source);
        unit.SetSleepHook([&](int sleepNo) {
            if (sleepNo == 1) unit.SendStray(std::vector<std::uint8_t>(64, 0));
        });
        if (probe) {
            EXPECT_EQ(ProbeMonitorUnit(UnitOnPty::kPortNo, unit.Io()), LinkResult::kSuccess);
            EXPECT_EQ(unit.hostBytes(), Sent(0, true));
        } else {
            MemoryImage image{};
            EXPECT_EQ(ReadMonitorImage(UnitOnPty::kPortNo, image, unit.Io()), LinkResult::kSuccess);
            EXPECT_TRUE(std::equal(image.begin(), image.end(), source.begin()));
            EXPECT_EQ(unit.hostBytes(), Sent(256, false));
        }
    }
}

TEST(ReadMonitorImage, TimeOutsAreThoseOfTheLink) {
    {
        UnitOnPty unit(PatternImage(), {Fault::kNoAnswer, 0});
        MemoryImage image{};
        EXPECT_EQ(ReadMonitorImage(UnitOnPty::kPortNo, image, unit.Io()), LinkResult::kReplyFailed);
        // Two waits of 100 ms, then 5 bytes × 15 ms + 750 ms for the header.
        EXPECT_EQ(unit.elapsedMs(), 200 + 825);
    }
    {
        UnitOnPty unit(PatternImage(), {Fault::kSilenceAfterBlocks, 3});
        MemoryImage image{};
        EXPECT_EQ(ReadMonitorImage(UnitOnPty::kPortNo, image, unit.Io()), LinkResult::kReplyFailed);
        // Three waits, then 133 × 15 ms + 750 ms for the missing fourth block.
        EXPECT_EQ(unit.elapsedMs(), 300 + 2745);
    }
}

struct ProbeCase {
    const char* fault;
    LinkResult result;
    bool nak;
};

class ProbeFaults : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeFaults, ReportTheUnitAsAbsentAndCloseThePort) {
    FaultConfig fault;
    ASSERT_TRUE(monitor_unit::ParseFault(GetParam().fault, fault));
    UnitOnPty unit(PatternImage(), fault);
    unit.SetTerminalLine();
    EXPECT_EQ(ProbeMonitorUnit(UnitOnPty::kPortNo, unit.Io()), GetParam().result);
    EXPECT_TRUE(unit.LineIsAsSet());
    EXPECT_EQ(unit.hostBytes(), Sent(0, GetParam().nak));
    EXPECT_EQ(unit.closes(), 1);
    EXPECT_TRUE(unit.PortIsFree());
}

INSTANTIATE_TEST_SUITE_P(Link, ProbeFaults,
                         ::testing::Values(ProbeCase{"bad-header", LinkResult::kReplyFailed, false},
                                           // The first block is corrupt: the NAK still goes out.
                                           ProbeCase{"bad-block:0", LinkResult::kReplyFailed, true},
                                           ProbeCase{"bad-block:1", LinkResult::kSuccess, true},
                                           ProbeCase{"silence:0", LinkResult::kReplyFailed, false},
                                           ProbeCase{"count-zero", LinkResult::kReplyFailed, false},
                                           ProbeCase{"no-answer", LinkResult::kReplyFailed, false}),
                         [](const auto& info) {
                             std::string name = info.param.fault;
                             for (char& ch : name) {
                                 if (ch == '-' || ch == ':') ch = '_';
                             }
                             return name;
                         });

TEST(OpenMonitorPort, FailsForMissingAndBusyPorts) {
    UnitOnPty unit(PatternImage());
    MemoryImage image{};
    // Above COM96 there is no device at all.
    EXPECT_EQ(ProbeMonitorUnit(200, unit.Io()), LinkResult::kOpenFailed);
    EXPECT_EQ(ReadMonitorImage(200, image, unit.Io()), LinkResult::kOpenFailed);
    EXPECT_TRUE(unit.sleeps().empty());

    serial::TtyPort holder;
    ASSERT_TRUE(holder.Open(UnitOnPty::kPortNo));
    EXPECT_EQ(ProbeMonitorUnit(UnitOnPty::kPortNo, unit.Io()), LinkResult::kOpenFailed);
    EXPECT_EQ(ReadMonitorImage(UnitOnPty::kPortNo, image, unit.Io()), LinkResult::kOpenFailed);
    EXPECT_TRUE(unit.hostBytes().empty());
    holder.Close();
    EXPECT_EQ(ProbeMonitorUnit(UnitOnPty::kPortNo, unit.Io()), LinkResult::kSuccess);
}

// A port in memory whose writes can come up short, for the write failures a tty never shows.
class ShortWritePort final : public serial::Port {
public:
    ShortWritePort(std::deque<std::size_t> writeLimits, std::vector<std::uint8_t> replies,
                   bool& closed)
        : limits_(std::move(writeLimits)), replies_(std::move(replies)), closed_(closed) {}
    ~ShortWritePort() override { Close(); }
    Status Open(int) override {
        open_ = true;
        return {};
    }
    bool IsOpen() const override { return open_; }
    Status SetLineSettings(const serial::LineSettings&) override { return Error{"ignored"}; }
    Status SetTimeouts(const serial::Timeouts&) override { return Error{"ignored"}; }
    std::size_t Read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min(buffer.size(), replies_.size() - pos_);
        std::copy_n(replies_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buffer.begin());
        pos_ += n;
        return n;
    }
    std::size_t Write(std::span<const std::uint8_t> bytes) override {
        std::size_t limit = bytes.size();
        if (!limits_.empty()) {
            limit = std::min(limit, limits_.front());
            limits_.pop_front();
        }
        return limit;
    }
    void ClearErrors() override {}
    void PurgeInput() override {}
    void Close() override {
        if (open_) closed_ = true;
        open_ = false;
    }

private:
    std::deque<std::size_t> limits_;
    std::vector<std::uint8_t> replies_;
    std::size_t pos_ = 0;
    bool open_ = false;
    bool& closed_;
};

TEST(ReadMonitorImage, ShortWritesEndTheExchange) {
    const auto source = PatternImage();
    monitor_unit::MonitorUnitModel model(source);
    std::vector<std::uint8_t> replies = model.HeaderFrame(2);
    for (unsigned b = 0; b < 2; ++b) {
        const auto block = model.BlockFrame(b, b);
        replies.insert(replies.end(), block.begin(), block.end());
    }
    auto io = [&](std::deque<std::size_t> limits, bool& closed) {
        return LinkIo{
            [=, &closed] { return std::make_unique<ShortWritePort>(limits, replies, closed); },
            [](std::chrono::milliseconds) {}};
    };
    MemoryImage image{};
    bool closed = false;
    // Line settings that cannot be applied do not matter; a short request does.
    EXPECT_EQ(ReadMonitorImage(1, image, io({2}, closed)), LinkResult::kRequestNotWritten);
    EXPECT_TRUE(closed);
    closed = false;
    EXPECT_EQ(ProbeMonitorUnit(1, io({0}, closed)), LinkResult::kRequestNotWritten);
    EXPECT_TRUE(closed);
    closed = false;
    EXPECT_EQ(ReadMonitorImage(1, image, io({3, 4, 3}, closed)), LinkResult::kReplyFailed);
    EXPECT_TRUE(closed);
    closed = false;
    EXPECT_EQ(ProbeMonitorUnit(1, io({3, 1}, closed)), LinkResult::kReplyFailed);
    EXPECT_TRUE(closed);
    closed = false;
    EXPECT_EQ(ReadMonitorImage(1, image, io({}, closed)), LinkResult::kSuccess);
    EXPECT_TRUE(closed);
}

TEST(FindMonitorPort, SelectsTheFirstAnsweringPortElseTheFirstPosition) {
    test::TempDir folder;
    test::ScopedEnv env("NORVANE_PORT_DIR", folder.path());
    std::vector<int> ports;
    for (int n = 1; n <= 255; ++n) {
        ports.push_back(n);
        ASSERT_EQ(::symlink("/dev/null", folder.File("COM" + std::to_string(n)).c_str()), 0);
    }
    std::vector<std::pair<int, LinkResult>> seen;
    auto note = [&](int pos, LinkResult r) { seen.emplace_back(pos, r); };

    auto answersOn = [](int port) {
        return [port](int n) { return n == port ? LinkResult::kSuccess : LinkResult::kOpenFailed; };
    };
    EXPECT_EQ(FindMonitorPort(ports, answersOn(4), note), 3);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen.back(), (std::pair{3, LinkResult::kSuccess}));

    seen.clear();
    EXPECT_EQ(FindMonitorPort(ports, answersOn(0), note), 0);
    EXPECT_EQ(seen.size(), 255u);  // the lamp ends on the last probe's failure
    EXPECT_EQ(seen.back().second, LinkResult::kOpenFailed);

    std::stop_source stop;
    int probes = 0;
    auto stopAfterTwo = [&](int) {
        if (++probes == 2) stop.request_stop();
        return LinkResult::kReplyFailed;
    };
    EXPECT_EQ(FindMonitorPort(ports, stopAfterTwo, nullptr, stop.get_token()), -1);
    EXPECT_EQ(probes, 2);
}

TEST(FindMonitorPort, FindsTheUnitAmongPortsThatDoNotOpen) {
    UnitOnPty unit(PatternImage());
    // Links to devices that are gone: those ports fail at the open, at once.
    const std::string folder = serial::PortFolder();
    for (int n : {10, 11}) {
        ASSERT_EQ(::symlink("/dev/no-such-tty", (folder + "/COM" + std::to_string(n)).c_str()), 0);
    }
    const std::vector<int> ports = {10, 11, UnitOnPty::kPortNo, 12};
    const LinkIo io = unit.Io();
    std::vector<LinkResult> lamp;
    const int pos = FindMonitorPort(
        ports, [&](int n) { return ProbeMonitorUnit(n, io); },
        [&](int, LinkResult r) { lamp.push_back(r); });
    EXPECT_EQ(pos, 2);
    EXPECT_EQ(lamp, (std::vector{LinkResult::kOpenFailed, LinkResult::kOpenFailed,
                                 LinkResult::kSuccess}));
    EXPECT_TRUE(unit.PortIsFree());
}

// The search probes only ports published in the port folder, and a published port that another
// program holds fails at the open: it receives nothing and keeps its line, and the unit on a
// later port is still found.
TEST(FindMonitorPort, PassesOverBusyPortsAndPortsOutsideTheFolder) {
    UnitOnPty unit(PatternImage());
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string busy = ::ptsname(master);
    const std::string folder = serial::PortFolder();
    ASSERT_EQ(::symlink(busy.c_str(), (folder + "/COM3").c_str()), 0);
    {
        test::PortHolder other(busy, test::HoldLock::kNone);
        const int watch = ::open(busy.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const termios line = test::SetTerminalLine(watch);

        const std::vector<int> ports = {1, 3, 5, UnitOnPty::kPortNo, 9};
        std::vector<int> probed;
        std::vector<LinkResult> lamp;
        const LinkIo io = unit.Io();
        const int pos = FindMonitorPort(
            ports,
            [&](int n) {
                probed.push_back(n);
                return ProbeMonitorUnit(n, io);
            },
            [&](int, LinkResult r) { lamp.push_back(r); });
        EXPECT_EQ(pos, 3);
        EXPECT_EQ(probed, (std::vector{3, UnitOnPty::kPortNo}));  // COM1 is /dev/ttyS0: never
        EXPECT_EQ(lamp, (std::vector{LinkResult::kOpenFailed, LinkResult::kSuccess}));
        int sent = -1;
        ::ioctl(master, FIONREAD, &sent);
        EXPECT_EQ(sent, 0);
        termios after{};
        ::tcgetattr(watch, &after);
        EXPECT_TRUE(test::SameLine(after, line));
        ::close(watch);
    }
    ::close(master);
    EXPECT_TRUE(unit.PortIsFree());
}

}  // namespace
}  // namespace ys::monitor
