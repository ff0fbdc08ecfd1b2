#include "server/background_music.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "server/server_catalogue.h"
#include "tests/server/mp3_decoding.h"

namespace {

using dubserver::BackgroundTracks;
using dubserver::kSampleRate;
using dubserver::MusicMood;
using dubserver::RenderMusic;
using dubserver::Samples;

MusicMood Lively() {
    MusicMood mood;
    mood.beatsPerMinute = 120;
    mood.chords = {0, 3, 4, 0};
    mood.drums = true;
    mood.melodyNotesPerBeat = 2;
    mood.seed = 7;
    return mood;
}

TEST(BackgroundMusic, LoopIsWholeBarsOfTheTempo) {
    MusicMood mood = Lively();
    EXPECT_EQ(RenderMusic(mood).size(), 4u * 4 * (kSampleRate * 60 / 120));
    mood.beatsPerMinute = 60;
    mood.chords = {0, 5};
    EXPECT_EQ(RenderMusic(mood).size(), 2u * 4 * kSampleRate);
}

TEST(BackgroundMusic, SameMoodSameMusicOtherSeedOtherTune) {
    const MusicMood mood = Lively();
    EXPECT_EQ(RenderMusic(mood), RenderMusic(mood));
    MusicMood other = mood;
    other.seed = 8;
    EXPECT_NE(RenderMusic(mood), RenderMusic(other));
}

TEST(BackgroundMusic, PeaksNearFullScale) {
    const Samples music = RenderMusic(Lively());
    int peak = 0;
    for (int16_t sample : music) {
        peak = std::max(peak, std::abs(int{sample}));
    }
    EXPECT_NEAR(peak, 0.9 * 32767, 100);
}

// The loop repeats under long texts: its end must flow into its start. A jump there no bigger
// than the music's own largest step between neighbouring samples means no click.
TEST(BackgroundMusic, LoopRunsSeamlesslyIntoItsStart) {
    for (const auto& track : BackgroundTracks()) {
        const Samples music = RenderMusic(track.mood);
        ASSERT_GT(music.size(), 1u);
        int largestStep = 0;
        for (size_t i = 1; i < music.size(); ++i) {
            largestStep = std::max(largestStep, std::abs(music[i] - music[i - 1]));
        }
        EXPECT_LE(std::abs(music.front() - music.back()), largestStep) << track.name;
    }
}

TEST(BackgroundMusic, EveryTrackIsAudibleAndDistinct) {
    std::set<size_t> lengths;
    std::set<double> loudness;
    for (const auto& track : BackgroundTracks()) {
        const Samples music = RenderMusic(track.mood);
        const double seconds = static_cast<double>(music.size()) / kSampleRate;
        EXPECT_GE(seconds, 7) << track.name;
        EXPECT_LE(seconds, 35) << track.name;
        // Not a burst in silence: every second of the loop has sound in it.
        for (size_t second = 0; second + kSampleRate <= music.size(); second += kSampleRate) {
            EXPECT_GT(Rms(music, second, second + kSampleRate), 1000)
                << track.name << " " << second;
        }
        lengths.insert(music.size());
        loudness.insert(Rms(music));
    }
    // Moods differ in tempo and sound: no two tracks are the same audio.
    EXPECT_GE(lengths.size(), 5u);
    EXPECT_EQ(loudness.size(), BackgroundTracks().size());
}

TEST(BackgroundMusic, TrackFileIsTheLoopAsMp3) {
    const auto& track = BackgroundTracks().front();
    const auto& audio = dubserver::AudioOfTrack(track);
    const std::optional<DecodedAudio> decoded = DecodeMp3(audio.mp3);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->samples.size(), audio.samples.size());
    EXPECT_NEAR(Rms(decoded->samples), Rms(audio.samples), Rms(audio.samples) * 0.1);
    // Rendered once: the second call hands out the same audio.
    EXPECT_EQ(&dubserver::AudioOfTrack(track), &audio);
}

}  // namespace
