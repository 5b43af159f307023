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

}  // namespace ys::kernel
