#pragma once
// The synthesis jobs of one server: accepted submits, the session each belongs to, and the
// thread that renders them one after the other. Knows nothing of HTTP.
//
// An accepted job is kept until its result has been fetched or it has expired: a busy store
// refuses new submits rather than lose jobs it already promised to render.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "server/synthesis_request.h"

namespace dubserver {

enum class JobStatus { kRendering, kReady, kFailed };

struct Job {
    std::string session;  // the cookie value of the submit that made the job
    JobStatus status = JobStatus::kRendering;
    std::string mp3;  // when ready
    int polls = 0;    // result polls so far; the store only keeps the count
    // The client has its result: the audio was downloaded or the failure reported. Such jobs
    // are the first to go when the store needs room.
    bool fetched = false;
    std::chrono::steady_clock::time_point finishedAt;  // when no longer rendering
};

// How many jobs a store holds, and for how long.
struct JobLimits {
    // Jobs waiting or rendering; further submits are refused.
    std::size_t pending = 64;
    // Jobs of any kind; when full, the oldest fetched job makes room, or the submit is refused.
    std::size_t kept = 256;
    // Fetched jobs kept beyond that for a second download; older ones go.
    std::size_t fetchedKept = 16;
    // A finished job whose result nobody fetched goes this long after it finished.
    std::chrono::milliseconds lifetime = std::chrono::minutes(10);
};

// What a follow-up request may see of a job.
enum class JobAccess {
    kGranted,
    kForbidden,  // no session, or not the job's session, or a session of no kept job
    kNoSuchJob,  // a known session asking for a job that is not (or no longer) kept
};

class JobStore {
  public:
    // Makes the MP3 of a request; empty when it cannot.
    using Renderer = std::function<std::string(const DubbingRequest&)>;

    static constexpr int64_t kFirstSerial = 100001;

    // Starts the render thread.
    explicit JobStore(Renderer render, JobLimits limits = {});
    ~JobStore();  // Stop
    JobStore(const JobStore&) = delete;
    JobStore& operator=(const JobStore&) = delete;

    // Lets the job in hand finish, drops those still waiting and joins the render thread.
    void Stop();

    struct Accepted {
        int64_t serial;
        std::string session;  // 32 hexadecimal digits, new for every job
    };
    // Queues the request for rendering; nothing when the store is full (see JobLimits).
    std::optional<Accepted> Add(DubbingRequest request);
    int AcceptedCount() const;

    // Calls use(job) under the store's lock when the session may see the job.
    JobAccess Visit(std::string_view session, std::optional<int64_t> serial,
                    const std::function<void(Job&)>& use);
    // The audio of a job that is ready; the job counts as fetched from then on.
    std::optional<std::string> FetchMp3(int64_t serial);

  private:
    void RenderJobs();
    // Drops expired jobs and fetched ones beyond those kept; the store's lock is held.
    void DropStaleJobs();
    bool DropOldestFetchedJob();

    Renderer render_;
    JobLimits limits_;
    mutable std::mutex mutex_;
    std::condition_variable work_;  // a job to render or the store stops
    bool stopping_ = false;
    std::map<int64_t, Job> jobs_;  // by serial: oldest first
    std::deque<std::pair<int64_t, DubbingRequest>> pending_;
    int64_t nextSerial_ = kFirstSerial;
    int accepted_ = 0;
    std::mt19937_64 random_{std::random_device{}()};
    std::thread renderer_;  // last: starts once everything else is there
};

}  // namespace dubserver
