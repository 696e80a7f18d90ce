#include "kernel/dispatcher.h"

#include "kernel/call_frames.h"
#include "kernel/objects.h"
#include "kernel/verifier.h"

#include <cstdio>
#include <string>

namespace winsim::kernel {

namespace {

thread_local char threadMarker;

bool isEvent(const KEVENT* event) {
    return event->Header.Type == NotificationEvent || event->Header.Type == SynchronizationEvent;
}

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr LONGLONG epochDifference = 116444736000000000LL;

std::string hexPointer(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

} // namespace

PVOID currentThreadId() {
    return &threadMarker;
}

Dispatcher::Dispatcher(Verifier& verifier, std::chrono::milliseconds deadlockLimit)
    : verifier_(verifier), deadlockLimit_(deadlockLimit) {}

void Dispatcher::setDeadlockLimit(std::chrono::milliseconds limit) {
    const std::lock_guard guard(lock_);
    deadlockLimit_ = limit;
}

std::chrono::milliseconds Dispatcher::deadlockLimit() const {
    const std::lock_guard guard(lock_);
    return deadlockLimit_;
}

template <class Ready>
void Dispatcher::waitWithWatchdog(std::unique_lock<std::mutex>& lock, Ready ready,
                                  const char* what) {
    const auto deadline = std::chrono::steady_clock::now() + deadlockLimit_;
    while (!ready()) {
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && !ready()) {
            const auto seconds =
                std::chrono::duration_cast<std::chrono::duration<double>>(deadlockLimit_).count();
            lock.unlock();
            char limit[32];
            std::snprintf(limit, sizeof limit, "%.1f", seconds);
            const DriverRecord* driver = currentDriver();
            verifier_.fatal(Check::Deadlock,
                            std::string("deadlock: ") + what + " in " +
                                (driver != nullptr ? driver->name : std::string("the system")) +
                                " waited longer than " + limit + " s without a timeout");
        }
    }
}

void Dispatcher::initEvent(PKEVENT event, EVENT_TYPE type, bool signalled) {
    const std::lock_guard guard(lock_);
    event->Header.Type = static_cast<UCHAR>(type);
    event->Header.Absolute = 0;
    event->Header.Size = static_cast<UCHAR>(sizeof(KEVENT) / sizeof(LONG));
    event->Header.Inserted = 0;
    event->Header.SignalState = signalled ? 1 : 0;
    event->Header.WaitListHead.Flink = &event->Header.WaitListHead;
    event->Header.WaitListHead.Blink = &event->Header.WaitListHead;
}

LONG Dispatcher::setEvent(PKEVENT event) {
    LONG previous;
    {
        const std::lock_guard guard(lock_);
        if (!isEvent(event)) {
            verifier_.report(Check::InvalidCall,
                             "KeSetEvent on an object that is not an event: " + hexPointer(event));
            return 0;
        }
        previous = event->Header.SignalState;
        event->Header.SignalState = 1;
    }
    changed_.notify_all();
    return previous;
}

LONG Dispatcher::resetEvent(PKEVENT event) {
    const std::lock_guard guard(lock_);
    const LONG previous = event->Header.SignalState;
    event->Header.SignalState = 0;
    return previous;
}

LONG Dispatcher::readEvent(PKEVENT event) {
    const std::lock_guard guard(lock_);
    return event->Header.SignalState;
}

NTSTATUS Dispatcher::wait(PKEVENT event, const LARGE_INTEGER* timeout) {
    std::unique_lock lock(lock_);
    if (!isEvent(event)) {
        lock.unlock();
        verifier_.report(Check::InvalidCall, "KeWaitForSingleObject on an object that is not an "
                                             "initialised event: " +
                                                 hexPointer(event));
        return STATUS_INVALID_PARAMETER;
    }
    const auto signalled = [event] { return event->Header.SignalState != 0; };
    if (timeout == nullptr) {
        waitWithWatchdog(lock, signalled, "KeWaitForSingleObject");
    } else {
        std::chrono::steady_clock::time_point deadline;
        const LONGLONG units = timeout->QuadPart;
        if (units <= 0) {
            deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(-units * 100);
        } else {
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            const LONGLONG nowUnits =
                std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100 +
                epochDifference;
            const LONGLONG remaining = units > nowUnits ? units - nowUnits : 0;
            deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(remaining * 100);
        }
        if (!changed_.wait_until(lock, deadline, signalled)) {
            return STATUS_TIMEOUT;
        }
    }
    if (event->Header.Type == SynchronizationEvent) {
        event->Header.SignalState = 0;
    }
    return STATUS_SUCCESS;
}

void Dispatcher::initMutex(PFAST_MUTEX mutex) {
    const std::lock_guard guard(lock_);
    mutex->Count = 1;
    mutex->Owner = nullptr;
    mutex->Contention = 0;
    mutex->OldIrql = 0;
    mutex->Event.Header.Type = SynchronizationEvent;
    mutex->Event.Header.SignalState = 0;
    mutex->Event.Header.WaitListHead.Flink = &mutex->Event.Header.WaitListHead;
    mutex->Event.Header.WaitListHead.Blink = &mutex->Event.Header.WaitListHead;
    recursion_.erase(mutex);
}

void Dispatcher::acquire(PFAST_MUTEX mutex) {
    std::unique_lock lock(lock_);
    const PVOID self = currentThreadId();
    if (mutex->Owner == self && mutex->Count == 0) {
        // On Windows the thread would wait for itself forever. Record it and let the thread go
        // on as if it held the mutex once more, so the rest of the test still runs.
        ++recursion_[mutex];
        lock.unlock();
        noteMutexAcquired(mutex);
        verifier_.report(Check::MutexRecursive,
                         "fast mutex " + hexPointer(mutex) + " acquired again by its owner");
        return;
    }
    if (mutex->Count != 1) {
        ++mutex->Contention;
        waitWithWatchdog(
            lock, [mutex] { return mutex->Count == 1; }, "ExAcquireFastMutex");
    }
    mutex->Count = 0;
    mutex->Owner = self;
    lock.unlock();
    noteMutexAcquired(mutex);
}

void Dispatcher::release(PFAST_MUTEX mutex) {
    {
        std::unique_lock lock(lock_);
        const PVOID self = currentThreadId();
        if (mutex->Count != 0 || mutex->Owner != self) {
            const bool free = mutex->Count != 0;
            lock.unlock();
            verifier_.report(Check::MutexNotOwner,
                             "fast mutex " + hexPointer(mutex) +
                                 (free ? " released while nobody holds it"
                                       : " released by a thread that does not own it"));
            return;
        }
        const auto extra = recursion_.find(mutex);
        if (extra != recursion_.end()) {
            if (--extra->second == 0) {
                recursion_.erase(extra);
            }
        } else {
            mutex->Owner = nullptr;
            mutex->Count = 1;
        }
    }
    noteMutexReleased(mutex);
    changed_.notify_all();
}

} // namespace winsim::kernel
