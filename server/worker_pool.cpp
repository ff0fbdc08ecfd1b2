#include "server/worker_pool.h"

namespace dubserver {

WorkerPool::WorkerPool(std::size_t maxWorkers) : maxWorkers_(maxWorkers) {}

WorkerPool::~WorkerPool() {
    shutdown();
}

void WorkerPool::enqueue(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    // Idle workers already woken for earlier tasks are not free for this one.
    if (tasks_.size() > idle_ && workers_.size() < maxWorkers_) {
        workers_.emplace_back([this] { Work(); });
    }
    queued_.notify_one();
}

void WorkerPool::shutdown() {
    {
        std::lock_guard lock(mutex_);
        shuttingDown_ = true;
    }
    queued_.notify_all();
    // Only the listening thread adds workers, and it has stopped by now.
    for (std::thread& worker : workers_) {
        if (worker.joinable()) {
            worker.join();
        }
    }
}

void WorkerPool::Work() {
    std::unique_lock lock(mutex_);
    while (true) {
        ++idle_;
        queued_.wait(lock, [&] { return shuttingDown_ || !tasks_.empty(); });
        --idle_;
        if (tasks_.empty()) {
            return;  // shutting down with nothing left
        }
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

}  // namespace dubserver
