// The window thread's exchanges run on a worker while the window keeps processing its events;
// an abort raised by an event handler ends the exchange in flight. Also run under
// ThreadSanitizer: the exchange's variables cross from the window thread to the worker and back.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <string>

#include "app/startup.h"
#include "http/http_request.h"
#include "tests/support/recording_server.h"

namespace {

class ExchangeRunnerTest : public testing::Test {
  protected:
    void SetUp() override { SetHttpExchangeRunner(RunExchangeBesideWindowEvents); }
    void TearDown() override { SetHttpExchangeRunner({}); }

    RecordingServer server_;
};

TEST_F(ExchangeRunnerTest, EventsKeepFlowingWhileTheAnswerIsSlow) {
    server_.Route("/slow", {.body = "late", .delayMs = 300});
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    int status = 0;
    HttpError error;

    const std::string body =
        PerformHttpRequest({.url = server_.Url("/slow"), .statusCode = &status, .error = &error});

    EXPECT_EQ(body, "late");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(error.kind, HttpError::Kind::None);
    EXPECT_GE(ticks, 10) << "the timer fired while the exchange was under way";
}

TEST_F(ExchangeRunnerTest, AbortRaisedByAnEventEndsAHungExchange) {
    server_.Route("/hang", {.neverAnswer = true});
    std::atomic<bool> abort{false};
    const HttpAbortGuard guard(abort);
    QTimer::singleShot(100, [&] { abort = true; });
    QElapsedTimer elapsed;
    elapsed.start();
    HttpError error;

    EXPECT_EQ(PerformHttpRequest({.url = server_.Url("/hang"), .error = &error}), "");

    EXPECT_EQ(error.kind, HttpError::Kind::Aborted);
    EXPECT_LT(elapsed.elapsed(), 1000);
}

TEST_F(ExchangeRunnerTest, CookiesAndHeadersComeBackToTheCallingThread) {
    server_.Route("/", {.headerLines = {"Set-Cookie: sid=7; Path=/"}, .body = "ok"});
    std::string cookies;
    std::string responseHeaders;
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(PerformHttpRequest({.url = server_.Url("/"),
                                      .cookies = &cookies,
                                      .responseHeaders = &responseHeaders}),
                  "ok");
    }
    EXPECT_EQ(cookies, "sid=7");
    EXPECT_NE(responseHeaders.find("Set-Cookie: sid=7"), std::string::npos);
    EXPECT_EQ(server_.Requests().size(), 20u);
}

}  // namespace
