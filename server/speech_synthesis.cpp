#include "server/speech_synthesis.h"

#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace dubserver {
namespace {

// The samples of the synthesis in progress; only touched while the engine's lock is held.
Samples* g_collector = nullptr;

int CollectSamples(short* wave, int count, espeak_EVENT*) {
    if (wave != nullptr && count > 0 && g_collector != nullptr) {
        g_collector->insert(g_collector->end(), wave, wave + count);
    }
    return 0;
}

// Initialised on first use (start-up stays fast) and terminated at process exit.
class SpeechEngine {
  public:
    static SpeechEngine& Instance() {
        static SpeechEngine engine;
        return engine;
    }

    // Holds the engine for one caller; false when the engine cannot start.
    std::unique_lock<std::mutex> Acquire(bool* ready) {
        std::unique_lock lock(mutex_);
        if (!tried_) {
            tried_ = true;
            ready_ = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0) == kSampleRate;
            if (ready_) {
                espeak_SetSynthCallback(CollectSamples);
            }
        }
        *ready = ready_;
        return lock;
    }

    ~SpeechEngine() {
        if (ready_) {
            espeak_Terminate();
        }
    }

  private:
    SpeechEngine() = default;
    std::mutex mutex_;
    bool tried_ = false;
    bool ready_ = false;
};

// The file name of a voice's identifier ("gmw/en-US" gives "en-US"): a language name such as
// "en-gb" is no name the engine selects a voice by.
std::string FileName(const char* identifier) {
    std::string name = identifier;
    name.erase(0, name.rfind('/') + 1);
    return name;
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

Samples SynthesizeSpeech(std::string_view text, const SpeechSettings& settings) {
    Samples samples;
    bool ready = false;
    auto lock = SpeechEngine::Instance().Acquire(&ready);
    if (!ready || espeak_SetVoiceByName(settings.voice.c_str()) != EE_OK) {
        return samples;
    }
    espeak_SetParameter(espeakRATE, settings.wordsPerMinute, 0);
    espeak_SetParameter(espeakPITCH, settings.pitch, 0);
    espeak_SetParameter(espeakVOLUME, 100, 0);
    const std::string terminated(text);
    g_collector = &samples;
    espeak_Synth(terminated.c_str(), terminated.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8,
                 nullptr, nullptr);
    g_collector = nullptr;
    return samples;
}

InstalledVoices ListInstalledVoices() {
    InstalledVoices installed;
    bool ready = false;
    auto lock = SpeechEngine::Instance().Acquire(&ready);
    if (!ready) {
        return installed;
    }
    for (const espeak_VOICE** voice = espeak_ListVoices(nullptr); *voice != nullptr; ++voice) {
        installed.voices.insert(LowerCase(FileName((*voice)->identifier)));
    }
    espeak_VOICE variantSpec{};
    variantSpec.languages = "variant";
    for (const espeak_VOICE** variant = espeak_ListVoices(&variantSpec); *variant != nullptr;
         ++variant) {
        installed.variants.insert(FileName((*variant)->identifier));
    }
    return installed;
}

}  // namespace dubserver
