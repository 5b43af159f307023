// The COM port's life: cleanup, queue size, the stop and removal queries, surprise removal,
// removal and power with the port open.
#include "tests/drivers/vcom_harness.h"

namespace ys::test {
namespace {

using std::chrono::milliseconds;
using Cmd = std::vector<UCHAR>;

bool SerialCommHas(Kernel& kernel, const std::string& deviceName) {
    const std::string path = Registry::kDeviceMapRoot + "\\SERIALCOMM";
    return kernel.registry().KeyExists(path) && kernel.registry().Key(path).HasValue(deviceName);
}

ULONG WaitResult(IoRequest& r) {
    ULONG v = 0xFFFFFFFF;
    if (r.output().size() == 4) std::memcpy(&v, r.output().data(), 4);
    return v;
}

TEST(VcomLife, CleanupCancelsReadsAndWritesAndEndsTheWait) {
    VcomHarness h;
    auto unit = h.Plug();
    h.settings().SetDword("TxAsync", 1);
    File& port = h.StartAndOpen();
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(port, 0, 0, 0));
    ASSERT_STATUS(STATUS_SUCCESS,
                  SetValue(port, IOCTL_SERIAL_SET_WAIT_MASK, ULONG{SERIAL_EV_RXCHAR}));
    auto read = port.StartRead(10);
    auto queuedRead = port.StartRead(10);
    auto wait = port.StartDeviceIoControl(IOCTL_SERIAL_WAIT_ON_MASK, {}, std::vector<UCHAR>(4));
    auto write = port.StartWrite(Bytes(9000, 0));
    EXPECT_FALSE(read->completed() || queuedRead->completed() || wait->completed() ||
                 write->completed());

    EXPECT_STATUS(STATUS_SUCCESS, port.Close());
    EXPECT_STATUS(STATUS_CANCELLED, read->status());
    EXPECT_STATUS(STATUS_CANCELLED, queuedRead->status());
    EXPECT_STATUS(STATUS_CANCELLED, write->status());
    EXPECT_STATUS(STATUS_SUCCESS, wait->status());
    EXPECT_EQ(0u, WaitResult(*wait));
    EXPECT_FALSE(unit->portOpen());
    EXPECT_EQ((Cmd{3, 0}), unit->VendorCommands().back());

    // Reopened, the port starts empty and works.
    File& again = h.OpenOrFail();
    EXPECT_EQ(0u, GetValue<SERIAL_STATUS>(again, IOCTL_SERIAL_GET_COMMSTATUS).AmountInOutQueue);
    unit->QueueInData(kRx, Bytes(4, 1));
    h.dispatcher().RunUntilIdle();
    EXPECT_EQ(Bytes(4, 1), ReadPort(again, 4));
}

TEST(VcomLife, QueueSizeEnlargesTheReceiveBufferKeepingItsContent) {
    VcomHarness h;
    auto unit = h.Plug();
    File& port = h.StartAndOpen();
    unit->QueueInData(kRx, Bytes(100, 0));
    h.dispatcher().RunUntilIdle();
    ASSERT_STATUS(STATUS_SUCCESS,
                  SetValue(port, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{8192, 1024}));
    auto props = GetValue<SERIAL_COMMPROP>(port, IOCTL_SERIAL_GET_PROPERTIES);
    EXPECT_EQ(8192u, props.CurrentRxQueue);
    EXPECT_EQ(1024u, props.CurrentTxQueue);
    // A smaller input size leaves the buffer as it is.
    ASSERT_STATUS(STATUS_SUCCESS,
                  SetValue(port, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{1000, 512}));
    props = GetValue<SERIAL_COMMPROP>(port, IOCTL_SERIAL_GET_PROPERTIES);
    EXPECT_EQ(8192u, props.CurrentRxQueue);
    EXPECT_STATUS(STATUS_INVALID_PARAMETER,
                  Ioctl(port, IOCTL_SERIAL_SET_QUEUE_SIZE, std::vector<UCHAR>(4)));

    // The larger buffer takes 7168 bytes before it stops; the receiver still runs.
    unit->QueueInData(kRx, Bytes(7000, 100));
    h.dispatcher().RunUntilIdle();
    EXPECT_EQ(7100u, GetValue<SERIAL_STATUS>(port, IOCTL_SERIAL_GET_COMMSTATUS).AmountInInQueue);
    EXPECT_EQ(Bytes(100, 0), ReadPort(port, 100));
    EXPECT_EQ(Bytes(7000, 100), ReadPort(port, 7000));
}

TEST(VcomLife, SurpriseRemovalCompletesPendingRequestsAndRemovesTheName) {
    VcomHarness h;
    auto unit = h.Plug();
    h.settings().SetDword("EndPointCaps", 1);
    File& port = h.StartAndOpen();
    const std::string name = h.port()->name();
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(port, 0, 0, 0));
    ASSERT_STATUS(STATUS_SUCCESS,
                  SetValue(port, IOCTL_SERIAL_SET_WAIT_MASK, ULONG{SERIAL_EV_RXCHAR}));
    auto read = port.StartRead(10);
    auto queued = port.StartRead(10);
    auto wait = port.StartDeviceIoControl(IOCTL_SERIAL_WAIT_ON_MASK, {}, std::vector<UCHAR>(4));
    unit->QueueInData(kRx, Bytes(3, 1));
    h.dispatcher().RunUntilIdle();  // the wait ends with the receive; wait again
    ASSERT_TRUE(wait->completed());
    wait = port.StartDeviceIoControl(IOCTL_SERIAL_WAIT_ON_MASK, {}, std::vector<UCHAR>(4));
    EXPECT_FALSE(wait->completed());

    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SurpriseRemoveDevice(h.pdo));
    ASSERT_TRUE(read->completed());
    EXPECT_STATUS(STATUS_DELETE_PENDING, read->status());
    EXPECT_EQ(3u, read->information());
    EXPECT_STATUS(STATUS_DELETE_PENDING, queued->status());
    EXPECT_STATUS(STATUS_DELETE_PENDING, wait->status());

    EXPECT_FALSE(h.kernel.objects().SymbolicLinkExists("\\DosDevices\\COM3"));
    EXPECT_FALSE(SerialCommHas(h.kernel, name));
    EXPECT_TRUE(h.kernel.objects().EnabledInterfaces(GUID_DEVINTERFACE_COMPORT).empty());

    EXPECT_STATUS(STATUS_DELETE_PENDING, Ioctl(port, IOCTL_SERIAL_GET_BAUD_RATE));
    EXPECT_STATUS(STATUS_DELETE_PENDING, Ioctl(port, IOCTL_SERIAL_GET_COMMSTATUS));
    EXPECT_STATUS(STATUS_DELETE_PENDING, Ioctl(port, 0x1B0FFC));
    EXPECT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_PURGE, ULONG{0x0F}));
    NTSTATUS status = STATUS_PENDING;
    ReadPort(port, 4, &status);
    EXPECT_STATUS(STATUS_DELETE_PENDING, status);
    WritePort(port, Bytes(4, 0), &status);
    EXPECT_STATUS(STATUS_DELETE_PENDING, status);
    File* other = nullptr;
    EXPECT_STATUS(STATUS_OBJECT_NAME_NOT_FOUND, h.Open("COM3", &other));

    EXPECT_STATUS(STATUS_SUCCESS, port.Close());
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
    EXPECT_EQ(nullptr, h.kernel.objects().Resolve(name, nullptr));
}

TEST(VcomLife, UnplugWithTheUnitGoneEndsTheReceiver) {
    VcomHarness h;
    auto unit = h.Plug();
    File& port = h.StartAndOpen();
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(port, 0, 0, 0));
    auto read = port.StartRead(10);
    unit->Unplug();
    h.dispatcher().RunUntilIdle();
    ASSERT_TRUE(read->completed());
    EXPECT_STATUS(STATUS_DELETE_PENDING, read->status());
    EXPECT_FALSE(h.kernel.objects().SymbolicLinkExists("\\DosDevices\\COM3"));
    EXPECT_STATUS(STATUS_SUCCESS, port.Close());
    EXPECT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
}

TEST(VcomLife, RemovalDeletesTheDeviceItsLinkAndMapValue) {
    VcomHarness h;
    auto unit = h.Plug();
    File& port = h.StartAndOpen();
    const std::string name = h.port()->name();
    EXPECT_TRUE(SerialCommHas(h.kernel, name));
    EXPECT_STATUS(STATUS_SUCCESS, port.Close());
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().QueryRemoveDevice(h.pdo));
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
    EXPECT_FALSE(h.kernel.objects().SymbolicLinkExists("\\DosDevices\\COM3"));
    EXPECT_FALSE(SerialCommHas(h.kernel, name));
    EXPECT_TRUE(h.kernel.objects().EnabledInterfaces(GUID_DEVINTERFACE_COMPORT).empty());
    EXPECT_EQ(nullptr, h.kernel.objects().Resolve(name, nullptr));
    // A new device takes the freed number.
    h.Plug({}, "COM5");
    ASSERT_STATUS(STATUS_SUCCESS, h.Start());
    EXPECT_EQ(name, h.port()->name());
}

TEST(VcomLife, RemovalWithThePortStillOpenClosesThePipes) {
    VcomHarness h;
    auto unit = h.Plug();
    File& port = h.StartAndOpen();
    ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(port, 0, 0, 0));
    auto read = port.StartRead(4);
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().RemoveDevice(h.pdo));
    EXPECT_STATUS(STATUS_DELETE_PENDING, read->status());
    EXPECT_FALSE(unit->portOpen());
    EXPECT_STATUS(STATUS_SUCCESS, port.Close());
}

// A query while the port is open would wait for the receiver's read below without end: it is
// refused, the cancel that follows changes nothing, and the port goes on receiving. While a
// query is pending, the port does not open.
TEST(VcomLife, QueriesAreRefusedWhileThePortIsOpenAndKeepItReceiving) {
    struct Query {
        NTSTATUS (PnpManager::*query)(DEVICE_OBJECT*);
        NTSTATUS (PnpManager::*cancel)(DEVICE_OBJECT*);
    };
    for (const Query q : {Query{&PnpManager::QueryRemoveDevice, &PnpManager::CancelRemoveDevice},
                          Query{&PnpManager::QueryStopDevice, &PnpManager::CancelStopDevice}}) {
        VcomHarness h;
        auto unit = h.Plug();
        File& port = h.StartAndOpen();
        ASSERT_STATUS(STATUS_SUCCESS, SetTimeouts(port, 0, 0, 0));
        auto read = port.StartRead(4);
        EXPECT_STATUS(STATUS_DEVICE_BUSY, (h.kernel.pnp().*q.query)(h.pdo));
        EXPECT_STATUS(STATUS_SUCCESS, (h.kernel.pnp().*q.cancel)(h.pdo));
        unit->QueueInData(kRx, Bytes(4, 9));
        EXPECT_STATUS(STATUS_SUCCESS, read->Wait());
        EXPECT_EQ(Bytes(4, 9), std::vector<UCHAR>(read->output().begin(), read->output().end()));
        EXPECT_TRUE(unit->portOpen());

        EXPECT_STATUS(STATUS_SUCCESS, port.Close());
        ASSERT_STATUS(STATUS_SUCCESS, (h.kernel.pnp().*q.query)(h.pdo));
        File* refused = nullptr;
        EXPECT_STATUS(STATUS_DELETE_PENDING, h.Open("COM3", &refused));
        ASSERT_STATUS(STATUS_SUCCESS, (h.kernel.pnp().*q.cancel)(h.pdo));
        File& reopened = h.OpenOrFail();
        unit->QueueInData(kRx, Bytes(2, 1));
        h.dispatcher().RunUntilIdle();
        EXPECT_EQ(Bytes(2, 1), ReadPort(reopened, 2));
    }
}

TEST(VcomLife, StopAndRemoveQueriesAndTheirCancelsKeepThePort) {
    VcomHarness h;
    auto unit = h.Plug();
    ASSERT_STATUS(STATUS_SUCCESS, h.Start());
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().QueryStopDevice(h.pdo));
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().CancelStopDevice(h.pdo));
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().QueryRemoveDevice(h.pdo));
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().CancelRemoveDevice(h.pdo));
    File& port = h.OpenOrFail();
    unit->QueueInData(kRx, Bytes(4, 9));
    h.dispatcher().RunUntilIdle();
    EXPECT_EQ(Bytes(4, 9), ReadPort(port, 4));
    EXPECT_STATUS(STATUS_SUCCESS, port.Close());

    // Stopped and started again: the name made at the first start stays, made once.
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().QueryStopDevice(h.pdo));
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().StopDevice(h.pdo));
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().StartDevice(h.pdo));
    EXPECT_TRUE(h.kernel.objects().SymbolicLinkExists("\\DosDevices\\COM3"));
    File& reopened = h.OpenOrFail();
    unit->QueueInData(kRx, Bytes(2, 1));
    h.dispatcher().RunUntilIdle();
    EXPECT_EQ(Bytes(2, 1), ReadPort(reopened, 2));
}

TEST(VcomLife, PowerDownAndUpRepeatsTheOpenSequenceAndRestartsTheReceiver) {
    VcomHarness h;
    auto unit = h.Plug();
    h.settings().SetDword("EndPointCaps", 1);
    File& port = h.StartAndOpen();
    ASSERT_STATUS(STATUS_SUCCESS, SetValue(port, IOCTL_SERIAL_SET_BAUD_RATE, ULONG{19200}));
    const std::size_t before = unit->VendorCommands().size();

    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SetSystemPowerState(h.pdo, PowerSystemSleeping3));
    EXPECT_NE(PowerDeviceD0, unit->power());
    unit->QueueInData(kRx, Bytes(5, 1));
    h.dispatcher().AdvanceBy(milliseconds(100));
    EXPECT_EQ(0u, GetValue<SERIAL_STATUS>(port, IOCTL_SERIAL_GET_COMMSTATUS).AmountInInQueue);

    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SetSystemPowerState(h.pdo, PowerSystemWorking));
    // The power request has completed before the open sequence goes out.
    EXPECT_EQ(before, unit->VendorCommands().size());
    h.dispatcher().RunUntilIdle();
    EXPECT_EQ(PowerDeviceD0, unit->power());
    const auto all = unit->VendorCommands();
    ASSERT_EQ(before + 3, all.size());
    EXPECT_EQ((Cmd{3, 1}), all[before]);
    EXPECT_EQ((Cmd{1, 3}), all[before + 1]);
    EXPECT_EQ((Cmd{0, 0x01 | 0x04}), all[before + 2]);
    EXPECT_EQ(Bytes(5, 1), ReadPort(port, 5));
    EXPECT_EQ(4u, WritePort(port, Bytes(4, 0)));
}

TEST(VcomLife, PowerCyclesWithThePortClosedOnlyCountAsWorking) {
    VcomHarness h;
    auto unit = h.Plug();
    ASSERT_STATUS(STATUS_SUCCESS, h.Start());
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SetSystemPowerState(h.pdo, PowerSystemSleeping3));
    ASSERT_STATUS(STATUS_SUCCESS, h.kernel.pnp().SetSystemPowerState(h.pdo, PowerSystemWorking));
    h.dispatcher().RunUntilIdle();
    EXPECT_TRUE(unit->VendorCommands().empty());
    File& port = h.OpenOrFail();
    unit->QueueInData(kRx, Bytes(3, 1));
    h.dispatcher().RunUntilIdle();
    EXPECT_EQ(Bytes(3, 1), ReadPort(port, 3));
}

}  // namespace
}  // namespace ys::test
