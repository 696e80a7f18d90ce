// Kernel worker threads.
#include "kernel/work_queue.h"
#include "scripted_driver.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

using winsim::kernel::WorkQueue;

TEST(WorkQueueTest, RunsItemsInOrderOnAnotherThread) {
    WorkQueue queue(1);
    std::vector<int> order;
    std::thread::id ranOn;
    for (int i = 0; i < 5; ++i) {
        queue.post([&order, &ranOn, i] {
            order.push_back(i);
            ranOn = std::this_thread::get_id();
        });
    }
    queue.drain();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

TEST(WorkQueueTest, AnItemWaitingForALaterOneDoesNotBlockIt) {
    winsim::kernel::Kernel kernel; // for the event
    KEVENT later;
    KeInitializeEvent(&later, NotificationEvent, FALSE);
    std::atomic<bool> finished{false};
    kernel.work().post([&] {
        KeWaitForSingleObject(&later, Executive, KernelMode, FALSE, nullptr);
        finished = true;
    });
    kernel.work().post([&] { KeSetEvent(&later, IO_NO_INCREMENT, FALSE); });
    kernel.work().drain();
    EXPECT_TRUE(finished.load());
    EXPECT_GE(kernel.work().threads(), 2u);
}

TEST(WorkQueueTest, ShutdownRunsWhatIsQueuedThenRunsNewItemsInline) {
    WorkQueue queue;
    std::atomic<int> ran{0};
    for (int i = 0; i < 10; ++i) {
        queue.post([&ran] { ++ran; });
    }
    queue.shutdown();
    EXPECT_EQ(ran.load(), 10);
    std::thread::id ranOn;
    queue.post([&ranOn] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

} // namespace
