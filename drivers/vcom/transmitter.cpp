// The asynchronous transmitter: writes go into the transmit ring buffer and complete at once
// when they fit; one transfer at a time takes the buffered bytes to the transmit pipe. Also the
// immediate character, and starting and stopping either transmitter.
#include "drivers/usbpipe/qtxusb.h"
#include "drivers/vcom/device_extension.h"

namespace ys::vcom {

namespace {

NTSTATUS ImmediateComplete(DEVICE_OBJECT*, IRP* lower, void* context) {
    auto* ext = static_cast<VCOM_EXTENSION*>(context);
    IRP* irp = nullptr;
    // Read before the lock is left: a next immediate character may replace `lower` at once.
    const NTSTATUS status = lower->IoStatus.Status;
    {
        SpinLockGuard guard(ext->lock);
        irp = ext->immediateIrp;
        ext->immediateIrp = nullptr;
    }
    if (irp != nullptr) CompleteRequest(irp, status, 0);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// Starts a transfer of what the buffer holds; returns the request to send. Needs `lock`.
IRP* StartTransferLocked(VCOM_EXTENSION* ext, Completions& done) {
    if (!ext->txRunning || ext->txInFlight || !ext->powered || ext->txBuffer.Count() == 0) {
        return nullptr;
    }
    KeCancelTimer(&ext->txKickTimer);
    ext->txTransfer.resize(kMaxTransfer);
    const ULONG n = ext->txBuffer.Get(ext->txTransfer);
    ext->txIrp = BuildLowerWrite(ext, ext->txTransfer.data(), n, &ext->txIosb);
    if (!ext->txIrp) return nullptr;
    IoSetCompletionRoutine(ext->txIrp.get(), TxLowerComplete, ext, true, true, true);
    ext->txInFlight = true;
    ext->txNullPacket = false;
    KeClearEvent(&ext->txIdle);
    FillTxBufferLocked(ext, done);
    return ext->txIrp.get();
}

}  // namespace

void FillTxBufferLocked(VCOM_EXTENSION* ext, Completions& done) {
    for (;;) {
        if (ext->currentWrite == nullptr) {
            if (ext->writeQueue.empty()) return;
            IRP* next = ext->writeQueue.front();
            ext->writeQueue.pop_front();
            if (!ClaimFromCancel(next)) {
                done.push_back({next, STATUS_CANCELLED, 0});
                continue;
            }
            ext->currentWrite = next;
            ext->currentWriteDone = 0;
            IoSetCancelRoutine(next, WriteCancelRoutine);
            const ULONG length = IoGetCurrentIrpStackLocation(next)->Parameters.Write.Length;
            const ULONGLONG ms =
                static_cast<ULONGLONG>(ext->timeouts.WriteTotalTimeoutMultiplier) * length +
                ext->timeouts.WriteTotalTimeoutConstant;
            ext->writeDue = 0;
            if (ms != 0) {
                SetDueTimerLocked(ext, &ext->writeTimer, &ext->writeTimerDpc, ms, &ext->writeDue);
            }
        }
        IRP* irp = ext->currentWrite;
        const ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
        const auto* data = static_cast<const UCHAR*>(irp->AssociatedIrp.SystemBuffer);
        ext->currentWriteDone +=
            ext->txBuffer.Put({data + ext->currentWriteDone, length - ext->currentWriteDone});
        if (ext->currentWriteDone < length) return;
        KeCancelTimer(&ext->writeTimer);
        ext->writeDue = 0;
        ext->currentWrite = nullptr;
        done.push_back({irp, ClaimFromCancel(irp) ? STATUS_SUCCESS : STATUS_CANCELLED, length});
        SignalEventsLocked(ext, SERIAL_EV_TXEMPTY, done);
    }
}

void AsyncWriteLocked(VCOM_EXTENSION* ext, IRP* irp, Completions& done) {
    ext->writeQueue.push_back(irp);
    IoSetCancelRoutine(irp, WriteCancelRoutine);
    if (irp->Cancel && ClaimFromCancel(irp)) {
        ext->writeQueue.pop_back();
        done.push_back({irp, STATUS_CANCELLED, 0});
        return;
    }
    FillTxBufferLocked(ext, done);
}

void KickTransmitter(VCOM_EXTENSION* ext) {
    Completions done;
    IRP* issue = nullptr;
    {
        SpinLockGuard guard(ext->lock);
        issue = StartTransferLocked(ext, done);
    }
    CompleteAll(done);
    if (issue != nullptr) IoCallDriver(ext->lowerDevice, issue);
}

void TxKickDpcRoutine(KDPC*, void* context, void*, void*) {
    KickTransmitter(static_cast<VCOM_EXTENSION*>(context));
}

void AsyncTxDone(VCOM_EXTENSION* ext) {
    Completions done;
    IRP* issue = nullptr;
    {
        SpinLockGuard guard(ext->lock);
        ext->txIrp.reset();
        ext->txInFlight = false;
        const bool wasNullPacket = ext->txNullPacket;
        ext->txNullPacket = false;
        const auto n = static_cast<ULONG>(ext->txInformation);
        if (!wasNullPacket && NT_SUCCESS(ext->txStatus)) ext->stats.TransmittedCount += n;
        FillTxBufferLocked(ext, done);
        const ULONG count = ext->txBuffer.Count();
        if (ext->txRunning && ext->powered) {
            if (count >= ext->txKickThreshold) {
                issue = StartTransferLocked(ext, done);
            } else if (count > 0) {
                KeSetTimer(&ext->txKickTimer, RelativeMs(10), &ext->txKickDpc);
            } else if (!wasNullPacket && NT_SUCCESS(ext->txStatus) && ext->txAllowNullPacket == 1 &&
                       n != 0 && n % ext->txPipe.packetSize == 0) {
                ext->txIrp = BuildLowerWrite(ext, nullptr, 0, &ext->txIosb);
                if (ext->txIrp) {
                    IoSetCompletionRoutine(ext->txIrp.get(), TxLowerComplete, ext, true, true,
                                           true);
                    ext->txInFlight = true;
                    ext->txNullPacket = true;
                    issue = ext->txIrp.get();
                }
            }
        }
        if (issue == nullptr) KeSetEvent(&ext->txIdle, IO_NO_INCREMENT, false);
    }
    CompleteAll(done);
    if (issue != nullptr) IoCallDriver(ext->lowerDevice, issue);
}

void StartTransmitter(VCOM_EXTENSION* ext) {
    {
        SpinLockGuard guard(ext->lock);
        ext->txRunning = true;
    }
    if (ext->txAsync == 1) {
        KickTransmitter(ext);
    } else {
        StartNextSyncWrite(ext);
    }
}

void StopTransmitter(VCOM_EXTENSION* ext, bool wait) {
    std::shared_ptr<IRP> inFlight;
    {
        SpinLockGuard guard(ext->lock);
        ext->txRunning = false;
        KeCancelTimer(&ext->txKickTimer);
        if (ext->txInFlight) inFlight = ext->txIrp;
    }
    if (!wait) {
        if (inFlight != nullptr) IoCancelIrp(inFlight.get());
        return;
    }
    if (ext->txPipe.open) {
        LowerIoctl(ext, &ext->txPipe, usbpipe::IOCTL_QTXUSB_ABORT_PIPE, nullptr, 0, nullptr, 0);
    }
    for (;;) {
        {
            SpinLockGuard guard(ext->lock);
            if (!ext->txInFlight) break;
            inFlight = ext->txIrp;
        }
        IoCancelIrp(inFlight.get());
        const LARGE_INTEGER timeout = RelativeMs(10);
        KeWaitForSingleObject(&ext->txIdle, Executive, KernelMode, false, &timeout);
    }
    if (ext->txPipe.open) {
        LowerIoctl(ext, &ext->txPipe, usbpipe::IOCTL_QTXUSB_RESET_PIPE, nullptr, 0, nullptr, 0);
    }
}

NTSTATUS SendImmediateChar(VCOM_EXTENSION* ext, IRP* irp, UCHAR c) {
    IRP* issue = nullptr;
    {
        SpinLockGuard guard(ext->lock);
        if (ext->immediateIrp != nullptr || !ext->txPipe.open) {
            return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
        }
        ext->immediateChar = c;
        ext->immediateLower = BuildLowerWrite(ext, &ext->immediateChar, 1, &ext->immediateIosb);
        if (!ext->immediateLower) return CompleteRequest(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        IoSetCompletionRoutine(ext->immediateLower.get(), ImmediateComplete, ext, true, true, true);
        ext->immediateIrp = irp;
        IoMarkIrpPending(irp);
        issue = ext->immediateLower.get();
    }
    IoCallDriver(ext->lowerDevice, issue);
    return STATUS_PENDING;
}

}  // namespace ys::vcom
