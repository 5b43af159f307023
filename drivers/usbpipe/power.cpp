// Power: system states mapped to device states, draining transfers before powering down, full
// power again, and arming the device for remote wake-up.
#include "drivers/usbpipe/device_extension.h"

namespace ys::usbpipe {

namespace {

struct SystemIrpContext {
    DEVICE_EXTENSION* ext;
    IRP* systemIrp;
};

struct DrainContext {
    DEVICE_EXTENSION* ext;
    IRP* irp;
    IO_WORKITEM* workItem;
};

DEVICE_POWER_STATE DeviceStateFor(const DEVICE_EXTENSION* ext, SYSTEM_POWER_STATE s) {
    if (s == PowerSystemWorking) return PowerDeviceD0;
    DEVICE_POWER_STATE d = PowerDeviceUnspecified;
    if (s > PowerSystemUnspecified && s < PowerSystemMaximum) d = ext->capabilities.DeviceState[s];
    return d == PowerDeviceUnspecified ? PowerDeviceD3 : d;
}

NTSTATUS PassDownPower(DEVICE_EXTENSION* ext, IRP* irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ext->lowerDevice, irp);
}

// The device request asked for a system request has completed: so does the system request.
void DevPoCompletionRoutine(DEVICE_OBJECT*, UCHAR, POWER_STATE, void* context,
                            IO_STATUS_BLOCK* ioStatus) {
    std::unique_ptr<SystemIrpContext> c(static_cast<SystemIrpContext*>(context));
    IRP* irp = c->systemIrp;
    irp->IoStatus.Status = ioStatus->Status;
    PoStartNextPowerIrp(irp);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS SysPoCompletionRoutine(DEVICE_OBJECT*, IRP* irp, void* context) {
    auto* ext = static_cast<DEVICE_EXTENSION*>(context);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    if (!NT_SUCCESS(irp->IoStatus.Status)) {
        PoStartNextPowerIrp(irp);
        QtxIoDecrement(ext);
        return STATUS_SUCCESS;
    }
    const SYSTEM_POWER_STATE s = stack->Parameters.Power.State.SystemState;
    if (stack->MinorFunction == IRP_MN_SET_POWER) ext->systemPower = s;
    // The system request holds no count while it waits for its device request: powering down
    // waits for the count to fall to nothing.
    QtxIoDecrement(ext);
    POWER_STATE state;
    state.DeviceState = DeviceStateFor(ext, s);
    auto c = std::make_unique<SystemIrpContext>(SystemIrpContext{ext, irp});
    const NTSTATUS status = PoRequestPowerIrp(ext->physicalDevice, stack->MinorFunction, state,
                                              DevPoCompletionRoutine, c.get(), nullptr);
    if (!NT_SUCCESS(status)) {
        irp->IoStatus.Status = status;
        PoStartNextPowerIrp(irp);
        return STATUS_SUCCESS;
    }
    c.release();  // freed by DevPoCompletionRoutine
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// Wake-up decision before a system query: disarm for states the device cannot wake the system
// from, arm for the others that are deeper than now.
void WakeDecision(DEVICE_EXTENSION* ext, SYSTEM_POWER_STATE queried) {
    if (!ext->remoteWakeup) return;
    if (queried > ext->capabilities.SystemWake) {
        CancelWaitWake(ext);
    } else if (queried > ext->systemPower) {
        IssueWaitWake(ext);
    }
}

NTSTATUS HandleSystemPowerIrp(DEVICE_EXTENSION* ext, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MinorFunction == IRP_MN_QUERY_POWER) {
        WakeDecision(ext, stack->Parameters.Power.State.SystemState);
    }
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SysPoCompletionRoutine, ext, true, true, true);
    IoMarkIrpPending(irp);
    PoCallDriver(ext->lowerDevice, irp);
    return STATUS_PENDING;
}

// Records the new device state when a set-power request has come back down successfully.
NTSTATUS FinishDevPoIrp(DEVICE_OBJECT*, IRP* irp, void* context) {
    auto* ext = static_cast<DEVICE_EXTENSION*>(context);
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    if (NT_SUCCESS(irp->IoStatus.Status) && stack->MinorFunction == IRP_MN_SET_POWER) {
        const DEVICE_POWER_STATE n = stack->Parameters.Power.State.DeviceState;
        ext->devicePower = n;
        PoSetPowerState(ext->self, DevicePowerState, stack->Parameters.Power.State);
        if (n == PowerDeviceD0) {
            SpinLockGuard guard(ext->lock);
            if (ext->deviceState != kDeviceRemoved) ext->deviceState = kDeviceWorking;
        }
    }
    PoStartNextPowerIrp(irp);
    QtxIoDecrement(ext);
    return STATUS_SUCCESS;
}

NTSTATUS PassDownAndFinish(DEVICE_EXTENSION* ext, IRP* irp) {
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, FinishDevPoIrp, ext, true, true, true);
    IoMarkIrpPending(irp);
    PoCallDriver(ext->lowerDevice, irp);
    return STATUS_PENDING;
}

bool Draining(DEVICE_EXTENSION* ext) {
    SpinLockGuard guard(ext->lock);
    return ext->draining;
}

void EndDrain(DEVICE_EXTENSION* ext) {
    {
        SpinLockGuard guard(ext->lock);
        ext->draining = false;
    }
    KeSetEvent(&ext->drainDone, IO_NO_INCREMENT, false);
}

// Powering down: no transfer may be outstanding when the request goes down. Runs in a worker
// because it waits.
void HoldIoRequestsWorker(DEVICE_OBJECT*, void* context) {
    std::unique_ptr<DrainContext> c(static_cast<DrainContext*>(context));
    DEVICE_EXTENSION* ext = c->ext;
    QtxIoDecrement(ext);  // this request's count
    QtxIoDecrement(ext);  // the base count
    AbortPipes(ext, false);
    KeWaitForSingleObject(&ext->ioCount.removeEvent(), Executive, KernelMode, false, nullptr);
    QtxIoIncrement(ext);
    QtxIoIncrement(ext);
    EndDrain(ext);
    IoFreeWorkItem(c->workItem);
    PassDownAndFinish(ext, c->irp);
}

NTSTATUS Drain(DEVICE_EXTENSION* ext, IRP* irp) {
    {
        SpinLockGuard guard(ext->lock);
        if (!ext->removeStarted) {
            ext->deviceState = kDeviceNotStarted;
            ext->draining = true;
            KeClearEvent(&ext->drainDone);
        }
    }
    // Removal has begun and waits for nothing more: the request just goes down.
    if (!Draining(ext)) return PassDownAndFinish(ext, irp);
    IO_WORKITEM* item = IoAllocateWorkItem(ext->self);
    if (item == nullptr) {
        EndDrain(ext);
        PoStartNextPowerIrp(irp);
        CompleteRequest(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        QtxIoDecrement(ext);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoMarkIrpPending(irp);
    IoQueueWorkItem(item, HoldIoRequestsWorker, DelayedWorkQueue, new DrainContext{ext, irp, item});
    return STATUS_PENDING;
}

NTSTATUS HandleDeviceSetPower(DEVICE_EXTENSION* ext, IRP* irp) {
    const DEVICE_POWER_STATE n =
        IoGetCurrentIrpStackLocation(irp)->Parameters.Power.State.DeviceState;
    const DEVICE_POWER_STATE k = ext->devicePower;
    if (n < k) return PassDownAndFinish(ext, irp);  // powering up
    if (k == PowerDeviceD0 && n > k) return Drain(ext, irp);
    if (n == k && k == PowerDeviceD0) {
        SpinLockGuard guard(ext->lock);
        if (ext->deviceState != kDeviceRemoved) ext->deviceState = kDeviceWorking;
    }
    return PassDownAndFinish(ext, irp);
}

NTSTATUS HandleDeviceQueryPower(DEVICE_EXTENSION* ext, IRP* irp) {
    const DEVICE_POWER_STATE n =
        IoGetCurrentIrpStackLocation(irp)->Parameters.Power.State.DeviceState;
    if (ext->remoteWakeup && n > ext->capabilities.DeviceWake) {
        CancelWaitWake(ext);
        AbortPipes(ext, true);
    }
    if (n >= ext->devicePower) return Drain(ext, irp);
    return PassDownAndFinish(ext, irp);
}

// Takes the wait-wake request back from the disarm path, or leaves it to it.
NTSTATUS WaitWakeCompletionRoutine(DEVICE_OBJECT*, IRP* irp, void* context) {
    auto* ext = static_cast<DEVICE_EXTENSION*>(context);
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    if (ext->waitWakeIrp.exchange(nullptr) != nullptr) {
        PoStartNextPowerIrp(irp);
        return STATUS_SUCCESS;
    }
    // The disarm path holds the request: the second of the two to get here completes it.
    if (ext->waitWakeCompleted.exchange(1) == 1) {
        PoStartNextPowerIrp(irp);
        return STATUS_SUCCESS;
    }
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS HandleWaitWakeIrp(DEVICE_EXTENSION* ext, IRP* irp) {
    ext->waitWakeIrp = irp;
    if (ext->waitWakeCancelling) {
        IRP* expected = irp;
        if (ext->waitWakeIrp.compare_exchange_strong(expected, nullptr)) {
            PoStartNextPowerIrp(irp);
            return CompleteRequest(irp, STATUS_CANCELLED, 0);
        }
    }
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, WaitWakeCompletionRoutine, ext, true, true, true);
    PoStartNextPowerIrp(irp);
    return PoCallDriver(ext->lowerDevice, irp);
}

void D0RequestDone(DEVICE_OBJECT*, UCHAR, POWER_STATE, void* context, IO_STATUS_BLOCK*) {
    QtxIoDecrement(static_cast<DEVICE_EXTENSION*>(context));
}

// The wait-wake request this driver asked for has ended.
void WaitWakeCallback(DEVICE_OBJECT*, UCHAR, POWER_STATE, void* context,
                      IO_STATUS_BLOCK* ioStatus) {
    auto* ext = static_cast<DEVICE_EXTENSION*>(context);
    ext->waitWakeArmed = 0;
    if (!NT_SUCCESS(ioStatus->Status) || ext->devicePower == PowerDeviceD0) return;
    QtxIoIncrement(ext);  // held until the D0 request completes
    POWER_STATE state;
    state.DeviceState = PowerDeviceD0;
    if (!NT_SUCCESS(PoRequestPowerIrp(ext->physicalDevice, IRP_MN_SET_POWER, state, D0RequestDone,
                                      ext, nullptr))) {
        QtxIoDecrement(ext);
    }
    if (ext->remoteWakeup) IssueWaitWake(ext);
}

struct PowerWait {
    KEVENT* event;
    NTSTATUS status;
};

void PowerRequestDone(DEVICE_OBJECT*, UCHAR, POWER_STATE, void* context,
                      IO_STATUS_BLOCK* ioStatus) {
    auto* wait = static_cast<PowerWait*>(context);
    wait->status = ioStatus->Status;
    KeSetEvent(wait->event, IO_NO_INCREMENT, false);
}

}  // namespace

NTSTATUS IssueWaitWake(DEVICE_EXTENSION* ext) {
    if (ext->waitWakeArmed.exchange(1) == 1) return STATUS_DEVICE_BUSY;
    ext->waitWakeCancelling = 0;
    ext->waitWakeCompleted = 0;
    POWER_STATE state;
    state.SystemState = ext->capabilities.SystemWake;
    const NTSTATUS status = PoRequestPowerIrp(ext->physicalDevice, IRP_MN_WAIT_WAKE, state,
                                              WaitWakeCallback, ext, nullptr);
    if (!NT_SUCCESS(status)) ext->waitWakeArmed = 0;
    return status;
}

void CancelWaitWake(DEVICE_EXTENSION* ext) {
    ext->waitWakeCancelling = 1;
    IRP* irp = ext->waitWakeIrp.exchange(nullptr);
    if (irp == nullptr) return;
    IoCancelIrp(irp);
    if (ext->waitWakeCompleted.exchange(1) == 1) {
        // Its completion routine has run and left the request to this path.
        PoStartNextPowerIrp(irp);
        irp->IoStatus.Status = STATUS_CANCELLED;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

NTSTATUS RequestDevicePower(DEVICE_EXTENSION* ext, DEVICE_POWER_STATE state) {
    KEVENT event(ext->self->kernel().dispatcher(), NotificationEvent, false);
    PowerWait wait{&event, STATUS_SUCCESS};
    POWER_STATE ps;
    ps.DeviceState = state;
    const NTSTATUS status = PoRequestPowerIrp(ext->physicalDevice, IRP_MN_SET_POWER, ps,
                                              PowerRequestDone, &wait, nullptr);
    if (!NT_SUCCESS(status)) return status;
    KeWaitForSingleObject(&event, Executive, KernelMode, false, nullptr);
    return wait.status;
}

NTSTATUS QtxDispatchPower(DEVICE_OBJECT* device, IRP* irp) {
    DEVICE_EXTENSION* ext = Extension(device);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    bool started = false;
    LONG state = kDeviceNotStarted;
    {
        SpinLockGuard guard(ext->lock);
        started = ext->started;
        state = ext->deviceState;
    }
    if (state == kDeviceRemoved) {
        PoStartNextPowerIrp(irp);
        return CompleteRequest(irp, STATUS_DELETE_PENDING, 0);
    }
    if (!started) return PassDownPower(ext, irp);

    QtxIoIncrement(ext);
    switch (stack->MinorFunction) {
        case IRP_MN_SET_POWER:
        case IRP_MN_QUERY_POWER:
            if (stack->Parameters.Power.Type == SystemPowerState) {
                return HandleSystemPowerIrp(ext, irp);
            }
            return stack->MinorFunction == IRP_MN_SET_POWER ? HandleDeviceSetPower(ext, irp)
                                                            : HandleDeviceQueryPower(ext, irp);
        case IRP_MN_WAIT_WAKE: {
            // Only while being passed down: an armed device must still be able to drain.
            const NTSTATUS status = HandleWaitWakeIrp(ext, irp);
            QtxIoDecrement(ext);
            return status;
        }
        default: {
            const NTSTATUS status = PassDownPower(ext, irp);
            QtxIoDecrement(ext);
            return status;
        }
    }
}

}  // namespace ys::usbpipe
