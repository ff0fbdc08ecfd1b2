#pragma once
// A scripted stand-in for the dubbing service on a recording server: it answers the synthesis
// endpoints, a background track that redirects and a download, and records every request.
// ServiceOrigin points at it while it lives.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "service/service_api.h"
#include "tests/support/recording_server.h"

inline constexpr const char* kResultPath = "/pc/api/synVox/querySynthResult";
inline constexpr const char* kSubmitPath = "/pc/api/synVox/speechSynth";

struct ServiceScript {
    Reply submit{.headerLines = {"Set-Cookie: sid=abc; Path=/; HttpOnly"},
                 .body = R"({"code":200,"message":"成功","data":{"serialId":42}})"};
    // The answer to the n-th result request (counted from 1); by default "work in progress"
    // for busyResults answers, then the download address.
    std::function<Reply(int n, const std::string& downloadUrl)> result{};
    int busyResults = 2;
    Reply download{.headerLines = {"Content-Type: audio/mpeg"}, .body = "ID3\x04 audio bytes"};
    Reply track{.status = 302, .reason = "Found"};  // Location is added when empty
};

inline Reply BusyResult() {
    return {.body = R"({"code":200,"data":{"vsriStatus":-1}})"};
}

inline Reply ReadyResult(const std::string& downloadUrl) {
    return {.body = R"({"code":200,"data":{"vsriStatus":2,"vsriDownurl":")" + downloadUrl +
                    R"(","vsriDuration":3}})"};
}

class FakeService {
  public:
    FakeService() : server_([this](const RecordedRequest& request) { return Answer(request); }) {
        SetServiceOrigin(server_.Url(""));
    }
    ~FakeService() { SetServiceOrigin({}); }

    void SetScript(ServiceScript script) {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
    }

    std::string TrackUrl() const { return server_.Url("/track/1"); }
    std::string RedirectedTrackUrl() const { return server_.Url("/track/1.mp3"); }
    std::string DownloadUrl() const { return server_.Url("/download/42.mp3"); }
    std::string HostPort() const { return server_.HostPort(); }

    std::vector<RecordedRequest> Requests() const { return server_.Requests(); }
    std::size_t RequestCount() const { return server_.Requests().size(); }

  private:
    Reply Answer(const RecordedRequest& request) {
        std::string path = request.target.substr(0, request.target.find('?'));
        std::lock_guard lock(mutex_);
        if (path == kSubmitPath) {
            return script_.submit;
        }
        if (path == kResultPath) {
            ++results_;
            if (script_.result) {
                return script_.result(results_, DownloadUrl());
            }
            return results_ <= script_.busyResults ? BusyResult() : ReadyResult(DownloadUrl());
        }
        if (path == "/download/42.mp3") {
            return script_.download;
        }
        if (path == "/track/1") {
            Reply track = script_.track;
            if (track.headerLines.empty()) {
                track.headerLines.push_back("Location: " + RedirectedTrackUrl());
            }
            return track;
        }
        if (path == "/track/1.mp3") {
            return {.body = "track bytes"};
        }
        return {.body = R"({"code":200,"message":"成功"})"};
    }

    std::mutex mutex_;
    ServiceScript script_;
    int results_ = 0;
    RecordingServer server_;  // last: its threads stop before the script goes away
};
