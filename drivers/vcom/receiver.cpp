// The receiver: one read of RxReqSize bytes on the receive pipe at a time, its bytes into the
// receive ring buffer (with the stop and restart marks), then the next cycle.
#include <algorithm>
#include <cstring>

#include "drivers/usbpipe/qtxusb.h"
#include "drivers/vcom/device_extension.h"

namespace ys::vcom {

namespace {

void ScheduleCycleLocked(VCOM_EXTENSION* ext, ULONG delayMs) {
    ext->rxScheduled = true;
    if (delayMs == 0) {
        KeInsertQueueDpc(&ext->rxDpc, nullptr, nullptr);
    } else {
        KeSetTimer(&ext->rxTimer, RelativeMs(delayMs), &ext->rxDpc);
    }
}

// Offers the bytes left in the receive request buffer to the ring buffer.
void DeliverLeftoverLocked(VCOM_EXTENSION* ext, Completions& done) {
    if (!ext->rxAccepting || ext->rxLeftCount == 0) return;
    const std::span<const UCHAR> bytes(ext->rxRequestBuffer.data() + ext->rxLeftOffset,
                                       ext->rxLeftCount);
    ULONG events = 0;
    // The fill level that raises the 80 % event is the one the new bytes find.
    const ULONG size = ext->rxBuffer.Size();
    if (static_cast<ULONGLONG>(ext->rxBuffer.Count()) * 100 > static_cast<ULONGLONG>(size) * 79) {
        events |= SERIAL_EV_RX80FULL;
    }
    const ULONG taken = ext->rxBuffer.Put(bytes);
    if (std::find(bytes.begin(), bytes.begin() + taken, ext->chars.EventChar) !=
        bytes.begin() + taken) {
        events |= SERIAL_EV_RXFLAG;
    }
    ext->rxLeftOffset += taken;
    ext->rxLeftCount -= taken;
    if (size - ext->rxBuffer.Count() <= size / 8) ext->rxAccepting = false;
    if (events != 0) SignalEventsLocked(ext, events, done);
}

NTSTATUS RxComplete(DEVICE_OBJECT*, IRP* irp, void* context) {
    auto* ext = static_cast<VCOM_EXTENSION*>(context);
    const NTSTATUS status = irp->IoStatus.Status;
    const auto n = static_cast<ULONG>(irp->IoStatus.Information);
    Completions done;
    {
        SpinLockGuard guard(ext->lock);
        ext->rxOutstanding = false;
        KeSetEvent(&ext->rxIdle, IO_NO_INCREMENT, false);
        const bool data = NT_SUCCESS(status) && n > 0;
        if (data) {
            // Taken even when the receiver is being stopped: these bytes have left the device.
            ext->stats.ReceivedCount += n;
            SignalEventsLocked(ext, SERIAL_EV_RXCHAR, done);
            ext->rxLeftOffset = 0;
            ext->rxLeftCount = n;
            DeliverLeftoverLocked(ext, done);
            ServeReadsLocked(ext, done);
        }
        if (!ext->rxRunning || (!NT_SUCCESS(status) && status != STATUS_CANCELLED)) {
            ext->rxRunning = false;
        } else {
            ULONG delay = 0;
            if (data) {
                if (ext->rxPollPeriod != 0) {
                    delay = ext->rxPollPeriod;
                } else if (ext->rxLeftCount > 0 || !ext->rxAccepting) {
                    delay = 5;
                }
            } else {
                delay = ext->rxPollPeriod != 0 ? 10 : 0;
            }
            ScheduleCycleLocked(ext, delay);
        }
    }
    CompleteAll(done);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

void RxDpcRoutine(KDPC*, void* context, void*, void*) {
    auto* ext = static_cast<VCOM_EXTENSION*>(context);
    Completions done;
    IRP* issue = nullptr;
    {
        SpinLockGuard guard(ext->lock);
        ext->rxScheduled = false;
        if (!ext->rxRunning || ext->rxOutstanding) return;
        if (ext->rxLeftCount > 0) {
            DeliverLeftoverLocked(ext, done);
            ServeReadsLocked(ext, done);
        }
        if (ext->rxLeftCount > 0) {
            ScheduleCycleLocked(ext, ext->rxPollPeriod != 0 ? ext->rxPollPeriod : 5);
        } else {
            ext->rxIrp = BuildLowerRead(ext, ext->rxPipe, ext->rxRequestBuffer.data(),
                                        ext->rxReqSize, &ext->rxIosb);
            if (ext->rxIrp) {
                IoSetCompletionRoutine(ext->rxIrp.get(), RxComplete, ext, true, true, true);
                ext->rxOutstanding = true;
                KeClearEvent(&ext->rxIdle);
                issue = ext->rxIrp.get();
            } else {
                ext->rxRunning = false;
            }
        }
    }
    CompleteAll(done);
    if (issue != nullptr) IoCallDriver(ext->lowerDevice, issue);
}

void StartReceiver(VCOM_EXTENSION* ext) {
    SpinLockGuard guard(ext->lock);
    if (ext->rxRunning || ext->rxRequestBuffer.empty()) return;
    ext->rxRunning = true;
    if (!ext->rxOutstanding && !ext->rxScheduled) ScheduleCycleLocked(ext, 0);
}

void StopReceiver(VCOM_EXTENSION* ext, bool wait) {
    std::shared_ptr<IRP> inFlight;
    {
        SpinLockGuard guard(ext->lock);
        ext->rxRunning = false;
        KeCancelTimer(&ext->rxTimer);
        KeRemoveQueueDpc(&ext->rxDpc);
        ext->rxScheduled = false;
        if (ext->rxOutstanding) inFlight = ext->rxIrp;
    }
    if (!wait) {
        if (inFlight != nullptr) IoCancelIrp(inFlight.get());
        return;
    }
    if (ext->rxPipe.open) {
        LowerIoctl(ext, &ext->rxPipe, usbpipe::IOCTL_QTXUSB_ABORT_PIPE, nullptr, 0, nullptr, 0);
    }
    for (;;) {
        {
            SpinLockGuard guard(ext->lock);
            if (!ext->rxOutstanding) break;
            inFlight = ext->rxIrp;
        }
        IoCancelIrp(inFlight.get());
        const LARGE_INTEGER timeout = RelativeMs(10);
        KeWaitForSingleObject(&ext->rxIdle, Executive, KernelMode, false, &timeout);
    }
    if (ext->rxPipe.open) {
        LowerIoctl(ext, &ext->rxPipe, usbpipe::IOCTL_QTXUSB_RESET_PIPE, nullptr, 0, nullptr, 0);
    }
}

void RxBufferDrainedLocked(VCOM_EXTENSION* ext) {
    if (!ext->rxAccepting && ext->rxBuffer.Count() <= ext->rxBuffer.Size() / 2) {
        ext->rxAccepting = true;
    }
}

void SignalEventsLocked(VCOM_EXTENSION* ext, ULONG events, Completions& done) {
    ext->events |= events;
    IRP* wait = ext->pendingWait;
    if (wait == nullptr || (ext->events & ext->waitMask) == 0) return;
    const ULONG matched = ext->events & ext->waitMask;
    ext->events = 0;
    ext->pendingWait = nullptr;
    // Whoever takes a request out of the driver's state completes it; a cancel routine already
    // under way finds nothing and leaves it to this path.
    if (!ClaimFromCancel(wait)) {
        done.push_back({wait, STATUS_CANCELLED, 0});
        return;
    }
    std::memcpy(wait->AssociatedIrp.SystemBuffer, &matched, sizeof matched);
    done.push_back({wait, STATUS_SUCCESS, sizeof matched});
}

}  // namespace ys::vcom
