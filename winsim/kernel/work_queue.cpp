#include "kernel/work_queue.h"

#include "kernel/call_frames.h"

namespace winsim::kernel {

WorkQueue::WorkQueue(std::size_t maxThreads) : maxThreads_(maxThreads == 0 ? 1 : maxThreads) {}

WorkQueue::~WorkQueue() {
    shutdown();
}

void WorkQueue::post(std::function<void()> item) {
    {
        std::unique_lock lock(lock_);
        if (!stopped_) {
            queue_.push_back(std::move(item));
            if (waiting_ < queue_.size() && threads_.size() < maxThreads_) {
                threads_.emplace_back([this] { run(); });
            }
            lock.unlock();
            work_.notify_one();
            return;
        }
    }
    const DriverCall frame(nullptr, "work item");
    item();
}

void WorkQueue::run() {
    std::unique_lock lock(lock_);
    for (;;) {
        ++waiting_;
        work_.wait(lock, [this] { return !queue_.empty() || stopping_; });
        --waiting_;
        if (queue_.empty()) {
            return; // stopping and nothing left
        }
        auto item = std::move(queue_.front());
        queue_.pop_front();
        ++running_;
        lock.unlock();
        {
            const DriverCall frame(nullptr, "work item");
            item();
        }
        lock.lock();
        --running_;
        ++executed_;
        if (queue_.empty() && running_ == 0) {
            idle_.notify_all();
        }
    }
}

void WorkQueue::drain() {
    std::unique_lock lock(lock_);
    idle_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
}

void WorkQueue::shutdown() {
    std::vector<std::thread> threads;
    {
        std::unique_lock lock(lock_);
        if (stopped_) {
            return;
        }
        idle_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
        stopping_ = true;
        stopped_ = true;
        threads.swap(threads_);
    }
    work_.notify_all();
    for (auto& t : threads) {
        t.join();
    }
}

std::size_t WorkQueue::threads() const {
    const std::lock_guard guard(lock_);
    return threads_.size();
}

std::size_t WorkQueue::executed() const {
    const std::lock_guard guard(lock_);
    return executed_;
}

} // namespace winsim::kernel
