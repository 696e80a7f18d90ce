// Kernel worker threads: a queue of work items run in order of posting on a small pool of
// threads (like ExQueueWorkItem). A new thread is started when an item is posted while every
// thread is busy, up to a limit, so that an item waiting for a later one does not block it.
//
// Used by the kernel (PoRequestPowerIrp) and by the bus and port driver doubles to finish
// requests later on another thread. shutdown() runs everything queued, then joins the threads;
// items posted after that run at once on the caller's thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace winsim::kernel {

class WorkQueue {
  public:
    explicit WorkQueue(std::size_t maxThreads = 8);
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    void post(std::function<void()> item);
    // Waits until nothing is queued or running (items posted meanwhile included).
    void drain();
    void shutdown();

    std::size_t threads() const;
    std::size_t executed() const;

  private:
    void run();

    const std::size_t maxThreads_;
    mutable std::mutex lock_;
    std::condition_variable work_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    std::size_t waiting_ = 0; // threads waiting for work
    std::size_t running_ = 0; // items running
    std::size_t executed_ = 0;
    bool stopping_ = false;
    bool stopped_ = false;
};

} // namespace winsim::kernel
