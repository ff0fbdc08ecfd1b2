#include "server/job_store.h"

#include <algorithm>
#include <cstdio>

namespace dubserver {

JobStore::JobStore(Renderer render)
    : render_(std::move(render)), renderer_([this] { RenderJobs(); }) {}

JobStore::~JobStore() {
    Stop();
}

void JobStore::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    if (renderer_.joinable()) {
        renderer_.join();
    }
}

JobStore::Accepted JobStore::Add(DubbingRequest request) {
    std::unique_lock lock(mutex_);
    char session[33];
    std::snprintf(session, sizeof session, "%016llx%016llx",
                  static_cast<unsigned long long>(random_()),
                  static_cast<unsigned long long>(random_()));
    const int64_t serial = nextSerial_++;
    jobs_[serial].session = session;
    order_.push_back(serial);
    if (order_.size() > kKeptJobs) {
        jobs_.erase(order_.front());
        order_.pop_front();
    }
    pending_.emplace_back(serial, std::move(request));
    ++accepted_;
    lock.unlock();
    work_.notify_one();
    return {serial, session};
}

int JobStore::AcceptedCount() const {
    std::lock_guard lock(mutex_);
    return accepted_;
}

JobAccess JobStore::Visit(std::string_view session, std::optional<int64_t> serial,
                          const std::function<void(Job&)>& use) {
    std::lock_guard lock(mutex_);
    const auto job = serial ? jobs_.find(*serial) : jobs_.end();
    const bool knownSession = std::any_of(jobs_.begin(), jobs_.end(), [&](const auto& entry) {
        return entry.second.session == session;
    });
    if (session.empty() || (job != jobs_.end() && job->second.session != session) ||
        (job == jobs_.end() && !knownSession)) {
        return JobAccess::kForbidden;
    }
    if (job == jobs_.end()) {
        return JobAccess::kNoSuchJob;
    }
    use(job->second);
    return JobAccess::kGranted;
}

std::optional<std::string> JobStore::FinishedMp3(int64_t serial) const {
    std::lock_guard lock(mutex_);
    const auto job = jobs_.find(serial);
    if (job == jobs_.end() || job->second.status != JobStatus::kReady) {
        return std::nullopt;
    }
    return job->second.mp3;
}

void JobStore::RenderJobs() {
    std::unique_lock lock(mutex_);
    while (true) {
        work_.wait(lock, [&] { return stopping_ || !pending_.empty(); });
        if (stopping_) {
            return;
        }
        auto [serial, request] = std::move(pending_.front());
        pending_.pop_front();
        if (!jobs_.contains(serial)) {
            continue;  // forgotten before its turn came
        }
        lock.unlock();
        std::string mp3 = render_(request);
        lock.lock();
        const auto job = jobs_.find(serial);
        if (job != jobs_.end()) {
            job->second.status = mp3.empty() ? JobStatus::kFailed : JobStatus::kReady;
            job->second.mp3 = std::move(mp3);
        }
    }
}

}  // namespace dubserver
