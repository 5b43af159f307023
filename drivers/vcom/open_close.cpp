// Opening and closing the port: the pipes behind it, the packet sizes, the open and close
// commands to the device, and the cleanup of a handle's requests.
#include <cstring>

#include "drivers/usbpipe/qtxusb.h"
#include "drivers/vcom/device_extension.h"

namespace ys::vcom {

namespace {

ULONG PacketSize(VCOM_EXTENSION* ext, LowerPipe& pipe) {
    ULONG size = 0;
    if (!NT_SUCCESS(LowerIoctl(ext, &pipe, usbpipe::IOCTL_QTXUSB_GET_MAX_PACKET_SIZE, nullptr, 0,
                               &size, sizeof size))) {
        size = 0;
    }
    return size == 0 ? kDefaultPacketSize : size;
}

ULONG RoundUp(ULONG value, ULONG packet) {
    const ULONG packets = value == 0 ? 1 : (value + packet - 1) / packet;
    return packets * packet;
}

void CloseAllPipes(VCOM_EXTENSION* ext) {
    CloseLowerPipe(ext, ext->statusPipe);
    CloseLowerPipe(ext, ext->rxPipe);
    CloseLowerPipe(ext, ext->txPipe);
}

NTSTATUS OpenPort(VCOM_EXTENSION* ext) {
    const PortTurn turn(ext);
    {
        SpinLockGuard guard(ext->lock);
        if (ext->openCount > 0) return STATUS_ACCESS_DENIED;
        // A stop or removal that has been queried waits for no port: none is opened meanwhile.
        if (ext->pnpState == PnpState::kStopPending || ext->pnpState == PnpState::kRemovePending) {
            return STATUS_DELETE_PENDING;
        }
        ext->openCount = 1;
    }
    NTSTATUS status = OpenLowerPipe(ext, ext->txPipe);
    if (NT_SUCCESS(status)) status = OpenLowerPipe(ext, ext->rxPipe);
    if (NT_SUCCESS(status) && ext->endPointCaps != 0 && ext->ctlPollPeriod != -1) {
        const NTSTATUS s = OpenLowerPipe(ext, ext->statusPipe);
        if (!NT_SUCCESS(s)) {
            // Polling is off for good; the modem status keeps its fixed value.
            ext->ctlPollPeriod = -1;
            if (s != STATUS_INVALID_HANDLE) status = s;
        }
    }
    if (!NT_SUCCESS(status)) {
        CloseAllPipes(ext);
        SpinLockGuard guard(ext->lock);
        ext->openCount = 0;
        return status;
    }

    for (LowerPipe* pipe : {&ext->txPipe, &ext->rxPipe, &ext->statusPipe}) {
        if (pipe->open) {
            LowerIoctl(ext, pipe, usbpipe::IOCTL_QTXUSB_RESET_PIPE, nullptr, 0, nullptr, 0);
        }
    }
    ext->txPipe.packetSize = PacketSize(ext, ext->txPipe);
    ext->rxPipe.packetSize = PacketSize(ext, ext->rxPipe);
    {
        SpinLockGuard guard(ext->lock);
        ext->rxBuffer.Recreate(kDefaultQueueSize);
        ext->inQueueSize = kDefaultQueueSize;
        ext->rxAccepting = true;
        ext->rxLeftOffset = ext->rxLeftCount = 0;
        ext->txKickThreshold = RoundUp(ext->txKickThresholdSetting, ext->txPipe.packetSize);
        ext->rxReqSize = RoundUp(ext->rxReqSizeSetting, ext->rxPipe.packetSize);
        ext->rxRequestBuffer.assign(ext->rxReqSize, 0);
        ext->txBuffer.Clear();
    }

    SendVendorCommand(ext, usb::VendorCommand::kOpenPort, {usb::kPortOpened});
    SendVendorCommand(ext, usb::VendorCommand::kSetControlLines,
                      {usb::kControlDtr | usb::kControlRts});
    {
        SpinLockGuard guard(ext->lock);
        ext->modemControl = usb::kControlDtr | usb::kControlRts;
        ext->portOpen = true;
    }
    StartTransmitter(ext);
    StartReceiver(ext);
    StartStatusPolling(ext);
    return STATUS_SUCCESS;
}

void ClosePort(VCOM_EXTENSION* ext) {
    const PortTurn turn(ext);
    bool open = false;
    {
        SpinLockGuard guard(ext->lock);
        open = ext->openCount > 0;
        ext->portOpen = false;
    }
    if (!open) return;
    StopStatusPolling(ext, true);
    StopReceiver(ext, true);
    StopTransmitter(ext, true);
    CancelReads(ext, STATUS_CANCELLED);
    CancelWrites(ext, STATUS_CANCELLED);
    {
        SpinLockGuard guard(ext->lock);
        ext->rxBuffer.Clear();
        ext->rxLeftOffset = ext->rxLeftCount = 0;
        ext->rxAccepting = true;
    }
    SendVendorCommand(ext, usb::VendorCommand::kOpenPort, {usb::kPortClosed});
    CloseAllPipes(ext);
    SpinLockGuard guard(ext->lock);
    ext->rxRequestBuffer.clear();
    ext->rxRequestBuffer.shrink_to_fit();
    ext->openCount = 0;
}

}  // namespace

bool IsGone(VCOM_EXTENSION* ext) {
    SpinLockGuard guard(ext->lock);
    return ext->removed || ext->surpriseRemoved;
}

bool PortIsOpen(VCOM_EXTENSION* ext) {
    SpinLockGuard guard(ext->lock);
    return ext->openCount > 0;
}

NTSTATUS VcomDispatchCreateClose(DEVICE_OBJECT* device, IRP* irp) {
    VCOM_EXTENSION* ext = Extension(device);
    RemoveLockHolder hold(ext->removeLock, irp);
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CLOSE) {
        // A handle can always be closed; once removal has begun, it has closed the port.
        if (hold.held()) ClosePort(ext);
        return CompleteRequest(irp, STATUS_SUCCESS, 0);
    }
    if (!hold.held() || IsGone(ext)) return CompleteRequest(irp, STATUS_DELETE_PENDING, 0);
    return CompleteRequest(irp, OpenPort(ext), 0);
}

NTSTATUS VcomDispatchCleanup(DEVICE_OBJECT* device, IRP* irp) {
    VCOM_EXTENSION* ext = Extension(device);
    RemoveLockHolder hold(ext->removeLock, irp);
    // Once removal has begun it has ended every request of the port.
    if (!hold.held()) return CompleteRequest(irp, STATUS_SUCCESS, 0);
    StopStatusPolling(ext, true);
    CancelReads(ext, STATUS_CANCELLED);
    StopTransmitter(ext, true);
    CancelWrites(ext, STATUS_CANCELLED);
    Completions done;
    {
        SpinLockGuard guard(ext->lock);
        ext->txBuffer.Clear();
        if (ext->pendingWait != nullptr) {
            IRP* wait = ext->pendingWait;
            ext->pendingWait = nullptr;
            const ULONG none = 0;
            if (ClaimFromCancel(wait)) {
                std::memcpy(wait->AssociatedIrp.SystemBuffer, &none, sizeof none);
                done.push_back({wait, STATUS_SUCCESS, sizeof none});
            } else {
                done.push_back({wait, STATUS_CANCELLED, 0});
            }
        }
    }
    CompleteAll(done);
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

void ReopenAfterPowerUp(VCOM_EXTENSION* ext) {
    bool open = false;
    {
        SpinLockGuard guard(ext->lock);
        ext->powered = true;
        open = ext->portOpen;
    }
    if (!open) return;
    SendVendorCommand(ext, usb::VendorCommand::kOpenPort, {usb::kPortOpened});
    SendVendorCommand(ext, usb::VendorCommand::kSetControlLines,
                      {usb::kControlDtr | usb::kControlRts});
    {
        SpinLockGuard guard(ext->lock);
        ext->modemControl = usb::kControlDtr | usb::kControlRts;
    }
    SendLineSettings(ext);
    StartStatusPolling(ext);
    StartReceiver(ext);
    {
        SpinLockGuard guard(ext->lock);
        ext->txBuffer.Clear();
    }
    StartTransmitter(ext);
}

}  // namespace ys::vcom
