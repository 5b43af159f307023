// Counting the requests a driver has in progress so that stop, removal and power-down can wait
// for them: the remove lock of the platform, and the I/O count (outstanding requests plus one)
// with its two events.
#pragma once

#include "drivers/kernel/dispatcher.h"
#include "drivers/kernel/ntstatus.h"

namespace ys::kernel {

// IoInitializeRemoveLock is the constructor.
class IO_REMOVE_LOCK {
public:
    explicit IO_REMOVE_LOCK(Dispatcher& dispatcher)
        : removeEvent_(dispatcher, NotificationEvent, false) {}

private:
    friend NTSTATUS IoAcquireRemoveLock(IO_REMOVE_LOCK*, void*);
    friend void IoReleaseRemoveLock(IO_REMOVE_LOCK*, void*);
    friend void IoReleaseRemoveLockAndWait(IO_REMOVE_LOCK*, void*);
    KSPIN_LOCK lock_;
    LONG ioCount_ = 1;
    bool removed_ = false;
    KEVENT removeEvent_;
};

// STATUS_DELETE_PENDING once removal has begun.
NTSTATUS IoAcquireRemoveLock(IO_REMOVE_LOCK* lock, void* tag);
void IoReleaseRemoveLock(IO_REMOVE_LOCK* lock, void* tag);
// Called with the lock acquired once by the caller: refuses new acquisitions, releases the
// caller's and waits until every other holder has released.
void IoReleaseRemoveLockAndWait(IO_REMOVE_LOCK* lock, void* tag);

// Holds the remove lock for one request for as long as it lives, when it could be acquired.
class RemoveLockHolder {
public:
    RemoveLockHolder(IO_REMOVE_LOCK& lock, void* tag)
        : lock_(&lock), tag_(tag), held_(NT_SUCCESS(IoAcquireRemoveLock(&lock, tag))) {}
    ~RemoveLockHolder() { Release(); }
    RemoveLockHolder(const RemoveLockHolder&) = delete;
    RemoveLockHolder& operator=(const RemoveLockHolder&) = delete;

    bool held() const { return held_; }
    void Release() {
        if (held_) IoReleaseRemoveLock(lock_, tag_);
        held_ = false;
    }

private:
    IO_REMOVE_LOCK* lock_;
    void* tag_;
    bool held_;
};

// Outstanding requests plus one. `noIoEvent` is signalled while the count is 1 or less,
// `removeEvent` once it has fallen to 0 (until it rises again). The count is changed under the
// lock the driver guards its state with.
class IoCount {
public:
    IoCount(Dispatcher& dispatcher, KSPIN_LOCK& lock)
        : lock_(lock),
          noIoEvent_(dispatcher, NotificationEvent, true),
          removeEvent_(dispatcher, NotificationEvent, false) {}

    LONG Increment();
    LONG Decrement();
    LONG value() const;
    KEVENT& noIoEvent() { return noIoEvent_; }
    KEVENT& removeEvent() { return removeEvent_; }

private:
    KSPIN_LOCK& lock_;
    LONG count_ = 1;
    KEVENT noIoEvent_;
    KEVENT removeEvent_;
};

// Counts one request in an IoCount while it lives. Release() gives the count up early (a
// request that waits for the count to fall); Reacquire() takes it again.
class IoCountHolder {
public:
    explicit IoCountHolder(IoCount& count) : count_(&count) { count_->Increment(); }
    ~IoCountHolder() { Release(); }
    IoCountHolder(const IoCountHolder&) = delete;
    IoCountHolder& operator=(const IoCountHolder&) = delete;

    void Release() {
        if (held_) count_->Decrement();
        held_ = false;
    }
    void Reacquire() {
        if (!held_) count_->Increment();
        held_ = true;
    }

private:
    IoCount* count_;
    bool held_ = true;
};

}  // namespace ys::kernel
