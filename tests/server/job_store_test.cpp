#include "server/job_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using dubserver::DubbingRequest;
using dubserver::Job;
using dubserver::JobAccess;
using dubserver::JobStatus;
using dubserver::JobStore;
using namespace std::chrono_literals;

DubbingRequest RequestFor(const std::string& content) {
    DubbingRequest request;
    request.content = content;
    return request;
}

// A store whose renderer the test holds and releases. It renders "mp3 of <content>", and
// nothing for the content "fail".
class JobStoreTest : public testing::Test {
  protected:
    void TearDown() override { Release(); }

    void Hold() {
        std::lock_guard lock(mutex_);
        hold_ = true;
    }

    void Release() {
        {
            std::lock_guard lock(mutex_);
            hold_ = false;
        }
        released_.notify_all();
    }

    std::vector<std::string> Rendered() {
        std::lock_guard lock(mutex_);
        return rendered_;
    }

    void WaitUntilRendering(size_t count) {
        std::unique_lock lock(mutex_);
        ASSERT_TRUE(started_.wait_for(lock, 5s, [&] { return rendered_.size() >= count; }));
    }

    // The job's status once it left rendering, or kRendering after five seconds.
    JobStatus Settled(const JobStore::Accepted& job) {
        JobStatus status = JobStatus::kRendering;
        for (const auto deadline = std::chrono::steady_clock::now() + 5s;
             status == JobStatus::kRendering && std::chrono::steady_clock::now() < deadline;) {
            EXPECT_EQ(store_.Visit(job.session, job.serial,
                                   [&](const Job& found) { status = found.status; }),
                      JobAccess::kGranted);
            std::this_thread::sleep_for(1ms);
        }
        return status;
    }

  private:
    std::string Render(const DubbingRequest& request) {
        std::unique_lock lock(mutex_);
        rendered_.push_back(request.content);
        started_.notify_all();
        released_.wait(lock, [&] { return !hold_; });
        return request.content == "fail" ? std::string() : "mp3 of " + request.content;
    }

    std::mutex mutex_;
    std::condition_variable started_;
    std::condition_variable released_;
    bool hold_ = false;
    std::vector<std::string> rendered_;

  protected:
    // Last: stopped before the renderer's state goes.
    JobStore store_{[this](const DubbingRequest& request) { return Render(request); }};
};

TEST_F(JobStoreTest, ReadyJobKeepsItsAudio) {
    const JobStore::Accepted job = store_.Add(RequestFor("hello"));
    ASSERT_EQ(Settled(job), JobStatus::kReady);
    EXPECT_EQ(store_.FinishedMp3(job.serial), "mp3 of hello");
}

TEST_F(JobStoreTest, FailedRenderLeavesNothingToDownload) {
    const JobStore::Accepted job = store_.Add(RequestFor("fail"));
    ASSERT_EQ(Settled(job), JobStatus::kFailed);
    EXPECT_FALSE(store_.FinishedMp3(job.serial).has_value());
}

TEST_F(JobStoreTest, NothingToDownloadWhileRendering) {
    Hold();
    const JobStore::Accepted job = store_.Add(RequestFor("slow"));
    WaitUntilRendering(1);
    EXPECT_FALSE(store_.FinishedMp3(job.serial).has_value());
    Release();
    EXPECT_EQ(Settled(job), JobStatus::kReady);
}

TEST_F(JobStoreTest, SerialsCountUpAndEveryJobHasASessionOfItsOwn) {
    const JobStore::Accepted first = store_.Add(RequestFor("a"));
    const JobStore::Accepted second = store_.Add(RequestFor("b"));
    EXPECT_EQ(first.serial, JobStore::kFirstSerial);
    EXPECT_EQ(second.serial, JobStore::kFirstSerial + 1);
    EXPECT_NE(first.session, second.session);
    for (const std::string& session : {first.session, second.session}) {
        EXPECT_EQ(session.size(), 32u);
        EXPECT_EQ(session.find_first_not_of("0123456789abcdef"), std::string::npos) << session;
    }
    EXPECT_EQ(store_.AcceptedCount(), 2);
}

// Rendering goes on with the newest jobs; the oldest are forgotten, unrendered if still waiting.
TEST_F(JobStoreTest, ForgetsTheOldestJobsBeyondTheKeptOnes) {
    Hold();
    const JobStore::Accepted first = store_.Add(RequestFor("job 0"));
    WaitUntilRendering(1);
    std::vector<JobStore::Accepted> later;
    for (size_t i = 1; i <= JobStore::kKeptJobs + 1; ++i) {
        later.push_back(store_.Add(RequestFor("job " + std::to_string(i))));
    }
    Release();
    ASSERT_EQ(Settled(later.back()), JobStatus::kReady);

    const std::vector<std::string> rendered = Rendered();
    EXPECT_EQ(rendered.size(), JobStore::kKeptJobs + 1);  // job 0, then jobs 2 and on
    EXPECT_EQ(std::count(rendered.begin(), rendered.end(), "job 1"), 0);
    const auto nothing = [](Job&) {};
    // A kept job's session learns that the job is gone; the forgotten sessions are strangers.
    EXPECT_EQ(store_.Visit(later[1].session, first.serial, nothing), JobAccess::kNoSuchJob);
    EXPECT_EQ(store_.Visit(first.session, first.serial, nothing), JobAccess::kForbidden);
    EXPECT_EQ(store_.Visit(later[0].session, later[0].serial, nothing), JobAccess::kForbidden);
    EXPECT_EQ(store_.Visit(later[1].session, later[1].serial, nothing), JobAccess::kGranted);
}

// Who may see a job: two jobs "mine" and "theirs", asked for by one session about one serial.
enum class Who { kMine, kTheirs, kNobody, kStranger };
enum class Which { kMine, kTheirs, kUnknown, kAbsent };

struct AccessCase {
    const char* name;
    Who session;
    Which serial;
    JobAccess expected;
};

void PrintTo(const AccessCase& c, std::ostream* os) {
    *os << c.name;
}

class JobAccessTest : public JobStoreTest, public testing::WithParamInterface<AccessCase> {};

TEST_P(JobAccessTest, FollowsTheSession) {
    const JobStore::Accepted mine = store_.Add(RequestFor("mine"));
    const JobStore::Accepted theirs = store_.Add(RequestFor("theirs"));
    const AccessCase& c = GetParam();
    const std::string session = c.session == Who::kMine     ? mine.session
                                : c.session == Who::kTheirs ? theirs.session
                                : c.session == Who::kNobody ? std::string()
                                                            : std::string(32, '0');
    const std::optional<int64_t> serial =
        c.serial == Which::kMine      ? std::optional<int64_t>(mine.serial)
        : c.serial == Which::kTheirs  ? std::optional<int64_t>(theirs.serial)
        : c.serial == Which::kUnknown ? std::optional<int64_t>(theirs.serial + 1)
                                      : std::nullopt;
    bool visited = false;
    EXPECT_EQ(store_.Visit(session, serial,
                           [&](Job& job) {
                               visited = true;
                               EXPECT_EQ(job.session, session);
                           }),
              c.expected);
    EXPECT_EQ(visited, c.expected == JobAccess::kGranted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobAccessTest,
    testing::Values(
        AccessCase{"own_job", Who::kMine, Which::kMine, JobAccess::kGranted},
        AccessCase{"another_sessions_job", Who::kMine, Which::kTheirs, JobAccess::kForbidden},
        AccessCase{"no_session", Who::kNobody, Which::kMine, JobAccess::kForbidden},
        AccessCase{"unknown_session", Who::kStranger, Which::kMine, JobAccess::kForbidden},
        AccessCase{"unknown_session_unknown_job", Who::kStranger, Which::kUnknown,
                   JobAccess::kForbidden},
        AccessCase{"known_session_unknown_job", Who::kTheirs, Which::kUnknown,
                   JobAccess::kNoSuchJob},
        AccessCase{"known_session_no_serial", Who::kMine, Which::kAbsent, JobAccess::kNoSuchJob}),
    [](const auto& info) { return std::string(info.param.name); });

// What a visit changes stays with the job.
TEST_F(JobStoreTest, VisitsChangeTheJob) {
    const JobStore::Accepted job = store_.Add(RequestFor("counted"));
    for (int i = 0; i < 3; ++i) {
        store_.Visit(job.session, job.serial, [](Job& found) { ++found.polls; });
    }
    int polls = 0;
    store_.Visit(job.session, job.serial, [&](const Job& found) { polls = found.polls; });
    EXPECT_EQ(polls, 3);
}

}  // namespace
