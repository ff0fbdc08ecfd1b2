#include "server/dubbing_render.h"

#include <gtest/gtest.h>

#include <cmath>

#include "server/server_catalogue.h"
#include "tests/server/mp3_decoding.h"

namespace {

using dubserver::ContentPiece;
using dubserver::kSampleRate;
using dubserver::Samples;

dubserver::SpeechSettings Mandarin() {
    dubserver::SpeechSettings settings;
    settings.voice = "cmn-latn-pinyin";
    return settings;
}

TEST(TrimSilence, KeepsAShortMarginAroundTheSound) {
    Samples samples(10000, 0);
    for (size_t i = 4000; i < 5000; ++i) {
        samples[i] = 3000;
    }
    const Samples trimmed = dubserver::TrimSilence(samples);
    const size_t margin = kSampleRate / 25;
    EXPECT_EQ(trimmed.size(), 1000 + 2 * margin);
    EXPECT_EQ(trimmed[margin], 3000);
    EXPECT_EQ(trimmed[margin - 1], 0);
}

TEST(TrimSilence, SilenceBecomesNothingAndEdgesStay) {
    EXPECT_TRUE(dubserver::TrimSilence(Samples(5000, 10)).empty());
    const Samples loud(100, 5000);
    EXPECT_EQ(dubserver::TrimSilence(loud), loud);
}

TEST(SpeakContent, MandarinIsSpokenAtAPlausibleRate) {
    const Samples speech = dubserver::SpeakContent({{"你好，欢迎光临", 0}}, Mandarin());
    const double seconds = static_cast<double>(speech.size()) / kSampleRate;
    // Seven syllables and a comma.
    EXPECT_GT(seconds, 0.8);
    EXPECT_LT(seconds, 4.0);
    EXPECT_GT(Rms(speech), 1000);
}

// Each marker adds its silence between the trimmed speech of its neighbours. The engine adds a
// little noise of its own to consonants, so lengths of separate runs agree only to a few samples.
TEST(SpeakContent, PausesAreSilenceOfTheirLength) {
    const Samples first = dubserver::SpeakContent({{"你好", 0}}, Mandarin());
    const Samples second = dubserver::SpeakContent({{"再见", 0}}, Mandarin());
    const Samples joined =
        dubserver::SpeakContent({{"你好", 0}, {"", 0.5}, {"再见", 0}, {"", 2}}, Mandarin());
    const double expected =
        static_cast<double>(first.size() + kSampleRate / 2 + second.size() + 2 * kSampleRate);
    EXPECT_NEAR(static_cast<double>(joined.size()), expected, 100);
    const size_t slack = 100;
    EXPECT_EQ(Rms(joined, first.size() + slack, first.size() + kSampleRate / 2 - slack), 0);
    EXPECT_EQ(Rms(joined, joined.size() - 2 * kSampleRate), 0);
    EXPECT_GT(Rms(joined, joined.size() - 2 * kSampleRate - kSampleRate / 4,
                  joined.size() - 2 * kSampleRate),
              100);
}

TEST(SpeakContent, TotalPauseIsBounded) {
    std::vector<ContentPiece> pieces(20, ContentPiece{"", dubserver::kMaxPauseSeconds});
    const Samples silence = dubserver::SpeakContent(pieces, Mandarin());
    EXPECT_EQ(silence.size(), static_cast<size_t>(dubserver::kMaxTotalPauseSeconds * kSampleRate));
}

// Only voices the installed data has are offered, and each of them really speaks its sample.
TEST(Speakers, EveryOfferedSpeakerSpeaksItsSample) {
    const auto& speakers = dubserver::Speakers();
    ASSERT_GE(speakers.size(), 20u);
    for (const auto& speaker : speakers) {
        dubserver::SpeechSettings settings;
        settings.voice = dubserver::VoiceOf(speaker);
        const Samples sample = dubserver::SynthesizeSpeech(speaker.sampleText, settings);
        EXPECT_GT(sample.size(), static_cast<size_t>(kSampleRate / 2)) << settings.voice;
        EXPECT_GT(Rms(sample), 300) << settings.voice;
    }
    dubserver::SpeechSettings missing;
    missing.voice = "no-such-language";
    EXPECT_TRUE(dubserver::SynthesizeSpeech("hello", missing).empty());
}

TEST(SpeechSettings, FollowSpeedPitchAndSpeaker) {
    dubserver::DubbingRequest request;
    request.readerId = 102;
    request.speed = 50;
    request.pitch = 50;
    const auto normal = dubserver::SpeechSettingsFor(request);
    EXPECT_EQ(normal.voice, "cmn-latn-pinyin+m3");
    EXPECT_EQ(normal.wordsPerMinute, 175);
    EXPECT_EQ(normal.pitch, 50);
    request.speed = 80;
    request.pitch = 70;
    const auto fast = dubserver::SpeechSettingsFor(request);
    EXPECT_EQ(fast.wordsPerMinute, 280);
    EXPECT_EQ(fast.pitch, 80);
    request.speed = 40;
    request.pitch = 30;
    const auto slow = dubserver::SpeechSettingsFor(request);
    EXPECT_EQ(slow.wordsPerMinute, 140);
    EXPECT_EQ(slow.pitch, 20);
}

TEST(SpeechSettings, UnknownSpeakerAndSpeakerEightUseTheDefaultMandarinVoice) {
    dubserver::DubbingRequest request;
    for (int id : {8, -1, 0, 99999}) {
        request.readerId = id;
        EXPECT_EQ(dubserver::SpeechSettingsFor(request).voice, dubserver::DefaultVoice()) << id;
    }
    EXPECT_TRUE(dubserver::DefaultVoice().starts_with("cmn-latn-pinyin"));
}

TEST(SpeakContent, FasterSpeedIsShorter) {
    dubserver::SpeechSettings fast = Mandarin();
    fast.wordsPerMinute = 280;
    const std::vector<ContentPiece> text{{"今天天气很好，我们一起去公园散步吧。", 0}};
    EXPECT_LT(dubserver::SpeakContent(text, fast).size() * 1.3,
              dubserver::SpeakContent(text, Mandarin()).size());
}

TEST(Gains, VolumeStepsAreMonotonicAndBounded) {
    double previousVoice = 0;
    double previousBackground = 0;
    for (int volume = -5; volume <= 15; volume += 5) {
        EXPECT_GT(dubserver::VoiceGain(volume), previousVoice) << volume;
        EXPECT_GT(dubserver::BackgroundGain(volume), previousBackground) << volume;
        previousVoice = dubserver::VoiceGain(volume);
        previousBackground = dubserver::BackgroundGain(volume);
    }
    // Loudest voice plus loudest music stays about within full scale (music peaks at 0.9).
    EXPECT_LE(dubserver::VoiceGain(15) + 0.9 * dubserver::BackgroundGain(15), 1.2);
    EXPECT_EQ(dubserver::VoiceGain(1e9), dubserver::VoiceGain(20));
    EXPECT_EQ(dubserver::VoiceGain(std::nan("")), dubserver::VoiceGain(0));
}

TEST(ApplyGain, ClipsInsteadOfWrapping) {
    Samples samples{20000, -20000, 100};
    dubserver::ApplyGain(&samples, 2.0);
    EXPECT_EQ(samples, (Samples{32767, -32768, 200}));
}

TEST(MixBackground, LoopsUnderTheWholeVoiceAndFadesOut) {
    const size_t length = 10 * kSampleRate;
    Samples voice(length, 0);
    const Samples loop(kSampleRate, 10000);  // one second, repeated ten times
    dubserver::MixBackground(&voice, loop, 0.5);
    // Faded in, then at the loop's level in every repetition, then faded to nothing.
    EXPECT_EQ(voice[0], 0);
    for (size_t second = 1; second < 7; ++second) {
        EXPECT_EQ(voice[second * kSampleRate + 100], 5000) << second;
    }
    EXPECT_LT(voice[length - 1], 10);
    EXPECT_NEAR(voice[length - kSampleRate], 2500, 50);  // half-way through a two-second fade
}

TEST(RenderDubbing, UnknownTrackMeansNoBackground) {
    dubserver::DubbingRequest request;
    request.content = "你好[1秒]";
    request.backgroundVolume = 15;
    request.backgroundId = 4242;
    const auto unknown = DecodeMp3(dubserver::RenderDubbing(request));
    request.backgroundId = dubserver::BackgroundTracks().front().id;
    const auto known = DecodeMp3(dubserver::RenderDubbing(request));
    ASSERT_TRUE(unknown && known);
    // The closing pause before the music's fade-out: silent without music, music with it.
    const auto pause = [](const DecodedAudio& audio) {
        return Rms(audio.samples, audio.samples.size() - kSampleRate * 9 / 10,
                   audio.samples.size() - kSampleRate / 2);
    };
    EXPECT_LT(pause(*unknown), 30);
    EXPECT_GT(pause(*known), 1000);
}

TEST(RenderDubbing, OnlyPausesGiveSilenceNothingSpeakableGivesNothing) {
    dubserver::DubbingRequest request;
    request.content = "[2秒]";
    const auto silence = DecodeMp3(dubserver::RenderDubbing(request));
    ASSERT_TRUE(silence.has_value());
    EXPECT_EQ(silence->samples.size(), 2u * kSampleRate);
    request.content = "   ";
    EXPECT_TRUE(dubserver::RenderDubbing(request).empty());
}

}  // namespace
