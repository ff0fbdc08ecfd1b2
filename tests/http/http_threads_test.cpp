// The engine runs on the window's thread and the catalogue loader's thread at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "http/http_request.h"
#include "tests/support/recording_server.h"

namespace {

constexpr int kRequestsPerThread = 25;

// Echoes the caller's marker and cookie, and sets a cookie named after the marker.
Reply Echo(const RecordedRequest& request) {
    std::string marker = request.Header("X-Thread").value_or("?");
    return {.headerLines = {"Set-Cookie: " + marker + "=" + request.target.substr(1) + "; Path=/"},
            .body = marker + "|" + request.Header("Cookie").value_or("")};
}

TEST(HttpRequestThreads, TwoThreadsKeepTheirOwnExchangesApart) {
    RecordingServer server(Echo);
    std::vector<std::string> failures[2];
    std::string jars[2];
    auto run = [&](int thread, bool shareObject) {
        HttpRequestObject shared;
        std::string marker = "t" + std::to_string(thread);
        for (int i = 0; i < kRequestsPerThread; ++i) {
            std::string headers = "X-Thread: " + marker;
            std::string expectedCookie = jars[thread];
            int status = 0;
            std::string body =
                PerformHttpRequest({.url = server.Url("/" + std::to_string(i)),
                                    .cookies = &jars[thread],
                                    .headers = &headers,
                                    .statusCode = &status,
                                    .requestObject = shareObject ? &shared : nullptr});
            if (body != marker + "|" + expectedCookie || status != 200) {
                failures[thread].push_back(std::to_string(i) + ": " + body);
            }
        }
    };
    std::thread first(run, 0, true);
    std::thread second(run, 1, false);
    first.join();
    second.join();

    EXPECT_TRUE(failures[0].empty()) << failures[0].front();
    EXPECT_TRUE(failures[1].empty()) << failures[1].front();
    std::string last = std::to_string(kRequestsPerThread - 1);
    EXPECT_EQ(jars[0], "t0=" + last);
    EXPECT_EQ(jars[1], "t1=" + last);
    EXPECT_EQ(server.Requests().size(), 2u * kRequestsPerThread);
}

TEST(HttpRequestThreads, AbortFromAnotherThreadEndsAStalledExchange) {
    RecordingServer server;
    server.Route("/hang", {.neverAnswer = true});
    std::atomic<bool> abort{false};
    std::string body = "unset";
    int status = -1;
    auto start = std::chrono::steady_clock::now();
    std::thread loader([&] {
        HttpAbortGuard guard(abort);
        body = PerformHttpRequest({.url = server.Url("/hang"), .statusCode = &status});
    });
    ASSERT_TRUE(server.WaitForRequests(1, 5000));
    abort = true;
    loader.join();
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(elapsed, 3.0);
    EXPECT_EQ(body, "");
    EXPECT_EQ(status, 0);
}

TEST(HttpRequestThreads, AbortFlagOfOneThreadDoesNotStopAnother) {
    RecordingServer server;
    server.Route("/", {.body = "ok"});
    std::atomic<bool> abort{true};
    HttpAbortGuard guard(abort);
    std::string body;
    std::thread other([&] { body = PerformHttpRequest({.url = server.Url("/")}); });
    other.join();
    EXPECT_EQ(body, "ok");
}

}  // namespace
