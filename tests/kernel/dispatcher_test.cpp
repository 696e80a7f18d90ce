// Events and fast mutexes with real threads. Nothing here depends on timing: a waiter that must
// be blocked is shown to be blocked by what it has not done yet, not by how long it took.
#include "scripted_driver.h"

#include <atomic>
#include <thread>

namespace {

using namespace kt;
using DispatcherTest = KernelTest;

void yieldUntil(const std::atomic<int>& value, int wanted) {
    while (value.load() < wanted) {
        std::this_thread::yield();
    }
}

TEST_F(DispatcherTest, WaiterBlocksUntilTheEventIsSet) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    std::atomic<int> passed{0};
    std::thread waiter([&] {
        EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr),
                  STATUS_SUCCESS);
        ++passed;
    });
    EXPECT_EQ(passed.load(), 0);
    EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 0) << "previous state";
    waiter.join();
    EXPECT_EQ(passed.load(), 1);
    EXPECT_EQ(KeReadStateEvent(&event), 1) << "a notification event stays set";
    EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 1);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
}

TEST_F(DispatcherTest, SynchronizationEventReleasesOneWaiterAndResets) {
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    std::atomic<int> passed{0};
    auto wait = [&] {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        ++passed;
    };
    std::thread first(wait), second(wait);
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    yieldUntil(passed, 1);
    EXPECT_EQ(KeReadStateEvent(&event), 0) << "consumed by the waiter it released";
    EXPECT_EQ(passed.load(), 1) << "the other waiter needs a second set";
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    first.join();
    second.join();
    EXPECT_EQ(passed.load(), 2);
}

TEST_F(DispatcherTest, ResetAndClearReturnToNotSignalled) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    EXPECT_EQ(KeResetEvent(&event), 1);
    EXPECT_EQ(KeResetEvent(&event), 0);
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    KeClearEvent(&event);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
}

TEST_F(DispatcherTest, TimeoutsEndWaitsOnUnsetEvents) {
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    LARGE_INTEGER poll;
    poll.QuadPart = 0;
    LARGE_INTEGER relative;
    relative.QuadPart = -10 * 1000 * 5; // 5 ms
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &poll), STATUS_TIMEOUT);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &relative),
              STATUS_TIMEOUT);
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &relative),
              STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
}

TEST_F(DispatcherTest, FastMutexBlocksOtherThreadsAndRecordsItsOwner) {
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    EXPECT_EQ(mutex.Count, 1);
    ExAcquireFastMutex(&mutex);
    EXPECT_EQ(mutex.Owner, winsim::kernel::currentThreadId());
    std::atomic<int> inside{0};
    std::thread other([&] {
        ExAcquireFastMutex(&mutex);
        ++inside;
        ExReleaseFastMutex(&mutex);
    });
    EXPECT_EQ(inside.load(), 0);
    ExReleaseFastMutex(&mutex);
    other.join();
    EXPECT_EQ(inside.load(), 1);
    EXPECT_EQ(mutex.Owner, nullptr);
}

TEST_F(DispatcherTest, FastMutexExcludesConcurrentUpdates) {
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    long counter = 0; // deliberately not atomic
    auto work = [&] {
        for (int i = 0; i < 2000; ++i) {
            ExAcquireFastMutex(&mutex);
            ++counter;
            ExReleaseFastMutex(&mutex);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 4000);
}

TEST_F(DispatcherTest, IrqlIsAlwaysPassive) {
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    PAGED_CODE();
    EXPECT_TRUE(kernel.verifier().clean());
}

} // namespace
