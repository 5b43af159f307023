// Power: the port stops moving data when the device leaves full power and repeats its open
// sequence when it comes back.
#include "drivers/vcom/device_extension.h"

namespace ys::vcom {

namespace {

struct PowerUpContext {
    VCOM_EXTENSION* ext;
    IO_WORKITEM* item;
};

// The power request has completed; the open sequence follows. It waits for the device's
// answers, so it runs here rather than in the completion, under the remove lock so that a
// removal waits for it.
void PowerUpWorker(DEVICE_OBJECT*, void* context) {
    std::unique_ptr<PowerUpContext> c(static_cast<PowerUpContext*>(context));
    ReopenAfterPowerUp(c->ext);
    IoReleaseRemoveLock(&c->ext->removeLock, c->item);
    IoFreeWorkItem(c->item);
}

NTSTATUS PowerUpComplete(DEVICE_OBJECT*, IRP* irp, void* context) {
    auto* ext = static_cast<VCOM_EXTENSION*>(context);
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    PoStartNextPowerIrp(irp);
    if (!NT_SUCCESS(irp->IoStatus.Status)) return STATUS_SUCCESS;
    IO_WORKITEM* item = IoAllocateWorkItem(ext->self);
    if (item == nullptr || !NT_SUCCESS(IoAcquireRemoveLock(&ext->removeLock, item))) {
        if (item != nullptr) IoFreeWorkItem(item);
        return STATUS_SUCCESS;
    }
    auto c = std::make_unique<PowerUpContext>(PowerUpContext{ext, item});
    IoQueueWorkItem(item, PowerUpWorker, DelayedWorkQueue, c.release());  // freed by the worker
    return STATUS_SUCCESS;
}

NTSTATUS PassDownPower(VCOM_EXTENSION* ext, IRP* irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ext->lowerDevice, irp);
}

}  // namespace

NTSTATUS VcomDispatchPower(DEVICE_OBJECT* device, IRP* irp) {
    VCOM_EXTENSION* ext = Extension(device);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const bool setOrQuery =
        stack->MinorFunction == IRP_MN_SET_POWER || stack->MinorFunction == IRP_MN_QUERY_POWER;
    if (!setOrQuery || stack->Parameters.Power.Type != DevicePowerState) {
        return PassDownPower(ext, irp);
    }
    const DEVICE_POWER_STATE state = stack->Parameters.Power.State.DeviceState;
    if (state > PowerDeviceD0) {
        {
            SpinLockGuard guard(ext->lock);
            ext->powered = false;
        }
        StopStatusPolling(ext, false);
        StopReceiver(ext, false);
        StopTransmitter(ext, false);
        return PassDownPower(ext, irp);
    }
    bool powered;
    {
        SpinLockGuard guard(ext->lock);
        powered = ext->powered;
    }
    if (stack->MinorFunction != IRP_MN_SET_POWER || powered) return PassDownPower(ext, irp);
    IoMarkIrpPending(irp);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, PowerUpComplete, ext, true, true, true);
    PoCallDriver(ext->lowerDevice, irp);
    return STATUS_PENDING;
}

}  // namespace ys::vcom
