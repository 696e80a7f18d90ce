// Dispatcher objects: events and fast mutexes with real blocking between threads.
//
// One lock and one condition variable serve every object: a waiter re-checks its object each time
// anything is signalled. A synchronization event satisfies one wait and resets itself; a
// notification event stays signalled until it is cleared.
//
// Watchdog: a wait without a timeout (KeWaitForSingleObject, ExAcquireFastMutex) that lasts longer
// than the deadlock limit records a Deadlock violation and aborts the process, so that a hung test
// fails instead of hanging.
#pragma once

#include "wdm.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

namespace winsim::kernel {

class Verifier;

class Dispatcher {
  public:
    Dispatcher(Verifier& verifier, std::chrono::milliseconds deadlockLimit);

    void initEvent(PKEVENT event, EVENT_TYPE type, bool signalled);
    LONG setEvent(PKEVENT event);   // the previous state
    LONG resetEvent(PKEVENT event); // the previous state
    LONG readEvent(PKEVENT event);
    // STATUS_SUCCESS, or STATUS_TIMEOUT when a timeout was given and ran out. A timeout is in
    // 100 ns units: negative relative, positive absolute system time, 0 a poll.
    NTSTATUS wait(PKEVENT event, const LARGE_INTEGER* timeout);

    void initMutex(PFAST_MUTEX mutex);
    void acquire(PFAST_MUTEX mutex);
    void release(PFAST_MUTEX mutex);

    void setDeadlockLimit(std::chrono::milliseconds limit);
    std::chrono::milliseconds deadlockLimit() const;

  private:
    // Waits until `ready` holds; aborts the process (Deadlock) after the limit. Lock held.
    template <class Ready>
    void waitWithWatchdog(std::unique_lock<std::mutex>& lock, Ready ready, const char* what);

    Verifier& verifier_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::chrono::milliseconds deadlockLimit_;
    std::unordered_map<PFAST_MUTEX, int> recursion_; // extra acquisitions by the owner
};

// The identity of the calling thread as kept in FAST_MUTEX::Owner.
PVOID currentThreadId();

} // namespace winsim::kernel
