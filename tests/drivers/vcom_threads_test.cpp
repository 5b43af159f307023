// The COM port on the real-time dispatcher: completions on the dispatch thread while the program
// reads and writes from its own, as in the driver host.
#include <thread>

#include "tests/drivers/vcom_harness.h"

namespace ys::test {
namespace {

TEST(VcomThreads, ExchangeAndCloseInRealTime) {
    VcomHarness h(true);
    auto unit = h.Plug();
    h.settings().SetDword("EndPointCaps", 1);
    h.settings().SetDword("TxAsync", 1);
    File& port = h.StartAndOpen();
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(port, 0, 0, 0));

    const std::vector<UCHAR> request(std::begin(monitor_unit::kRequestFrame),
                                     std::end(monitor_unit::kRequestFrame));
    const std::vector<UCHAR> ack(std::begin(monitor_unit::kAckFrame),
                                 std::end(monitor_unit::kAckFrame));
    ASSERT_EQ(request.size(), WritePort(port, request));
    NTSTATUS status = STATUS_PENDING;
    ASSERT_EQ(monitor_unit::kHeaderFrameSize,
              ReadPort(port, monitor_unit::kHeaderFrameSize, &status).size());
    std::vector<UCHAR> image;
    for (std::size_t block = 0; block < monitor_unit::kBlockCount; ++block) {
        if (block > 0) {
            ASSERT_EQ(ack.size(), WritePort(port, ack));
        }
        const auto frame = ReadPort(port, monitor_unit::kBlockFrameSize, &status);
        ASSERT_EQ(monitor_unit::kBlockFrameSize, frame.size()) << "block " << block;
        image.insert(image.end(), frame.begin() + 4, frame.end() - 1);
    }
    EXPECT_EQ(TestImage(), image);
    EXPECT_STATUS(STATUS_SUCCESS, port.Close());
    EXPECT_FALSE(unit->portOpen());
}

TEST(VcomThreads, PendingReadEndsOnSurpriseRemovalFromAnotherThread) {
    VcomHarness h(true);
    auto unit = h.Plug();
    h.settings().SetDword("EndPointCaps", 1);
    File& port = h.StartAndOpen();
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(port, 0, 0, 0));
    auto read = port.StartRead(10);
    NTSTATUS removal = STATUS_PENDING;
    std::thread pnp([&] { removal = h.kernel.pnp().SurpriseRemoveDevice(h.pdo); });
    EXPECT_STATUS(STATUS_DELETE_PENDING, read->Wait());
    pnp.join();
    EXPECT_STATUS(STATUS_SUCCESS, removal);
    EXPECT_STATUS(STATUS_SUCCESS, port.Close());
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
}

}  // namespace
}  // namespace ys::test
