// A whole job against the local dubbing server running in this process: speaker and track taken
// from its catalogue, the job's MP3 decoded to prove it holds sound.

#include <gtest/gtest.h>
#include <mpg123.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "server/dubbing_server.h"
#include "service/catalogue.h"
#include "service/service_api.h"
#include "service/synthesis_job.h"
#include "service/waiting.h"
#include "tests/service/job_parameters.h"
#include "text/code_page.h"

namespace {

struct DecodedAudio {
    long rate = 0;
    int channels = 0;
    std::size_t frames = 0;
    int peak = 0;  // largest absolute 16-bit sample
};

using Mpg123Handle = std::unique_ptr<mpg123_handle, decltype(&mpg123_delete)>;

DecodedAudio Decode(const std::string& mp3) {
    DecodedAudio audio;
    int error = MPG123_OK;
    Mpg123Handle handle(mpg123_new(nullptr, &error), &mpg123_delete);
    if (!handle || mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0) != MPG123_OK ||
        mpg123_open_feed(handle.get()) != MPG123_OK ||
        mpg123_feed(handle.get(), reinterpret_cast<const unsigned char*>(mp3.data()), mp3.size()) !=
            MPG123_OK) {
        return audio;
    }
    std::vector<unsigned char> buffer(1 << 16);
    int encoding = 0;
    for (;;) {
        std::size_t done = 0;
        int result = mpg123_read(handle.get(), buffer.data(), buffer.size(), &done);
        if (result == MPG123_NEW_FORMAT) {
            mpg123_getformat(handle.get(), &audio.rate, &audio.channels, &encoding);
            continue;
        }
        if (result != MPG123_OK || encoding != MPG123_ENC_SIGNED_16 || audio.channels == 0) {
            break;
        }
        const auto* samples = reinterpret_cast<const int16_t*>(buffer.data());
        for (std::size_t i = 0; i < done / 2; ++i) {
            audio.peak = std::max(audio.peak, std::abs(static_cast<int>(samples[i])));
        }
        audio.frames += done / 2 / static_cast<std::size_t>(audio.channels);
    }
    return audio;
}

ServerOptions QuietServer(int busyPolls) {
    ServerOptions options;
    options.quiet = true;
    options.busyPolls = busyPolls;
    return options;
}

class SynthesisEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GT(server_.Start(), 0);
        SetServiceOrigin(server_.Origin());
        // The timetable is kept but shortened fourfold: the server still has up to ten seconds
        // of real time to render, also on a busy machine under a sanitizer.
        SetWaitFunction(
            [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 4)); });
    }

    void TearDown() override {
        SetWaitFunction({});
        SetServiceOrigin({});
        server_.Stop();
    }

    DubbingServer server_{QuietServer(2)};
};

TEST_F(SynthesisEndToEnd, JobYieldsDecodableSpeechOverBackgroundMusic) {
    std::vector<SpeakerRecord> speakers;
    ASSERT_GT(FetchSpeakerCategory(speakers, 1), 0);
    std::vector<BackgroundRecord> tracks;
    ASSERT_GT(FetchBackgroundList(tracks, 2), 0);

    SynthesisOutcome outcome;
    std::string mp3 = RunSynthesisJob(
        JobAtWindowLevels(Utf8TextToAnsi("你好，世界。[1秒]今天天气很好。"), speakers.front().id,
                          tracks.front().voxUrl, tracks.front().id),
        {.outcome = &outcome});

    ASSERT_FALSE(mp3.empty()) << "gave up: " << static_cast<int>(outcome.gaveUp)
                              << ", result requests: " << outcome.resultRequests;
    EXPECT_EQ(outcome.downloadStatus, 200);
    EXPECT_GE(outcome.resultRequests, 3);
    EXPECT_EQ(server_.AcceptedSubmits(), 1);
    DecodedAudio audio = Decode(mp3);
    ASSERT_GT(audio.rate, 0);
    // Two clauses and a one-second pause last well over a second; speech is not near silence.
    EXPECT_GT(static_cast<double>(audio.frames) / static_cast<double>(audio.rate), 1.5);
    EXPECT_GT(audio.peak, 2000);
}

}  // namespace
