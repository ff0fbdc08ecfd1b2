// Every speaker a category lists has a sample at the address listed for it: MP3 of one short
// sentence in that voice, the same bytes every time it is asked for.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "protocol/service_paths.h"
#include "server/dubbing_server.h"
#include "tests/server/mp3_decoding.h"

namespace {

using namespace std::chrono_literals;

TEST(SpeakerSampleTest, EveryListedSpeakerHasAPlausibleSpokenSample) {
    ServerOptions options;
    options.quiet = true;
    DubbingServer server(options);
    ASSERT_GT(server.Start(), 0);
    httplib::Client client("127.0.0.1", server.Port());
    client.set_read_timeout(30s);

    std::set<std::string> addresses;
    for (int category = 1; category <= 5; ++category) {
        const auto list =
            client.Get(std::string(kReaderInfoPath) + std::to_string(category) + "?T=1");
        ASSERT_TRUE(list);
        const nlohmann::json answer = nlohmann::json::parse(list->body);
        for (const nlohmann::json& speaker : answer.at("data")) {
            addresses.insert(speaker.at("riVoxurl").get<std::string>());
        }
    }
    ASSERT_GE(addresses.size(), 10u);

    std::set<std::string> samples;
    for (const std::string& address : addresses) {
        SCOPED_TRACE(address);
        ASSERT_TRUE(address.starts_with(server.Origin() + "/"));
        const std::string path = address.substr(server.Origin().size());
        const auto first = client.Get(path);
        ASSERT_TRUE(first);
        EXPECT_EQ(first->status, 200);
        EXPECT_EQ(first->get_header_value("Content-Type"), "audio/mpeg");
        const std::optional<DecodedAudio> decoded = DecodeMp3(first->body);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_GT(decoded->Seconds(), 0.5) << "words, not a click";
        EXPECT_LT(decoded->Seconds(), 15.0) << "a short one";
        EXPECT_GT(Rms(decoded->samples), 300.0) << "speech, not silence";
        const auto again = client.Get(path);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->body, first->body) << "rendered once, then kept";
        samples.insert(first->body);
    }
    EXPECT_EQ(samples.size(), addresses.size()) << "each voice has a sample of its own";
}

}  // namespace
