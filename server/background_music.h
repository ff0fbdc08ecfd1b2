#pragma once
// Background music the server composes itself: a few bars of chords, bass, a melody and, for
// lively moods, drums, rendered as one seamless loop.

#include <cstdint>
#include <vector>

#include "server/speech_synthesis.h"

namespace dubserver {

enum class Timbre {
    kPad,    // soft sustained strings
    kPluck,  // plucked string, fast decay
    kBell,   // music box, inharmonic partials
    kOrgan,  // steady harmonics
    kChip,   // hollow square-like wave
};

struct MusicMood {
    int beatsPerMinute = 100;
    int tonic = 60;  // MIDI note of the key's first degree
    bool minor = false;
    bool pentatonic = false;  // the melody keeps to the five-note scale
    // Scale degree (0 = tonic) of each bar's chord; one bar of four beats per entry.
    std::vector<int> chords;
    Timbre chordTimbre = Timbre::kPad;
    Timbre melodyTimbre = Timbre::kPluck;
    int melodyNotesPerBeat = 1;
    bool drums = false;
    uint32_t seed = 1;  // the melody is a seeded random walk: same seed, same tune
};

// One loop of the mood's music: chords.size() bars, peak at about 90 % of full scale. The end
// runs seamlessly into the start, so the loop can be repeated under a long text.
Samples RenderMusic(const MusicMood& mood);

}  // namespace dubserver
