// Plug and Play: the port name on the first start, the stop and removal queries, surprise
// removal and removal.
#include "drivers/vcom/device_extension.h"

namespace ys::vcom {

namespace {

constexpr const char* kSerialComm = "SERIALCOMM";

void CreatePortName(VCOM_EXTENSION* ext) {
    Kernel& kernel = ext->self->kernel();
    RegistryKey* key = nullptr;
    std::string port;
    if (!NT_SUCCESS(
            IoOpenDeviceRegistryKey(ext->physicalDevice, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key)) ||
        !NT_SUCCESS(key->QueryString("PortName", &port)) || port.empty() || port.size() > 256) {
        return;
    }
    ext->portNamed = true;
    ext->portName = port;
    ext->linkName = "\\DosDevices\\" + port;
    if (!NT_SUCCESS(IoCreateSymbolicLink(kernel, ext->linkName, ext->deviceName))) return;
    ext->linkCreated = true;
    const NTSTATUS status =
        RtlWriteRegistryValue(kernel, RTL_REGISTRY_DEVICEMAP, kSerialComm, ext->deviceName, REG_SZ,
                              port.c_str(), static_cast<ULONG>(port.size() + 1));
    if (NT_SUCCESS(status)) {
        ext->serialCommWritten = true;
    } else {
        IoDeleteSymbolicLink(kernel, ext->linkName);
        ext->linkCreated = false;
    }
}

void RemovePortName(VCOM_EXTENSION* ext) {
    Kernel& kernel = ext->self->kernel();
    if (ext->linkCreated) {
        IoDeleteSymbolicLink(kernel, ext->linkName);
        ext->linkCreated = false;
    }
    if (ext->serialCommWritten) {
        RtlDeleteRegistryValue(kernel, RTL_REGISTRY_DEVICEMAP, kSerialComm, ext->deviceName);
        ext->serialCommWritten = false;
    }
}

void DisableInterface(VCOM_EXTENSION* ext) {
    if (!ext->interfaceName.empty()) {
        IoSetDeviceInterfaceState(ext->self->kernel(), ext->interfaceName, false);
    }
}

// The device is gone: nothing more moves, and what waits is told so.
void StopAndFailRequests(VCOM_EXTENSION* ext) {
    const PortTurn turn(ext);
    StopStatusPolling(ext, true);
    StopReceiver(ext, true);
    StopTransmitter(ext, true);
    CancelReads(ext, STATUS_DELETE_PENDING);
    CancelWrites(ext, STATUS_DELETE_PENDING);
    IRP* wait = nullptr;
    {
        SpinLockGuard guard(ext->lock);
        wait = ext->pendingWait;
        ext->pendingWait = nullptr;
        if (wait != nullptr && !ClaimFromCancel(wait)) {
            CompleteRequest(wait, STATUS_CANCELLED, 0);
            wait = nullptr;
        }
    }
    if (wait != nullptr) CompleteRequest(wait, STATUS_DELETE_PENDING, 0);
}

void SetState(VCOM_EXTENSION* ext, PnpState state, bool remember) {
    SpinLockGuard guard(ext->lock);
    if (remember) ext->previousPnpState = ext->pnpState;
    ext->pnpState = state;
}

// An open port always has a read outstanding below: the pipe driver's query would wait for it
// without end. The query is refused instead, and no port opens while one is pending.
bool EnterQuery(VCOM_EXTENSION* ext, PnpState pending) {
    SpinLockGuard guard(ext->lock);
    if (ext->openCount > 0) return false;
    ext->previousPnpState = ext->pnpState;
    ext->pnpState = pending;
    return true;
}

void RestoreState(VCOM_EXTENSION* ext, PnpState pending) {
    SpinLockGuard guard(ext->lock);
    if (ext->pnpState == pending) ext->pnpState = ext->previousPnpState;
}

NTSTATUS Remove(VCOM_EXTENSION* ext, IRP* irp) {
    {
        SpinLockGuard guard(ext->lock);
        ext->removed = true;
        ext->pnpState = PnpState::kRemoved;
    }
    // Activity stops while the lower device can still take the aborts and closes. Requests
    // that hold the remove lock (a close, a cleanup, a flush, an open) end first; an open that
    // got in meanwhile may have started the port again.
    StopAndFailRequests(ext);
    IoAcquireRemoveLock(&ext->removeLock, irp);
    IoReleaseRemoveLockAndWait(&ext->removeLock, irp);
    StopAndFailRequests(ext);
    if (PortIsOpen(ext)) {
        SendVendorCommand(ext, usb::VendorCommand::kOpenPort, {usb::kPortClosed});
        for (LowerPipe* pipe : {&ext->statusPipe, &ext->rxPipe, &ext->txPipe}) {
            CloseLowerPipe(ext, *pipe);
        }
        SpinLockGuard guard(ext->lock);
        ext->openCount = 0;
        ext->portOpen = false;
    }

    irp->IoStatus.Status = STATUS_SUCCESS;
    DEVICE_OBJECT* lower = ext->lowerDevice;
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(lower, irp);

    RemovePortName(ext);
    DisableInterface(ext);
    {
        SpinLockGuard guard(ext->lock);
        ext->rxRequestBuffer.clear();
        ext->rxBuffer.Recreate(0);
        ext->txBuffer.Recreate(0);
    }
    DEVICE_OBJECT* self = ext->self;
    IoDetachDevice(lower);
    IoDeleteDevice(self);
    return status;
}

}  // namespace

NTSTATUS VcomDispatchPnp(DEVICE_OBJECT* device, IRP* irp) {
    VCOM_EXTENSION* ext = Extension(device);
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
        case IRP_MN_START_DEVICE: {
            const NTSTATUS status = ForwardAndWait(ext, irp);
            if (NT_SUCCESS(status)) {
                // The name is made on the first start only, not on a restart after a stop.
                if (!ext->portNamed) CreatePortName(ext);
                SetState(ext, PnpState::kStarted, false);
            }
            return CompleteRequest(irp, status, 0);
        }
        case IRP_MN_QUERY_STOP_DEVICE:
            if (!EnterQuery(ext, PnpState::kStopPending)) {
                return CompleteRequest(irp, STATUS_DEVICE_BUSY, 0);
            }
            irp->IoStatus.Status = STATUS_SUCCESS;
            return PassDown(ext, irp);
        case IRP_MN_CANCEL_STOP_DEVICE: {
            const NTSTATUS status = ForwardAndWait(ext, irp);
            RestoreState(ext, PnpState::kStopPending);
            return CompleteRequest(irp, status, 0);
        }
        case IRP_MN_STOP_DEVICE:
            SetState(ext, PnpState::kStopped, false);
            irp->IoStatus.Status = STATUS_SUCCESS;
            return PassDown(ext, irp);
        case IRP_MN_QUERY_REMOVE_DEVICE:
            if (!EnterQuery(ext, PnpState::kRemovePending)) {
                return CompleteRequest(irp, STATUS_DEVICE_BUSY, 0);
            }
            irp->IoStatus.Status = STATUS_SUCCESS;
            return PassDown(ext, irp);
        case IRP_MN_CANCEL_REMOVE_DEVICE: {
            const NTSTATUS status = ForwardAndWait(ext, irp);
            RestoreState(ext, PnpState::kRemovePending);
            return CompleteRequest(irp, status, 0);
        }
        case IRP_MN_SURPRISE_REMOVAL: {
            {
                SpinLockGuard guard(ext->lock);
                ext->surpriseRemoved = true;
            }
            RemovePortName(ext);
            DisableInterface(ext);
            StopAndFailRequests(ext);
            irp->IoStatus.Status = STATUS_SUCCESS;
            return PassDown(ext, irp);
        }
        case IRP_MN_REMOVE_DEVICE:
            return Remove(ext, irp);
        default:
            return PassDown(ext, irp);
    }
}

}  // namespace ys::vcom
