// Reading and writing through the COM port: read modes and time-outs in virtual time, the read
// queue, the receive buffer's marks, both transmitters, events, purge and the immediate char.
#include "tests/drivers/vcom_harness.h"

namespace ys::test {
namespace {

using std::chrono::milliseconds;

struct Port {
    explicit Port(std::function<void(RegistryKey&)> settings = {}) {
        unit = h.Plug();
        if (settings) settings(h.settings());
        file = &h.StartAndOpen();
    }
    void Receive(std::span<const UCHAR> bytes) {
        unit->QueueInData(kRx, bytes);
        h.dispatcher().RunUntilIdle();
    }
    SERIAL_STATUS CommStatus() {
        return GetValue<SERIAL_STATUS>(*file, IOCTL_SERIAL_GET_COMMSTATUS);
    }
    void Advance(int ms) { h.dispatcher().AdvanceBy(milliseconds(ms)); }

    VcomHarness h;
    std::shared_ptr<MonitorUnitDevice> unit;
    File* file = nullptr;
};

std::vector<ULONG> OutLengths(const MonitorUnitDevice& unit) {
    std::vector<ULONG> v;
    for (const auto& t : unit.Transfers(kTx)) v.push_back(t.actual);
    return v;
}

ULONG WaitResult(IoRequest& r) {
    ULONG v = 0;
    if (r.output().size() == 4) std::memcpy(&v, r.output().data(), 4);
    return v;
}

TEST(VcomRead, ImmediateModeReturnsWhatIsBuffered) {
    Port p;
    NTSTATUS status = STATUS_PENDING;
    EXPECT_TRUE(ReadPort(*p.file, 8, &status).empty());
    EXPECT_STATUS(STATUS_SUCCESS, status);
    p.Receive(Bytes(5, 0x30));
    EXPECT_EQ(5u, p.CommStatus().AmountInInQueue);
    EXPECT_EQ(Bytes(3, 0x30), ReadPort(*p.file, 3));
    EXPECT_EQ(2u, p.CommStatus().AmountInInQueue);
    EXPECT_EQ(Bytes(2, 0x33), ReadPort(*p.file, 8));
    EXPECT_TRUE(ReadPort(*p.file, 0).empty());
}

TEST(VcomRead, IntervalTimeoutEndsAReadAfterTheLastByte) {
    Port p;
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*p.file, 20, 0, 0));
    auto read = p.file->StartRead(10);
    p.Advance(100);
    EXPECT_FALSE(read->completed());  // the interval runs only once bytes came
    p.Receive(Bytes(3, 1));
    p.Advance(19);
    EXPECT_FALSE(read->completed());
    p.Receive(Bytes(2, 4));  // restarts the interval
    p.Advance(19);
    EXPECT_FALSE(read->completed());
    p.Advance(1);
    ASSERT_TRUE(read->completed());
    EXPECT_STATUS(STATUS_TIMEOUT, read->status());
    EXPECT_EQ(Bytes(5, 1), std::vector<UCHAR>(read->output().begin(), read->output().end()));
}

TEST(VcomRead, TotalTimeoutIsMultiplierTimesLengthPlusConstant) {
    Port p;
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*p.file, 0, 10, 100));
    auto read = p.file->StartRead(5);
    p.Receive(Bytes(2, 9));
    p.Advance(149);
    EXPECT_FALSE(read->completed());
    p.Advance(1);
    ASSERT_TRUE(read->completed());
    EXPECT_STATUS(STATUS_TIMEOUT, read->status());
    EXPECT_EQ(2u, read->information());

    auto full = p.file->StartRead(3);
    p.Receive(Bytes(3, 1));
    ASSERT_TRUE(full->completed());
    EXPECT_STATUS(STATUS_SUCCESS, full->status());
}

TEST(VcomRead, FirstByteModeWaitsAtMostTheConstant) {
    Port p;
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*p.file, MAXULONG, MAXULONG, 50));
    auto empty = p.file->StartRead(10);
    p.Advance(49);
    EXPECT_FALSE(empty->completed());
    p.Advance(1);
    EXPECT_STATUS(STATUS_TIMEOUT, empty->status());
    EXPECT_EQ(0u, empty->information());

    auto some = p.file->StartRead(10);
    p.Advance(20);
    p.Receive(Bytes(2, 7));
    ASSERT_TRUE(some->completed());
    EXPECT_STATUS(STATUS_SUCCESS, some->status());
    EXPECT_EQ(2u, some->information());

    p.Receive(Bytes(4, 1));
    auto buffered = p.file->StartRead(10);
    ASSERT_TRUE(buffered->completed());
    EXPECT_EQ(4u, buffered->information());
}

TEST(VcomRead, NoTimeoutWaitsForTheWholeLengthAndReadsQueueInOrder) {
    Port p;
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*p.file, 0, 0, 0));
    auto first = p.file->StartRead(4);
    auto second = p.file->StartRead(3);
    p.Receive(Bytes(2, 1));
    p.Advance(10000);
    EXPECT_FALSE(first->completed());
    p.Receive(Bytes(4, 3));
    ASSERT_TRUE(first->completed());
    EXPECT_EQ(Bytes(4, 1), std::vector<UCHAR>(first->output().begin(), first->output().end()));
    EXPECT_FALSE(second->completed());
    p.Receive(Bytes(1, 7));
    ASSERT_TRUE(second->completed());
    EXPECT_EQ(Bytes(3, 5), std::vector<UCHAR>(second->output().begin(), second->output().end()));
}

TEST(VcomRead, NewTimeoutsRestartTheReadInProgressAndCancelCompletesIt) {
    Port p;
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*p.file, 0, 0, 0));
    auto read = p.file->StartRead(4);
    auto queued = p.file->StartRead(4);
    p.Advance(500);
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*p.file, 0, 0, 30));
    p.Advance(29);
    EXPECT_FALSE(read->completed());
    p.Advance(1);
    EXPECT_STATUS(STATUS_TIMEOUT, read->status());
    // The queued read became the one in progress with its own time-out.
    EXPECT_FALSE(queued->completed());
    EXPECT_TRUE(queued->Cancel());
    p.h.dispatcher().RunUntilIdle();
    EXPECT_STATUS(STATUS_CANCELLED, queued->status());
}

TEST(VcomReceiver, RequestSizeIsRoundedToPackets) {
    // Whole reads reach the bus: the pipe driver's segments are made larger than them.
    Port p([](RegistryKey& k) {
        k.SetDword("RxReqSize", 100);
        k.SetDword("EP2_SegmentSize", 4096);
    });
    p.Receive(Bytes(300, 0));
    const auto transfers = p.unit->Transfers(kRx);
    ASSERT_GE(transfers.size(), 2u);
    EXPECT_EQ(128u, transfers[0].requested);
    EXPECT_EQ(128u, transfers[0].actual);
    EXPECT_EQ(300u, p.CommStatus().AmountInInQueue);

    Port q([](RegistryKey& k) { k.SetDword("EP2_SegmentSize", 4096); });
    q.Receive(Bytes(10, 0));
    EXPECT_EQ(64u, q.unit->Transfers(kRx).at(0).requested);
}

TEST(VcomReceiver, StopAndRestartMarksLoseAndReorderNothing) {
    Port p([](RegistryKey& k) { k.SetDword("RxReqSize", 256); });
    std::vector<UCHAR> sent(6000);
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<UCHAR>(i * 13 + i / 256);
    p.Receive(sent);
    p.Advance(50);
    // Stopped at free space <= 1/8: 3584 bytes in, the rest waits in the request buffer or
    // on the device.
    EXPECT_EQ(3584u, p.CommStatus().AmountInInQueue);
    EXPECT_GT(p.unit->QueuedInBytes(kRx), 0u);

    std::vector<UCHAR> got = ReadPort(*p.file, 1000);
    p.Advance(50);
    EXPECT_EQ(2584u, p.CommStatus().AmountInInQueue);  // above one half: still stopped
    auto more = ReadPort(*p.file, 600);
    got.insert(got.end(), more.begin(), more.end());
    p.Advance(50);
    EXPECT_GT(p.CommStatus().AmountInInQueue, 1984u);  // restarted at <= one half
    while (got.size() < sent.size()) {
        more = ReadPort(*p.file, 512);
        got.insert(got.end(), more.begin(), more.end());
        if (more.empty()) p.Advance(10);
    }
    EXPECT_EQ(sent, got);
    const auto stats = GetValue<SERIALPERF_STATS>(*p.file, IOCTL_SERIAL_GET_STATS);
    EXPECT_EQ(6000u, stats.ReceivedCount);
}

TEST(VcomReceiver, PollPeriodSpacesTheReceiveRequests) {
    Port p([](RegistryKey& k) { k.SetDword("RxPollPeriod", 40); });
    p.Receive(Bytes(64, 0));
    p.unit->QueueInData(kRx, Bytes(64, 64));
    p.h.dispatcher().RunUntilIdle();
    EXPECT_EQ(64u, p.CommStatus().AmountInInQueue);
    p.Advance(39);
    EXPECT_EQ(64u, p.CommStatus().AmountInInQueue);
    p.Advance(1);
    EXPECT_EQ(128u, p.CommStatus().AmountInInQueue);
}

TEST(VcomWrite, SynchronousWriteAndTheZeroLengthPacket) {
    Port p;
    NTSTATUS status = STATUS_PENDING;
    EXPECT_EQ(64u, WritePort(*p.file, Bytes(64, 1), &status));
    EXPECT_STATUS(STATUS_SUCCESS, status);
    EXPECT_EQ(65u, WritePort(*p.file, Bytes(65, 1)));
    EXPECT_EQ((std::vector<ULONG>{64, 0, 65}), OutLengths(*p.unit));
    EXPECT_EQ(0u, WritePort(*p.file, {}));

    Port q([](RegistryKey& k) { k.SetDword("TxAllowNullPacket", 0); });
    EXPECT_EQ(128u, WritePort(*q.file, Bytes(128, 1)));
    EXPECT_EQ((std::vector<ULONG>{128}), OutLengths(*q.unit));
    // The synchronous path keeps its own total and leaves the statistics alone.
    EXPECT_EQ(0u, GetValue<SERIALPERF_STATS>(*q.file, IOCTL_SERIAL_GET_STATS).TransmittedCount);
}

TEST(VcomWrite, SynchronousWritesQueueInOrder) {
    Port p;
    auto a = p.file->StartWrite(Bytes(10, 1));
    auto b = p.file->StartWrite(Bytes(5, 20));
    EXPECT_EQ(15u, p.CommStatus().AmountInOutQueue);
    p.h.dispatcher().RunUntilIdle();
    EXPECT_STATUS(STATUS_SUCCESS, a->status());
    EXPECT_STATUS(STATUS_SUCCESS, b->status());
    auto expected = Bytes(10, 1);
    const auto tail = Bytes(5, 20);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(expected, p.unit->OutData(kTx));
}

TEST(VcomTransmitter, WriteTotalTimeoutEndsAWriteThatFindsNoSpace) {
    Port p([](RegistryKey& k) { k.SetDword("TxAsync", 1); });
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*p.file, MAXULONG, 0, 0, 1, 20));
    // Powered down nothing leaves the buffer, so the write waits for space until its time-out.
    ASSERT_STATUS(STATUS_SUCCESS,
                  p.h.kernel.pnp().SetSystemPowerState(p.h.pdo, PowerSystemSleeping3));
    auto write = p.file->StartWrite(Bytes(5000, 0));
    auto queued = p.file->StartWrite(Bytes(10, 0));
    p.Advance(5019);
    EXPECT_FALSE(write->completed());
    p.Advance(1);
    ASSERT_TRUE(write->completed());
    EXPECT_STATUS(STATUS_TIMEOUT, write->status());
    EXPECT_EQ(4096u, write->information());
    EXPECT_FALSE(queued->completed());  // its own time-out runs now
    p.Advance(30);
    EXPECT_STATUS(STATUS_TIMEOUT, queued->status());
}

TEST(VcomTransmitter, AsyncWritesCompleteAtOnceOrWaitForSpace) {
    Port p([](RegistryKey& k) { k.SetDword("TxAsync", 1); });
    auto small = p.file->StartWrite(Bytes(100, 1));
    ASSERT_TRUE(small->completed());
    EXPECT_EQ(100u, small->information());
    p.h.dispatcher().RunUntilIdle();
    EXPECT_EQ((std::vector<ULONG>{100}), OutLengths(*p.unit));

    // 9000 bytes: the buffer and one transfer hold 8192, the rest waits for space.
    auto big = p.file->StartWrite(Bytes(9000, 0));
    EXPECT_FALSE(big->completed());
    EXPECT_EQ(4096u, p.CommStatus().AmountInOutQueue);
    p.h.dispatcher().RunUntilIdle();
    ASSERT_TRUE(big->completed());
    EXPECT_EQ(9000u, big->information());
    p.Advance(20);
    EXPECT_EQ((std::vector<ULONG>{100, 4096, 4096, 808}), OutLengths(*p.unit));
    const auto out = p.unit->OutData(kTx);
    EXPECT_EQ(Bytes(9000, 0), std::vector<UCHAR>(out.begin() + 100, out.end()));
    EXPECT_EQ(9100u, GetValue<SERIALPERF_STATS>(*p.file, IOCTL_SERIAL_GET_STATS).TransmittedCount);
}

TEST(VcomTransmitter, KickThresholdAndTheTenMillisecondRetry) {
    // 5000 is cut to 2048: 2100 left after the first transfer go at once, 100 wait 10 ms.
    Port p([](RegistryKey& k) {
        k.SetDword("TxAsync", 1);
        k.SetDword("TxKickThreshold", 5000);
    });
    WritePort(*p.file, Bytes(4096 + 2100, 0));
    p.h.dispatcher().RunUntilIdle();
    EXPECT_EQ((std::vector<ULONG>{4096, 2100}), OutLengths(*p.unit));
    WritePort(*p.file, Bytes(4096 + 100, 0));
    p.h.dispatcher().RunUntilIdle();
    EXPECT_EQ(3u, OutLengths(*p.unit).size());
    p.Advance(9);
    EXPECT_EQ(3u, OutLengths(*p.unit).size());
    p.Advance(1);
    EXPECT_EQ((std::vector<ULONG>{4096, 2100, 4096, 100}), OutLengths(*p.unit));

    // 0 becomes 1 and then one packet: 64 left go at once, 30 wait.
    Port q([](RegistryKey& k) {
        k.SetDword("TxAsync", 1);
        k.SetDword("TxKickThreshold", 0);
    });
    WritePort(*q.file, Bytes(4096 + 64, 0));
    q.h.dispatcher().RunUntilIdle();
    EXPECT_EQ((std::vector<ULONG>{4096, 64, 0}), OutLengths(*q.unit));
    WritePort(*q.file, Bytes(4096 + 30, 0));
    q.h.dispatcher().RunUntilIdle();
    EXPECT_EQ(4u, OutLengths(*q.unit).size());
    q.Advance(10);
    EXPECT_EQ((std::vector<ULONG>{4096, 64, 0, 4096, 30}), OutLengths(*q.unit));
}

NTSTATUS SignalFlush(DEVICE_OBJECT*, IRP*, void* context) {
    KeSetEvent(static_cast<KEVENT*>(context), IO_NO_INCREMENT, false);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// Sends a flush request and returns the virtual milliseconds it took.
LONGLONG Flush(Port& p) {
    DEVICE_OBJECT* device = p.file->target();
    auto irp = IoAllocateIrp(device->StackSize, false);
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp.get());
    next->MajorFunction = IRP_MJ_FLUSH_BUFFERS;
    next->FileObject = &p.file->fileObject();
    KEVENT done(p.h.dispatcher(), NotificationEvent, false);
    IoSetCompletionRoutine(irp.get(), SignalFlush, &done, true, true, true);
    const LONGLONG start = p.h.dispatcher().Now();
    IoCallDriver(device, irp.get());
    KeWaitForSingleObject(&done, Executive, KernelMode, false, nullptr);
    EXPECT_STATUS(STATUS_SUCCESS, irp->IoStatus.Status);
    return (p.h.dispatcher().Now() - start) / 10000;
}

TEST(VcomTransmitter, FlushWaitsUntilTheBufferHasLeftAtMostThirtySeconds) {
    Port p([](RegistryKey& k) { k.SetDword("TxAsync", 1); });
    WritePort(*p.file, Bytes(4096 + 10, 0));  // 10 bytes go only with the 10 ms retry
    const LONGLONG waited = Flush(p);
    EXPECT_GE(waited, 10);
    EXPECT_LT(waited, 100);
    EXPECT_EQ(4106u, p.unit->OutData(kTx).size());

    ASSERT_STATUS(STATUS_SUCCESS,
                  p.h.kernel.pnp().SetSystemPowerState(p.h.pdo, PowerSystemSleeping3));
    WritePort(*p.file, Bytes(10, 0));  // buffered; nothing moves while powered down
    EXPECT_EQ(30000, Flush(p) / 10 * 10);
    EXPECT_EQ(10u, p.CommStatus().AmountInOutQueue);
}

TEST(VcomWrite, FlushWaitsForTheWriteInProgress) {
    Port p;
    auto write = p.file->StartWrite(Bytes(10, 0));
    EXPECT_FALSE(write->completed());
    Flush(p);
    EXPECT_TRUE(write->completed());
}

TEST(VcomEvents, WaitOnMaskCompletesAtOncePendsOrIsRefused) {
    Port p;
    std::vector<UCHAR> out(4);
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, Ioctl(*p.file, IOCTL_SERIAL_WAIT_ON_MASK, {}, &out));
    ASSERT_STATUS(STATUS_SUCCESS, SetValue(*p.file, IOCTL_SERIAL_SET_WAIT_MASK,
                                           ULONG{SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG}));
    EXPECT_EQ(SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG,
              GetValue<ULONG>(*p.file, IOCTL_SERIAL_GET_WAIT_MASK));
    p.Receive(Bytes(3, 1));
    out.assign(4, 0);
    EXPECT_STATUS(STATUS_SUCCESS, Ioctl(*p.file, IOCTL_SERIAL_WAIT_ON_MASK, {}, &out));
    EXPECT_EQ(AsBytes(ULONG{SERIAL_EV_RXCHAR}), out);

    auto wait = p.file->StartDeviceIoControl(IOCTL_SERIAL_WAIT_ON_MASK, {}, std::vector<UCHAR>(4));
    EXPECT_FALSE(wait->completed());
    out.assign(4, 0);
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, Ioctl(*p.file, IOCTL_SERIAL_WAIT_ON_MASK, {}, &out));
    ASSERT_STATUS(STATUS_SUCCESS,
                  SetValue(*p.file, IOCTL_SERIAL_SET_CHARS, SERIAL_CHARS{0, 0, 0, '\n', 0, 0}));
    p.Receive(std::vector<UCHAR>{'a', '\n'});
    ASSERT_TRUE(wait->completed());
    EXPECT_EQ(SERIAL_EV_RXCHAR, WaitResult(*wait));  // the first event completes it
    out.assign(4, 0);
    EXPECT_STATUS(STATUS_SUCCESS, Ioctl(*p.file, IOCTL_SERIAL_WAIT_ON_MASK, {}, &out));
    EXPECT_EQ(AsBytes(ULONG{SERIAL_EV_RXFLAG}), out);

    auto again = p.file->StartDeviceIoControl(IOCTL_SERIAL_WAIT_ON_MASK, {}, std::vector<UCHAR>(4));
    EXPECT_FALSE(again->completed());
    ASSERT_STATUS(STATUS_SUCCESS,
                  SetValue(*p.file, IOCTL_SERIAL_SET_WAIT_MASK, ULONG{SERIAL_EV_TXEMPTY}));
    ASSERT_TRUE(again->completed());
    EXPECT_STATUS(STATUS_SUCCESS, again->status());
    EXPECT_EQ(0u, WaitResult(*again));
}

TEST(VcomEvents, EightyPercentFull) {
    Port p;
    ASSERT_STATUS(STATUS_SUCCESS,
                  SetValue(*p.file, IOCTL_SERIAL_SET_WAIT_MASK, ULONG{SERIAL_EV_RX80FULL}));
    auto wait = p.file->StartDeviceIoControl(IOCTL_SERIAL_WAIT_ON_MASK, {}, std::vector<UCHAR>(4));
    // The level is the one a completion's bytes find: 3264 of 4096 (79.7 %) raise the event only
    // for the bytes that come after them.
    p.Receive(Bytes(3264, 0));
    EXPECT_FALSE(wait->completed());
    p.Receive(Bytes(64, 0));
    ASSERT_TRUE(wait->completed());
    EXPECT_EQ(SERIAL_EV_RX80FULL, WaitResult(*wait));
}

TEST(VcomPurge, FlagsCancelAndEmptyTheirOwnParts) {
    Port p([](RegistryKey& k) { k.SetDword("TxAsync", 1); });
    p.Receive(Bytes(10, 0));
    ASSERT_STATUS(STATUS_SUCCESS,
                  SetValue(*p.file, IOCTL_SERIAL_PURGE, ULONG{SERIAL_PURGE_RXCLEAR}));
    EXPECT_EQ(0u, p.CommStatus().AmountInInQueue);

    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(*p.file, 0, 0, 0));
    auto read = p.file->StartRead(4);
    ASSERT_STATUS(STATUS_SUCCESS,
                  SetValue(*p.file, IOCTL_SERIAL_PURGE, ULONG{SERIAL_PURGE_TXABORT}));
    EXPECT_FALSE(read->completed());
    ASSERT_STATUS(STATUS_SUCCESS,
                  SetValue(*p.file, IOCTL_SERIAL_PURGE, ULONG{SERIAL_PURGE_RXABORT}));
    ASSERT_TRUE(read->completed());
    EXPECT_STATUS(STATUS_CANCELLED, read->status());

    auto write = p.file->StartWrite(Bytes(9000, 0));
    EXPECT_FALSE(write->completed());
    EXPECT_EQ(4096u, p.CommStatus().AmountInOutQueue);
    auto purge = p.file->StartDeviceIoControl(
        IOCTL_SERIAL_PURGE, AsBytes(ULONG{SERIAL_PURGE_TXABORT | SERIAL_PURGE_TXCLEAR}), {});
    ASSERT_TRUE(write->completed());
    EXPECT_STATUS(STATUS_CANCELLED, write->status());
    EXPECT_EQ(8192u, write->information());
    EXPECT_EQ(0u, p.CommStatus().AmountInOutQueue);
}

TEST(VcomPurge, SynchronousWriteInProgressIsCancelled) {
    Port p;
    auto write = p.file->StartWrite(Bytes(10, 0));
    auto queued = p.file->StartWrite(Bytes(10, 0));
    auto purge =
        p.file->StartDeviceIoControl(IOCTL_SERIAL_PURGE, AsBytes(ULONG{SERIAL_PURGE_TXABORT}), {});
    p.h.dispatcher().RunUntilIdle();
    ASSERT_TRUE(queued->completed());
    EXPECT_STATUS(STATUS_CANCELLED, queued->status());
    ASSERT_TRUE(write->completed());
}

TEST(VcomImmediateChar, OneAtATime) {
    Port p;
    auto first =
        p.file->StartDeviceIoControl(IOCTL_SERIAL_IMMEDIATE_CHAR, std::vector<UCHAR>{0x55}, {});
    EXPECT_FALSE(first->completed());
    EXPECT_TRUE(p.CommStatus().WaitForImmediate);
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  Ioctl(*p.file, IOCTL_SERIAL_IMMEDIATE_CHAR, std::vector<UCHAR>{0x66}));
    EXPECT_STATUS(STATUS_SUCCESS, first->Wait());
    EXPECT_EQ((std::vector<ULONG>{1}), OutLengths(*p.unit));
    EXPECT_EQ(std::vector<UCHAR>{0x55}, p.unit->OutData(kTx));
    EXPECT_STATUS(STATUS_SUCCESS,
                  Ioctl(*p.file, IOCTL_SERIAL_IMMEDIATE_CHAR, std::vector<UCHAR>{0x66}));
    EXPECT_STATUS(STATUS_INVALID_PARAMETER, Ioctl(*p.file, IOCTL_SERIAL_IMMEDIATE_CHAR));
}

}  // namespace
}  // namespace ys::test
