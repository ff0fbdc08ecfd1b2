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
using dubserver::JobLimits;
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
    explicit JobStoreTest(JobLimits limits = {})
        : store_([this](const DubbingRequest& request) { return Render(request); }, limits) {}

    void TearDown() override { Release(); }

    JobStore::Accepted Add(const std::string& content) {
        std::optional<JobStore::Accepted> job = store_.Add(RequestFor(content));
        EXPECT_TRUE(job.has_value()) << content << " was refused";
        return job.value_or(JobStore::Accepted{});
    }

    JobAccess Look(const JobStore::Accepted& job) {
        return store_.Visit(job.session, job.serial, [](Job&) {});
    }

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
    JobStore store_;
};

TEST_F(JobStoreTest, ReadyJobKeepsItsAudio) {
    const JobStore::Accepted job = Add("hello");
    ASSERT_EQ(Settled(job), JobStatus::kReady);
    EXPECT_EQ(store_.FetchMp3(job.serial), "mp3 of hello");
}

TEST_F(JobStoreTest, FailedRenderLeavesNothingToDownload) {
    const JobStore::Accepted job = Add("fail");
    ASSERT_EQ(Settled(job), JobStatus::kFailed);
    EXPECT_FALSE(store_.FetchMp3(job.serial).has_value());
}

TEST_F(JobStoreTest, NothingToDownloadWhileRendering) {
    Hold();
    const JobStore::Accepted job = Add("slow");
    WaitUntilRendering(1);
    EXPECT_FALSE(store_.FetchMp3(job.serial).has_value());
    Release();
    EXPECT_EQ(Settled(job), JobStatus::kReady);
}

TEST_F(JobStoreTest, SerialsCountUpAndEveryJobHasASessionOfItsOwn) {
    const JobStore::Accepted first = Add("a");
    const JobStore::Accepted second = Add("b");
    EXPECT_EQ(first.serial, JobStore::kFirstSerial);
    EXPECT_EQ(second.serial, JobStore::kFirstSerial + 1);
    EXPECT_NE(first.session, second.session);
    for (const std::string& session : {first.session, second.session}) {
        EXPECT_EQ(session.size(), 32u);
        EXPECT_EQ(session.find_first_not_of("0123456789abcdef"), std::string::npos) << session;
    }
    EXPECT_EQ(store_.AcceptedCount(), 2);
}

// Jobs accepted while another renders all wait their turn: none is dropped to make room, however
// many there are (up to the pending limit).
TEST_F(JobStoreTest, KeepsEveryWaitingJobUntilItIsRendered) {
    Hold();
    const JobStore::Accepted first = Add("job 0");
    WaitUntilRendering(1);
    std::vector<JobStore::Accepted> waiting;
    for (int i = 1; i < 48; ++i) {
        waiting.push_back(Add("job " + std::to_string(i)));
    }
    Release();
    for (const JobStore::Accepted& job : waiting) {
        ASSERT_EQ(Settled(job), JobStatus::kReady) << job.serial;
    }
    EXPECT_EQ(Rendered().size(), 48u);
    EXPECT_EQ(Look(first), JobAccess::kGranted);
    EXPECT_EQ(store_.AcceptedCount(), 48);
}

// A small store: three jobs pending at most, four kept, one fetched job kept beyond those.
class SmallJobStoreTest : public JobStoreTest {
  protected:
    SmallJobStoreTest() : JobStoreTest({.pending = 3, .kept = 4, .fetchedKept = 1}) {}
};

TEST_F(SmallJobStoreTest, RefusesSubmitsWhileFullOfPendingJobs) {
    Hold();
    std::vector<JobStore::Accepted> pending = {Add("a"), Add("b"), Add("c")};
    EXPECT_FALSE(store_.Add(RequestFor("refused")).has_value());
    EXPECT_EQ(store_.AcceptedCount(), 3);
    Release();
    for (const JobStore::Accepted& job : pending) {
        EXPECT_EQ(Settled(job), JobStatus::kReady);
    }
    EXPECT_TRUE(store_.Add(RequestFor("d")).has_value());
}

// Unfetched results stay until they expire; the oldest fetched job makes room, and fetched jobs
// beyond those kept go too.
TEST_F(SmallJobStoreTest, OnlyFetchedJobsMakeRoomOldestFirst) {
    std::vector<JobStore::Accepted> jobs;
    for (const char* content : {"a", "b", "fail", "d"}) {
        jobs.push_back(Add(content));
        Settled(jobs.back());
    }
    EXPECT_FALSE(store_.Add(RequestFor("refused")).has_value()) << "nothing was fetched";

    EXPECT_TRUE(store_.FetchMp3(jobs[1].serial).has_value());
    store_.Visit(jobs[2].session, jobs[2].serial, [](Job& job) { job.fetched = true; });
    const JobStore::Accepted e = Add("e");  // two fetched, one kept: b, the older, goes
    EXPECT_EQ(Look(jobs[1]), JobAccess::kForbidden);
    EXPECT_EQ(Look(jobs[2]), JobAccess::kGranted);
    EXPECT_EQ(Look(jobs[0]), JobAccess::kGranted);
    EXPECT_EQ(Look(jobs[3]), JobAccess::kGranted);
    EXPECT_EQ(Settled(e), JobStatus::kReady);
    EXPECT_EQ(store_.FetchMp3(jobs[0].serial), "mp3 of a");
    Add("f");  // a and fail fetched: a, the older, goes
    EXPECT_EQ(Look(jobs[0]), JobAccess::kForbidden);
    EXPECT_EQ(Look(jobs[2]), JobAccess::kGranted);
    EXPECT_EQ(Look(jobs[3]), JobAccess::kGranted);
}

class ShortLivedJobStoreTest : public JobStoreTest {
  protected:
    ShortLivedJobStoreTest() : JobStoreTest({.lifetime = 100ms}) {}
};

TEST_F(ShortLivedJobStoreTest, FinishedJobExpiresUnfetchedButPendingOnesDoNot) {
    const JobStore::Accepted finished = Add("finished");
    ASSERT_EQ(Settled(finished), JobStatus::kReady);
    Hold();
    const JobStore::Accepted slow = Add("slow");
    WaitUntilRendering(2);
    const JobStore::Accepted waiting = Add("waiting");
    std::this_thread::sleep_for(300ms);
    const JobStore::Accepted later = Add("later");
    EXPECT_EQ(store_.Visit(later.session, finished.serial, [](Job&) {}), JobAccess::kNoSuchJob);
    EXPECT_EQ(Look(slow), JobAccess::kGranted);
    EXPECT_EQ(Look(waiting), JobAccess::kGranted);
    Release();
    EXPECT_EQ(Settled(waiting), JobStatus::kReady);
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
    const JobStore::Accepted mine = Add("mine");
    const JobStore::Accepted theirs = Add("theirs");
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
    const JobStore::Accepted job = Add("counted");
    for (int i = 0; i < 3; ++i) {
        store_.Visit(job.session, job.serial, [](Job& found) { ++found.polls; });
    }
    int polls = 0;
    store_.Visit(job.session, job.serial, [&](const Job& found) { polls = found.polls; });
    EXPECT_EQ(polls, 3);
}

}  // namespace
