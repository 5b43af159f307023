// Read and write requests: reads served from the receive buffer with the read modes and
// time-outs, the synchronous write queue, and flushing.
#include <algorithm>

#include "drivers/vcom/device_extension.h"

namespace ys::vcom {

namespace {

VCOM_EXTENSION* FromIrp(IRP* irp) {
    return static_cast<VCOM_EXTENSION*>(irp->Tail.Overlay.DriverContext[0]);
}

ULONG LengthOf(IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    return stack->MajorFunction == IRP_MJ_READ ? stack->Parameters.Read.Length
                                               : stack->Parameters.Write.Length;
}

UCHAR* BufferOf(IRP* irp) {
    return static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
}

bool IntervalActive(const VCOM_EXTENSION* ext) {
    const ULONG i = ext->timeouts.ReadIntervalTimeout;
    return i != 0 && i != MAXULONG;
}

void StopReadTimersLocked(VCOM_EXTENSION* ext) {
    KeCancelTimer(&ext->readTotalTimer);
    KeCancelTimer(&ext->readIntervalTimer);
    ext->readTotalDue = 0;
    ext->readIntervalDue = 0;
}

void StartTotalTimeoutLocked(VCOM_EXTENSION* ext, ULONG length) {
    KeCancelTimer(&ext->readTotalTimer);
    ext->readTotalDue = 0;
    ULONGLONG ms = 0;
    if (ext->readMode == ReadMode::kFirstByte) {
        ms = ext->timeouts.ReadTotalTimeoutConstant;
    } else if (ext->readMode == ReadMode::kTotal) {
        ms = static_cast<ULONGLONG>(ext->timeouts.ReadTotalTimeoutMultiplier) * length +
             ext->timeouts.ReadTotalTimeoutConstant;
    }
    if (ms != 0) {
        SetDueTimerLocked(ext, &ext->readTotalTimer, &ext->readTotalDpc, ms, &ext->readTotalDue);
    }
}

void ReadCancelRoutine(DEVICE_OBJECT*, IRP* irp);

void FinishCurrentReadLocked(VCOM_EXTENSION* ext, NTSTATUS status, Completions& done) {
    IRP* irp = ext->currentRead;
    StopReadTimersLocked(ext);
    ext->currentRead = nullptr;
    done.push_back({irp, ClaimFromCancel(irp) ? status : STATUS_CANCELLED, ext->currentReadCount});
    ext->currentReadCount = 0;
}

void StartNextReadLocked(VCOM_EXTENSION* ext, Completions& done);

// Makes `irp` the read in progress or completes it from the buffer at once.
void StartReadLocked(VCOM_EXTENSION* ext, IRP* irp, Completions& done) {
    const ULONG length = LengthOf(irp);
    const ULONG available = ext->rxBuffer.Count();
    if (available >= length || ext->readMode == ReadMode::kImmediate ||
        (ext->readMode == ReadMode::kFirstByte && available > 0)) {
        const ULONG n = ext->rxBuffer.Get({BufferOf(irp), length});
        RxBufferDrainedLocked(ext);
        // Fresh from dispatch or already taken from the queue: no cancel routine to clear.
        done.push_back({irp, STATUS_SUCCESS, n});
        return;
    }
    ext->currentRead = irp;
    ext->currentReadCount = 0;
    StartTotalTimeoutLocked(ext, length);
    IoSetCancelRoutine(irp, ReadCancelRoutine);
    if (irp->Cancel && ClaimFromCancel(irp)) {
        FinishCurrentReadLocked(ext, STATUS_CANCELLED, done);
        StartNextReadLocked(ext, done);
        return;
    }
    ServeReadsLocked(ext, done);
}

void StartNextReadLocked(VCOM_EXTENSION* ext, Completions& done) {
    while (ext->currentRead == nullptr && !ext->readQueue.empty()) {
        IRP* next = ext->readQueue.front();
        ext->readQueue.pop_front();
        if (!ClaimFromCancel(next)) {
            done.push_back({next, STATUS_CANCELLED, 0});
            continue;
        }
        StartReadLocked(ext, next, done);
    }
}

void ReadCancelRoutine(DEVICE_OBJECT*, IRP* irp) {
    // Read while the cancel lock holds off a path that completes the request as cancelled.
    VCOM_EXTENSION* ext = FromIrp(irp);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    Completions done;
    {
        SpinLockGuard guard(ext->lock);
        if (irp == ext->currentRead) {
            StopReadTimersLocked(ext);
            ext->currentRead = nullptr;
            done.push_back({irp, STATUS_CANCELLED, ext->currentReadCount});
            ext->currentReadCount = 0;
            StartNextReadLocked(ext, done);
        } else {
            auto it = std::find(ext->readQueue.begin(), ext->readQueue.end(), irp);
            if (it != ext->readQueue.end()) {
                ext->readQueue.erase(it);
                done.push_back({irp, STATUS_CANCELLED, 0});
            }
        }
    }
    CompleteAll(done);
}

void ReadTimeoutDpc(VCOM_EXTENSION* ext) {
    Completions done;
    {
        SpinLockGuard guard(ext->lock);
        const LONGLONG now = ext->dispatcher.Now();
        const bool expired = (ext->readTotalDue != 0 && now >= ext->readTotalDue) ||
                             (ext->readIntervalDue != 0 && now >= ext->readIntervalDue);
        if (ext->currentRead == nullptr || !expired) return;  // a timer restarted meanwhile
        FinishCurrentReadLocked(ext, STATUS_TIMEOUT, done);
        StartNextReadLocked(ext, done);
    }
    CompleteAll(done);
}

NTSTATUS DispatchRead(VCOM_EXTENSION* ext, IRP* irp) {
    Completions done;
    bool pending = false;
    {
        SpinLockGuard guard(ext->lock);
        if (ext->currentRead != nullptr || !ext->readQueue.empty()) {
            IoMarkIrpPending(irp);
            ext->readQueue.push_back(irp);
            IoSetCancelRoutine(irp, ReadCancelRoutine);
            if (irp->Cancel && ClaimFromCancel(irp)) {
                ext->readQueue.pop_back();
                done.push_back({irp, STATUS_CANCELLED, 0});
            }
            pending = true;
        } else {
            StartReadLocked(ext, irp, done);
            pending = ext->currentRead == irp;
            if (pending) IoMarkIrpPending(irp);
        }
    }
    if (!pending) {
        // Completed at once: the status goes back to the caller as well.
        NTSTATUS status = STATUS_SUCCESS;
        for (const Completion& c : done) {
            if (c.irp == irp) status = c.status;
        }
        CompleteAll(done);
        return status;
    }
    CompleteAll(done);
    return STATUS_PENDING;
}

NTSTATUS DispatchWrite(VCOM_EXTENSION* ext, IRP* irp) {
    Completions done;
    {
        SpinLockGuard guard(ext->lock);
        IoMarkIrpPending(irp);
        if (ext->txAsync == 1) {
            AsyncWriteLocked(ext, irp, done);
        } else {
            ext->writeQueue.push_back(irp);
            IoSetCancelRoutine(irp, WriteCancelRoutine);
            if (irp->Cancel && ClaimFromCancel(irp)) {
                ext->writeQueue.pop_back();
                done.push_back({irp, STATUS_CANCELLED, 0});
            }
        }
    }
    CompleteAll(done);
    if (ext->txAsync == 1) {
        KickTransmitter(ext);
    } else {
        StartNextSyncWrite(ext);
    }
    return STATUS_PENDING;
}

}  // namespace

void SetDueTimerLocked(VCOM_EXTENSION* ext, KTIMER* timer, KDPC* dpc, ULONGLONG ms, LONGLONG* due) {
    *due = ext->dispatcher.Now() + static_cast<LONGLONG>(ms) * 10000;
    KeSetTimer(timer, RelativeMs(static_cast<LONGLONG>(ms)), dpc);
}

void ReadTotalDpcRoutine(KDPC*, void* context, void*, void*) {
    ReadTimeoutDpc(static_cast<VCOM_EXTENSION*>(context));
}

void ReadIntervalDpcRoutine(KDPC*, void* context, void*, void*) {
    ReadTimeoutDpc(static_cast<VCOM_EXTENSION*>(context));
}

void ServeReadsLocked(VCOM_EXTENSION* ext, Completions& done) {
    while (ext->currentRead != nullptr) {
        IRP* irp = ext->currentRead;
        const ULONG length = LengthOf(irp);
        const ULONG n = ext->rxBuffer.Get(
            {BufferOf(irp) + ext->currentReadCount, length - ext->currentReadCount});
        ext->currentReadCount += n;
        if (n > 0) {
            RxBufferDrainedLocked(ext);
            if (IntervalActive(ext)) {
                KeCancelTimer(&ext->readIntervalTimer);
                SetDueTimerLocked(ext, &ext->readIntervalTimer, &ext->readIntervalDpc,
                                  ext->timeouts.ReadIntervalTimeout, &ext->readIntervalDue);
            }
        }
        const bool full = ext->currentReadCount == length;
        const bool early = n > 0 && (ext->readMode == ReadMode::kImmediate ||
                                     ext->readMode == ReadMode::kFirstByte);
        if (!full && !early) return;
        FinishCurrentReadLocked(ext, STATUS_SUCCESS, done);
        StartNextReadLocked(ext, done);
    }
}

void RestartReadTimeoutLocked(VCOM_EXTENSION* ext) {
    if (ext->currentRead != nullptr) StartTotalTimeoutLocked(ext, LengthOf(ext->currentRead));
}

void CancelReads(VCOM_EXTENSION* ext, NTSTATUS status) {
    Completions done;
    {
        SpinLockGuard guard(ext->lock);
        if (ext->currentRead != nullptr) FinishCurrentReadLocked(ext, status, done);
        for (IRP* irp : ext->readQueue) {
            done.push_back({irp, ClaimFromCancel(irp) ? status : STATUS_CANCELLED, 0});
        }
        ext->readQueue.clear();
    }
    CompleteAll(done);
}

void CancelWrites(VCOM_EXTENSION* ext, NTSTATUS status) {
    Completions done;
    std::shared_ptr<IRP> lower;
    {
        SpinLockGuard guard(ext->lock);
        for (IRP* irp : ext->writeQueue) {
            done.push_back({irp, ClaimFromCancel(irp) ? status : STATUS_CANCELLED, 0});
        }
        ext->writeQueue.clear();
        if (ext->currentWrite != nullptr) {
            if (ext->txAsync == 1) {
                KeCancelTimer(&ext->writeTimer);
                IRP* irp = ext->currentWrite;
                ext->currentWrite = nullptr;
                done.push_back(
                    {irp, ClaimFromCancel(irp) ? status : STATUS_CANCELLED, ext->currentWriteDone});
            } else if (ext->txInFlight && !ext->txNullPacket) {
                // The write completes from its lower request's completion.
                lower = ext->txIrp;
            }
        }
    }
    CompleteAll(done);
    if (lower != nullptr) IoCancelIrp(lower.get());
}

void WriteCancelRoutine(DEVICE_OBJECT*, IRP* irp) {
    // Read while the cancel lock holds off a path that completes the request as cancelled.
    VCOM_EXTENSION* ext = FromIrp(irp);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    Completions done;
    std::shared_ptr<IRP> lower;
    {
        SpinLockGuard guard(ext->lock);
        auto it = std::find(ext->writeQueue.begin(), ext->writeQueue.end(), irp);
        if (it != ext->writeQueue.end()) {
            ext->writeQueue.erase(it);
            done.push_back({irp, STATUS_CANCELLED, 0});
        } else if (irp == ext->currentWrite) {
            if (ext->txAsync == 1) {
                KeCancelTimer(&ext->writeTimer);
                ext->currentWrite = nullptr;
                done.push_back({irp, STATUS_CANCELLED, ext->currentWriteDone});
            } else if (ext->txInFlight && !ext->txNullPacket) {
                lower = ext->txIrp;
            }
        }
    }
    CompleteAll(done);
    if (lower != nullptr) IoCancelIrp(lower.get());
}

void WriteTimerDpcRoutine(KDPC*, void* context, void*, void*) {
    auto* ext = static_cast<VCOM_EXTENSION*>(context);
    Completions done;
    std::shared_ptr<IRP> lower;
    {
        SpinLockGuard guard(ext->lock);
        if (ext->currentWrite == nullptr || ext->writeDue == 0 ||
            ext->dispatcher.Now() < ext->writeDue) {
            return;
        }
        ext->writeDue = 0;
        if (ext->txAsync == 1) {
            IRP* irp = ext->currentWrite;
            ext->currentWrite = nullptr;
            done.push_back({irp, ClaimFromCancel(irp) ? STATUS_TIMEOUT : STATUS_CANCELLED,
                            ext->currentWriteDone});
            FillTxBufferLocked(ext, done);
        } else {
            ext->writeTimedOut = true;
            if (ext->txInFlight && !ext->txNullPacket) lower = ext->txIrp;
        }
    }
    CompleteAll(done);
    if (lower != nullptr) IoCancelIrp(lower.get());
}

void StartNextSyncWrite(VCOM_EXTENSION* ext) {
    Completions done;
    IRP* issue = nullptr;
    {
        SpinLockGuard guard(ext->lock);
        while (ext->currentWrite == nullptr && !ext->txInFlight && ext->txRunning &&
               !ext->writeQueue.empty()) {
            IRP* irp = ext->writeQueue.front();
            ext->writeQueue.pop_front();
            if (!ClaimFromCancel(irp)) {
                done.push_back({irp, STATUS_CANCELLED, 0});
                continue;
            }
            const ULONG length = LengthOf(irp);
            ext->txIrp = BuildLowerWrite(ext, BufferOf(irp), length, &ext->txIosb);
            if (!ext->txIrp) {
                done.push_back({irp, STATUS_INSUFFICIENT_RESOURCES, 0});
                continue;
            }
            ext->currentWrite = irp;
            ext->currentWriteDone = 0;
            ext->writeTimedOut = false;
            const ULONGLONG ms =
                static_cast<ULONGLONG>(ext->timeouts.WriteTotalTimeoutMultiplier) * length +
                ext->timeouts.WriteTotalTimeoutConstant;
            ext->writeDue = 0;
            if (ms != 0) {
                SetDueTimerLocked(ext, &ext->writeTimer, &ext->writeTimerDpc, ms, &ext->writeDue);
            }
            IoSetCancelRoutine(irp, WriteCancelRoutine);
            IoSetCompletionRoutine(ext->txIrp.get(), TxLowerComplete, ext, true, true, true);
            ext->txInFlight = true;
            ext->txNullPacket = false;
            KeClearEvent(&ext->txIdle);
            issue = ext->txIrp.get();
        }
    }
    CompleteAll(done);
    if (issue != nullptr) IoCallDriver(ext->lowerDevice, issue);
}

// The synchronous path after its lower request: the null packet, then the write's completion.
void SyncTxDone(VCOM_EXTENSION* ext) {
    Completions done;
    IRP* issue = nullptr;
    {
        SpinLockGuard guard(ext->lock);
        ext->txIrp.reset();
        ext->txInFlight = false;
        IRP* irp = ext->currentWrite;
        NTSTATUS status = ext->txStatus;
        ULONG_PTR information = ext->txInformation;
        if (ext->txNullPacket) {
            ext->txNullPacket = false;
            status = ext->syncWriteStatus;
            information = ext->syncWriteInformation;
        } else if (irp != nullptr) {
            ext->syncTransmitted += static_cast<ULONG>(information);
            const ULONG length = LengthOf(irp);
            if (NT_SUCCESS(status) && ext->txAllowNullPacket == 1 && ext->powered &&
                ext->txRunning && !ext->writeTimedOut && length != 0 &&
                length % ext->txPipe.packetSize == 0) {
                ext->syncWriteStatus = status;
                ext->syncWriteInformation = information;
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
        if (issue == nullptr && irp != nullptr) {
            KeCancelTimer(&ext->writeTimer);
            ext->writeDue = 0;
            if (ext->writeTimedOut) status = STATUS_TIMEOUT;
            ext->writeTimedOut = false;
            ext->currentWrite = nullptr;
            done.push_back({irp, ClaimFromCancel(irp) ? status : STATUS_CANCELLED, information});
        }
        if (issue == nullptr) KeSetEvent(&ext->txIdle, IO_NO_INCREMENT, false);
    }
    CompleteAll(done);
    if (issue != nullptr) {
        IoCallDriver(ext->lowerDevice, issue);
        return;
    }
    StartNextSyncWrite(ext);
}

NTSTATUS TxLowerComplete(DEVICE_OBJECT*, IRP* irp, void* context) {
    auto* ext = static_cast<VCOM_EXTENSION*>(context);
    {
        SpinLockGuard guard(ext->lock);
        ext->txStatus = irp->IoStatus.Status;
        ext->txInformation = irp->IoStatus.Information;
    }
    // The request is freed and the next one sent from the deferred call, not from here.
    KeInsertQueueDpc(&ext->txDoneDpc, nullptr, nullptr);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

void TxDoneDpcRoutine(KDPC*, void* context, void*, void*) {
    auto* ext = static_cast<VCOM_EXTENSION*>(context);
    if (ext->txAsync == 1) {
        AsyncTxDone(ext);
    } else {
        SyncTxDone(ext);
    }
}

NTSTATUS VcomDispatchReadWrite(DEVICE_OBJECT* device, IRP* irp) {
    VCOM_EXTENSION* ext = Extension(device);
    RemoveLockHolder hold(ext->removeLock, irp);
    if (!hold.held() || IsGone(ext)) return CompleteRequest(irp, STATUS_DELETE_PENDING, 0);
    irp->Tail.Overlay.DriverContext[0] = ext;
    if (LengthOf(irp) == 0) return CompleteRequest(irp, STATUS_SUCCESS, 0);
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_READ) {
        return DispatchRead(ext, irp);
    }
    return DispatchWrite(ext, irp);
}

NTSTATUS VcomDispatchFlush(DEVICE_OBJECT* device, IRP* irp) {
    VCOM_EXTENSION* ext = Extension(device);
    RemoveLockHolder hold(ext->removeLock, irp);
    if (!hold.held()) return CompleteRequest(irp, STATUS_SUCCESS, 0);
    // At most 30 s, checked every 10 ms; a removed device has nothing left to send.
    for (int i = 0; i < 3000; ++i) {
        bool empty;
        {
            SpinLockGuard guard(ext->lock);
            empty =
                ext->removed || ext->surpriseRemoved || ext->txAsync == 1
                    ? ext->txBuffer.Count() == 0 && !ext->txInFlight && ext->currentWrite == nullptr
                    : ext->currentWrite == nullptr && ext->writeQueue.empty();
        }
        if (empty) break;
        const LARGE_INTEGER interval = RelativeMs(10);
        KeDelayExecutionThread(ext->dispatcher, KernelMode, false, &interval);
    }
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

}  // namespace ys::vcom
