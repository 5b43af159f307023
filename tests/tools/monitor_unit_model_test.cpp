#include <gtest/gtest.h>

#include <numeric>

#include "devices/monitor_unit/unit_model.h"

namespace ys::monitor_unit {
namespace {

std::vector<std::uint8_t> PatternImage() {
    std::vector<std::uint8_t> image(kImageSize);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + i / 128);
    return image;
}

unsigned Sum(std::span<const std::uint8_t> f) {
    return std::accumulate(f.begin(), f.end(), 0u) & 0xFF;
}

struct Host {
    MonitorUnitModel& unit;
    std::vector<std::uint8_t> Send(std::span<const std::uint8_t> frame) {
        return unit.Receive(frame);
    }
};

// Runs a whole transfer as a well-behaved host; returns the image it collects and the blocks read.
std::pair<std::vector<std::uint8_t>, int> Transfer(MonitorUnitModel& unit) {
    std::vector<std::uint8_t> image(kImageSize, 0);
    std::vector<std::uint8_t> in = unit.Receive(kRequestFrame);
    EXPECT_GE(in.size(), kHeaderFrameSize);
    std::int16_t n = static_cast<std::int16_t>(in[2] | (in[3] << 8));
    in.erase(in.begin(), in.begin() + kHeaderFrameSize);
    int blocks = 0;
    for (int i = 0; i < n; ++i) {
        if (in.size() < kBlockFrameSize) break;
        unsigned b = in[2] | (in[3] << 8);
        if (b < kBlockCount)
            std::copy_n(in.begin() + 4, kBlockDataSize, image.begin() + b * kBlockDataSize);
        in.erase(in.begin(), in.begin() + kBlockFrameSize);
        ++blocks;
        auto more = unit.Receive(kAckFrame);
        in.insert(in.end(), more.begin(), more.end());
    }
    return {image, blocks};
}

TEST(MonitorUnitModel, ChecksumMakesTheFrameSumZero) {
    EXPECT_EQ(FrameChecksum(std::span(kRequestFrame, 2)), 0x9B);
    EXPECT_EQ(FrameChecksum(std::span(kAckFrame, 3)), 0x94);
    EXPECT_EQ(FrameChecksum(std::span(kNakFrame, 3)), 0x85);
}

TEST(MonitorUnitModel, FullTransferDeliversTheExactImage) {
    auto image = PatternImage();
    MonitorUnitModel unit(image);
    auto [got, blocks] = Transfer(unit);
    EXPECT_EQ(blocks, 256);
    EXPECT_EQ(got, image);
    EXPECT_EQ(unit.acksReceived(), 256);
    EXPECT_FALSE(unit.transferActive());
}

TEST(MonitorUnitModel, HeaderAndFirstBlockComeTogetherAndEveryFrameSumsToZero) {
    MonitorUnitModel unit(PatternImage());
    auto out = unit.Receive(kRequestFrame);
    ASSERT_EQ(out.size(), kHeaderFrameSize + kBlockFrameSize);
    EXPECT_EQ(Sum(std::span(out).first(kHeaderFrameSize)), 0u);
    EXPECT_EQ(Sum(std::span(out).subspan(kHeaderFrameSize)), 0u);
    EXPECT_EQ(out[2] | (out[3] << 8), 256);
}

TEST(MonitorUnitModel, NakEndsTheExchange) {
    MonitorUnitModel unit(PatternImage());
    unit.Receive(kRequestFrame);
    EXPECT_TRUE(unit.Receive(kNakFrame).empty());
    EXPECT_TRUE(unit.Receive(kAckFrame).empty());
    EXPECT_EQ(unit.naksReceived(), 1);
}

TEST(MonitorUnitModel, FramesSplitAcrossWritesAndNoiseAreParsed) {
    MonitorUnitModel unit(PatternImage());
    const std::uint8_t noise[] = {0x00, 0x65, 0x07};
    EXPECT_TRUE(unit.Receive(noise).empty());
    EXPECT_TRUE(unit.Receive(std::span(kRequestFrame, 1)).empty());
    EXPECT_EQ(unit.Receive(std::span(kRequestFrame + 1, 2)).size(),
              kHeaderFrameSize + kBlockFrameSize);
    EXPECT_EQ(unit.requestsReceived(), 1);
}

TEST(MonitorUnitModel, FaultModes) {
    auto image = PatternImage();
    {
        MonitorUnitModel unit(image, {Fault::kBadHeaderChecksum, 0});
        auto out = unit.Receive(kRequestFrame);
        ASSERT_EQ(out.size(), kHeaderFrameSize);
        EXPECT_NE(Sum(out), 0u);
    }
    {
        MonitorUnitModel unit(image, {Fault::kBadBlockChecksum, 3});
        unit.Receive(kRequestFrame);
        std::vector<std::uint8_t> out;
        for (int i = 0; i < 3; ++i) out = unit.Receive(kAckFrame);
        EXPECT_EQ(out[2], 3);
        EXPECT_NE(Sum(out), 0u);
    }
    {
        MonitorUnitModel unit(image, {Fault::kSilenceAfterBlocks, 2});
        unit.Receive(kRequestFrame);
        EXPECT_EQ(unit.Receive(kAckFrame).size(), kBlockFrameSize);
        EXPECT_TRUE(unit.Receive(kAckFrame).empty());
        EXPECT_EQ(unit.blocksSent(), 2);
    }
    {
        MonitorUnitModel unit(image, {Fault::kDuplicateBlock, 5});
        auto [got, blocks] = Transfer(unit);
        EXPECT_EQ(blocks, 257);
        EXPECT_EQ(got, image);
    }
    {
        MonitorUnitModel unit(image, {Fault::kBlockNumberTooLarge, 4});
        unit.Receive(kRequestFrame);
        std::vector<std::uint8_t> out;
        for (int i = 0; i < 4; ++i) out = unit.Receive(kAckFrame);
        EXPECT_EQ(out[2] | (out[3] << 8), 260);
    }
    for (auto [fault, count] : {std::pair{Fault::kAnnounceZero, 0},
                                {Fault::kAnnounceNegative, -1},
                                {Fault::kAnnounceTooMany, 300}}) {
        MonitorUnitModel unit(image, {fault, 0});
        auto out = unit.Receive(kRequestFrame);
        EXPECT_EQ(static_cast<std::int16_t>(out[2] | (out[3] << 8)), count);
        EXPECT_EQ(out.size(), kHeaderFrameSize + (count > 0 ? kBlockFrameSize : 0));
    }
    {
        MonitorUnitModel unit(image, {Fault::kAnnounceTooMany, 0});
        auto [got, blocks] = Transfer(unit);
        EXPECT_EQ(blocks, 300);
        EXPECT_EQ(got, image);
    }
    {
        MonitorUnitModel unit(image, {Fault::kNoAnswer, 0});
        EXPECT_TRUE(unit.Receive(kRequestFrame).empty());
        EXPECT_EQ(unit.hostBytes().size(), 3u);
    }
}

TEST(MonitorUnitModel, ParseFault) {
    FaultConfig f;
    EXPECT_TRUE(ParseFault("bad-block:7", f));
    EXPECT_EQ(f.fault, Fault::kBadBlockChecksum);
    EXPECT_EQ(f.k, 7);
    EXPECT_TRUE(ParseFault("count-negative", f));
    EXPECT_EQ(f.fault, Fault::kAnnounceNegative);
    EXPECT_FALSE(ParseFault("bad-block", f));
    EXPECT_FALSE(ParseFault("bad-block:x", f));
    EXPECT_FALSE(ParseFault("silence:300", f));
    EXPECT_FALSE(ParseFault("count-zero:1", f));
    EXPECT_FALSE(ParseFault("whatever", f));
}

}  // namespace
}  // namespace ys::monitor_unit
