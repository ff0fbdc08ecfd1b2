// The synthesis job seen from the service's side: every request it makes, in order, with the
// waits between them. Literals are UTF-8; the job's texts are converted to code page 936.

#include "service/synthesis_job.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/service/fake_service.h"
#include "tests/service/job_parameters.h"
#include "tests/service/virtual_time.h"
#include "text/code_page.h"

namespace {

// Names each generated test after its case.
struct CaseName {
    template <typename Case>
    std::string operator()(const testing::TestParamInfo<Case>& info) const {
        return info.param.name;
    }
};

using testing::ElementsAre;
using testing::ElementsAreArray;

SynthesisParameters InAnsi(SynthesisParameters p) {
    for (std::string* text : {&p.content, &p.readerId, &p.backgroundPath, &p.backgroundId, &p.speed,
                              &p.readerVolume, &p.backgroundVolume, &p.pitch, &p.clientAddress}) {
        *text = Utf8TextToAnsi(*text);
    }
    return p;
}

// The request line target and whether a Cookie line came with it.
struct Seen {
    std::string method;
    std::string target;
    std::optional<std::string> cookie;

    bool operator==(const Seen&) const = default;
    friend void PrintTo(const Seen& s, std::ostream* os) {
        *os << s.method << " " << s.target << " cookie=" << s.cookie.value_or("(none)");
    }
};

std::vector<Seen> Summary(const std::vector<RecordedRequest>& requests) {
    std::vector<Seen> seen;
    for (const RecordedRequest& request : requests) {
        seen.push_back({request.method, request.target, request.Header("Cookie")});
    }
    return seen;
}

std::vector<int> ExpectedWaits(int resultRequests) {
    std::vector<int> waits = {100, 100, 100, 100, 100, 1000};
    waits.insert(waits.end(), resultRequests - 1, 2000);
    return waits;
}

const std::string kDefaultWindowBodyTemplate =
    R"({"bgVoxId":"7","bgVoxPath":"TRACK","readerID":3,"duration":"","isStatistics":1,)"
    R"("openId":"","speed":50,"title":"","ttsContent":"%E4%BD%A0%E5%A5%BD%20world",)"
    R"("unionId":"","volume":-5,"way":2,"readerVolume":10,"pitch":50,"bgVoxType":1,)"
    R"("ipAddress":"10.0.0.1"})";

class SynthesisJob : public testing::Test {
  protected:
    SynthesisJob() : time_([this] { return service_.RequestCount(); }) {}

    // The settings the window gives by default, with a background track chosen (UTF-8).
    SynthesisParameters DefaultWindowSettings() const {
        SynthesisParameters parameters =
            JobAtWindowLevels("你好 world", "3", service_.TrackUrl(), "7");
        parameters.clientAddress = "10.0.0.1";
        return parameters;
    }

    // Runs a job with these settings, converted to code page 936 as the window gives them.
    std::string Run(const SynthesisParameters& parameters) {
        return RunSynthesisJob(InAnsi(parameters), {.outcome = &outcome_});
    }

    std::string SubmitBody() const {
        for (const RecordedRequest& request : service_.Requests()) {
            if (request.target.starts_with(kSubmitPath)) {
                return request.body;
            }
        }
        ADD_FAILURE() << "no submit request";
        return {};
    }

    FakeService service_;
    VirtualTime time_;
    SynthesisOutcome outcome_;
};

TEST_F(SynthesisJob, FullJobWithBackgroundTrack) {
    std::vector<std::pair<SynthesisStage, int>> progress;
    std::string audio = RunSynthesisJob(
        InAnsi(DefaultWindowSettings()),
        {.progress = [&](SynthesisStage stage, int n) { progress.emplace_back(stage, n); },
         .outcome = &outcome_});

    EXPECT_EQ(audio, "ID3\x04 audio bytes");
    const std::string t0 = VirtualTime::TimestampAfter(0);
    const std::string t1 = VirtualTime::TimestampAfter(100);
    const std::string t2 = VirtualTime::TimestampAfter(300);
    const std::string jar = "sid=abc";
    const std::string result = "/pc/api/synVox/querySynthResult?serialId=42&T=" + t2;
    std::vector<RecordedRequest> requests = service_.Requests();
    std::vector<Seen> seen = Summary(requests);
    ASSERT_EQ(seen.size(), 12u);
    EXPECT_EQ(seen[0], (Seen{"GET", "/track/1", std::nullopt}));
    EXPECT_EQ(seen[1], (Seen{"GET", "/track/1.mp3", std::nullopt}));
    EXPECT_EQ(seen[2].method, "POST");
    EXPECT_EQ(seen[2].target, "/pc/api/synVox/speechSynth?T=" + t0);
    // The jar is empty on the first request of a job: nothing or an empty Cookie line.
    EXPECT_EQ(seen[2].cookie.value_or(""), "");
    EXPECT_EQ(seen[3],
              (Seen{"GET", "/pc/api/synVox/queryProcess?serialId=42&type=2&T=" + t1, jar}));
    EXPECT_EQ(seen[4],
              (Seen{"GET", "/pc/api/synVox/querySynthTingResult?serialId=42&T=" + t1, jar}));
    EXPECT_EQ(seen[5],
              (Seen{"GET", "/pc/api/synVox/queryProcess?serialId=42&type=2&T=" + t2, jar}));
    EXPECT_EQ(seen[6],
              (Seen{"GET", "/pc/api/synVox/querySynthTingResult?serialId=42&T=" + t2, jar}));
    EXPECT_EQ(seen[7], (Seen{"GET", "/pc/api/synVox/recordExport?serialId=42&T=" + t2, jar}));
    EXPECT_EQ(seen[8], (Seen{"GET", result, jar}));
    EXPECT_EQ(seen[9], (Seen{"GET", result, jar}));
    EXPECT_EQ(seen[10], (Seen{"GET", result, jar}));
    EXPECT_EQ(seen[11], (Seen{"GET", "/download/42.mp3", std::nullopt}));
    for (std::size_t i : {0u, 1u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u}) {
        EXPECT_EQ(requests[i].body, "") << i;
    }

    std::string body = kDefaultWindowBodyTemplate;
    body.replace(body.find("TRACK"), 5, service_.TrackUrl());
    EXPECT_EQ(requests[2].body, body);

    // Each wait with the number of requests made before it.
    EXPECT_THAT(time_.Timeline(),
                ElementsAre(RecordedWait{100, 3}, RecordedWait{100, 4}, RecordedWait{100, 5},
                            RecordedWait{100, 6}, RecordedWait{100, 7}, RecordedWait{1000, 8},
                            RecordedWait{2000, 9}, RecordedWait{2000, 10}));

    using S = SynthesisStage;
    EXPECT_THAT(progress, ElementsAre(std::pair(S::BackgroundTrack, 0), std::pair(S::Submit, 0),
                                      std::pair(S::FollowUp, 0), std::pair(S::FollowUp, 0),
                                      std::pair(S::FollowUp, 0), std::pair(S::FollowUp, 0),
                                      std::pair(S::FollowUp, 0), std::pair(S::ResultPoll, 1),
                                      std::pair(S::ResultPoll, 2), std::pair(S::ResultPoll, 3),
                                      std::pair(S::Download, 0)));
    EXPECT_EQ(outcome_.gaveUp, SynthesisGiveUp::None);
    EXPECT_EQ(outcome_.serial, "42");
    EXPECT_EQ(outcome_.resultRequests, 3);
    EXPECT_EQ(outcome_.downloadUrl, service_.DownloadUrl());
    EXPECT_EQ(outcome_.downloadStatus, 200);
}

TEST_F(SynthesisJob, SubmitCarriesTheSynthesisHeaderLines) {
    Run(DefaultWindowSettings());
    const std::string origin = "http://" + service_.HostPort();
    std::vector<std::string> lines;
    const std::vector<RecordedRequest> requests = service_.Requests();
    for (const std::string& line : requests.at(2).headerLines) {
        // Added by the transport from the body and the jar, not part of the block.
        if (!line.starts_with("Content-Length:") && !line.starts_with("Cookie:")) {
            lines.push_back(line);
        }
    }
    EXPECT_THAT(lines, ElementsAre("Host: " + service_.HostPort(),
                                   "Accept: application/json, text/plain, */*", "Origin: " + origin,
                                   "Authorization:",
                                   "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) "
                                   "AppleWebKit/537.36 (KHTML, like Gecko) "
                                   "Chrome/71.0.3578.80 Safari/537.36",
                                   "Content-Type: application/json;charset=UTF-8",
                                   "Referer: " + origin + "/", "Accept-Language: zh-CN,zh;q=0.9"));
}

TEST_F(SynthesisJob, EmptySettingsFillTheDefaults) {
    Run({});
    std::smatch match;
    std::string body = SubmitBody();
    ASSERT_TRUE(
        std::regex_search(body, match, std::regex(R"re("ipAddress":"(\d+):(\d+):(\d+)"})re")));
    for (int i = 1; i <= 3; ++i) {
        EXPECT_GE(std::stoi(match[i]), 1);
        EXPECT_LE(std::stoi(match[i]), 255);
    }
    EXPECT_EQ(body, R"({"bgVoxId":"","bgVoxPath":"","readerID":8,"duration":"","isStatistics":1,)"
                    R"("openId":"","speed":60,"title":"","ttsContent":"","unionId":"","volume":0,)"
                    R"("way":2,"readerVolume":0,"pitch":50,"bgVoxType":1,"ipAddress":")" +
                        match[1].str() + ":" + match[2].str() + ":" + match[3].str() + R"("})");
    EXPECT_EQ(std::string(SynthesisBodyTemplate).size(), 276u);
}

TEST_F(SynthesisJob, PlaceholdersInsertedEarlierAreFilledLaterButNeverTwice) {
    SynthesisParameters parameters = DefaultWindowSettings();
    parameters.readerId = "{pitch}";
    parameters.pitch = "{pitch}{volume}";
    parameters.content = "{speed}";
    Run(parameters);
    std::string body = SubmitBody();
    EXPECT_THAT(body, testing::HasSubstr(R"("readerID":{pitch}{volume},)"));
    EXPECT_THAT(body, testing::HasSubstr(R"("pitch":{pitch}{volume},)"));
    EXPECT_THAT(body, testing::HasSubstr(R"("ttsContent":"%7Bspeed%7D",)"));
}

struct BodyCase {
    const char* name;
    std::function<void(SynthesisParameters&)> change;  // applied to the default window settings
    std::string expected;
};

void PrintTo(const BodyCase& c, std::ostream* os) {
    *os << c.name;
}

class SubmitBodyHolds : public SynthesisJob, public testing::WithParamInterface<BodyCase> {};

TEST_P(SubmitBodyHolds, Fragment) {
    // The service refuses, so each case ends right after the submit.
    service_.SetScript({.submit = {.body = R"({"message":"失败"})"}});
    SynthesisParameters parameters = DefaultWindowSettings();
    GetParam().change(parameters);
    Run(parameters);
    EXPECT_THAT(SubmitBody(), testing::HasSubstr(Utf8TextToAnsi(GetParam().expected)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SubmitBodyHolds,
    testing::Values(
        BodyCase{"SpeedBelowFortyBecomesSixty", [](auto& p) { p.speed = "30"; }, R"("speed":60,)"},
        BodyCase{"SpeedFortyStays", [](auto& p) { p.speed = "40"; }, R"("speed":40,)"},
        BodyCase{"SpeedWithinTheToleranceStays", [](auto& p) { p.speed = "39.99999999"; },
                 R"("speed":39.99999999,)"},
        BodyCase{"SpeedJustOutsideTheToleranceBecomesSixty",
                 [](auto& p) { p.speed = "39.9999999"; }, R"("speed":60,)"},
        BodyCase{"SpeedWithoutANumberBecomesSixty", [](auto& p) { p.speed = "abc"; },
                 R"("speed":60,)"},
        BodyCase{"SpeedInFullWidthDigitsIsReadAndKept", [](auto& p) { p.speed = "４５"; },
                 R"("speed":４５,)"},
        BodyCase{"SpeedInFullWidthBelowFortyBecomesSixty", [](auto& p) { p.speed = "３９"; },
                 R"("speed":60,)"},
        BodyCase{"SpeedIsReadByItsLeadingNumber", [](auto& p) { p.speed = "41x"; },
                 R"("speed":41x,)"},
        BodyCase{"NonEmptyVolumesAndPitchStayAsTheyAre",
                 [](auto& p) {
                     p.readerVolume = "-5";
                     p.backgroundVolume = " 0";
                     p.pitch = "x";
                 },
                 R"("volume": 0,"way":2,"readerVolume":-5,"pitch":x,)"},
        BodyCase{"ContentIsPercentEncodedAsUtf8", [](auto& p) { p.content = "a b\"{pitch}\n"; },
                 R"("ttsContent":"a%20b%22%7Bpitch%7D%0A",)"},
        BodyCase{"TrackWithoutIdSendsNeither", [](auto& p) { p.backgroundId.clear(); },
                 R"({"bgVoxId":"","bgVoxPath":"",)"},
        BodyCase{"IdWithoutTrackSendsNeither", [](auto& p) { p.backgroundPath.clear(); },
                 R"({"bgVoxId":"","bgVoxPath":"",)"}),
    CaseName());

TEST_F(SynthesisJob, ClientAddressWithoutDotIsReplacedByARandomOne) {
    service_.SetScript({.submit = {.body = R"({"message":"失败"})"}});
    const std::regex random(R"re("ipAddress":"\d{1,3}:\d{1,3}:\d{1,3}"\}$)re");
    for (const char* address : {"", "localhost"}) {
        SynthesisParameters parameters = DefaultWindowSettings();
        parameters.clientAddress = address;
        Run(parameters);
        EXPECT_TRUE(std::regex_search(service_.Requests().back().body, random))
            << service_.Requests().back().body;
    }
}

TEST_F(SynthesisJob, TrackWithoutIdIsStillRequested) {
    SynthesisParameters parameters = DefaultWindowSettings();
    parameters.backgroundId.clear();
    Run(parameters);
    std::vector<RecordedRequest> requests = service_.Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/track/1");
    EXPECT_EQ(requests[1].target, "/track/1.mp3");
    EXPECT_THAT(requests[2].body, testing::StartsWith(R"({"bgVoxId":"","bgVoxPath":"",)"));
}

TEST_F(SynthesisJob, TrackAnsweringWithoutLocationIsNotFollowed) {
    service_.SetScript({.busyResults = 0, .track = {.headerLines = {"X-Note: no redirect"}}});
    EXPECT_FALSE(Run(DefaultWindowSettings()).empty());
    std::vector<Seen> seen = Summary(service_.Requests());
    ASSERT_EQ(seen.size(), 9u);
    EXPECT_EQ(seen[0].target, "/track/1");
    EXPECT_EQ(seen[1].method, "POST");
}

TEST_F(SynthesisJob, SerialIsTakenVerbatimUpToTheBrace) {
    service_.SetScript({.submit = {.body = R"({"message":"成功","data":{"serialId":42,"x":1}})"},
                        .busyResults = 0});
    Run(DefaultWindowSettings());
    std::vector<RecordedRequest> requests = service_.Requests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[3].target, "/pc/api/synVox/queryProcess?serialId=42,\"x\":1&type=2&T=" +
                                      VirtualTime::TimestampAfter(100));
}

class PollsUntilReady : public SynthesisJob, public testing::WithParamInterface<int> {};

TEST_P(PollsUntilReady, ThenDownloads) {
    const int busy = GetParam();
    service_.SetScript({.busyResults = busy});
    EXPECT_EQ(Run(DefaultWindowSettings()), "ID3\x04 audio bytes");
    std::vector<RecordedRequest> requests = service_.Requests();
    ASSERT_EQ(requests.size(), 2u + 6u + busy + 1u + 1u);
    EXPECT_EQ(requests.back().target, "/download/42.mp3");
    EXPECT_EQ(time_.Waits(), ExpectedWaits(busy + 1));
    EXPECT_EQ(outcome_.resultRequests, busy + 1);
}

INSTANTIATE_TEST_SUITE_P(BusyAnswers, PollsUntilReady, testing::Values(0, 1, 5, 20),
                         [](const testing::TestParamInfo<int>& info) {
                             return "Busy" + std::to_string(info.param);
                         });

TEST_F(SynthesisJob, BusyForeverStillDownloadsFromTheLastAnswer) {
    // ":-1" anywhere, even inside another value, means "not ready".
    service_.SetScript({.result = [](int, const std::string& url) {
        return Reply{.body = R"({"data":{"vsriDownurl":")" + url + R"(","vsriName":"take:-1"}})"};
    }});
    EXPECT_EQ(Run(DefaultWindowSettings()), "ID3\x04 audio bytes");
    std::vector<RecordedRequest> requests = service_.Requests();
    ASSERT_EQ(requests.size(), 2u + 6u + 20u + 1u + 1u);
    EXPECT_EQ(requests.back().target, "/download/42.mp3");
    EXPECT_EQ(time_.Waits(), ExpectedWaits(21));
}

TEST_F(SynthesisJob, CookiesAreNotKeptBetweenJobs) {
    Run(DefaultWindowSettings());
    const std::size_t firstJob = service_.RequestCount();
    service_.SetScript({.submit = {.body = R"({"message":"失败"})"}});
    Run(DefaultWindowSettings());
    std::vector<RecordedRequest> requests = service_.Requests();
    ASSERT_EQ(requests.size(), firstJob + 3);
    EXPECT_EQ(requests.back().target.substr(0, std::strlen(kSubmitPath)), kSubmitPath);
    EXPECT_EQ(requests.back().Header("Cookie").value_or(""), "");
}

struct GiveUpCase {
    const char* name;
    ServiceScript script;
    std::size_t requests;  // all of them, the two track requests included
    std::vector<int> waits;
    SynthesisGiveUp reason;
    // The exchange blamed, when one is.
    SynthesisStage stage = SynthesisStage::None;
    int resultRequest = 0;
    int status = 0;
    HttpError::Kind error = HttpError::Kind::None;
};

void PrintTo(const GiveUpCase& c, std::ostream* os) {
    *os << c.name;
}

class GivesUp : public SynthesisJob, public testing::WithParamInterface<GiveUpCase> {};

TEST_P(GivesUp, WithEmptyResultAndNoFurtherRequest) {
    service_.SetScript(GetParam().script);
    EXPECT_EQ(Run(DefaultWindowSettings()), "");
    EXPECT_EQ(service_.RequestCount(), GetParam().requests);
    EXPECT_EQ(time_.Waits(), GetParam().waits);
    EXPECT_EQ(outcome_.gaveUp, GetParam().reason);
    EXPECT_EQ(outcome_.failedStage, GetParam().stage);
    EXPECT_EQ(outcome_.failedRequest, GetParam().resultRequest);
    EXPECT_EQ(outcome_.failedStatus, GetParam().status);
    EXPECT_EQ(outcome_.error.kind, GetParam().error);
}

Reply EmptyFailure(int, const std::string&) {
    return {.status = 500, .reason = "Error"};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GivesUp,
    testing::Values(
        GiveUpCase{"NoSuccessText",
                   {.submit = {.body = R"({"code":500,"message":"失败","serialId":1})"}},
                   3,
                   {},
                   SynthesisGiveUp::NoSuccess},
        GiveUpCase{"SuccessWithoutSerial",
                   {.submit = {.body = R"({"code":200,"message":"成功","data":{}})"}},
                   3,
                   {},
                   SynthesisGiveUp::EmptySerial},
        GiveUpCase{"EmptySerial",
                   {.submit = {.body = R"({"message":"成功","data":{"serialId":}})"}},
                   3,
                   {},
                   SynthesisGiveUp::EmptySerial},
        GiveUpCase{"SubmitFails",
                   {.submit = {.status = 500, .reason = "Error"}},
                   3,
                   {},
                   SynthesisGiveUp::HttpStatus,
                   SynthesisStage::Submit,
                   0,
                   500},
        GiveUpCase{"SubmitNotUnderstood",
                   {.submit = {.body = "<html>maintenance</html>"}},
                   3,
                   {},
                   SynthesisGiveUp::NoSuccess},
        GiveUpCase{
            "SubmitTooLarge",
            {.submit = {.headerLines = {"Content-Length: 999999999"}, .stallAfterBodyBytes = 0}},
            3,
            {},
            SynthesisGiveUp::ExchangeFailed,
            SynthesisStage::Submit,
            0,
            0,
            HttpError::Kind::TooLarge},
        GiveUpCase{"BusyForever",
                   {.result = [](int, const std::string&) { return BusyResult(); }},
                   2 + 6 + 21,
                   ExpectedWaits(21),
                   SynthesisGiveUp::NeverReady},
        GiveUpCase{
            "EmptyDownloadAddress",
            {.result = [](int n,
                          const std::string&) { return n < 2 ? BusyResult() : ReadyResult(""); }},
            2 + 6 + 2,
            ExpectedWaits(2),
            SynthesisGiveUp::NoDownloadAddress},
        GiveUpCase{"ResultRequestFailsWhileBusy",
                   {.result =
                        [](int n, const std::string&) {
                            return n < 2 ? BusyResult() : EmptyFailure(n, "");
                        }},
                   2 + 6 + 2,
                   ExpectedWaits(2),
                   SynthesisGiveUp::HttpStatus,
                   SynthesisStage::ResultPoll,
                   2,
                   500},
        GiveUpCase{"SessionRejectedWithForbidden",
                   {.result =
                        [](int, const std::string&) {
                            return Reply{.status = 403, .reason = "Forbidden", .body = "{}"};
                        }},
                   2 + 6 + 1,
                   ExpectedWaits(1),
                   SynthesisGiveUp::HttpStatus,
                   SynthesisStage::ResultPoll,
                   1,
                   403},
        GiveUpCase{"ResultAnswerEmpty",
                   {.result = [](int, const std::string&) { return Reply{}; }},
                   2 + 6 + 1,
                   ExpectedWaits(1),
                   SynthesisGiveUp::SessionRejected},
        GiveUpCase{"ResultAnswerSaysLoggedOut",
                   {.result =
                        [](int, const std::string&) {
                            return Reply{.body = R"({"code":403,"message":"login expired"})"};
                        }},
                   2 + 6 + 1,
                   ExpectedWaits(1),
                   SynthesisGiveUp::SessionRejected},
        GiveUpCase{"DownloadNotFound",
                   {.busyResults = 0,
                    .download = {.status = 404, .reason = "Not Found", .body = "<html>gone"}},
                   2 + 6 + 1 + 1,
                   ExpectedWaits(1),
                   SynthesisGiveUp::HttpStatus,
                   SynthesisStage::Download,
                   0,
                   404},
        GiveUpCase{"DownloadEmpty",
                   {.busyResults = 0, .download = {.body = ""}},
                   2 + 6 + 1 + 1,
                   ExpectedWaits(1),
                   SynthesisGiveUp::NoAudio},
        GiveUpCase{"DownloadTooLarge",
                   {.busyResults = 0,
                    .download = {.headerLines = {"Content-Length: 999999999999"},
                                 .stallAfterBodyBytes = 0}},
                   2 + 6 + 1 + 1,
                   ExpectedWaits(1),
                   SynthesisGiveUp::ExchangeFailed,
                   SynthesisStage::Download,
                   0,
                   0,
                   HttpError::Kind::TooLarge}),
    CaseName());

}  // namespace

namespace {

TEST_F(SynthesisJob, DownloadThatIsNoAudioIsRefused) {
    service_.SetScript({.busyResults = 0, .download = {.body = "<html>error</html>"}});
    std::string seen;
    const std::string audio =
        RunSynthesisJob(InAnsi(DefaultWindowSettings()),
                        {.outcome = &outcome_, .isAudio = [&](const std::string& bytes) {
                             seen = bytes;
                             return false;
                         }});
    EXPECT_EQ(audio, "");
    EXPECT_EQ(seen, "<html>error</html>");
    EXPECT_EQ(outcome_.gaveUp, SynthesisGiveUp::NotAudio);
}

// Cancelling at any wait sends nothing more: the job ends as Cancelled right there.
class CancelledJob : public SynthesisJob, public testing::WithParamInterface<int> {};

TEST_P(CancelledJob, SendsNothingAfterTheCancel) {
    const std::size_t cancelAfterRequests = static_cast<std::size_t>(GetParam());
    std::atomic<bool> cancel{false};
    std::size_t requestsAtCancel = 0;
    const std::string audio =
        RunSynthesisJob(InAnsi(DefaultWindowSettings()),
                        {.progress =
                             [&](SynthesisStage, int) {
                                 if (!cancel && service_.RequestCount() >= cancelAfterRequests) {
                                     cancel = true;
                                     requestsAtCancel = service_.RequestCount();
                                 }
                             },
                         .outcome = &outcome_,
                         .cancel = &cancel});
    EXPECT_EQ(audio, "");
    EXPECT_EQ(outcome_.gaveUp, SynthesisGiveUp::Cancelled);
    EXPECT_EQ(service_.RequestCount(), requestsAtCancel);
}

// Before the submit, before a follow-up, before a result request and before the download.
INSTANTIATE_TEST_SUITE_P(Points, CancelledJob, testing::Values(2, 4, 8, 10));

TEST_F(SynthesisJob, CancelDuringAHungExchangeEndsItAtOnce) {
    service_.SetScript({.submit = {.neverAnswer = true}});
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        RunSynthesisJob(InAnsi(DefaultWindowSettings()), {.outcome = &outcome_, .cancel = &cancel}),
        "");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    canceller.join();
    EXPECT_EQ(outcome_.gaveUp, SynthesisGiveUp::Cancelled);
    EXPECT_LT(elapsed, std::chrono::milliseconds(600));
}

}  // namespace
