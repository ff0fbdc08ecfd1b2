#pragma once
// Waits that take no time and a local clock that moves on by exactly what was waited, so that a
// job's timetable and timestamps are predictable and no test sleeps for real. Installed for the
// constructing thread; the destructor puts the real clock and wait back.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "service/waiting.h"
#include "text/text_scan.h"

struct RecordedWait {
    int milliseconds = 0;
    // How many requests the service had seen when the wait began.
    std::size_t requestsBefore = 0;

    bool operator==(const RecordedWait&) const = default;
};

class VirtualTime {
  public:
    // The clock starts at local 2019-07-08 10:20:30.045, timestamp 1562552430045.
    static constexpr int64_t kStartTimestamp = 1562552430045;

    explicit VirtualTime(std::function<std::size_t()> countRequests = {})
        : countRequests_(std::move(countRequests)) {
        SetLocalClock([this] { return Now(); });
        SetWaitFunction([this](int milliseconds) {
            std::lock_guard lock(mutex_);
            waits_.push_back({milliseconds, countRequests_ ? countRequests_() : 0});
            elapsed_ += milliseconds;
        });
    }

    ~VirtualTime() {
        SetWaitFunction({});
        SetLocalClock({});
    }

    VirtualTime(const VirtualTime&) = delete;
    VirtualTime& operator=(const VirtualTime&) = delete;

    // The timestamp MakeTimestamp gives after that many milliseconds of waiting.
    static std::string TimestampAfter(int64_t elapsedMs) {
        return std::to_string(kStartTimestamp + elapsedMs);
    }

    std::vector<RecordedWait> Timeline() const {
        std::lock_guard lock(mutex_);
        return waits_;
    }

    std::vector<int> Waits() const {
        std::vector<int> durations;
        for (const RecordedWait& wait : Timeline()) {
            durations.push_back(wait.milliseconds);
        }
        return durations;
    }

  private:
    LocalDateTime Now() const {
        int64_t ms = ((10 * 60 + 20) * 60 + 30) * int64_t{1000} + 45 + elapsed_.load();
        LocalDateTime time{.year = 2019, .month = 7, .day = 8};
        time.millisecond = static_cast<int>(ms % 1000);
        time.second = static_cast<int>(ms / 1000 % 60);
        time.minute = static_cast<int>(ms / 60000 % 60);
        time.hour = static_cast<int>(ms / 3600000);
        return time;
    }

    std::function<std::size_t()> countRequests_;
    mutable std::mutex mutex_;
    std::vector<RecordedWait> waits_;
    std::atomic<int64_t> elapsed_{0};
};
