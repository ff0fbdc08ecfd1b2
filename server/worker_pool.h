#pragma once
// The server's connection workers: a thread per connection in hand, started as connections
// come and kept for the next ones, up to a ceiling. A slow or idle connection holds its worker
// only as long as the connection limits allow, so a few of them cannot starve the rest the
// way they starve a small fixed pool.

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace dubserver {

class WorkerPool final : public httplib::TaskQueue {
  public:
    explicit WorkerPool(std::size_t maxWorkers);
    ~WorkerPool() override;  // shutdown
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void enqueue(std::function<void()> task) override;
    // Runs the tasks still queued, then joins every worker.
    void shutdown() override;

  private:
    void Work();

    const std::size_t maxWorkers_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<std::function<void()>> tasks_;
    std::size_t idle_ = 0;
    bool shuttingDown_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace dubserver
