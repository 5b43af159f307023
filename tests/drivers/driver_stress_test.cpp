// The stack under faults on real time, with the timing left to the threads: the unit leaving the
// bus while the host unplugs it, power requests at once, removal during a drain, closing and
// cancelling while completions run. Each loop is bounded in repetitions and in time; a fault
// shows as a stop of the process (a bug check or a sanitizer report), a hang, or a check below.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "drivers/host/driver_stack.h"
#include "tests/drivers/vcom_harness.h"

namespace ys::test {
namespace {

using namespace ys::usbpipe;

// Repeats `body` `count` times, or fewer (never under five) when `budget` has gone: a slow
// build (a sanitizer) makes fewer rounds, not a failure. The rounds made go to the test's record.
template <class Body>
int Repeat(int count, std::chrono::seconds budget, Body body) {
    constexpr int kAtLeast = 5;
    const auto end = std::chrono::steady_clock::now() + budget;
    int done = 0;
    while (done < count && (done < kAtLeast || std::chrono::steady_clock::now() < end)) {
        body(done);
        ++done;
        if (::testing::Test::HasFatalFailure()) break;
    }
    ::testing::Test::RecordProperty("rounds", done);
    return done;
}

host::DeviceSettings UnitSettings(ULONG txAsync) {
    host::DeviceSettings s;
    s.Set("PortName", std::string("COM3"));
    s.Set("EndPointCaps", ULONG{1});
    s.Set("TxAsync", txAsync);
    return s;
}

TEST(DriverStress, TheUnitLeavesTheBusWhileTheHostUnplugsIt) {
    const std::vector<UCHAR> frame(std::begin(monitor_unit::kRequestFrame),
                                   std::end(monitor_unit::kRequestFrame));
    Repeat(300, std::chrono::seconds(6), [&](int i) {
        host::DriverStack stack(Dispatcher::CreateRealTime());
        auto unit = std::make_shared<MonitorUnitDevice>(stack.kernel().dispatcher(), TestImage());
        DEVICE_OBJECT* pdo = nullptr;
        ASSERT_STATUS(STATUS_SUCCESS,
                      stack.Plug(unit, "USB\\VID_FFFE&PID_5201\\1", UnitSettings(i % 2), &pdo));
        std::unique_ptr<File> port;
        ASSERT_STATUS(STATUS_SUCCESS, stack.kernel().io().CreateFile("\\\\.\\COM3", &port));
        ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*port, 0, 0, 0));
        auto read = port->StartRead(4096);  // waits for ever unless the departure ends it
        auto write = port->StartWrite(frame);
        // The bus's own surprise removal runs on a worker: first, or at the same time.
        if (i % 3 == 0) {
            std::thread bus([&] { unit->Unplug(); });
            EXPECT_STATUS(STATUS_SUCCESS, stack.Unplug(pdo));
            bus.join();
        } else {
            unit->Unplug();
            EXPECT_STATUS(STATUS_SUCCESS, stack.Unplug(pdo));
        }
        EXPECT_FALSE(NT_SUCCESS(read->Wait())) << "repetition " << i;
        write->Wait();  // taken before the departure or failed by it
        EXPECT_STATUS(STATUS_SUCCESS, port->Close());
        std::unique_ptr<File> again;
        EXPECT_FALSE(NT_SUCCESS(stack.kernel().io().CreateFile("\\\\.\\COM3", &again)));
    });
}

class PowerStress : public ::testing::Test {
protected:
    void SetUp() override {
        unit = h.PlugMonitorUnit();
        ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
        rx = h.OpenOrFail("\\PIPE01");
        control = h.OpenOrFail("");
    }
    NTSTATUS Code(ULONG code) {
        ULONG_PTR n = 0;
        return control->DeviceIoControl(code, {}, {}, &n);
    }
    // The pipe works after the device is back at full power: nothing was left counted.
    void ExpectReadWorks() {
        unit->QueueInData(kRx, Bytes(8));
        std::vector<UCHAR> buffer(8);
        ULONG_PTR n = 0;
        EXPECT_STATUS(STATUS_SUCCESS, rx->Read(buffer, &n));
        EXPECT_EQ(n, 8u);
    }

    UsbPipeHarness h{true};
    std::shared_ptr<MonitorUnitDevice> unit;
    std::unique_ptr<File> rx;
    std::unique_ptr<File> control;
};

TEST_F(PowerStress, TwoAndThreeSuspendsAtOnceDrainOnce) {
    Repeat(100, std::chrono::seconds(4), [&](int i) {
        auto read = rx->StartRead(64);  // aborted by the drain
        const int requests = 2 + i % 2;
        std::vector<std::thread> threads;
        std::vector<NTSTATUS> results(static_cast<std::size_t>(requests), STATUS_PENDING);
        for (int t = 0; t < requests; ++t) {
            threads.emplace_back([&, t] {
                results[static_cast<std::size_t>(t)] =
                    Code(t == 2 ? IOCTL_QTXUSB_RESUME : IOCTL_QTXUSB_SUSPEND);
            });
        }
        for (auto& t : threads) t.join();
        for (NTSTATUS s : results) EXPECT_STATUS(STATUS_SUCCESS, s);
        read->Wait();
        ASSERT_STATUS(STATUS_SUCCESS, Code(IOCTL_QTXUSB_RESUME));
        EXPECT_EQ(h.fdo()->reportedPowerState(), PowerDeviceD0);
        ExpectReadWorks();
    });
}

TEST(DriverStressRemoval, RemovalDuringADrainWaitsForIt) {
    Repeat(100, std::chrono::seconds(4), [&](int) {
        UsbPipeHarness h(true);
        auto unit = h.PlugMonitorUnit();
        ASSERT_STATUS(STATUS_SUCCESS, h.AddAndStart());
        auto control = h.OpenOrFail("");
        auto rx = h.OpenOrFail("\\PIPE01");
        auto read = rx->StartRead(64);
        NTSTATUS suspend = STATUS_PENDING;
        std::thread power([&] {
            ULONG_PTR n = 0;
            suspend = control->DeviceIoControl(IOCTL_QTXUSB_SUSPEND, {}, {}, &n);
        });
        EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
        power.join();
        EXPECT_FALSE(NT_SUCCESS(read->Wait()));
        // Issued before the removal or refused by it; never a count below zero.
        EXPECT_TRUE(suspend == STATUS_SUCCESS || suspend == STATUS_DELETE_PENDING)
            << StatusText(suspend);
    });
}

// The COM port on real time, open, as the host has it.
class PortStress : public ::testing::Test {
protected:
    void Open(ULONG txAsync) {
        unit = h.Plug();
        h.settings().SetDword("EndPointCaps", 1);
        h.settings().SetDword("TxAsync", txAsync);
        port = &h.StartAndOpen();
    }
    VcomHarness h{true};
    std::shared_ptr<MonitorUnitDevice> unit;
    File* port = nullptr;
};

TEST_F(PortStress, QueriesWithThePortOpenAreRefusedAndThePortStillReceives) {
    Open(0);
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*port, 0, 0, 0));
    Repeat(40, std::chrono::seconds(4), [&](int i) {
        auto read = port->StartRead(8);
        // Each query ends at once, whatever the receiver has outstanding below.
        if (i % 2 == 0) {
            EXPECT_STATUS(STATUS_DEVICE_BUSY, h.kernel.pnp().QueryRemoveDevice(h.pdo));
            EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().CancelRemoveDevice(h.pdo));
        } else {
            EXPECT_STATUS(STATUS_DEVICE_BUSY, h.kernel.pnp().QueryStopDevice(h.pdo));
            EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().CancelStopDevice(h.pdo));
        }
        unit->QueueInData(kRx, Bytes(8, static_cast<UCHAR>(i)));
        EXPECT_STATUS(STATUS_SUCCESS, read->Wait());
        EXPECT_EQ(std::vector<UCHAR>(read->output().begin(), read->output().end()),
                  Bytes(8, static_cast<UCHAR>(i)))
            << "repetition " << i;
    });
}

TEST(PortCloseStress, CloseWithAWriteInFlight) {
    const std::vector<UCHAR> data = Bytes(1000);
    Repeat(100, std::chrono::seconds(4), [&](int i) {
        VcomHarness h(true);
        auto unit = h.Plug();
        h.settings().SetDword("EndPointCaps", 1);
        h.settings().SetDword("TxAsync", static_cast<ULONG>(i % 2));
        File& port = h.StartAndOpen();
        auto write = port.StartWrite(data);
        std::thread closer([&] { EXPECT_STATUS(STATUS_SUCCESS, port.Close()); });
        write->Wait();
        closer.join();
        EXPECT_FALSE(unit->portOpen());
        File* again = nullptr;
        EXPECT_STATUS(STATUS_SUCCESS, h.Open("COM3", &again));  // nothing was left open below
    });
}

TEST_F(PortStress, CancelRacesTheCompletionOfReadsWritesAndImmediateCharacters) {
    Open(0);
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*port, 0, 0, 0));
    const std::vector<UCHAR> filler(64, 0);  // no frame for the unit to answer
    Repeat(300, std::chrono::seconds(5), [&](int i) {
        auto read = port->StartRead(8);
        auto write = port->StartWrite(filler);
        const UCHAR c = 0;
        auto immediate =
            port->StartDeviceIoControl(IOCTL_SERIAL_IMMEDIATE_CHAR, std::span(&c, 1), {});
        std::thread canceller([&] {
            read->Cancel();
            write->Cancel();
            immediate->Cancel();
        });
        unit->QueueInData(kRx, Bytes(8, static_cast<UCHAR>(i)));
        canceller.join();
        const NTSTATUS r = read->Wait();
        EXPECT_TRUE(r == STATUS_SUCCESS || r == STATUS_CANCELLED) << StatusText(r);
        const NTSTATUS w = write->Wait();
        EXPECT_TRUE(w == STATUS_SUCCESS || w == STATUS_CANCELLED) << StatusText(w);
        immediate->Wait();
        const ULONG purge = SERIAL_PURGE_RXCLEAR;
        ULONG_PTR n = 0;
        EXPECT_STATUS(STATUS_SUCCESS,
                      port->DeviceIoControl(IOCTL_SERIAL_PURGE, AsBytes(purge), {}, &n));
    });
    // The port still receives afterwards: behind what cancelled reads left, the new bytes come.
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*port, MAXULONG, MAXULONG, 2000));
    const std::vector<UCHAR> last = Bytes(8, 0x80);
    unit->QueueInData(kRx, last);
    std::vector<UCHAR> stream;
    for (;;) {
        const std::vector<UCHAR> got = ReadPort(*port, 64);
        stream.insert(stream.end(), got.begin(), got.end());
        if (got.empty() || (stream.size() >= last.size() &&
                            std::equal(last.begin(), last.end(), stream.end() - 8))) {
            break;
        }
    }
    ASSERT_GE(stream.size(), last.size());
    EXPECT_TRUE(std::equal(last.begin(), last.end(), stream.end() - 8));
}

}  // namespace
}  // namespace ys::test
