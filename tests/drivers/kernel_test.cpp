// The kernel layer: completion routines, pending and cancellation, remove locks and the I/O
// count, timers, deferred calls and work items on virtual and real time, the namespace and the
// registry.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/drivers/usbpipe_harness.h"

namespace ys::test {
namespace {

// A device of a test stack: passes requests down with a completion routine that logs, or at the
// bottom completes them (at once or later).
struct Layer : DeviceExtensionBase {
    std::string name;
    std::vector<std::string>* log = nullptr;
    DEVICE_OBJECT* lower = nullptr;
    bool pendAtBottom = false;
    bool holdOnCompletion = false;
    IRP* held = nullptr;
};

NTSTATUS LayerCompletion(DEVICE_OBJECT* device, IRP* irp, void* context) {
    auto* layer = static_cast<Layer*>(context);
    layer->log->push_back(
        "done " + layer->name + (irp->PendingReturned ? " pending" : "") +
        (device == nullptr ? "" : " at " + GetDeviceExtension<Layer>(device)->name));
    if (layer->holdOnCompletion) {
        layer->held = irp;
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    return STATUS_SUCCESS;
}

NTSTATUS LayerDispatch(DEVICE_OBJECT* device, IRP* irp) {
    auto* layer = GetDeviceExtension<Layer>(device);
    layer->log->push_back("call " + layer->name);
    if (layer->lower == nullptr) {
        if (layer->pendAtBottom) {
            IoMarkIrpPending(irp);
            layer->held = irp;
            return STATUS_PENDING;
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = 7;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    }
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, LayerCompletion, layer, true, true, true);
    return IoCallDriver(layer->lower, irp);
}

NTSTATUS LayerEntry(DRIVER_OBJECT* driver, const std::string&) {
    for (auto& f : driver->MajorFunction) f = LayerDispatch;
    return STATUS_SUCCESS;
}

class StackTest : public ::testing::Test {
protected:
    StackTest() : kernel(Dispatcher::CreateVirtual()) {
        DRIVER_OBJECT* driver = kernel.LoadDriver("layer", LayerEntry);
        DEVICE_OBJECT* below = nullptr;
        for (const char* name : {"bottom", "middle", "top"}) {
            auto ext = std::make_unique<Layer>();
            Layer* layer = ext.get();
            layer->name = name;
            layer->log = &log;
            DEVICE_OBJECT* d = nullptr;
            EXPECT_STATUS(STATUS_SUCCESS, IoCreateDevice(driver, std::move(ext), nullptr,
                                                         FILE_DEVICE_UNKNOWN, 0, false, &d));
            if (below != nullptr) layer->lower = IoAttachDeviceToDeviceStack(d, below);
            layers.push_back(layer);
            devices.push_back(d);
            below = d;
        }
    }

    // A request from above the stack that signals `done` when it leaves the top.
    std::unique_ptr<IRP> Request() {
        auto irp = IoAllocateIrp(devices.back()->StackSize, false);
        IoGetNextIrpStackLocation(irp.get())->MajorFunction = IRP_MJ_READ;
        irp->UserEvent = &done;
        irp->UserIosb = &ioStatus;
        return irp;
    }

    Kernel kernel;
    std::vector<std::string> log;
    std::vector<Layer*> layers;
    std::vector<DEVICE_OBJECT*> devices;
    KEVENT done{kernel.dispatcher(), NotificationEvent, false};
    IO_STATUS_BLOCK ioStatus;
};

TEST_F(StackTest, CompletionRoutinesRunFromTheBottomUpWithTheirOwnDevice) {
    EXPECT_EQ(devices.back()->StackSize, 3);
    auto irp = Request();
    EXPECT_STATUS(STATUS_SUCCESS, IoCallDriver(devices.back(), irp.get()));
    EXPECT_EQ(log, (std::vector<std::string>{"call top", "call middle", "call bottom",
                                             "done middle at middle", "done top at top"}));
    EXPECT_TRUE(KeReadStateEvent(&done));
    EXPECT_EQ(ioStatus.Information, 7u);
}

TEST_F(StackTest, MoreProcessingRequiredStopsTheWalkUntilTheDriverCompletesAgain) {
    layers[1]->holdOnCompletion = true;
    auto irp = Request();
    IoCallDriver(devices.back(), irp.get());
    EXPECT_EQ(log.back(), "done middle at middle");
    EXPECT_FALSE(KeReadStateEvent(&done));
    ASSERT_EQ(layers[1]->held, irp.get());

    layers[1]->holdOnCompletion = false;
    irp->IoStatus.Status = STATUS_CANCELLED;  // the middle driver changes its mind
    IoCompleteRequest(irp.get(), IO_NO_INCREMENT);
    EXPECT_EQ(log.back(), "done top at top");
    EXPECT_TRUE(KeReadStateEvent(&done));
    EXPECT_STATUS(STATUS_CANCELLED, ioStatus.Status);
}

TEST_F(StackTest, PendingIsReportedToEveryRoutineAbove) {
    layers[0]->pendAtBottom = true;
    auto irp = Request();
    EXPECT_STATUS(STATUS_PENDING, IoCallDriver(devices.back(), irp.get()));
    EXPECT_FALSE(KeReadStateEvent(&done));
    IRP* held = layers[0]->held;
    held->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(held, IO_NO_INCREMENT);
    EXPECT_EQ(log[3], "done middle pending at middle");
    EXPECT_EQ(log[4], "done top pending at top");
}

TEST_F(StackTest, ErrorOnlyRoutineIsSkippedOnSuccess) {
    auto irp = IoAllocateIrp(devices.back()->StackSize, false);
    bool called = false;
    IoSetCompletionRoutine(
        irp.get(),
        [](DEVICE_OBJECT*, IRP*, void* c) {
            *static_cast<bool*>(c) = true;
            return STATUS_SUCCESS;
        },
        &called, false, true, false);
    IoCallDriver(devices.back(), irp.get());
    EXPECT_FALSE(called);
}

// ---- cancellation

// Set and query power reach a device one at a time per kind: a second device request waits
// (not even dispatched) until the driver starts the next; a system request does not wait for it.
TEST_F(StackTest, PowerRequestsReachADeviceOneAtATimeUntilTheNextIsStarted) {
    layers[0]->pendAtBottom = true;
    auto power = [&](POWER_STATE_TYPE type) {
        auto irp = IoAllocateIrp(devices[0]->StackSize, false);
        IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp.get());
        next->MajorFunction = IRP_MJ_POWER;
        next->MinorFunction = IRP_MN_SET_POWER;
        next->Parameters.Power.Type = type;
        return irp;
    };
    auto first = power(DevicePowerState);
    auto second = power(DevicePowerState);
    auto system = power(SystemPowerState);
    EXPECT_STATUS(STATUS_PENDING, PoCallDriver(devices[0], first.get()));
    EXPECT_STATUS(STATUS_PENDING, PoCallDriver(devices[0], second.get()));
    kernel.dispatcher().RunUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"call bottom"}));
    EXPECT_STATUS(STATUS_PENDING, PoCallDriver(devices[0], system.get()));
    EXPECT_EQ(log.size(), 2u);

    PoStartNextPowerIrp(first.get());
    EXPECT_EQ(log.size(), 2u);  // the next one starts on a worker
    kernel.dispatcher().RunUntilIdle();
    EXPECT_EQ(log.size(), 3u);
    EXPECT_EQ(layers[0]->held, second.get());
}

struct CancelProbe {
    bool called = false;
    KIRQL irqlInRoutine = PASSIVE_LEVEL;
};
CancelProbe* g_probe = nullptr;

void ProbeCancel(DEVICE_OBJECT*, IRP* irp) {
    g_probe->called = true;
    g_probe->irqlInRoutine = KeGetCurrentIrql();
    IoReleaseCancelSpinLock(irp->CancelIrql);
}

TEST(Cancel, RoutineRunsOnceWithTheCancelLockAndClearsItself) {
    CancelProbe probe;
    g_probe = &probe;
    IRP irp(1);
    IoSetCancelRoutine(&irp, ProbeCancel);
    EXPECT_TRUE(IoCancelIrp(&irp));
    EXPECT_TRUE(probe.called);
    EXPECT_EQ(probe.irqlInRoutine, DISPATCH_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_TRUE(irp.Cancel);
    // A completer that clears the routine now finds it gone: the canceller owns the request.
    EXPECT_EQ(IoSetCancelRoutine(&irp, nullptr), nullptr);
    probe.called = false;
    EXPECT_FALSE(IoCancelIrp(&irp));
    EXPECT_FALSE(probe.called);
}

TEST(Cancel, CancelBeforeTheRoutineIsSetLeavesTheFlagForTheDriver) {
    CancelProbe probe;
    g_probe = &probe;
    IRP irp(1);
    EXPECT_FALSE(IoCancelIrp(&irp));
    IoSetCancelRoutine(&irp, ProbeCancel);
    // The driver's usual check after setting the routine.
    ASSERT_TRUE(irp.Cancel);
    EXPECT_NE(IoSetCancelRoutine(&irp, nullptr), nullptr);
    EXPECT_FALSE(probe.called);
}

// ---- remove lock and I/O count

TEST(RemoveLock, ReleaseAndWaitWaitsForEveryHolderAndRefusesNewOnes) {
    auto dispatcher = Dispatcher::CreateVirtual();
    IO_REMOVE_LOCK lock(*dispatcher);
    ASSERT_STATUS(STATUS_SUCCESS, IoAcquireRemoveLock(&lock, nullptr));  // the remove request
    ASSERT_STATUS(STATUS_SUCCESS, IoAcquireRemoveLock(&lock, nullptr));  // a request in progress
    int idleCalls = 0;
    dispatcher->SetIdleHandler([&] {
        ++idleCalls;
        EXPECT_STATUS(STATUS_DELETE_PENDING, IoAcquireRemoveLock(&lock, nullptr));
        IoReleaseRemoveLock(&lock, nullptr);  // the request in progress ends
        return true;
    });
    IoReleaseRemoveLockAndWait(&lock, nullptr);
    EXPECT_EQ(idleCalls, 1);
}

TEST(IoCountTest, EventsFollowTheCount) {
    auto dispatcher = Dispatcher::CreateVirtual();
    KSPIN_LOCK lock;
    IoCount count(*dispatcher, lock);
    EXPECT_EQ(count.value(), 1);
    EXPECT_TRUE(KeReadStateEvent(&count.noIoEvent()));
    EXPECT_FALSE(KeReadStateEvent(&count.removeEvent()));
    count.Increment();
    EXPECT_FALSE(KeReadStateEvent(&count.noIoEvent()));
    count.Decrement();
    EXPECT_TRUE(KeReadStateEvent(&count.noIoEvent()));
    count.Decrement();
    EXPECT_TRUE(KeReadStateEvent(&count.removeEvent()));
    count.Increment();  // a power-down drain restores the count
    EXPECT_FALSE(KeReadStateEvent(&count.removeEvent()));
}

// ---- timers, deferred calls, work items on virtual time

struct Counter {
    int runs = 0;
    std::vector<LONGLONG> times;
    Dispatcher* dispatcher = nullptr;
};

void CountDpc(KDPC*, void* context, void*, void*) {
    auto* c = static_cast<Counter*>(context);
    ++c->runs;
    c->times.push_back(c->dispatcher->Now());
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
}

TEST(VirtualTime, TimerRunsItsDpcOnlyWhenTheClockReachesIt) {
    auto d = Dispatcher::CreateVirtual();
    Counter c{0, {}, d.get()};
    KDPC dpc(*d, CountDpc, &c);
    KTIMER timer(*d);
    EXPECT_FALSE(KeSetTimer(&timer, RelativeMs(10), &dpc));
    d->AdvanceBy(std::chrono::milliseconds(9));
    EXPECT_EQ(c.runs, 0);
    EXPECT_FALSE(KeReadStateTimer(&timer));
    d->AdvanceBy(std::chrono::milliseconds(1));
    EXPECT_EQ(c.runs, 1);
    EXPECT_EQ(c.times[0], 100000);  // 10 ms in 100-ns units
    EXPECT_TRUE(KeReadStateTimer(&timer));
    d->AdvanceBy(std::chrono::milliseconds(50));
    EXPECT_EQ(c.runs, 1);
}

TEST(VirtualTime, PeriodicTimerRunsAtEachPeriodUntilCancelled) {
    auto d = Dispatcher::CreateVirtual();
    Counter c{0, {}, d.get()};
    KDPC dpc(*d, CountDpc, &c);
    KTIMER timer(*d);
    KeSetTimerEx(&timer, RelativeMs(5), 5, &dpc);
    d->AdvanceBy(std::chrono::milliseconds(20));
    EXPECT_EQ(c.times, (std::vector<LONGLONG>{50000, 100000, 150000, 200000}));
    EXPECT_TRUE(KeCancelTimer(&timer));
    d->AdvanceBy(std::chrono::milliseconds(20));
    EXPECT_EQ(c.runs, 4);
    EXPECT_FALSE(KeCancelTimer(&timer));
}

TEST(VirtualTime, ResettingATimerMovesItAndTimersDueTogetherRunInSetOrder) {
    auto d = Dispatcher::CreateVirtual();
    std::vector<int> order;
    struct Tag {
        std::vector<int>* order;
        int id;
    };
    Tag a{&order, 1}, b{&order, 2};
    auto record = [](KDPC*, void* ctx, void*, void*) {
        auto* t = static_cast<Tag*>(ctx);
        t->order->push_back(t->id);
    };
    KDPC da(*d, record, &a), db(*d, record, &b);
    KTIMER ta(*d), tb(*d);
    KeSetTimer(&ta, RelativeMs(3), &da);
    KeSetTimer(&tb, RelativeMs(8), &db);
    EXPECT_TRUE(KeSetTimer(&tb, RelativeMs(3), &db));  // was set: moved
    d->AdvanceBy(std::chrono::milliseconds(3));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(VirtualTime, DpcQueuedTwiceRunsOnceAndDestructionDequeues) {
    auto d = Dispatcher::CreateVirtual();
    Counter c{0, {}, d.get()};
    {
        KDPC dpc(*d, CountDpc, &c);
        EXPECT_TRUE(KeInsertQueueDpc(&dpc, nullptr, nullptr));
        EXPECT_FALSE(KeInsertQueueDpc(&dpc, nullptr, nullptr));
        EXPECT_EQ(d->RunUntilIdle(), 1u);
        EXPECT_EQ(c.runs, 1);
        KeInsertQueueDpc(&dpc, nullptr, nullptr);
    }
    EXPECT_EQ(d->RunUntilIdle(), 0u);
    EXPECT_EQ(c.runs, 1);
}

TEST(VirtualTime, WaitsMoveTheClockToWhatSatisfiesThem) {
    auto d = Dispatcher::CreateVirtual();
    KTIMER timer(*d);
    KeSetTimer(&timer, RelativeMs(25), nullptr);
    EXPECT_STATUS(STATUS_SUCCESS,
                  KeWaitForSingleObject(&timer, Executive, KernelMode, false, nullptr));
    EXPECT_EQ(d->Now(), 250000);

    KEVENT never(*d, NotificationEvent, false);
    LARGE_INTEGER timeout = RelativeMs(40);
    EXPECT_STATUS(STATUS_TIMEOUT,
                  KeWaitForSingleObject(&never, Executive, KernelMode, false, &timeout));
    EXPECT_EQ(d->Now(), 650000);

    LARGE_INTEGER delay = RelativeMs(5);
    KeDelayExecutionThread(*d, KernelMode, false, &delay);
    EXPECT_EQ(d->Now(), 700000);
}

TEST(VirtualTime, SynchronizationEventReleasesOneWaitThenResets) {
    auto d = Dispatcher::CreateVirtual();
    KEVENT e(*d, SynchronizationEvent, true);
    LARGE_INTEGER zero{0};
    EXPECT_STATUS(STATUS_SUCCESS, KeWaitForSingleObject(&e, Executive, KernelMode, false, &zero));
    EXPECT_STATUS(STATUS_TIMEOUT, KeWaitForSingleObject(&e, Executive, KernelMode, false, &zero));
    EXPECT_EQ(KeSetEvent(&e, IO_NO_INCREMENT, false), 0);
    EXPECT_EQ(KeSetEvent(&e, IO_NO_INCREMENT, false), 1);
}

struct Probe : DeviceExtensionBase {
    bool* destroyed;
    explicit Probe(bool* d) : destroyed(d) {}
    ~Probe() override { *destroyed = true; }
};

TEST(WorkItems, RunAtPassiveLevelAndKeepTheDeviceExtensionAlive) {
    Kernel kernel(Dispatcher::CreateVirtual());
    DRIVER_OBJECT* driver = kernel.LoadDriver("probe", LayerEntry);
    bool destroyed = false;
    DEVICE_OBJECT* device = nullptr;
    IoCreateDevice(driver, std::make_unique<Probe>(&destroyed), nullptr, FILE_DEVICE_UNKNOWN, 0,
                   false, &device);
    IO_WORKITEM* item = IoAllocateWorkItem(device);
    struct Seen {
        bool ran = false;
        bool extensionAlive = false;
        KIRQL irql = DISPATCH_LEVEL;
        IO_WORKITEM* item = nullptr;
    } seen;
    seen.item = item;
    IoQueueWorkItem(
        item,
        [](DEVICE_OBJECT* dev, void* ctx) {
            auto* s = static_cast<Seen*>(ctx);
            s->ran = true;
            s->irql = KeGetCurrentIrql();
            s->extensionAlive = dev->DeviceExtension != nullptr;
            IoFreeWorkItem(s->item);  // freeing from its own routine is allowed
        },
        DelayedWorkQueue, &seen);
    IoDeleteDevice(device);
    EXPECT_FALSE(destroyed);
    kernel.dispatcher().RunUntilIdle();
    EXPECT_TRUE(seen.ran);
    EXPECT_TRUE(seen.extensionAlive);
    EXPECT_EQ(seen.irql, PASSIVE_LEVEL);
    EXPECT_TRUE(destroyed);
}

// ---- real time

TEST(RealTime, TimerDpcRunsOnTheDispatchThreadAndWakesAWaiter) {
    auto d = Dispatcher::CreateRealTime();
    struct Ctx {
        KEVENT* event;
        std::atomic<bool> otherThread{false};
        std::thread::id caller;
    };
    KEVENT event(*d, NotificationEvent, false);
    Ctx ctx{&event, {}, std::this_thread::get_id()};
    KDPC dpc(
        *d,
        [](KDPC*, void* c, void*, void*) {
            auto* x = static_cast<Ctx*>(c);
            x->otherThread = std::this_thread::get_id() != x->caller;
            KeSetEvent(x->event, IO_NO_INCREMENT, false);
        },
        &ctx);
    KTIMER timer(*d);
    KeSetTimer(&timer, RelativeMs(2), &dpc);
    EXPECT_STATUS(STATUS_SUCCESS,
                  KeWaitForSingleObject(&event, Executive, KernelMode, false, nullptr));
    EXPECT_TRUE(ctx.otherThread);
}

TEST(RealTime, WorkItemsThatWaitForEachOtherDoNotStarveThePool) {
    auto d = Dispatcher::CreateRealTime();
    constexpr int kChain = 6;  // each waits for the next one to run
    std::vector<std::unique_ptr<KEVENT>> events;
    for (int i = 0; i <= kChain; ++i) {
        events.push_back(std::make_unique<KEVENT>(*d, NotificationEvent, false));
    }
    for (int i = 0; i < kChain; ++i) {
        d->QueueWork([&, i] {
            KeWaitForSingleObject(events[i + 1].get(), Executive, KernelMode, false, nullptr);
            KeSetEvent(events[i].get(), IO_NO_INCREMENT, false);
        });
    }
    d->QueueWork([&] { KeSetEvent(events[kChain].get(), IO_NO_INCREMENT, false); });
    EXPECT_STATUS(STATUS_SUCCESS,
                  KeWaitForSingleObject(events[0].get(), Executive, KernelMode, false, nullptr));
}

TEST(RealTime, PeriodicTimerCancelledFromAnotherThreadStops) {
    auto d = Dispatcher::CreateRealTime();
    struct Ctx {
        std::atomic<int> runs{0};
        KEVENT* third;
    };
    KEVENT third(*d, NotificationEvent, false);
    Ctx ctx{{0}, &third};
    KDPC dpc(
        *d,
        [](KDPC*, void* c, void*, void*) {
            auto* x = static_cast<Ctx*>(c);
            if (++x->runs == 3) KeSetEvent(x->third, IO_NO_INCREMENT, false);
        },
        &ctx);
    KTIMER timer(*d);
    KeSetTimerEx(&timer, RelativeMs(1), 1, &dpc);
    KeWaitForSingleObject(&third, Executive, KernelMode, false, nullptr);
    EXPECT_TRUE(KeCancelTimer(&timer));
    KeFlushQueuedDpcs(*d);
    // Nothing is left to run it again: not the timer, not a queued call.
    EXPECT_FALSE(KeCancelTimer(&timer));
    EXPECT_FALSE(KeRemoveQueueDpc(&dpc));
    EXPECT_GE(ctx.runs, 3);
}

// A buffered device whose reads complete from a deferred call, as the bus completes transfers;
// its dispatch routine may also wait for that call, as a driver waits for a request it sent down.
struct DeferredReader : DeviceExtensionBase {
    explicit DeferredReader(Dispatcher& d)
        : dpc(d, Finish, this), ran(d, NotificationEvent, false) {}
    static void Finish(KDPC*, void* context, void*, void*) {
        auto* self = static_cast<DeferredReader*>(context);
        self->ranOn = std::this_thread::get_id();
        auto* buffer = static_cast<UCHAR*>(self->irp->AssociatedIrp.SystemBuffer);
        for (ULONG i = 0; i < self->bytes; ++i) buffer[i] = static_cast<UCHAR>(i + 1);
        self->irp->IoStatus.Status = self->status;
        self->irp->IoStatus.Information = self->bytes;
        IoCompleteRequest(self->irp, IO_NO_INCREMENT);
        KeSetEvent(&self->ran, IO_NO_INCREMENT, false);
    }
    KDPC dpc;
    KEVENT ran;
    IRP* irp = nullptr;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG bytes = 0;
    bool waitInDispatch = false;
    std::thread::id ranOn;
};

NTSTATUS DeferredReaderDispatch(DEVICE_OBJECT* device, IRP* irp) {
    auto* self = GetDeviceExtension<DeferredReader>(device);
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction != IRP_MJ_READ) {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    }
    IoMarkIrpPending(irp);
    self->irp = irp;
    KeInsertQueueDpc(&self->dpc, nullptr, nullptr);
    if (self->waitInDispatch) {
        KeWaitForSingleObject(&self->ran, Executive, KernelMode, false, nullptr);
    }
    return STATUS_PENDING;
}

// In real time a deferred call queued while a program's request goes down runs on the program's
// thread (no other thread is woken; a driver waiting for it there does not hang), and the bytes
// reach the completion callback on that thread, unless a failed buffered read copied none back.
TEST(RealTime, CallsQueuedWhileARequestGoesDownRunOnTheSendersThread) {
    const struct {
        const char* name;
        NTSTATUS status;
        bool waitInDispatch;
        std::size_t returned;
    } cases[] = {
        {"completed from the deferred call", STATUS_SUCCESS, false, 5},
        {"the driver waits for its deferred call", STATUS_SUCCESS, true, 5},
        {"failed with bytes counted", STATUS_CANCELLED, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Kernel kernel(Dispatcher::CreateRealTime());
        DRIVER_OBJECT* driver =
            kernel.LoadDriver("deferred", [](DRIVER_OBJECT* d, const std::string&) {
                for (auto& f : d->MajorFunction) f = DeferredReaderDispatch;
                return STATUS_SUCCESS;
            });
        DEVICE_OBJECT* device = nullptr;
        ASSERT_STATUS(STATUS_SUCCESS,
                      IoCreateDevice(driver, std::make_unique<DeferredReader>(kernel.dispatcher()),
                                     nullptr, FILE_DEVICE_UNKNOWN, 0, false, &device));
        device->Flags = DO_BUFFERED_IO;
        auto* reader = GetDeviceExtension<DeferredReader>(device);
        reader->status = c.status;
        reader->bytes = 5;
        reader->waitInDispatch = c.waitInDispatch;
        std::unique_ptr<File> file;
        ASSERT_STATUS(STATUS_SUCCESS, kernel.io().OpenDevice(device, "", &file));

        std::vector<UCHAR> seen;
        std::thread::id seenOn;
        auto request = file->StartRead(8, 0, [&](NTSTATUS, std::span<const UCHAR> bytes) {
            seen.assign(bytes.begin(), bytes.end());
            seenOn = std::this_thread::get_id();
        });
        EXPECT_TRUE(request->completed());
        EXPECT_EQ(reader->ranOn, std::this_thread::get_id());
        EXPECT_EQ(seenOn, std::this_thread::get_id());
        EXPECT_EQ(seen.size(), c.returned);
        EXPECT_EQ(request->output().size(), c.returned);
        request.reset();

        std::vector<UCHAR> buffer(8, 0);
        ULONG_PTR transferred = 99;
        (void)file->Read(buffer, &transferred);
        EXPECT_EQ(transferred, c.returned);
        file.reset();
        IoDeleteDevice(device);
    }
}

// ---- namespace and registry

TEST(Namespace, LinksAndDeviceNamesResolveWithTheRestAsFileName) {
    Kernel kernel(Dispatcher::CreateVirtual());
    DRIVER_OBJECT* driver = kernel.LoadDriver("layer", LayerEntry);
    const std::string name = "\\Device\\qtxvcom640";
    DEVICE_OBJECT* device = nullptr;
    ASSERT_STATUS(STATUS_SUCCESS, IoCreateDevice(driver, std::make_unique<Layer>(), &name,
                                                 FILE_DEVICE_SERIAL_PORT, 0, true, &device));
    DEVICE_OBJECT* other = nullptr;
    EXPECT_STATUS(STATUS_OBJECT_NAME_COLLISION,
                  IoCreateDevice(driver, std::make_unique<Layer>(), &name, FILE_DEVICE_SERIAL_PORT,
                                 0, true, &other));
    ASSERT_STATUS(STATUS_SUCCESS, IoCreateSymbolicLink(kernel, "\\DosDevices\\COM3", name));
    EXPECT_STATUS(STATUS_OBJECT_NAME_COLLISION, IoCreateSymbolicLink(kernel, "\\??\\com3", name));

    std::string rest;
    EXPECT_EQ(kernel.objects().Resolve("\\\\.\\COM3", &rest), device);
    EXPECT_EQ(rest, "");
    EXPECT_EQ(kernel.objects().Resolve("\\??\\com3\\PIPE01", &rest), device);
    EXPECT_EQ(rest, "\\PIPE01");
    EXPECT_EQ(kernel.objects().Resolve("\\DEVICE\\QTXVCOM640\\x", &rest), device);
    EXPECT_EQ(rest, "\\x");
    EXPECT_EQ(kernel.objects().Resolve("\\Device\\qtxvcom64", &rest), nullptr);

    EXPECT_STATUS(STATUS_SUCCESS, IoDeleteSymbolicLink(kernel, "\\??\\COM3"));
    EXPECT_EQ(kernel.objects().Resolve("\\\\.\\COM3", &rest), nullptr);
    IoDeleteDevice(device);
    EXPECT_EQ(kernel.objects().Resolve(name, &rest), nullptr);
}

TEST(Registry, ValuesByTypeAndTheSerialDeviceMap) {
    Kernel kernel(Dispatcher::CreateVirtual());
    RegistryKey& key = kernel.registry().Key("\\Registry\\Machine\\X");
    key.SetDword("EndPointCaps", 2);
    key.SetString("PortName", "COM7");
    ULONG v = 0;
    EXPECT_STATUS(STATUS_SUCCESS, key.QueryDword("endpointcaps", &v));
    EXPECT_EQ(v, 2u);
    std::string s;
    EXPECT_STATUS(STATUS_OBJECT_NAME_INVALID, key.QueryString("EndPointCaps", &s));
    EXPECT_STATUS(STATUS_OBJECT_NAME_NOT_FOUND, key.QueryDword("RxReqSize", &v));
    EXPECT_EQ(&kernel.registry().Key("\\registry\\machine\\x"), &key);

    const char port[] = "COM7";
    EXPECT_STATUS(STATUS_SUCCESS,
                  RtlWriteRegistryValue(kernel, RTL_REGISTRY_DEVICEMAP, "SERIALCOMM",
                                        "\\Device\\qtxvcom640", REG_SZ, port, sizeof port));
    RegistryKey& map = kernel.registry().Key(Registry::kDeviceMapRoot + "\\SERIALCOMM");
    EXPECT_STATUS(STATUS_SUCCESS, map.QueryString("\\Device\\qtxvcom640", &s));
    EXPECT_EQ(s, "COM7");
    EXPECT_STATUS(STATUS_SUCCESS, RtlDeleteRegistryValue(kernel, RTL_REGISTRY_DEVICEMAP,
                                                         "SERIALCOMM", "\\Device\\qtxvcom640"));
    EXPECT_FALSE(map.HasValue("\\Device\\qtxvcom640"));
}

}  // namespace
}  // namespace ys::test
