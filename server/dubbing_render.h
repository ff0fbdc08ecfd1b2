#pragma once
// From a dubbing request to the finished MP3: speech with pauses, voice volume, background
// music looped under it, encoding.

#include <string>
#include <vector>

#include "server/speech_synthesis.h"
#include "server/synthesis_request.h"

namespace dubserver {

// Pauses of one text add up to at most this; the rest of the markers are dropped.
inline constexpr double kMaxTotalPauseSeconds = 600;

// Voice and engine settings of the request: the speaker's voice (the default voice for an
// unknown speaker), speed 50 as the engine's normal rate, pitch 50 as its normal pitch.
SpeechSettings SpeechSettingsFor(const DubbingRequest& request);

// Speaks each text piece, trimmed of the engine's leading and trailing silence, and puts the
// pauses between them as silence.
Samples SpeakContent(const std::vector<ContentPiece>& pieces, const SpeechSettings& settings);

// Silence at both ends removed, keeping a short margin.
Samples TrimSilence(const Samples& samples);

// Linear factors of the volume settings (-5 very low to 15 very high).
double VoiceGain(double readerVolume);
double BackgroundGain(double backgroundVolume);

// Scales the samples, clipping at full scale.
void ApplyGain(Samples* samples, double gain);

// Adds the loop under the voice, repeated to the voice's length, faded in briefly and faded out
// over the last seconds.
void MixBackground(Samples* voice, const Samples& loop, double gain);

// The finished MP3; empty when nothing could be spoken.
std::string RenderDubbing(const DubbingRequest& request);

}  // namespace dubserver
