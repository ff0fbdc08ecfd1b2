#pragma once
// Speech from the espeak-ng library. The library keeps global state, so the process has one
// engine and synthesizes one text at a time; callers on several threads simply queue up.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace dubserver {

// All audio of the server is mono 16-bit at the engine's own rate.
inline constexpr int kSampleRate = 22050;

using Samples = std::vector<int16_t>;

struct SpeechSettings {
    // A voice, optionally with a variant: "cmn-latn-pinyin" or "cmn-latn-pinyin+f2".
    std::string voice;
    int wordsPerMinute = 175;
    int pitch = 50;  // 0 to 100
};

// The spoken text (UTF-8) as samples; empty when the engine or the voice is unavailable.
Samples SynthesizeSpeech(std::string_view text, const SpeechSettings& settings);

// What the installed voice data offers, by the names the engine selects them with: voices in
// lower case, as the engine matches them ("cmn-latn-pinyin", "yue", "en" for British English,
// "en-us"), and variants as their files are named ("f2", "whisper", "Tweaky").
struct InstalledVoices {
    std::set<std::string> voices;
    std::set<std::string> variants;
};
InstalledVoices ListInstalledVoices();

}  // namespace dubserver
