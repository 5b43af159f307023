#include "drivers/kernel/io_count.h"

namespace ys::kernel {

NTSTATUS IoAcquireRemoveLock(IO_REMOVE_LOCK* lock, void*) {
    SpinLockGuard guard(lock->lock_);
    if (lock->removed_) return STATUS_DELETE_PENDING;
    ++lock->ioCount_;
    return STATUS_SUCCESS;
}

void IoReleaseRemoveLock(IO_REMOVE_LOCK* lock, void*) {
    bool last = false;
    {
        SpinLockGuard guard(lock->lock_);
        if (lock->ioCount_ <= 0) KeBugCheck("remove lock released more often than acquired");
        last = --lock->ioCount_ == 0;
    }
    if (last) KeSetEvent(&lock->removeEvent_, IO_NO_INCREMENT, false);
}

void IoReleaseRemoveLockAndWait(IO_REMOVE_LOCK* lock, void* tag) {
    {
        SpinLockGuard guard(lock->lock_);
        lock->removed_ = true;
        --lock->ioCount_;  // the bias the lock was made with
    }
    IoReleaseRemoveLock(lock, tag);
    KeWaitForSingleObject(&lock->removeEvent_, Executive, KernelMode, false, nullptr);
}

LONG IoCount::Increment() {
    LONG result = 0;
    {
        SpinLockGuard guard(lock_);
        result = ++count_;
        if (result == 2) KeClearEvent(&noIoEvent_);
        if (result == 1) KeClearEvent(&removeEvent_);
    }
    return result;
}

LONG IoCount::Decrement() {
    LONG result = 0;
    {
        SpinLockGuard guard(lock_);
        result = --count_;
        if (result < 0) KeBugCheck("I/O count below zero");
        if (result == 1) KeSetEvent(&noIoEvent_, IO_NO_INCREMENT, false);
        if (result == 0) KeSetEvent(&removeEvent_, IO_NO_INCREMENT, false);
    }
    return result;
}

LONG IoCount::value() const {
    SpinLockGuard guard(lock_);
    return count_;
}

}  // namespace ys::kernel
