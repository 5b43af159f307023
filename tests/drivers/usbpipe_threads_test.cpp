// qtxusb64 on real time: the dispatch thread completes transfers and runs timers, worker threads
// run the pipe resets, drains and Plug and Play work, while test threads send requests.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "tests/drivers/usbpipe_harness.h"

namespace ys::test {
namespace {

using namespace ys::usbpipe;

constexpr UCHAR kRx = MonitorUnitDevice::kReceiveEndpoint;

std::vector<UCHAR> Frame(std::span<const UCHAR> f) {
    return {f.begin(), f.end()};
}

class ThreadsTest : public ::testing::Test {
protected:
    void SetUp() override {
        device = h.PlugMonitorUnit();
        ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
    }
    UsbPipeHarness h{true};
    std::shared_ptr<MonitorUnitDevice> device;
};

TEST_F(ThreadsTest, WholeImageCrossesThePipesWhileStatusAndControlRequestsRun) {
    auto tx = h.OpenOrFail("\\PIPE00");
    auto rx = h.OpenOrFail("\\PIPE01");
    auto st = h.OpenOrFail("\\PIPE02");
    auto control = h.OpenOrFail("");
    std::atomic<bool> done{false};
    std::atomic<int> polls{0};
    std::thread poller([&] {
        while (!done) {
            std::vector<UCHAR> line(1);
            ULONG_PTR n = 0;
            EXPECT_STATUS(STATUS_SUCCESS, st->Read(line, &n));
            EXPECT_EQ(line[0], 0x07);
            ++polls;
        }
    });
    std::thread controller([&] {
        std::vector<UCHAR> config(64);
        while (!done) {
            ULONG_PTR n = 0;
            EXPECT_STATUS(STATUS_SUCCESS,
                          control->DeviceIoControl(IOCTL_QTXUSB_VENDOR_REQUEST,
                                                   std::vector<UCHAR>{1, 3}, {}, &n));
            EXPECT_STATUS(STATUS_SUCCESS, control->DeviceIoControl(
                                              IOCTL_QTXUSB_GET_CONFIG_DESCRIPTOR, {}, config, &n));
        }
    });

    std::vector<UCHAR> image(monitor_unit::kImageSize, 0);
    std::vector<UCHAR> stream;
    ULONG_PTR n = 0;
    auto need = [&](std::size_t count) {
        while (stream.size() < count) {
            std::vector<UCHAR> chunk(256);
            ASSERT_STATUS(STATUS_SUCCESS, rx->Read(chunk, &n));
            stream.insert(stream.end(), chunk.begin(),
                          chunk.begin() + static_cast<std::ptrdiff_t>(n));
        }
    };
    ASSERT_STATUS(STATUS_SUCCESS, tx->Write(Frame(monitor_unit::kRequestFrame), &n));
    need(monitor_unit::kHeaderFrameSize);
    const int blocks = stream[2] | (stream[3] << 8);
    stream.erase(stream.begin(), stream.begin() + monitor_unit::kHeaderFrameSize);
    ASSERT_EQ(blocks, 256);
    for (int i = 0; i < blocks; ++i) {
        need(monitor_unit::kBlockFrameSize);
        const std::span<const UCHAR> block(stream.data(), monitor_unit::kBlockFrameSize);
        ASSERT_EQ(monitor_unit::FrameChecksum(block.first(132)), block[132]);
        const unsigned number = block[2] | (block[3] << 8);
        std::copy_n(block.begin() + 4, 128, image.begin() + number * 128);
        stream.erase(stream.begin(), stream.begin() + monitor_unit::kBlockFrameSize);
        ASSERT_STATUS(STATUS_SUCCESS, tx->Write(Frame(monitor_unit::kAckFrame), &n));
    }
    // A fast transfer may end before the status endpoint's first interval: wait for one poll.
    while (polls.load() == 0) std::this_thread::yield();
    done = true;
    poller.join();
    controller.join();
    EXPECT_EQ(image, TestImage());
    EXPECT_EQ(device->acksReceived(), 256);
    EXPECT_GE(polls.load(), 1);
}

TEST_F(ThreadsTest, CancelRacingWithArrivingDataLosesNoByte) {
    auto rx = h.OpenOrFail("\\PIPE01");
    std::size_t queued = 0;
    std::size_t delivered = 0;
    for (int i = 0; i < 200; ++i) {
        auto read = rx->StartRead(64);
        const std::size_t size = 1 + static_cast<std::size_t>(i % 64);
        std::thread canceller([&] { read->Cancel(); });
        std::thread feeder([&] { device->QueueInData(kRx, Bytes(size)); });
        canceller.join();
        feeder.join();
        queued += size;
        const NTSTATUS status = read->Wait();
        if (status == STATUS_SUCCESS) {
            delivered += read->information();
        } else {
            EXPECT_STATUS(STATUS_CANCELLED, status);
            EXPECT_EQ(read->information(), 0u);
        }
    }
    EXPECT_EQ(delivered + device->QueuedInBytes(kRx), queued);
}

TEST_F(ThreadsTest, UnplugWhileReadersAndWritersAreBusy) {
    auto tx = h.OpenOrFail("\\PIPE00");
    auto rx = h.OpenOrFail("\\PIPE01");
    std::latch busy(2);
    std::thread writer([&] {
        for (int ops = 0;; ++ops) {
            if (ops == 20) busy.count_down();
            ULONG_PTR n = 0;
            const NTSTATUS s = tx->Write(Frame(monitor_unit::kNakFrame), &n);
            if (s == STATUS_DELETE_PENDING) break;
            // A write the unplugged device never took is cancelled by the surprise removal.
            if (s != STATUS_SUCCESS && s != STATUS_CANCELLED) {
                EXPECT_STATUS(STATUS_NO_SUCH_DEVICE, s);
            }
            if (ops > 1'000'000) ADD_FAILURE() << "never refused";
        }
    });
    std::thread reader([&] {
        for (int ops = 0;; ++ops) {
            if (ops == 20) busy.count_down();
            device->QueueInData(kRx, Bytes(8));
            std::vector<UCHAR> buffer(8);
            ULONG_PTR n = 0;
            const NTSTATUS s = rx->Read(buffer, &n);
            if (s == STATUS_DELETE_PENDING) break;
            if (s != STATUS_SUCCESS && s != STATUS_CANCELLED) {
                EXPECT_STATUS(STATUS_NO_SUCH_DEVICE, s);
            }
        }
    });
    busy.wait();
    device->Unplug();  // the bus reports it; surprise removal comes from a worker thread
    writer.join();
    reader.join();
    EXPECT_TRUE(h.kernel.objects().EnabledInterfaces(GUID_CLASS_QTXUSB).empty());
    tx.reset();
    rx.reset();
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
    EXPECT_EQ(h.fdo(), nullptr);
}

TEST_F(ThreadsTest, SuspendAndResumeWhileAThreadReads) {
    auto rx = h.OpenOrFail("\\PIPE01");
    auto control = h.OpenOrFail("");
    std::atomic<bool> stop{false};
    std::latch started(1);
    std::thread reader([&] {
        for (int ops = 0; !stop; ++ops) {
            if (ops == 5) started.count_down();
            device->QueueInData(kRx, Bytes(8));
            std::vector<UCHAR> buffer(8);
            ULONG_PTR n = 0;
            const NTSTATUS s = rx->Read(buffer, &n);
            if (s != STATUS_SUCCESS && s != STATUS_CANCELLED) {
                EXPECT_STATUS(STATUS_POWER_STATE_INVALID, s);
            }
        }
    });
    started.wait();
    for (int i = 0; i < 20; ++i) {
        ULONG_PTR n = 0;
        EXPECT_STATUS(STATUS_SUCCESS, control->DeviceIoControl(IOCTL_QTXUSB_SUSPEND, {}, {}, &n));
        EXPECT_STATUS(STATUS_SUCCESS, control->DeviceIoControl(IOCTL_QTXUSB_RESUME, {}, {}, &n));
    }
    stop = true;
    reader.join();
    EXPECT_EQ(device->power(), PowerDeviceD0);
    device->QueueInData(kRx, Bytes(8));
    std::vector<UCHAR> buffer(device->QueuedInBytes(kRx));
    ULONG_PTR n = 0;
    EXPECT_STATUS(STATUS_SUCCESS, rx->Read(buffer, &n));
}

}  // namespace
}  // namespace ys::test
