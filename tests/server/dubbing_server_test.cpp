#include "server/dubbing_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "protocol/development_token.h"
#include "tests/server/loopback_socket.h"
#include "tests/server/mp3_decoding.h"
#include "tests/server/submit_body.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The client reads answers with literal markers, never as JSON; so do these tests.
std::string Between(const std::string& text, const std::string& left, const std::string& right) {
    const size_t start = text.find(left);
    if (start == std::string::npos) {
        return {};
    }
    const size_t end = text.find(right, start + left.size());
    return end == std::string::npos ? std::string()
                                    : text.substr(start + left.size(), end - start - left.size());
}

// The client's split of a list at "},": the last piece keeps its brace.
std::vector<std::string> Pieces(const std::string& list) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t at = list.find("},"); at != std::string::npos; at = list.find("},", start)) {
        pieces.push_back(list.substr(start, at - start));
        start = at + 2;
    }
    if (start < list.size()) {
        pieces.push_back(list.substr(start));
    }
    return pieces;
}

bool IsDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), ::isdigit);
}

std::string PercentEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.') {
            encoded.push_back(static_cast<char>(c));
        } else {
            encoded += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return encoded;
}

ServerOptions Quiet() {
    ServerOptions options;
    options.quiet = true;
    return options;
}

struct Submitted {
    int status = 0;
    std::string answer;
    std::string cookie;  // "DUBSESSION=..." or empty
    std::string serial;
};

class DubbingServerTest : public testing::Test {
  protected:
    explicit DubbingServerTest(ServerOptions options = Quiet()) : server_(std::move(options)) {}

    void SetUp() override {
        port_ = server_.Start();
        ASSERT_GT(port_, 0);
    }

    httplib::Client Client() const {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(30s);
        return client;
    }

    std::string Get(const std::string& path, int expectedStatus = 200) const {
        auto result = Client().Get(path);
        if (!result) {
            ADD_FAILURE() << "no answer to " << path;
            return {};
        }
        EXPECT_EQ(result->status, expectedStatus) << path;
        return result->body;
    }

    Submitted Submit(const std::string& body) const {
        Submitted submitted;
        auto result = Client().Post("/pc/api/synVox/speechSynth?T=1700000000000", body,
                                    "application/json;charset=UTF-8");
        if (!result) {
            ADD_FAILURE() << "no answer to the submit";
            return submitted;
        }
        submitted.status = result->status;
        submitted.answer = result->body;
        const std::string setCookie = result->get_header_value("Set-Cookie");
        submitted.cookie = setCookie.substr(0, setCookie.find(';'));
        submitted.serial = Between(submitted.answer, "serialId\":", "}");
        return submitted;
    }

    httplib::Result FollowUp(const std::string& endpoint, const std::string& serial,
                             const std::string& cookie) const {
        httplib::Headers headers;
        if (!cookie.empty()) {
            headers.emplace("Cookie", cookie);
        }
        return Client().Get("/pc/api/synVox/" + endpoint + "?serialId=" + serial +
                                (endpoint == "queryProcess" ? "&type=2" : "") + "&T=1700000000001",
                            headers);
    }

    // Polls the result like the client (without its two-second waits) until it is ready.
    std::string PollUntilReady(const Submitted& job) const {
        for (int poll = 0; poll < 400; ++poll) {
            auto result = FollowUp("querySynthResult", job.serial, job.cookie);
            if (!result) {
                ADD_FAILURE() << "no answer to a poll";
                return {};
            }
            if (result->body.find(":-1") == std::string::npos) {
                return result->body;
            }
            std::this_thread::sleep_for(25ms);
        }
        ADD_FAILURE() << "the job never got ready";
        return {};
    }

    // One whole job: submit, poll, download; the decoded audio.
    DecodedAudio Dub(const std::string& body) const {
        const Submitted job = Submit(body);
        EXPECT_NE(job.answer.find("\"message\":\"成功\""), std::string::npos) << job.answer;
        const std::string address = Between(PollUntilReady(job), "vsriDownurl\":\"", "\"");
        const std::string prefix = "http://127.0.0.1:" + std::to_string(port_);
        EXPECT_TRUE(address.starts_with(prefix)) << address;
        const std::string mp3 = Get(address.substr(prefix.size()));
        std::optional<DecodedAudio> decoded = DecodeMp3(mp3);
        EXPECT_TRUE(decoded.has_value());
        return decoded.value_or(DecodedAudio{});
    }

    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

    DubbingServer server_;
    int port_ = -1;
};

// --- catalogues -------------------------------------------------------------------------

struct SpeakerCategory {
    int number;
    std::string voicePrefix;  // every speaker of the category speaks with this voice
    size_t atLeast;
};

void PrintTo(const SpeakerCategory& c, std::ostream* os) {
    *os << "readerInfo/" << c.number;
}

class SpeakerCatalogueTest : public DubbingServerTest,
                             public testing::WithParamInterface<SpeakerCategory> {};

TEST_P(SpeakerCatalogueTest, ListReadsWithTheClientsMarkers) {
    const std::string answer =
        Get("/pc/api/reader/readerInfo/" + std::to_string(GetParam().number) + "?T=1700000000000");
    EXPECT_NE(answer.find("\"message\":\"成功\""), std::string::npos);
    const std::vector<std::string> pieces = Pieces(Between(answer, ":[", "]"));
    ASSERT_GE(pieces.size(), GetParam().atLeast);
    for (const std::string& piece : pieces) {
        EXPECT_TRUE(IsDigits(Between(piece, "riId\":", ","))) << piece;
        const std::string name = Between(piece, "riName\":\"", "\"");
        EXPECT_FALSE(name.empty()) << piece;
        EXPECT_TRUE(static_cast<unsigned char>(name[0]) >= 0x80) << "a Chinese name: " << name;
        EXPECT_TRUE(Between(piece, "riParam\":\"", "\"").starts_with(GetParam().voicePrefix))
            << piece;
        EXPECT_TRUE(Between(piece, "riPicurl\":\"", "\"").starts_with(Origin())) << piece;
        EXPECT_TRUE(Between(piece, "riVoxurl\":\"", "\"").starts_with(Origin())) << piece;
        // Both are cut up to the next comma: they must not end their object.
        EXPECT_TRUE(IsDigits(Between(piece, "riSyncount\":", ","))) << piece;
        EXPECT_TRUE(IsDigits(Between(piece, "riInserttime\":", ","))) << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Categories, SpeakerCatalogueTest,
                         testing::Values(SpeakerCategory{1, "cmn-latn-pinyin", 4},
                                         SpeakerCategory{12, "cmn-latn-pinyin", 8},
                                         SpeakerCategory{4, "yue", 2}, SpeakerCategory{2, "", 8},
                                         SpeakerCategory{3, "cmn-latn-pinyin+", 6}));

TEST_F(DubbingServerTest, RecommendedHasMaleAndFemaleMandarinAndForeignIsNotChinese) {
    const std::string recommended = Get("/pc/api/reader/readerInfo/1?T=1");
    EXPECT_NE(recommended.find("cmn-latn-pinyin+f"), std::string::npos);
    EXPECT_NE(recommended.find("cmn-latn-pinyin+m"), std::string::npos);
    const std::string foreign = Get("/pc/api/reader/readerInfo/2?T=1");
    for (const char* language :
         {"riParam\":\"en-us+", "riParam\":\"en+", "riParam\":\"ja+", "riParam\":\"fr+"}) {
        EXPECT_NE(foreign.find(language), std::string::npos) << language;
    }
    EXPECT_EQ(foreign.find("cmn"), std::string::npos);
}

TEST_F(DubbingServerTest, UnknownCategoryIsAnEmptyList) {
    EXPECT_EQ(Between(Get("/pc/api/reader/readerInfo/7?T=1"), ":[", "]"), "");
    EXPECT_EQ(Between(Get("/pc/api/bgVox/bgVoxInfo/2?T=1"), ":[", "]"), "");
}

class TrackCatalogueTest : public DubbingServerTest, public testing::WithParamInterface<int> {};

TEST_P(TrackCatalogueTest, ListReadsWithTheClientsMarkers) {
    httplib::Headers headers{{"Authorization", kDevelopmentCatalogueToken}};
    auto result =
        Client().Get("/pc/api/bgVox/bgVoxInfo/" + std::to_string(GetParam()) + "?T=1", headers);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    const std::vector<std::string> pieces = Pieces(Between(result->body, ":[", "]"));
    ASSERT_GE(pieces.size(), 2u);
    for (const std::string& piece : pieces) {
        EXPECT_TRUE(IsDigits(Between(piece, "biId\":", ","))) << piece;
        EXPECT_FALSE(Between(piece, "biName\":\"", "\"").empty()) << piece;
        EXPECT_TRUE(Between(piece, "biVoxurl\":\"", "\"").starts_with(Origin() + "/")) << piece;
        EXPECT_TRUE(IsDigits(Between(piece, "biSyncount\":", ","))) << piece;
        // Cut up to the closing brace, which the client appends to every piece.
        EXPECT_TRUE(IsDigits(Between(piece + "}", "biInserttime\":", "}"))) << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Categories, TrackCatalogueTest,
                         testing::Values(4, 9, 8, 1, 6, 10, 5, 11, 12));

TEST(DevelopmentToken, IsJwtShaped) {
    const std::string token = kDevelopmentCatalogueToken;
    EXPECT_EQ(token.size(), 236u);
    EXPECT_EQ(std::count(token.begin(), token.end(), '.'), 2);
    EXPECT_TRUE(std::all_of(token.begin(), token.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
    }));
    EXPECT_TRUE(token.starts_with("eyJ"));
}

struct TokenCase {
    std::string authorization;  // empty: no Authorization line
    int status;
};

void PrintTo(const TokenCase& c, std::ostream* os) {
    *os << "Authorization of " << c.authorization.size() << " characters, status " << c.status;
}

class CustomListTest : public DubbingServerTest, public testing::WithParamInterface<TokenCase> {};

TEST_P(CustomListTest, AnswersOnlyWithTheCatalogueToken) {
    httplib::Headers headers;
    if (!GetParam().authorization.empty()) {
        headers.emplace("Authorization", GetParam().authorization);
    }
    auto result = Client().Get("/pc/api/customBgVoxList?page=1&pageCount=1000&T=1", headers);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, GetParam().status);
    const std::vector<std::string> pieces = Pieces(Between(result->body, ":[", "]"));
    if (GetParam().status != 200) {
        EXPECT_TRUE(pieces.empty());
        EXPECT_EQ(result->body.find("成功"), std::string::npos);
        return;
    }
    ASSERT_GE(pieces.size(), 1u);
    for (const std::string& piece : pieces) {
        EXPECT_TRUE(IsDigits(Between(piece, "id\":", ","))) << piece;
        EXPECT_FALSE(Between(piece, "bgVoxName\":\"", "\"").empty()) << piece;
        EXPECT_TRUE(Between(piece, "bgVoxUrl\":\"", "\"").starts_with(Origin() + "/")) << piece;
        EXPECT_TRUE(IsDigits(Between(piece + "}", "insertTime\":", "}"))) << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, CustomListTest,
    testing::Values(TokenCase{kDevelopmentCatalogueToken, 200},
                    TokenCase{std::string("Bearer ") + kDevelopmentCatalogueToken, 200},
                    TokenCase{"", 401},
                    TokenCase{std::string(kDevelopmentCatalogueToken).substr(1), 401},
                    TokenCase{std::string(kDevelopmentCatalogueToken) + "x", 401}));

TEST_F(DubbingServerTest, AddressesUseTheHostTheRequestCameTo) {
    httplib::Headers headers{{"Host", "localhost:" + std::to_string(port_)}};
    auto result = Client().Get("/pc/api/bgVox/bgVoxInfo/4?T=1", headers);
    ASSERT_TRUE(result);
    const std::string address = Between(result->body, "biVoxurl\":\"", "\"");
    EXPECT_TRUE(address.starts_with("http://localhost:" + std::to_string(port_) + "/bgvox/"))
        << address;
}

TEST_F(DubbingServerTest, TrackAddressRedirectsToItsMusic) {
    const std::string track = Between(Get("/pc/api/bgVox/bgVoxInfo/9?T=1"), "biVoxurl\":\"", "\"");
    ASSERT_TRUE(track.starts_with(Origin()));
    auto redirect = Client().Get(track.substr(Origin().size()));
    ASSERT_TRUE(redirect);
    EXPECT_EQ(redirect->status, 302);
    const std::string location = redirect->get_header_value("Location");
    ASSERT_TRUE(location.starts_with(Origin() + "/")) << location;
    EXPECT_TRUE(location.ends_with(".mp3")) << location;

    auto music = Client().Get(location.substr(Origin().size()));
    ASSERT_TRUE(music);
    EXPECT_EQ(music->status, 200);
    EXPECT_EQ(music->get_header_value("Content-Type"), "audio/mpeg");
    const std::optional<DecodedAudio> decoded = DecodeMp3(music->body);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_GT(decoded->Seconds(), 7);
    EXPECT_GT(Rms(decoded->samples), 1000);

    Get("/bgvox/4242", 404);
}

TEST_F(DubbingServerTest, SpeakerSampleAndPictureAreServed) {
    const std::string piece = Pieces(Between(Get("/pc/api/reader/readerInfo/1?T=1"), ":[", "]"))[0];
    const std::string sample = Between(piece, "riVoxurl\":\"", "\"");
    const std::optional<DecodedAudio> decoded = DecodeMp3(Get(sample.substr(Origin().size())));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_GT(decoded->Seconds(), 1);
    const std::string picture = Get(Between(piece, "riPicurl\":\"", "\"").substr(Origin().size()));
    EXPECT_TRUE(picture.starts_with("<svg")) << picture;
}

// --- synthesis job ----------------------------------------------------------------------

TEST_F(DubbingServerTest, SubmitAnswersSuccessSerialAndSessionCookie) {
    const Submitted job = Submit(SubmitBody(PercentEncode("你好")));
    EXPECT_EQ(job.status, 200);
    EXPECT_NE(job.answer.find("message\":\"成功"), std::string::npos) << job.answer;
    EXPECT_TRUE(IsDigits(job.serial)) << job.answer;
    EXPECT_TRUE(job.cookie.starts_with("DUBSESSION=")) << job.cookie;
    EXPECT_GT(job.cookie.size(), std::string("DUBSESSION=").size() + 16);
    // Each job has a session and serial of its own.
    const Submitted second = Submit(SubmitBody(PercentEncode("再见")));
    EXPECT_NE(second.cookie, job.cookie);
    EXPECT_NE(second.serial, job.serial);
    EXPECT_EQ(server_.AcceptedSubmits(), 2);
}

class CookieGateTest : public DubbingServerTest, public testing::WithParamInterface<std::string> {};

TEST_P(CookieGateTest, FollowUpNeedsTheJobsSessionCookie) {
    const Submitted job = Submit(SubmitBody(PercentEncode("你好")));
    const Submitted other = Submit(SubmitBody(PercentEncode("再见")));
    ASSERT_FALSE(job.cookie.empty());

    for (const std::string& cookie :
         {std::string(), std::string("DUBSESSION=forged"), other.cookie, std::string("x=1")}) {
        auto refused = FollowUp(GetParam(), job.serial, cookie);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 403) << cookie;
        EXPECT_EQ(refused->body.find(":-1"), std::string::npos);
        EXPECT_EQ(refused->body.find("vsriDownurl"), std::string::npos);
    }
    // Among the client's other cookies, in any position.
    for (const std::string& cookie : {job.cookie, "lang=zh; " + job.cookie + "; x=1"}) {
        auto accepted = FollowUp(GetParam(), job.serial, cookie);
        ASSERT_TRUE(accepted);
        EXPECT_EQ(accepted->status, 200) << cookie;
        EXPECT_NE(accepted->body.find("message\":\"成功"), std::string::npos) << accepted->body;
    }
}

INSTANTIATE_TEST_SUITE_P(Endpoints, CookieGateTest,
                         testing::Values("queryProcess", "querySynthTingResult", "recordExport",
                                         "querySynthResult"));

TEST_F(DubbingServerTest, UnknownSerialWithAValidSessionIsNoJob) {
    const Submitted job = Submit(SubmitBody(PercentEncode("你好")));
    auto answer = FollowUp("querySynthResult", "999", job.cookie);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->body.find(":-1"), std::string::npos);
    EXPECT_EQ(answer->body.find("vsriDownurl"), std::string::npos);
}

TEST_F(DubbingServerTest, FirstPollIsBusyThenTheDownloadAddressOnThisServer) {
    const Submitted job = Submit(SubmitBody(PercentEncode("你好")));
    auto first = FollowUp("querySynthResult", job.serial, job.cookie);
    ASSERT_TRUE(first);
    EXPECT_NE(first->body.find(":-1"), std::string::npos) << first->body;
    const std::string ready = PollUntilReady(job);
    const std::string address = Between(ready, "vsriDownurl\":\"", "\"");
    ASSERT_TRUE(address.starts_with(Origin() + "/")) << ready;
    // The download goes without cookies.
    auto download = Client().Get(address.substr(Origin().size()));
    ASSERT_TRUE(download);
    EXPECT_EQ(download->status, 200);
    EXPECT_EQ(download->get_header_value("Content-Type"), "audio/mpeg");
    ASSERT_TRUE(DecodeMp3(download->body).has_value());
}

class BusyPollsTest : public DubbingServerTest {
  protected:
    BusyPollsTest()
        : DubbingServerTest([] {
              ServerOptions options = Quiet();
              options.busyPolls = 3;
              return options;
          }()) {}
};

TEST_F(BusyPollsTest, ReportsWorkInProgressForTheConfiguredPolls) {
    const Submitted job = Submit(SubmitBody(PercentEncode("你好")));
    // Wait for the audio first, so only the poll count holds the answer back.
    for (int i = 0; i < 400; ++i) {
        auto process = FollowUp("queryProcess", job.serial, job.cookie);
        if (process && process->body.find("\"process\":100") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(25ms);
    }
    for (int poll = 1; poll <= 3; ++poll) {
        auto busy = FollowUp("querySynthResult", job.serial, job.cookie);
        ASSERT_TRUE(busy);
        EXPECT_NE(busy->body.find(":-1"), std::string::npos) << poll;
    }
    auto ready = FollowUp("querySynthResult", job.serial, job.cookie);
    ASSERT_TRUE(ready);
    EXPECT_NE(ready->body.find("vsriDownurl"), std::string::npos) << ready->body;
}

TEST_F(DubbingServerTest, PauseMarkerAddsItsSecondToTheSpeech) {
    const DecodedAudio plain = Dub(SubmitBody(PercentEncode("你好，欢迎光临再见")));
    const DecodedAudio paused = Dub(SubmitBody(PercentEncode("你好，欢迎光临[1秒]再见")));
    ASSERT_GT(plain.Seconds(), 0.5);
    const double expected = plain.Seconds() + 1;
    EXPECT_NEAR(paused.Seconds(), expected, expected * 0.1)
        << "plain " << plain.Seconds() << " s, with the marker " << paused.Seconds() << " s";
}

TEST_F(DubbingServerTest, LouderReaderVolumeGivesALouderFile) {
    const std::string text = PercentEncode("今天天气很好");
    const double quiet = Rms(Dub(SubmitBody(text, {.readerVolume = "-5"})).samples);
    const double normal = Rms(Dub(SubmitBody(text, {.readerVolume = "5"})).samples);
    const double loud = Rms(Dub(SubmitBody(text, {.readerVolume = "15"})).samples);
    EXPECT_GT(quiet, 50);
    EXPECT_GT(normal, quiet * 1.5);
    EXPECT_GT(loud, normal * 1.5);
}

// The longest stretch whose 50 ms blocks are all nearly silent, as [begin, end) samples.
std::pair<size_t, size_t> LongestQuietStretch(const DecodedAudio& audio) {
    const size_t block = static_cast<size_t>(audio.rate / 20);
    std::pair<size_t, size_t> best{0, 0};
    size_t start = 0;
    for (size_t at = 0; at + block <= audio.samples.size(); at += block) {
        if (Rms(audio.samples, at, at + block) > 30) {
            start = at + block;
        } else if (at + block - start > best.second - best.first) {
            best = {start, at + block};
        }
    }
    return best;
}

TEST_F(DubbingServerTest, BackgroundAtFullVolumeIsAudibleUnderTheVoice) {
    const std::string text = PercentEncode("你好[2秒]再见，欢迎光临");
    const DecodedAudio voice = Dub(SubmitBody(text));
    const DecodedAudio mixed =
        Dub(SubmitBody(text, {.bgId = "401", .bgPath = Origin() + "/bgvox/401", .volume = "15"}));
    // The engine's consonant noise varies from run to run, and with it where trimming stops.
    ASSERT_NEAR(mixed.Seconds(), voice.Seconds(), 0.1);
    // In the pause the voice alone is silent and the music plays.
    const auto [begin, end] = LongestQuietStretch(voice);
    ASSERT_GT(end - begin, static_cast<size_t>(voice.rate)) << "the pause is found";
    EXPECT_LT(Rms(voice.samples, begin, end), 30);
    EXPECT_GT(Rms(mixed.samples, begin + 200, end - 200), 1000);
    // Under the speech (after the music's fade-in) the music adds its own power to the voice's.
    const size_t fadedIn = static_cast<size_t>(voice.rate / 4);
    ASSERT_LT(fadedIn, begin);
    EXPECT_GT(Rms(mixed.samples, fadedIn, begin), 1.1 * Rms(voice.samples, fadedIn, begin));
}

TEST_F(DubbingServerTest, QuietBackgroundIsQuieterThanLoud) {
    const std::string text = PercentEncode("[2秒]");
    const std::string track = Origin() + "/bgvox/1101";
    const double low =
        Rms(Dub(SubmitBody(text, {.bgId = "1101", .bgPath = track, .volume = "-5"})).samples);
    const double high =
        Rms(Dub(SubmitBody(text, {.bgId = "1101", .bgPath = track, .volume = "15"})).samples);
    EXPECT_GT(low, 10);
    EXPECT_GT(high, low * 5);
}

struct BadSubmit {
    std::string name;
    std::string body;
    int status;
};

void PrintTo(const BadSubmit& c, std::ostream* os) {
    *os << c.name;
}

class BadSubmitTest : public DubbingServerTest, public testing::WithParamInterface<BadSubmit> {};

TEST_P(BadSubmitTest, GetsAnErrorWithoutSuccess) {
    const Submitted job = Submit(GetParam().body);
    EXPECT_EQ(job.status, GetParam().status);
    EXPECT_EQ(job.answer.find("成功"), std::string::npos) << job.answer;
    EXPECT_EQ(job.serial, "");
    EXPECT_EQ(job.cookie, "");
    EXPECT_EQ(server_.AcceptedSubmits(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadSubmitTest,
    testing::Values(BadSubmit{"Malformed", "{\"ttsContent\":\"a\",", 400},
                    BadSubmit{"UnquotedText",
                              SubmitBody("a").replace(SubmitBody("a").find("101"), 3, "abc"), 400},
                    BadSubmit{"Empty", SubmitBody(""), 400},
                    BadSubmit{"TooLong", SubmitBody(Repeated("%E5%A5%BD", 5001)), 400},
                    // Over a megabyte the request itself is refused.
                    BadSubmit{"TooBig", SubmitBody(Repeated("a", 1100 * 1000)), 413}),
    [](const auto& info) { return info.param.name; });

// --- misbehaviour ---------------------------------------------------------------------------

class MisbehaviourTest : public DubbingServerTest {
  protected:
    void Set(const std::function<void(ServerMisbehaviour&)>& change) {
        ServerMisbehaviour misbehaviour = server_.Misbehaviour();
        change(misbehaviour);
        server_.SetMisbehaviour(misbehaviour);
    }

    bool WaitUntilRendered(const Submitted& job) const {
        for (int i = 0; i < 400; ++i) {
            auto process = FollowUp("queryProcess", job.serial, job.cookie);
            if (process && process->body.find("\"process\":100") != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(25ms);
        }
        return false;
    }
};

TEST_F(MisbehaviourTest, RefusedSubmitHasNoSuccessAndNoSerial) {
    Set([](auto& m) { m.refuseSubmit = true; });
    const Submitted job = Submit(SubmitBody(PercentEncode("你好")));
    EXPECT_EQ(job.answer.find("成功"), std::string::npos) << job.answer;
    EXPECT_EQ(job.answer.find("serialId"), std::string::npos);
    EXPECT_EQ(server_.AcceptedSubmits(), 0);
}

TEST_F(MisbehaviourTest, NeverReadyKeepsReportingWorkInProgress) {
    Set([](auto& m) { m.neverReady = true; });
    const Submitted job = Submit(SubmitBody(PercentEncode("你好")));
    ASSERT_TRUE(WaitUntilRendered(job));
    for (int poll = 0; poll < 25; ++poll) {
        auto answer = FollowUp("querySynthResult", job.serial, job.cookie);
        ASSERT_TRUE(answer);
        ASSERT_NE(answer->body.find(":-1"), std::string::npos) << poll;
    }
    Set([](auto& m) { m.neverReady = false; });
    EXPECT_NE(PollUntilReady(job).find("vsriDownurl"), std::string::npos);
}

TEST_F(MisbehaviourTest, DroppedCookieLocksTheJobOut) {
    Set([](auto& m) { m.dropCookie = true; });
    const Submitted job = Submit(SubmitBody(PercentEncode("你好")));
    EXPECT_NE(job.answer.find("成功"), std::string::npos);
    EXPECT_EQ(job.cookie, "");
    auto poll = FollowUp("querySynthResult", job.serial, job.cookie);
    ASSERT_TRUE(poll);
    EXPECT_EQ(poll->status, 403);
}

struct FaultCase {
    DownloadFault fault;
    int status;
    std::string contentType;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << DownloadFaultName(c.fault);
}

class DownloadFaultTest : public MisbehaviourTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(DownloadFaultTest, DownloadServesTheFault) {
    const Submitted job = Submit(SubmitBody(PercentEncode("你好，欢迎光临")));
    const std::string address = Between(PollUntilReady(job), "vsriDownurl\":\"", "\"");
    ASSERT_TRUE(address.starts_with(Origin()));
    const std::string audio = Get(address.substr(Origin().size()));
    ASSERT_TRUE(DecodeMp3(audio).has_value());

    Set([](auto& m) { m.downloadFault = GetParam().fault; });
    auto faulty = Client().Get(address.substr(Origin().size()));
    ASSERT_TRUE(faulty);
    EXPECT_EQ(faulty->status, GetParam().status);
    EXPECT_TRUE(faulty->get_header_value("Content-Type").starts_with(GetParam().contentType));
    switch (GetParam().fault) {
        case DownloadFault::kHtmlErrorPage:
            EXPECT_NE(faulty->body.find("<html>"), std::string::npos);
            EXPECT_FALSE(DecodeMp3(faulty->body).has_value());
            break;
        case DownloadFault::kTruncated:
            EXPECT_EQ(faulty->body, audio.substr(0, audio.size() / 2));
            break;
        case DownloadFault::kEmpty:
            EXPECT_TRUE(faulty->body.empty());
            break;
        case DownloadFault::kNone:
            EXPECT_EQ(faulty->body, audio);
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, DownloadFaultTest,
                         testing::Values(FaultCase{DownloadFault::kHtmlErrorPage, 500, "text/html"},
                                         FaultCase{DownloadFault::kTruncated, 200, "audio/mpeg"},
                                         FaultCase{DownloadFault::kEmpty, 200, "audio/mpeg"},
                                         FaultCase{DownloadFault::kNone, 200, "audio/mpeg"}));

TEST_F(MisbehaviourTest, CatalogueGarbageIsNotJson) {
    Set([](auto& m) { m.catalogueGarbage = true; });
    httplib::Headers token{{"Authorization", kDevelopmentCatalogueToken}};
    for (const char* path : {"/pc/api/reader/readerInfo/1?T=1", "/pc/api/bgVox/bgVoxInfo/4?T=1",
                             "/pc/api/customBgVoxList?page=1&pageCount=1000&T=1"}) {
        auto answer = Client().Get(path, token);
        ASSERT_TRUE(answer);
        EXPECT_FALSE(nlohmann::json::accept(answer->body)) << path;
        EXPECT_EQ(answer->body.find("成功"), std::string::npos) << path;
        EXPECT_NE(answer->body.find('\0'), std::string::npos) << path;
    }
    // The synthesis side is untouched.
    EXPECT_NE(Submit(SubmitBody("a")).answer.find("成功"), std::string::npos);
}

TEST_F(MisbehaviourTest, DelayAppliesToTheChosenPathsOnly) {
    Set([](auto& m) {
        m.delayMs = 300;
        m.stallPath = "readerInfo";
    });
    auto start = Clock::now();
    Get("/pc/api/reader/readerInfo/1?T=1");
    EXPECT_GE(Clock::now() - start, 300ms);
    start = Clock::now();
    Get("/pc/api/bgVox/bgVoxInfo/4?T=1");
    EXPECT_LT(Clock::now() - start, 300ms);
}

TEST_F(MisbehaviourTest, HangHoldsRequestsUntilCleared) {
    Set([](auto& m) {
        m.hang = true;
        m.stallPath = "speechSynth";
    });
    httplib::Client impatient("127.0.0.1", port_);
    impatient.set_read_timeout(300ms);
    EXPECT_FALSE(
        impatient.Post("/pc/api/synVox/speechSynth?T=1", SubmitBody("a"), "application/json"));

    auto held = std::async(std::launch::async, [&] { return Submit(SubmitBody("a")); });
    EXPECT_EQ(held.wait_for(300ms), std::future_status::timeout);
    // Other requests still go through, the control endpoint included.
    Get("/pc/api/reader/readerInfo/1?T=1");
    auto cleared = Client().Post("/__control", R"({"hang":false})", "application/json");
    ASSERT_TRUE(cleared);
    EXPECT_EQ(cleared->status, 200);
    ASSERT_EQ(held.wait_for(10s), std::future_status::ready);
    EXPECT_NE(held.get().answer.find("成功"), std::string::npos);
}

TEST_F(MisbehaviourTest, StopEndsHeldRequestsPromptly) {
    Set([](auto& m) { m.hang = true; });
    auto held = std::async(std::launch::async, [this] {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(30s);
        return static_cast<bool>(client.Get("/pc/api/reader/readerInfo/1?T=1"));
    });
    EXPECT_EQ(held.wait_for(200ms), std::future_status::timeout);
    const auto start = Clock::now();
    server_.Stop();
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_FALSE(server_.IsRunning());
    EXPECT_EQ(held.wait_for(5s), std::future_status::ready);
    server_.Stop();  // a second stop is harmless
}

TEST_F(MisbehaviourTest, ControlEndpointSetsAndReportsTheSwitches) {
    auto set = Client().Post("/__control",
                             R"({"refuseSubmit":true,"delayMs":5,"stallPath":"bgVox",)"
                             R"("downloadFault":"truncated","catalogueGarbage":true})",
                             "application/json");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->status, 200);
    ServerMisbehaviour now = server_.Misbehaviour();
    EXPECT_TRUE(now.refuseSubmit);
    EXPECT_EQ(now.delayMs, 5);
    EXPECT_EQ(now.stallPath, "bgVox");
    EXPECT_EQ(now.downloadFault, DownloadFault::kTruncated);
    EXPECT_TRUE(now.catalogueGarbage);
    EXPECT_FALSE(now.neverReady);
    const std::string report = Get("/__control");
    EXPECT_NE(report.find("\"downloadFault\":\"truncated\""), std::string::npos) << report;

    for (const char* bad :
         {"{", "[]", R"({"delayMs":"soon"})", R"({"delayMs":1e30})", R"({"delayMs":-1})",
          R"({"reset":"yes"})", R"({"hang":1})", R"({"downloadFault":"broken"})"}) {
        auto refused = Client().Post("/__control", bad, "application/json");
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 400) << bad;
    }
    EXPECT_EQ(server_.Misbehaviour().delayMs, 5) << "a refused document changes nothing";

    auto reset = Client().Post("/__control", R"({"reset":true})", "application/json");
    ASSERT_TRUE(reset);
    now = server_.Misbehaviour();
    EXPECT_FALSE(now.refuseSubmit);
    EXPECT_FALSE(now.catalogueGarbage);
    EXPECT_EQ(now.downloadFault, DownloadFault::kNone);
}

// --- under load ----------------------------------------------------------------------------

// More clients at once than the store once kept jobs for: every one of them gets its audio.
TEST_F(DubbingServerTest, ConcurrentClientsAllGetTheirAudio) {
    constexpr int kClients = 50;
    std::vector<std::future<DecodedAudio>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::async(std::launch::async, [this, i] {
            return Dub(SubmitBody(PercentEncode(i % 2 == 0 ? "好" : "你好")));
        }));
    }
    for (auto& client : clients) {
        EXPECT_GT(client.get().Seconds(), 0.1);
    }
    EXPECT_EQ(server_.AcceptedSubmits(), kClients);
}

// A request too large for the submit, however framed, is refused with a JSON answer and never
// read whole.
TEST_F(DubbingServerTest, ChunkedSubmitPastTheCapIsRefused) {
    LoopbackSocket connection(port_);
    ASSERT_TRUE(connection.Send(
        "POST /pc/api/synVox/speechSynth?T=1 HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: "
        "chunked\r\n\r\n"));
    const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
    size_t sent = 0;
    while (sent < 512 * 16 && connection.Send(chunk)) {  // up to 512 MB
        ++sent;
    }
    const std::string answer = connection.ReadUntilClosed(5s);
    EXPECT_LT(sent, 16u * 16) << "the server read more than 16 MB";
    EXPECT_EQ(StatusOf(answer), 413) << answer;
    EXPECT_EQ(Between(BodyOf(answer), "\"code\":", ","), "413") << answer;
    EXPECT_EQ(server_.AcceptedSubmits(), 0);
}

// Idle connections and connections trickling a request do not hold up an ordinary request.
TEST_F(DubbingServerTest, SlowConnectionsDoNotDelayOthers) {
    std::vector<LoopbackSocket> idle;
    for (int i = 0; i < 100; ++i) {
        idle.emplace_back(port_);
    }
    std::vector<LoopbackSocket> trickling;
    for (int i = 0; i < 10; ++i) {
        trickling.emplace_back(port_);
    }
    const std::string request = "GET /pc/api/reader/readerInfo/1 HTTP/1.1\r\nHost: x\r\nX: ";
    for (size_t byte = 0; byte < 12; ++byte) {
        for (LoopbackSocket& connection : trickling) {
            connection.Send(request.substr(byte, 1));
        }
        if (byte % 4 == 3) {
            const auto start = Clock::now();
            const std::string answer =
                Exchange(port_,
                         "GET /pc/api/reader/readerInfo/1?T=1 HTTP/1.1\r\nHost: x\r\n"
                         "Connection: close\r\n\r\n",
                         10s);
            EXPECT_EQ(StatusOf(answer), 200);
            EXPECT_LT(Clock::now() - start, 3s);
        }
        std::this_thread::sleep_for(200ms);
    }
}

// --- life cycle and log ---------------------------------------------------------------------

TEST(DubbingServerLifeCycle, PortInUseFailsAndStopWithoutStartIsHarmless) {
    DubbingServer first(Quiet());
    const int port = first.Start();
    ASSERT_GT(port, 0);
    EXPECT_TRUE(first.IsRunning());
    EXPECT_EQ(first.Origin(), "http://127.0.0.1:" + std::to_string(port));
    DubbingServer second(Quiet());
    EXPECT_EQ(second.Start("127.0.0.1", port), -1);
    EXPECT_EQ(second.BindError(), "Address already in use");
    // An address of no interface here (binding sends nothing anywhere).
    DubbingServer elsewhere(Quiet());
    EXPECT_EQ(elsewhere.Start("192.0.2.1", 0), -1);
    EXPECT_EQ(elsewhere.BindError(), "Cannot assign requested address");
    DubbingServer never(Quiet());
    never.Stop();
    EXPECT_FALSE(never.IsRunning());
}

TEST(DubbingServerLifeCycle, ServesIpv6LoopbackWithABracketedOrigin) {
    DubbingServer server(Quiet());
    const int port = server.Start("::1");
    if (port < 0) {
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    EXPECT_EQ(server.Origin(), "http://[::1]:" + std::to_string(port));
    httplib::Client client("::1", port);
    auto answer = client.Get("/pc/api/bgVox/bgVoxInfo/4?T=1");
    ASSERT_TRUE(answer);
    EXPECT_NE(answer->body.find("\"biVoxurl\":\"http://[::1]:" + std::to_string(port) + "/bgvox/"),
              std::string::npos)
        << answer->body;
}

TEST(DubbingServerLog, OneLinePerRequestWithMethodPathStatusAndTime) {
    testing::internal::CaptureStderr();
    {
        DubbingServer server;
        const int port = server.Start();
        ASSERT_GT(port, 0);
        httplib::Client client("127.0.0.1", port);
        ASSERT_TRUE(client.Get("/pc/api/reader/readerInfo/1?T=1"));
        ASSERT_TRUE(client.Get("/pc/api/customBgVoxList?page=1&pageCount=1000&T=1"));
        server.Stop();
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(" GET /pc/api/reader/readerInfo/1 200 "), std::string::npos) << log;
    EXPECT_NE(log.find(" GET /pc/api/customBgVoxList 401 "), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
}

}  // namespace
