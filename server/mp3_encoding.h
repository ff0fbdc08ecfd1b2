#pragma once
// MP3 encoding with libmp3lame: the one encoder set-up of the server and of the test clips.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "server/speech_synthesis.h"

namespace dubserver {

struct Mp3Settings {
    int sampleRate = kSampleRate;
    int channels = 1;  // 1 or 2
    int kbps = 64;
    // 0 (best) to 9 (fastest); absent: the encoder's default.
    std::optional<int> quality;
};

// Constant-bitrate MP3 of interleaved 16-bit frames, without an ID3 tag. The first frame carries
// the encoder's Info tag with its delay and padding, so a gapless decoder gets back exactly the
// frames given; a bitrate whose frames are too small for the tag gives a stream without one.
// Empty when the encoder refuses the settings.
std::string EncodeInterleavedMp3(std::span<const int16_t> interleaved, const Mp3Settings& settings);

// The server's audio: mono, quality 7, which is several times faster than the default and sounds
// the same for speech.
std::string EncodeMp3(const Samples& samples, int sampleRate = kSampleRate, int kbps = 64);

}  // namespace dubserver
