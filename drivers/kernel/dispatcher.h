// The scheduler of the kernel layer: deferred procedure calls, timers, the system work queue,
// events and waits on one clock. In virtual time everything runs on the caller's thread and time
// moves only when a test advances it or a wait finds nothing else to run; in real time a dispatch
// thread runs timers and deferred calls and a pool of worker threads runs the work queue.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "drivers/kernel/kernel_types.h"
#include "drivers/kernel/ntstatus.h"

namespace ys::kernel {

// Stops the process with a message: the stand-in for the platform's stop screen, raised on driver
// faults the layer can see (completing a request twice, waiting at DISPATCH_LEVEL, deadlock).
[[noreturn]] void KeBugCheck(std::string_view reason);

KIRQL KeGetCurrentIrql();
void KeRaiseIrql(KIRQL newIrql, KIRQL* oldIrql);
void KeLowerIrql(KIRQL newIrql);

class Dispatcher;
class KDPC;
struct WaitingThread;

// Common part of the objects a thread can wait on (events, timers).
class DISPATCHER_HEADER {
public:
    DISPATCHER_HEADER(const DISPATCHER_HEADER&) = delete;
    DISPATCHER_HEADER& operator=(const DISPATCHER_HEADER&) = delete;
    Dispatcher& dispatcher() const { return *dispatcher_; }

protected:
    DISPATCHER_HEADER(Dispatcher& dispatcher, bool autoReset, bool signalled)
        : dispatcher_(&dispatcher), autoReset_(autoReset), signalled_(signalled) {}
    ~DISPATCHER_HEADER() = default;

private:
    friend class Dispatcher;
    Dispatcher* dispatcher_;
    bool autoReset_;
    bool signalled_;  // guarded by the dispatcher's lock
    // Real time: the threads waiting on this object, each woken only by the objects it waits on.
    std::vector<std::shared_ptr<WaitingThread>> waiters_;  // guarded by the dispatcher's lock
};

enum EVENT_TYPE { NotificationEvent, SynchronizationEvent };
enum TIMER_TYPE { NotificationTimer, SynchronizationTimer };

// KeInitializeEvent is the constructor: an event belongs to the dispatcher that runs its waits.
class KEVENT : public DISPATCHER_HEADER {
public:
    KEVENT(Dispatcher& dispatcher, EVENT_TYPE type, bool state)
        : DISPATCHER_HEADER(dispatcher, type == SynchronizationEvent, state) {}
};

using PKDEFERRED_ROUTINE = void (*)(KDPC* dpc, void* deferredContext, void* systemArgument1,
                                    void* systemArgument2);

// A deferred procedure call. Destroying it takes it off the queue and waits for a run of it on
// another thread to end, so a driver can free a context that holds one.
class KDPC {
public:
    KDPC(Dispatcher& dispatcher, PKDEFERRED_ROUTINE routine, void* context)
        : dispatcher_(&dispatcher), routine_(routine), context_(context) {}
    ~KDPC();
    KDPC(const KDPC&) = delete;
    KDPC& operator=(const KDPC&) = delete;
    Dispatcher& dispatcher() const { return *dispatcher_; }

private:
    friend class Dispatcher;
    Dispatcher* dispatcher_;
    PKDEFERRED_ROUTINE routine_;
    void* context_;
    void* argument1_ = nullptr;
    void* argument2_ = nullptr;
    bool queued_ = false;  // guarded by the dispatcher's lock
};

class KTIMER : public DISPATCHER_HEADER {
public:
    explicit KTIMER(Dispatcher& dispatcher, TIMER_TYPE type = NotificationTimer)
        : DISPATCHER_HEADER(dispatcher, type == SynchronizationTimer, false) {}
    ~KTIMER();

private:
    friend class Dispatcher;
    bool inserted_ = false;  // these guarded by the dispatcher's lock
    LONGLONG due_ = 0;
    LONG periodMs_ = 0;
    KDPC* dpc_ = nullptr;
    std::uint64_t sequence_ = 0;
};

LONG KeSetEvent(KEVENT* event, KPRIORITY increment, BOOLEAN wait);
void KeClearEvent(KEVENT* event);
LONG KeResetEvent(KEVENT* event);
LONG KeReadStateEvent(KEVENT* event);

// Timeouts and due times are in 100-ns units: negative is relative, positive is absolute
// interrupt time (KeQueryInterruptTime); a null timeout waits for ever.
NTSTATUS KeWaitForSingleObject(DISPATCHER_HEADER* object, KWAIT_REASON reason, KPROCESSOR_MODE mode,
                               BOOLEAN alertable, const LARGE_INTEGER* timeout);
NTSTATUS KeDelayExecutionThread(Dispatcher& dispatcher, KPROCESSOR_MODE mode, BOOLEAN alertable,
                                const LARGE_INTEGER* interval);
ULONGLONG KeQueryInterruptTime(Dispatcher& dispatcher);

BOOLEAN KeInsertQueueDpc(KDPC* dpc, void* systemArgument1, void* systemArgument2);
BOOLEAN KeRemoveQueueDpc(KDPC* dpc);
void KeFlushQueuedDpcs(Dispatcher& dispatcher);

BOOLEAN KeSetTimer(KTIMER* timer, LARGE_INTEGER dueTime, KDPC* dpc);
BOOLEAN KeSetTimerEx(KTIMER* timer, LARGE_INTEGER dueTime, LONG periodMs, KDPC* dpc);
BOOLEAN KeCancelTimer(KTIMER* timer);
BOOLEAN KeReadStateTimer(KTIMER* timer);

// Relative due time of `ms` milliseconds, for KeSetTimer and KeWaitForSingleObject.
constexpr LARGE_INTEGER RelativeMs(LONGLONG ms) {
    return LARGE_INTEGER{-ms * 10000};
}

// A spin lock raises the holder to DISPATCH_LEVEL; acquiring one the thread already holds is
// reported as a fault instead of hanging.
class KSPIN_LOCK {
public:
    KSPIN_LOCK() = default;
    KSPIN_LOCK(const KSPIN_LOCK&) = delete;
    KSPIN_LOCK& operator=(const KSPIN_LOCK&) = delete;

private:
    friend void KeAcquireSpinLockAtDpcLevel(KSPIN_LOCK* lock);
    friend void KeReleaseSpinLockFromDpcLevel(KSPIN_LOCK* lock);
    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};
};

inline void KeInitializeSpinLock(KSPIN_LOCK*) {}
void KeAcquireSpinLock(KSPIN_LOCK* lock, KIRQL* oldIrql);
void KeReleaseSpinLock(KSPIN_LOCK* lock, KIRQL newIrql);
void KeAcquireSpinLockAtDpcLevel(KSPIN_LOCK* lock);
void KeReleaseSpinLockFromDpcLevel(KSPIN_LOCK* lock);

class SpinLockGuard {
public:
    explicit SpinLockGuard(KSPIN_LOCK& lock) : lock_(lock) { KeAcquireSpinLock(&lock_, &oldIrql_); }
    ~SpinLockGuard() { KeReleaseSpinLock(&lock_, oldIrql_); }
    SpinLockGuard(const SpinLockGuard&) = delete;
    SpinLockGuard& operator=(const SpinLockGuard&) = delete;

private:
    KSPIN_LOCK& lock_;
    KIRQL oldIrql_ = PASSIVE_LEVEL;
};

class Dispatcher {
public:
    static std::unique_ptr<Dispatcher> CreateVirtual();
    static std::unique_ptr<Dispatcher> CreateRealTime();
    ~Dispatcher();
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    bool IsVirtual() const { return virtual_; }
    // Interrupt time: 100-ns units since the dispatcher was made.
    LONGLONG Now() const;

    // The system work queue; work runs at PASSIVE_LEVEL.
    void QueueWork(std::function<void()> work);

    // Virtual time only. Runs due timers and everything they queue, up to now + `duration`.
    void AdvanceBy(std::chrono::nanoseconds duration);
    // Runs queued deferred calls and work until none is left; time does not move.
    std::size_t RunUntilIdle();
    // Runs one queued deferred call (before any work item) or one work item.
    bool RunOne();
    // Called by a virtual-time wait that finds nothing to run, before time is moved on to the
    // next timer; return true when it did something that may satisfy the wait.
    void SetIdleHandler(std::function<bool()> handler);
    std::optional<LONGLONG> NextTimerDue() const;

    // Real time: stops the threads. Queued work and deferred calls are dropped.
    void Shutdown();

    // Real time: the deferred calls a thread queues inside this scope (at any level) run on that
    // thread when the scope ends at PASSIVE_LEVEL, as a processor runs the calls it queued when
    // it leaves DISPATCH_LEVEL, instead of waking the dispatch thread; a request that completes
    // at once then completes on the thread that sent it. Deferred calls still run one at a time:
    // while another thread runs them, that thread takes these too. A thread that waits inside
    // the scope at PASSIVE_LEVEL runs what it queued first; one that sleeps or flushes hands it
    // to the dispatch thread. Nothing changes in virtual time.
    class InlineDpcScope {
    public:
        explicit InlineDpcScope(Dispatcher& dispatcher);
        ~InlineDpcScope();
        InlineDpcScope(const InlineDpcScope&) = delete;
        InlineDpcScope& operator=(const InlineDpcScope&) = delete;

    private:
        Dispatcher& dispatcher_;
        Dispatcher* outer_;
    };

    // The implementation of the Ke wait, DPC and timer calls.
    NTSTATUS Wait(DISPATCHER_HEADER& object, const LARGE_INTEGER* timeout);
    bool Signal(DISPATCHER_HEADER& object);  // these two return the previous state
    bool Reset(DISPATCHER_HEADER& object);
    bool InsertDpc(KDPC& dpc, void* argument1, void* argument2);
    bool RemoveDpc(KDPC& dpc);
    void ForgetDpc(KDPC& dpc);
    void FlushDpcs();
    bool SetTimer(KTIMER& timer, LARGE_INTEGER dueTime, LONG periodMs, KDPC* dpc);
    bool CancelTimer(KTIMER& timer);
    bool IsSignalled(DISPATCHER_HEADER& object);
    void Delay(const LARGE_INTEGER& interval);

private:
    explicit Dispatcher(bool isVirtual);
    struct TimerOrder {
        bool operator()(const KTIMER* a, const KTIMER* b) const {
            return a->due_ != b->due_ ? a->due_ < b->due_ : a->sequence_ < b->sequence_;
        }
    };
    NTSTATUS VirtualWait(DISPATCHER_HEADER& object, std::optional<LONGLONG> deadline);
    bool FireNextTimer(LONGLONG limit);
    void ExpireLocked(KTIMER* timer);
    bool InsertDpcLocked(KDPC& dpc, void* argument1, void* argument2);
    void RunDpcLocked(std::unique_lock<std::mutex>& lock);
    // Runs queued deferred calls on this thread until none is left, unless another thread is
    // running them.
    void RunQueuedDpcsHere();
    // Wakes the dispatch thread for deferred calls this thread queued inside an InlineDpcScope,
    // before it blocks.
    void HandOverHeldDpcsLocked();
    void DispatchThreadMain();
    void WorkerMain();

    const bool virtual_;
    const std::chrono::steady_clock::time_point start_;
    std::atomic<LONGLONG> virtualNow_{0};
    mutable std::mutex mutex_;
    std::condition_variable dpcDoneCv_;  // a deferred call has run
    std::condition_variable dispatchCv_;
    std::condition_variable workCv_;
    std::deque<KDPC*> dpcs_;
    std::vector<std::pair<const KDPC*, std::thread::id>> runningDpcs_;
    bool dpcRunner_ = false;  // a thread is running deferred calls
    std::set<KTIMER*, TimerOrder> timers_;
    std::uint64_t timerSequence_ = 0;
    std::deque<std::function<void()>> work_;
    std::function<bool()> idleHandler_;
    bool stopping_ = false;
    int idleWorkers_ = 0;
    std::thread dispatchThread_;
    std::vector<std::thread> workers_;
};

}  // namespace ys::kernel
