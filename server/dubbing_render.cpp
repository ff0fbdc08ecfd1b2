#include "server/dubbing_render.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "server/mp3_encoding.h"
#include "server/server_catalogue.h"

namespace dubserver {
namespace {

constexpr int kSilenceLevel = 64;
constexpr size_t kSilenceMargin = kSampleRate / 25;  // 40 ms
constexpr double kFadeInSeconds = 0.2;
constexpr double kFadeOutSeconds = 2.0;

double Finite(double value, double fallback) {
    return std::isfinite(value) ? value : fallback;
}

int16_t Clip(double value) {
    return static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}

}  // namespace

SpeechSettings SpeechSettingsFor(const DubbingRequest& request) {
    const Speaker* speaker = FindSpeaker(request.readerId);
    const double speed = std::clamp(Finite(request.speed, 50), 20.0, 100.0);
    const double pitch = std::clamp(Finite(request.pitch, 50), 0.0, 100.0);
    return {.voice = speaker != nullptr ? VoiceOf(*speaker) : DefaultVoice(),
            .wordsPerMinute = static_cast<int>(std::lround(175 * speed / 50)),
            .pitch = static_cast<int>(std::clamp(std::lround(50 + (pitch - 50) * 1.5), 0L, 100L))};
}

Samples TrimSilence(const Samples& samples) {
    const auto loud = [](int16_t sample) { return std::abs(sample) > kSilenceLevel; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    if (first == samples.end()) {
        return {};
    }
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
    const auto begin = first - std::min<ptrdiff_t>(first - samples.begin(), kSilenceMargin);
    const auto end = last + std::min<ptrdiff_t>(samples.end() - last, kSilenceMargin);
    return Samples(begin, end);
}

Samples SpeakContent(const std::vector<ContentPiece>& pieces, const SpeechSettings& settings) {
    Samples speech;
    double pauseLeft = kMaxTotalPauseSeconds;
    for (const ContentPiece& piece : pieces) {
        if (piece.text.empty()) {
            const double seconds = std::min(piece.pauseSeconds, pauseLeft);
            pauseLeft -= seconds;
            speech.insert(speech.end(), static_cast<size_t>(seconds * kSampleRate), 0);
        } else {
            const Samples spoken = TrimSilence(SynthesizeSpeech(piece.text, settings));
            speech.insert(speech.end(), spoken.begin(), spoken.end());
        }
    }
    return speech;
}

double VoiceGain(double readerVolume) {
    const double volume = std::clamp(Finite(readerVolume, 0), -20.0, 20.0);
    return 0.5 * std::pow(10.0, (volume - 10) * 0.8 / 20);
}

double BackgroundGain(double backgroundVolume) {
    const double volume = std::clamp(Finite(backgroundVolume, 0), -20.0, 20.0);
    return 0.35 * std::pow(10.0, (volume - 15) / 20);
}

void ApplyGain(Samples* samples, double gain) {
    for (int16_t& sample : *samples) {
        sample = Clip(sample * gain);
    }
}

void MixBackground(Samples* voice, const Samples& loop, double gain) {
    if (loop.empty()) {
        return;
    }
    const size_t length = voice->size();
    const double fadeIn = kFadeInSeconds * kSampleRate;
    const double fadeOut = std::min(kFadeOutSeconds * kSampleRate, length / 4.0);
    for (size_t i = 0; i < length; ++i) {
        double envelope = std::min(1.0, i / fadeIn);
        const double left = static_cast<double>(length - i);
        if (left < fadeOut) {
            envelope *= left / fadeOut;
        }
        (*voice)[i] = Clip((*voice)[i] + loop[i % loop.size()] * gain * envelope);
    }
}

std::string RenderDubbing(const DubbingRequest& request) {
    Samples audio = SpeakContent(SplitAtPauseMarkers(request.content), SpeechSettingsFor(request));
    if (audio.empty()) {
        return {};
    }
    ApplyGain(&audio, VoiceGain(request.readerVolume));
    if (const BackgroundTrack* track = FindBackgroundTrack(request.backgroundId)) {
        MixBackground(&audio, AudioOfTrack(*track).samples,
                      BackgroundGain(request.backgroundVolume));
    }
    return EncodeMp3(audio);
}

}  // namespace dubserver
