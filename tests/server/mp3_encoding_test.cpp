#include "server/mp3_encoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/server/mp3_decoding.h"

namespace {

using dubserver::EncodeMp3;
using dubserver::kSampleRate;
using dubserver::Samples;

Samples Tone(size_t count, double frequency = 440, double amplitude = 8000) {
    Samples samples(count);
    for (size_t i = 0; i < count; ++i) {
        samples[i] =
            static_cast<int16_t>(amplitude * std::sin(2 * std::numbers::pi * frequency *
                                                      static_cast<double>(i) / kSampleRate));
    }
    return samples;
}

// The encoder's delay and padding must be in the tag, or the player's length is off by up to
// a frame at each end.
class Mp3LengthTest : public testing::TestWithParam<size_t> {};

TEST_P(Mp3LengthTest, DecodesToExactlyTheEncodedSampleCount) {
    const Samples input = Tone(GetParam());
    const std::string mp3 = EncodeMp3(input);
    const std::optional<DecodedAudio> decoded = DecodeMp3(mp3);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->rate, kSampleRate);
    EXPECT_EQ(decoded->samples.size(), input.size());
}

INSTANTIATE_TEST_SUITE_P(Lengths, Mp3LengthTest,
                         testing::Values(1, 575, 576, 1152, kSampleRate, 3 * kSampleRate + 17));

TEST(Mp3Encoding, FirstFrameCarriesTheInfoTag) {
    const std::string mp3 = EncodeMp3(Tone(kSampleRate));
    ASSERT_GT(mp3.size(), 200u);
    // A frame sync at the very start: no ID3 tag in front of the audio.
    EXPECT_EQ(static_cast<unsigned char>(mp3[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(mp3[1]) & 0xE0, 0xE0);
    const std::string firstFrame = mp3.substr(0, 200);
    EXPECT_NE(firstFrame.find("Info"), std::string::npos);
    EXPECT_NE(firstFrame.find("LAME"), std::string::npos);
}

TEST(Mp3Encoding, KeepsTheSignal) {
    const Samples input = Tone(kSampleRate, 440, 8000);
    const std::optional<DecodedAudio> decoded = DecodeMp3(EncodeMp3(input));
    ASSERT_TRUE(decoded.has_value());
    // A sine of amplitude 8000 has an RMS of about 5657; lossy coding keeps it close.
    EXPECT_NEAR(Rms(decoded->samples), Rms(input), Rms(input) * 0.1);
}

TEST(Mp3Encoding, SilenceStaysSilent) {
    const std::optional<DecodedAudio> decoded = DecodeMp3(EncodeMp3(Samples(kSampleRate, 0)));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_LT(Rms(decoded->samples), 1.0);
}

}  // namespace
