#pragma once
// MP3 encoding with libmp3lame.

#include <string>

#include "server/speech_synthesis.h"

namespace dubserver {

// Constant-bitrate mono MP3 of the samples. The first frame carries the encoder's Info tag with
// its delay and padding, so a gapless decoder gets back exactly samples.size() samples. Empty
// when the encoder refuses the settings.
std::string EncodeMp3(const Samples& samples, int sampleRate = kSampleRate, int kbps = 64);

}  // namespace dubserver
