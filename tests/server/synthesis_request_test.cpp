#include "server/synthesis_request.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/server/submit_body.h"
#include "text/utf8.h"

namespace {

using dubserver::ContentPiece;
using dubserver::kMaxContentCharacters;
using dubserver::ParseSubmitBody;
using dubserver::PercentDecode;
using dubserver::SplitAtPauseMarkers;

struct DecodeCase {
    std::string encoded;
    std::string decoded;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << '"' << c.encoded << '"';
}

class PercentDecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(PercentDecodeTest, Decodes) {
    EXPECT_EQ(PercentDecode(GetParam().encoded), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PercentDecodeTest,
    testing::Values(DecodeCase{"a%20b", "a b"}, DecodeCase{"%E8%AF%AD%E9%9F%B3", "语音"},
                    DecodeCase{"%5B1%E7%A7%92%5D", "[1秒]"}, DecodeCase{"%7Bpitch%7D", "{pitch}"},
                    DecodeCase{"%0D%0A%22", "\r\n\""}, DecodeCase{"A-z.09", "A-z.09"},
                    DecodeCase{"%e8%af%ad", "语"},
                    // Malformed escapes stay as they are.
                    DecodeCase{"100%", "100%"}, DecodeCase{"%4", "%4"}, DecodeCase{"%zz1", "%zz1"},
                    DecodeCase{"%%41", "%A"}, DecodeCase{"", ""}));

struct SplitCase {
    std::string content;
    std::vector<ContentPiece> pieces;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << '"' << c.content << '"';
}

class PauseMarkerTest : public testing::TestWithParam<SplitCase> {};

TEST_P(PauseMarkerTest, Splits) {
    EXPECT_EQ(SplitAtPauseMarkers(GetParam().content), GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PauseMarkerTest,
    testing::Values(SplitCase{"你好", {{"你好", 0}}},
                    SplitCase{"你好[05秒]再见", {{"你好", 0}, {"", 0.5}, {"再见", 0}}},
                    SplitCase{"你好[1秒]再见", {{"你好", 0}, {"", 1}, {"再见", 0}}},
                    SplitCase{"[2秒]开始", {{"", 2}, {"开始", 0}}},
                    SplitCase{"结束[3秒]", {{"结束", 0}, {"", 3}}},
                    SplitCase{"a[1秒][2秒]b", {{"a", 0}, {"", 1}, {"", 2}, {"b", 0}}},
                    SplitCase{"a[10秒]b", {{"a", 0}, {"", 10}, {"b", 0}}},
                    SplitCase{"a[1.5秒]b", {{"a", 0}, {"", 1.5}, {"b", 0}}},
                    SplitCase{"a[025秒]b", {{"a", 0}, {"", 0.25}, {"b", 0}}},
                    SplitCase{"a[0秒]b", {{"a", 0}, {"", 0}, {"b", 0}}},
                    // A single pause is capped.
                    SplitCase{"a[99999秒]b",
                              {{"a", 0}, {"", dubserver::kMaxPauseSeconds}, {"b", 0}}},
                    // Not markers: they are spoken as text.
                    SplitCase{"a[秒]b", {{"a[秒]b", 0}}}, SplitCase{"a[x秒]b", {{"a[x秒]b", 0}}},
                    SplitCase{"a[1秒b", {{"a[1秒b", 0}}}, SplitCase{"a[1分]b", {{"a[1分]b", 0}}},
                    SplitCase{"a[1.2.3秒]b", {{"a[1.2.3秒]b", 0}}},
                    SplitCase{"[[1秒]", {{"[", 0}, {"", 1}}}, SplitCase{"", {}}));

TEST(SubmitBody, ReadsTheClientsTemplate) {
    const auto parsed = ParseSubmitBody(
        SubmitBody("%E4%BD%A0%E5%A5%BD%5B1%E7%A7%92%5D", {.readerId = "102",
                                                          .bgId = "401",
                                                          .bgPath = "http://h/bgvox/401",
                                                          .speed = "60",
                                                          .volume = "15",
                                                          .readerVolume = "-5",
                                                          .pitch = "70"}));
    ASSERT_TRUE(parsed.request.has_value()) << parsed.error;
    EXPECT_EQ(parsed.request->content, "你好[1秒]");
    EXPECT_EQ(parsed.request->readerId, 102);
    EXPECT_EQ(parsed.request->speed, 60);
    EXPECT_EQ(parsed.request->pitch, 70);
    EXPECT_EQ(parsed.request->readerVolume, -5);
    EXPECT_EQ(parsed.request->backgroundVolume, 15);
    EXPECT_EQ(parsed.request->backgroundId, 401);
}

struct BackgroundCase {
    std::string id;
    std::string path;
    int expected;
};

void PrintTo(const BackgroundCase& c, std::ostream* os) {
    *os << "id \"" << c.id << "\" path \"" << c.path << '"';
}

class SubmitBackgroundTest : public testing::TestWithParam<BackgroundCase> {};

TEST_P(SubmitBackgroundTest, FindsTheTrack) {
    const auto parsed =
        ParseSubmitBody(SubmitBody("a", {.bgId = GetParam().id, .bgPath = GetParam().path}));
    ASSERT_TRUE(parsed.request.has_value());
    EXPECT_EQ(parsed.request->backgroundId, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SubmitBackgroundTest,
                         testing::Values(BackgroundCase{"", "", 0},
                                         BackgroundCase{"902", "http://h/bgvox/401", 902},
                                         BackgroundCase{"", "http://127.0.0.1:8017/bgvox/401", 401},
                                         BackgroundCase{"x", "http://h/files/bgvox/1201.mp3", 1201},
                                         BackgroundCase{"", "http://h/other/5", 0}));

TEST(SubmitBody, FractionalAndNegativeNumbersAreRead) {
    const auto parsed =
        ParseSubmitBody(SubmitBody("a", {.readerId = "-1", .speed = "39.99999999"}));
    ASSERT_TRUE(parsed.request.has_value());
    EXPECT_EQ(parsed.request->readerId, -1);
    EXPECT_DOUBLE_EQ(parsed.request->speed, 39.99999999);
}

TEST(SubmitBody, MissingKeysTakeDefaults) {
    const auto parsed = ParseSubmitBody(R"({"ttsContent":"abc"})");
    ASSERT_TRUE(parsed.request.has_value());
    EXPECT_EQ(parsed.request->readerId, 8);
    EXPECT_EQ(parsed.request->speed, 50);
    EXPECT_EQ(parsed.request->pitch, 50);
    EXPECT_EQ(parsed.request->readerVolume, 0);
    EXPECT_EQ(parsed.request->backgroundVolume, 0);
    EXPECT_EQ(parsed.request->backgroundId, 0);
}

struct RefusedCase {
    std::string name;
    std::string body;
    std::string error;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusedSubmitTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedSubmitTest, GivesAnError) {
    const auto parsed = ParseSubmitBody(GetParam().body);
    EXPECT_FALSE(parsed.request.has_value());
    EXPECT_EQ(parsed.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedSubmitTest,
    testing::Values(RefusedCase{"empty body", "", "请求格式错误"},
                    RefusedCase{"not JSON", "not json", "请求格式错误"},
                    RefusedCase{"not an object", "[1,2]", "请求格式错误"},
                    // A value the client inserted without quoting breaks the document.
                    RefusedCase{"bare word", SubmitBody("a", {.readerId = "abc"}), "请求格式错误"},
                    RefusedCase{"cut short", SubmitBody("a").substr(0, 100), "请求格式错误"},
                    RefusedCase{"no text", SubmitBody(""), "合成内容不能为空"},
                    RefusedCase{"only blanks", SubmitBody("%20%0D%0A"), "合成内容不能为空"},
                    RefusedCase{"5001 characters",
                                SubmitBody(Repeated("%E5%A5%BD", kMaxContentCharacters + 1)),
                                "合成内容不能超过5000字"}));

TEST(SubmitBody, AcceptsExactlyTheLongestText) {
    const auto parsed = ParseSubmitBody(SubmitBody(Repeated("%E5%A5%BD", kMaxContentCharacters)));
    ASSERT_TRUE(parsed.request.has_value()) << parsed.error;
    EXPECT_EQ(CountUtf8Characters(parsed.request->content), kMaxContentCharacters);
}

// The limit counts characters, not bytes, whatever their UTF-8 length.
struct LimitCase {
    std::string name;
    std::string encodedCharacter;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.name;
}

class ContentLimitTest : public testing::TestWithParam<LimitCase> {};

TEST_P(ContentLimitTest, AcceptsTheLimitAndRefusesOneMore) {
    const std::string& character = GetParam().encodedCharacter;
    EXPECT_TRUE(ParseSubmitBody(SubmitBody(Repeated(character, kMaxContentCharacters)))
                    .request.has_value());
    EXPECT_EQ(ParseSubmitBody(SubmitBody(Repeated(character, kMaxContentCharacters + 1))).error,
              "合成内容不能超过5000字");
}

INSTANTIATE_TEST_SUITE_P(Widths, ContentLimitTest,
                         testing::Values(LimitCase{"one byte", "a"},
                                         LimitCase{"two bytes", "%C3%A9"},
                                         LimitCase{"three bytes", "%E5%A5%BD"},
                                         LimitCase{"four bytes", "%F0%9F%98%80"}),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

}  // namespace
