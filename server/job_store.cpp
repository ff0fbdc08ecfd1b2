#include "server/job_store.h"

#include <algorithm>
#include <cstdio>

namespace dubserver {

JobStore::JobStore(Renderer render, JobLimits limits)
    : render_(std::move(render)), limits_(limits), renderer_([this] { RenderJobs(); }) {}

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

std::optional<JobStore::Accepted> JobStore::Add(DubbingRequest request) {
    std::unique_lock lock(mutex_);
    DropStaleJobs();
    const auto pending = std::count_if(jobs_.begin(), jobs_.end(), [](const auto& entry) {
        return entry.second.status == JobStatus::kRendering;
    });
    if (static_cast<size_t>(pending) >= limits_.pending ||
        (jobs_.size() >= limits_.kept && !DropOldestFetchedJob())) {
        return std::nullopt;
    }
    char session[33];
    std::snprintf(session, sizeof session, "%016llx%016llx",
                  static_cast<unsigned long long>(random_()),
                  static_cast<unsigned long long>(random_()));
    const int64_t serial = nextSerial_++;
    jobs_[serial].session = session;
    pending_.emplace_back(serial, std::move(request));
    ++accepted_;
    lock.unlock();
    work_.notify_one();
    return Accepted{serial, session};
}

void JobStore::DropStaleJobs() {
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(jobs_, [&](const auto& entry) {
        return entry.second.status != JobStatus::kRendering &&
               now - entry.second.finishedAt >= limits_.lifetime;
    });
    auto fetched = static_cast<size_t>(std::count_if(
        jobs_.begin(), jobs_.end(), [](const auto& entry) { return entry.second.fetched; }));
    while (fetched > limits_.fetchedKept && DropOldestFetchedJob()) {
        --fetched;
    }
}

bool JobStore::DropOldestFetchedJob() {
    const auto oldest = std::find_if(jobs_.begin(), jobs_.end(),
                                     [](const auto& entry) { return entry.second.fetched; });
    if (oldest == jobs_.end()) {
        return false;
    }
    jobs_.erase(oldest);
    return true;
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

std::optional<std::string> JobStore::FetchMp3(int64_t serial) {
    std::lock_guard lock(mutex_);
    const auto job = jobs_.find(serial);
    if (job == jobs_.end() || job->second.status != JobStatus::kReady) {
        return std::nullopt;
    }
    job->second.fetched = true;
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
        lock.unlock();
        std::string mp3 = render_(request);
        lock.lock();
        // Still there: a job is only dropped once it finished.
        Job& job = jobs_.at(serial);
        job.status = mp3.empty() ? JobStatus::kFailed : JobStatus::kReady;
        job.mp3 = std::move(mp3);
        job.finishedAt = std::chrono::steady_clock::now();
    }
}

}  // namespace dubserver
