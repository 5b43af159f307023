#include "drivers/kernel/dispatcher.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace ys::kernel {

namespace {

thread_local KIRQL t_irql = PASSIVE_LEVEL;
// The dispatcher whose deferred calls this thread runs itself at the end of an InlineDpcScope,
// and whether it has queued any without waking the dispatch thread.
thread_local Dispatcher* t_inlineDpcs = nullptr;
thread_local bool t_heldDpcs = false;

// A virtual-time wait that has moved the clock on by this much without being satisfied is a
// deadlock kept alive by some periodic activity.
constexpr LONGLONG kVirtualWaitLimit = 24LL * 3600 * 10'000'000;

// Worker threads are added while all are busy (a work item may wait for another one), up to this.
constexpr std::size_t kMaxWorkers = 16;

constexpr LONGLONG ToTicks(std::chrono::nanoseconds d) {
    return d.count() / 100;
}

}  // namespace

// A thread's own condition variable for real-time waits. Shared, so that a signaller may wake it
// after letting go of the lock even when the thread has meanwhile returned and freed the object
// or ended.
struct WaitingThread {
    std::condition_variable cv;
};

namespace {

std::shared_ptr<WaitingThread> ThisWaitingThread() {
    thread_local std::shared_ptr<WaitingThread> self = std::make_shared<WaitingThread>();
    return self;
}

}  // namespace

void KeBugCheck(std::string_view reason) {
    std::fprintf(stderr, "kernel layer: fatal driver fault: %.*s\n",
                 static_cast<int>(reason.size()), reason.data());
    std::fflush(stderr);
    std::abort();
}

KIRQL KeGetCurrentIrql() {
    return t_irql;
}

void KeRaiseIrql(KIRQL newIrql, KIRQL* oldIrql) {
    if (newIrql < t_irql) KeBugCheck("KeRaiseIrql to a lower level");
    *oldIrql = t_irql;
    t_irql = newIrql;
}

void KeLowerIrql(KIRQL newIrql) {
    if (newIrql > t_irql) KeBugCheck("KeLowerIrql to a higher level");
    t_irql = newIrql;
}

// ---- spin locks

void KeAcquireSpinLockAtDpcLevel(KSPIN_LOCK* lock) {
    if (lock->owner_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
        KeBugCheck("spin lock acquired twice by one thread");
    }
    lock->mutex_.lock();
    lock->owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void KeReleaseSpinLockFromDpcLevel(KSPIN_LOCK* lock) {
    if (lock->owner_.load(std::memory_order_relaxed) != std::this_thread::get_id()) {
        KeBugCheck("spin lock released by a thread that does not hold it");
    }
    lock->owner_.store(std::thread::id{}, std::memory_order_relaxed);
    lock->mutex_.unlock();
}

void KeAcquireSpinLock(KSPIN_LOCK* lock, KIRQL* oldIrql) {
    KeRaiseIrql(DISPATCH_LEVEL, oldIrql);
    KeAcquireSpinLockAtDpcLevel(lock);
}

void KeReleaseSpinLock(KSPIN_LOCK* lock, KIRQL newIrql) {
    KeReleaseSpinLockFromDpcLevel(lock);
    KeLowerIrql(newIrql);
}

// ---- Ke calls

LONG KeSetEvent(KEVENT* event, KPRIORITY, BOOLEAN) {
    return event->dispatcher().Signal(*event) ? 1 : 0;
}

void KeClearEvent(KEVENT* event) {
    event->dispatcher().Reset(*event);
}

LONG KeResetEvent(KEVENT* event) {
    return event->dispatcher().Reset(*event) ? 1 : 0;
}

LONG KeReadStateEvent(KEVENT* event) {
    return event->dispatcher().IsSignalled(*event) ? 1 : 0;
}

NTSTATUS KeWaitForSingleObject(DISPATCHER_HEADER* object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               const LARGE_INTEGER* timeout) {
    return object->dispatcher().Wait(*object, timeout);
}

NTSTATUS KeDelayExecutionThread(Dispatcher& dispatcher, KPROCESSOR_MODE, BOOLEAN,
                                const LARGE_INTEGER* interval) {
    dispatcher.Delay(*interval);
    return STATUS_SUCCESS;
}

ULONGLONG KeQueryInterruptTime(Dispatcher& dispatcher) {
    return static_cast<ULONGLONG>(dispatcher.Now());
}

BOOLEAN KeInsertQueueDpc(KDPC* dpc, void* a1, void* a2) {
    return dpc->dispatcher().InsertDpc(*dpc, a1, a2);
}
BOOLEAN KeRemoveQueueDpc(KDPC* dpc) {
    return dpc->dispatcher().RemoveDpc(*dpc);
}
void KeFlushQueuedDpcs(Dispatcher& dispatcher) {
    dispatcher.FlushDpcs();
}

BOOLEAN KeSetTimer(KTIMER* timer, LARGE_INTEGER dueTime, KDPC* dpc) {
    return timer->dispatcher().SetTimer(*timer, dueTime, 0, dpc);
}
BOOLEAN KeSetTimerEx(KTIMER* timer, LARGE_INTEGER dueTime, LONG periodMs, KDPC* dpc) {
    return timer->dispatcher().SetTimer(*timer, dueTime, periodMs, dpc);
}
BOOLEAN KeCancelTimer(KTIMER* timer) {
    return timer->dispatcher().CancelTimer(*timer);
}
BOOLEAN KeReadStateTimer(KTIMER* timer) {
    return timer->dispatcher().IsSignalled(*timer);
}

KDPC::~KDPC() {
    dispatcher_->ForgetDpc(*this);
}
KTIMER::~KTIMER() {
    dispatcher().CancelTimer(*this);
}

// ---- Dispatcher

std::unique_ptr<Dispatcher> Dispatcher::CreateVirtual() {
    return std::unique_ptr<Dispatcher>(new Dispatcher(true));
}

std::unique_ptr<Dispatcher> Dispatcher::CreateRealTime() {
    auto d = std::unique_ptr<Dispatcher>(new Dispatcher(false));
    d->dispatchThread_ = std::thread([p = d.get()] { p->DispatchThreadMain(); });
    return d;
}

Dispatcher::Dispatcher(bool isVirtual)
    : virtual_(isVirtual), start_(std::chrono::steady_clock::now()) {}

Dispatcher::~Dispatcher() {
    Shutdown();
}

void Dispatcher::Shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    dispatchCv_.notify_all();
    workCv_.notify_all();
    dpcDoneCv_.notify_all();
    if (dispatchThread_.joinable()) dispatchThread_.join();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
    std::lock_guard lock(mutex_);
    for (KDPC* d : dpcs_) d->queued_ = false;
    dpcs_.clear();
    work_.clear();
}

LONGLONG Dispatcher::Now() const {
    if (virtual_) return virtualNow_.load();
    return ToTicks(std::chrono::steady_clock::now() - start_);
}

void Dispatcher::QueueWork(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    work_.push_back(std::move(work));
    if (virtual_) return;
    if (idleWorkers_ == 0 && workers_.size() < kMaxWorkers) {
        workers_.emplace_back([this] { WorkerMain(); });
    }
    workCv_.notify_one();
}

void Dispatcher::WorkerMain() {
    t_irql = PASSIVE_LEVEL;
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idleWorkers_;
        workCv_.wait(lock, [this] { return stopping_ || !work_.empty(); });
        --idleWorkers_;
        if (stopping_) return;
        std::function<void()> work = std::move(work_.front());
        work_.pop_front();
        lock.unlock();
        work();
        work = nullptr;  // destroy what the work captured before taking the lock again
        lock.lock();
    }
}

void Dispatcher::RunDpcLocked(std::unique_lock<std::mutex>& lock) {
    KDPC* dpc = dpcs_.front();
    dpcs_.pop_front();
    dpc->queued_ = false;
    const PKDEFERRED_ROUTINE routine = dpc->routine_;
    void* const context = dpc->context_;
    void* const a1 = dpc->argument1_;
    void* const a2 = dpc->argument2_;
    runningDpcs_.emplace_back(dpc, std::this_thread::get_id());
    lock.unlock();
    const KIRQL old = t_irql;
    t_irql = DISPATCH_LEVEL;
    routine(dpc, context, a1, a2);  // may free the KDPC itself: not touched afterwards
    if (t_irql != DISPATCH_LEVEL) KeBugCheck("a deferred call returned at another IRQL");
    t_irql = old;
    lock.lock();
    auto it = std::find(runningDpcs_.begin(), runningDpcs_.end(),
                        std::make_pair(static_cast<const KDPC*>(dpc), std::this_thread::get_id()));
    runningDpcs_.erase(it);
    dpcDoneCv_.notify_all();
}

void Dispatcher::DispatchThreadMain() {
    t_irql = PASSIVE_LEVEL;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const LONGLONG now = Now();
        while (!timers_.empty() && (*timers_.begin())->due_ <= now) ExpireLocked(*timers_.begin());
        if (!dpcs_.empty() && !dpcRunner_) {
            dpcRunner_ = true;
            RunDpcLocked(lock);
            dpcRunner_ = false;
            continue;
        }
        if (timers_.empty()) {
            dispatchCv_.wait(lock);
        } else {
            const auto due = start_ + std::chrono::nanoseconds((*timers_.begin())->due_ * 100);
            dispatchCv_.wait_until(lock, due);
        }
    }
}

bool Dispatcher::RunOne() {
    std::unique_lock lock(mutex_);
    if (!dpcs_.empty()) {
        RunDpcLocked(lock);
        return true;
    }
    if (!work_.empty()) {
        std::function<void()> work = std::move(work_.front());
        work_.pop_front();
        lock.unlock();
        const KIRQL old = t_irql;
        t_irql = PASSIVE_LEVEL;
        work();
        t_irql = old;
        return true;
    }
    return false;
}

std::size_t Dispatcher::RunUntilIdle() {
    if (!virtual_) KeBugCheck("RunUntilIdle needs virtual time");
    std::size_t n = 0;
    while (RunOne()) ++n;
    return n;
}

void Dispatcher::SetIdleHandler(std::function<bool()> handler) {
    std::lock_guard lock(mutex_);
    idleHandler_ = std::move(handler);
}

std::optional<LONGLONG> Dispatcher::NextTimerDue() const {
    std::lock_guard lock(mutex_);
    if (timers_.empty()) return std::nullopt;
    return (*timers_.begin())->due_;
}

bool Dispatcher::FireNextTimer(LONGLONG limit) {
    std::lock_guard lock(mutex_);
    if (timers_.empty()) return false;
    KTIMER* t = *timers_.begin();
    if (t->due_ > limit) return false;
    if (t->due_ > virtualNow_.load()) virtualNow_.store(t->due_);
    ExpireLocked(t);
    return true;
}

void Dispatcher::AdvanceBy(std::chrono::nanoseconds duration) {
    if (!virtual_) KeBugCheck("AdvanceBy needs virtual time");
    const LONGLONG target = Now() + ToTicks(duration);
    for (;;) {
        while (RunOne()) {
        }
        if (!FireNextTimer(target)) break;
    }
    if (virtualNow_.load() < target) virtualNow_.store(target);
    while (RunOne()) {
    }
}

void Dispatcher::Delay(const LARGE_INTEGER& interval) {
    if (!virtual_) {
        {
            std::lock_guard lock(mutex_);
            HandOverHeldDpcsLocked();
        }
        const LONGLONG deadline =
            interval.QuadPart < 0 ? Now() - interval.QuadPart : interval.QuadPart;
        const LONGLONG ticks = deadline - Now();
        if (ticks > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(ticks * 100));
        return;
    }
    KEVENT never(*this, NotificationEvent, false);
    Wait(never, &interval);
}

NTSTATUS Dispatcher::Wait(DISPATCHER_HEADER& object, const LARGE_INTEGER* timeout) {
    std::optional<LONGLONG> deadline;
    if (timeout != nullptr) {
        deadline = timeout->QuadPart < 0 ? Now() - timeout->QuadPart : timeout->QuadPart;
    }
    const bool polls = deadline && *deadline <= Now();
    if (!polls && t_irql >= DISPATCH_LEVEL) KeBugCheck("wait at DISPATCH_LEVEL");
    if (virtual_) return VirtualWait(object, deadline);

    std::unique_lock lock(mutex_);
    auto signalled = [&] { return object.signalled_; };
    bool satisfied = signalled();
    if (!satisfied && t_inlineDpcs == this && t_heldDpcs && t_irql == PASSIVE_LEVEL) {
        // What this thread queued is often what it waits for (a request sent down that the bus
        // completes at once): run it here, as a processor would on leaving DISPATCH_LEVEL.
        lock.unlock();
        RunQueuedDpcsHere();
        lock.lock();
        satisfied = signalled();
    }
    if (!satisfied) {
        HandOverHeldDpcsLocked();
        const std::shared_ptr<WaitingThread> self = ThisWaitingThread();
        object.waiters_.push_back(self);
        if (!deadline) {
            self->cv.wait(lock, signalled);
            satisfied = true;
        } else {
            satisfied = self->cv.wait_until(
                lock, start_ + std::chrono::nanoseconds(*deadline * 100), signalled);
        }
        object.waiters_.erase(std::find(object.waiters_.begin(), object.waiters_.end(), self));
    }
    if (!satisfied) return STATUS_TIMEOUT;
    if (object.autoReset_) object.signalled_ = false;
    return STATUS_SUCCESS;
}

NTSTATUS Dispatcher::VirtualWait(DISPATCHER_HEADER& object, std::optional<LONGLONG> deadline) {
    const LONGLONG started = Now();
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (object.signalled_) {
                if (object.autoReset_) object.signalled_ = false;
                return STATUS_SUCCESS;
            }
        }
        if (RunOne()) continue;
        std::function<bool()> idle;
        {
            std::lock_guard lock(mutex_);
            idle = idleHandler_;
        }
        if (idle && idle()) continue;
        const LONGLONG limit = deadline ? *deadline : started + kVirtualWaitLimit;
        if (FireNextTimer(limit)) continue;
        if (deadline) {
            if (virtualNow_.load() < *deadline) virtualNow_.store(*deadline);
            return STATUS_TIMEOUT;
        }
        KeBugCheck(NextTimerDue() ? "a wait on virtual time was never satisfied"
                                  : "deadlock: a wait on virtual time with nothing left to run");
    }
}

bool Dispatcher::Signal(DISPATCHER_HEADER& object) {
    // Woken after the lock is let go, so that they do not wake only to wait for it; the object
    // may be gone by then, the threads are not.
    std::vector<std::shared_ptr<WaitingThread>> waking;
    bool was = false;
    {
        std::lock_guard lock(mutex_);
        was = object.signalled_;
        object.signalled_ = true;
        waking = object.waiters_;
    }
    for (const auto& w : waking) w->cv.notify_one();
    return was;
}

bool Dispatcher::Reset(DISPATCHER_HEADER& object) {
    std::lock_guard lock(mutex_);
    const bool was = object.signalled_;
    object.signalled_ = false;
    return was;
}

bool Dispatcher::IsSignalled(DISPATCHER_HEADER& object) {
    std::lock_guard lock(mutex_);
    return object.signalled_;
}

bool Dispatcher::InsertDpcLocked(KDPC& dpc, void* a1, void* a2) {
    if (dpc.queued_ || stopping_) return false;
    dpc.queued_ = true;
    dpc.argument1_ = a1;
    dpc.argument2_ = a2;
    dpcs_.push_back(&dpc);
    if (t_inlineDpcs == this) {
        t_heldDpcs = true;  // run by this thread when its scope ends
    } else {
        dispatchCv_.notify_one();
    }
    return true;
}

bool Dispatcher::InsertDpc(KDPC& dpc, void* a1, void* a2) {
    std::lock_guard lock(mutex_);
    return InsertDpcLocked(dpc, a1, a2);
}

bool Dispatcher::RemoveDpc(KDPC& dpc) {
    std::lock_guard lock(mutex_);
    if (!dpc.queued_) return false;
    dpcs_.erase(std::find(dpcs_.begin(), dpcs_.end(), &dpc));
    dpc.queued_ = false;
    return true;
}

void Dispatcher::ForgetDpc(KDPC& dpc) {
    std::unique_lock lock(mutex_);
    if (dpc.queued_) {
        dpcs_.erase(std::find(dpcs_.begin(), dpcs_.end(), &dpc));
        dpc.queued_ = false;
    }
    const auto me = std::this_thread::get_id();
    dpcDoneCv_.wait(lock, [&] {
        return std::none_of(runningDpcs_.begin(), runningDpcs_.end(),
                            [&](const auto& r) { return r.first == &dpc && r.second != me; });
    });
}

void Dispatcher::FlushDpcs() {
    if (virtual_) {
        std::unique_lock lock(mutex_);
        while (!dpcs_.empty()) RunDpcLocked(lock);
        return;
    }
    std::unique_lock lock(mutex_);
    HandOverHeldDpcsLocked();
    const auto me = std::this_thread::get_id();
    dpcDoneCv_.wait(lock, [&] {
        return stopping_ ||
               (dpcs_.empty() && std::none_of(runningDpcs_.begin(), runningDpcs_.end(),
                                              [&](const auto& r) { return r.second != me; }));
    });
}

Dispatcher::InlineDpcScope::InlineDpcScope(Dispatcher& dispatcher)
    : dispatcher_(dispatcher), outer_(t_inlineDpcs) {
    if (!dispatcher_.virtual_) t_inlineDpcs = &dispatcher_;
}

Dispatcher::InlineDpcScope::~InlineDpcScope() {
    if (dispatcher_.virtual_) return;
    if (t_irql == PASSIVE_LEVEL) {
        dispatcher_.RunQueuedDpcsHere();
    } else {
        std::lock_guard lock(dispatcher_.mutex_);
        dispatcher_.HandOverHeldDpcsLocked();
    }
    t_inlineDpcs = outer_;
}

void Dispatcher::RunQueuedDpcsHere() {
    std::unique_lock lock(mutex_);
    t_heldDpcs = false;
    // Another runner takes what this thread queued before it lets go (see DispatchThreadMain).
    if (dpcRunner_ || stopping_) return;
    dpcRunner_ = true;
    while (!dpcs_.empty() && !stopping_) RunDpcLocked(lock);
    dpcRunner_ = false;
    t_heldDpcs = false;  // the calls those ran queued have run too
}

void Dispatcher::HandOverHeldDpcsLocked() {
    if (t_inlineDpcs != this || !t_heldDpcs) return;
    t_heldDpcs = false;
    dispatchCv_.notify_one();
}

void Dispatcher::ExpireLocked(KTIMER* timer) {
    timers_.erase(timer);
    timer->signalled_ = true;
    if (timer->periodMs_ > 0) {
        timer->due_ += static_cast<LONGLONG>(timer->periodMs_) * 10000;
        timer->sequence_ = ++timerSequence_;
        timers_.insert(timer);
    } else {
        timer->inserted_ = false;
    }
    if (timer->dpc_ != nullptr) InsertDpcLocked(*timer->dpc_, nullptr, nullptr);
    for (const auto& w : timer->waiters_) w->cv.notify_one();
}

bool Dispatcher::SetTimer(KTIMER& timer, LARGE_INTEGER dueTime, LONG periodMs, KDPC* dpc) {
    std::lock_guard lock(mutex_);
    const bool was = timer.inserted_;
    if (was) timers_.erase(&timer);
    const LONGLONG now = Now();
    timer.due_ = dueTime.QuadPart < 0 ? now - dueTime.QuadPart : dueTime.QuadPart;
    timer.periodMs_ = periodMs;
    timer.dpc_ = dpc;
    timer.sequence_ = ++timerSequence_;
    timer.signalled_ = false;
    timer.inserted_ = true;
    timers_.insert(&timer);
    // The dispatch thread sleeps until the first timer is due: it needs waking only when this
    // one is now the first.
    if (*timers_.begin() == &timer) dispatchCv_.notify_one();
    return was;
}

bool Dispatcher::CancelTimer(KTIMER& timer) {
    std::lock_guard lock(mutex_);
    if (!timer.inserted_) return false;
    timers_.erase(&timer);
    timer.inserted_ = false;
    return true;
}

}  // namespace ys::kernel
