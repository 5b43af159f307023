// Status polling: the line-state byte of the status pipe, read every CtlPollPeriod ms, turned into
// the modem status and its change events.
#include "drivers/usbpipe/qtxusb.h"
#include "drivers/vcom/device_extension.h"

namespace ys::vcom {

namespace {

NTSTATUS PollComplete(DEVICE_OBJECT*, IRP* irp, void* context) {
    auto* ext = static_cast<VCOM_EXTENSION*>(context);
    const NTSTATUS status = irp->IoStatus.Status;
    Completions done;
    {
        SpinLockGuard guard(ext->lock);
        ext->pollOutstanding = false;
        KeSetEvent(&ext->pollIdle, IO_NO_INCREMENT, false);
        if (!ext->pollRunning || (!NT_SUCCESS(status) && status != STATUS_CANCELLED)) {
            ext->pollRunning = false;
            return STATUS_MORE_PROCESSING_REQUIRED;
        }
        if (NT_SUCCESS(status) && irp->IoStatus.Information >= 1) {
            const ULONG now = ModemStatusFromLineState(ext->pollByte);
            const ULONG changed = now ^ ext->modemStatus;
            ext->modemStatus = now;
            ULONG events = 0;
            if (changed & SERIAL_MSR_CTS) events |= SERIAL_EV_CTS;
            if (changed & SERIAL_MSR_DSR) events |= SERIAL_EV_DSR;
            if (changed & SERIAL_MSR_DCD) events |= SERIAL_EV_RLSD;
            if (changed & SERIAL_MSR_RI) events |= SERIAL_EV_RING;
            if (events != 0) SignalEventsLocked(ext, events, done);
        }
        if (ext->ctlPollPeriod <= 0) {
            KeInsertQueueDpc(&ext->pollDpc, nullptr, nullptr);
        } else {
            KeSetTimer(&ext->pollTimer, RelativeMs(ext->ctlPollPeriod), &ext->pollDpc);
        }
    }
    CompleteAll(done);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

ULONG ModemStatusFromLineState(UCHAR lineState) {
    ULONG status = 0;
    if (lineState & 0x01) status |= SERIAL_MSR_CTS;
    if (lineState & 0x02) status |= SERIAL_MSR_DSR;
    if (lineState & 0x04) status |= SERIAL_MSR_DCD;
    if (lineState & 0x08) status |= SERIAL_MSR_RI;
    return status;
}

void PollDpcRoutine(KDPC*, void* context, void*, void*) {
    auto* ext = static_cast<VCOM_EXTENSION*>(context);
    IRP* issue = nullptr;
    {
        SpinLockGuard guard(ext->lock);
        if (!ext->pollRunning || ext->pollOutstanding) return;
        ext->pollIrp = BuildLowerRead(ext, ext->statusPipe, &ext->pollByte, 1, &ext->pollIosb);
        if (!ext->pollIrp) {
            ext->pollRunning = false;
            return;
        }
        IoSetCompletionRoutine(ext->pollIrp.get(), PollComplete, ext, true, true, true);
        ext->pollOutstanding = true;
        KeClearEvent(&ext->pollIdle);
        issue = ext->pollIrp.get();
    }
    IoCallDriver(ext->lowerDevice, issue);
}

void StartStatusPolling(VCOM_EXTENSION* ext) {
    SpinLockGuard guard(ext->lock);
    if (!ext->statusPipe.open || ext->ctlPollPeriod < 0 || ext->pollRunning) return;
    ext->pollRunning = true;
    if (!ext->pollOutstanding) KeInsertQueueDpc(&ext->pollDpc, nullptr, nullptr);
}

void StopStatusPolling(VCOM_EXTENSION* ext, bool wait) {
    std::shared_ptr<IRP> inFlight;
    {
        SpinLockGuard guard(ext->lock);
        ext->pollRunning = false;
        KeCancelTimer(&ext->pollTimer);
        KeRemoveQueueDpc(&ext->pollDpc);
        if (ext->pollOutstanding) inFlight = ext->pollIrp;
    }
    if (!wait) {
        if (inFlight != nullptr) IoCancelIrp(inFlight.get());
        return;
    }
    if (ext->statusPipe.open) {
        LowerIoctl(ext, &ext->statusPipe, usbpipe::IOCTL_QTXUSB_ABORT_PIPE, nullptr, 0, nullptr, 0);
    }
    for (;;) {
        {
            SpinLockGuard guard(ext->lock);
            if (!ext->pollOutstanding) break;
            inFlight = ext->pollIrp;
        }
        IoCancelIrp(inFlight.get());
        const LARGE_INTEGER timeout = RelativeMs(10);
        KeWaitForSingleObject(&ext->pollIdle, Executive, KernelMode, false, &timeout);
    }
    if (ext->statusPipe.open) {
        LowerIoctl(ext, &ext->statusPipe, usbpipe::IOCTL_QTXUSB_RESET_PIPE, nullptr, 0, nullptr, 0);
    }
}

}  // namespace ys::vcom
