#include "server/background_music.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace dubserver {
namespace {

constexpr int kBeatsPerBar = 4;
constexpr size_t kSineTableSize = 4096;

const std::array<float, kSineTableSize>& SineTable() {
    static const auto table = [] {
        std::array<float, kSineTableSize> values{};
        for (size_t i = 0; i < kSineTableSize; ++i) {
            values[i] =
                static_cast<float>(std::sin(2.0 * std::numbers::pi * static_cast<double>(i) /
                                            static_cast<double>(kSineTableSize)));
        }
        return values;
    }();
    return table;
}

// phase is in cycles, 0 <= phase < 1.
float Sine(double phase) {
    return SineTable()[static_cast<size_t>(phase * kSineTableSize) & (kSineTableSize - 1)];
}

struct Partial {
    double ratio;  // of the fundamental
    float gain;
    float decayPerSecond;  // 0: sustained
};

struct Instrument {
    std::vector<Partial> partials;
    double attackSeconds;
    double releaseSeconds;
};

const Instrument& InstrumentFor(Timbre timbre) {
    static const Instrument pad{
        {{1, 1, 0}, {1.004, 0.6f, 0}, {2, 0.25f, 0}, {3, 0.08f, 0}}, 0.25, 0.5};
    static const Instrument pluck{
        {{1, 1, 2.5f}, {2, 0.5f, 4}, {3, 0.3f, 6}, {4, 0.15f, 8}, {5, 0.08f, 11}}, 0.004, 0.12};
    static const Instrument bell{
        {{1, 1, 2.2f}, {2.76, 0.4f, 3.5f}, {5.4, 0.2f, 6}, {8.93, 0.1f, 9}}, 0.002, 0.3};
    static const Instrument organ{
        {{1, 1, 0}, {2, 0.5f, 0}, {3, 0.3f, 0}, {4, 0.2f, 0}, {6, 0.1f, 0}}, 0.02, 0.08};
    static const Instrument chip{
        {{1, 1, 1.2f}, {3, 0.33f, 1.2f}, {5, 0.2f, 1.2f}, {7, 0.14f, 1.2f}}, 0.005, 0.05};
    switch (timbre) {
        case Timbre::kPad:
            return pad;
        case Timbre::kPluck:
            return pluck;
        case Timbre::kBell:
            return bell;
        case Timbre::kOrgan:
            return organ;
        case Timbre::kChip:
            return chip;
    }
    return pad;
}

double MidiFrequency(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// Every sound is added modulo the loop's length, so tails that run past the end sound at the
// start and the loop repeats without a seam.
class LoopBuffer {
  public:
    explicit LoopBuffer(size_t length) : samples_(length, 0.0f) {}

    void Add(size_t position, float value) { samples_[position % samples_.size()] += value; }

    void AddNote(size_t start, size_t length, int note, Timbre timbre, float amplitude) {
        const Instrument& instrument = InstrumentFor(timbre);
        const double frequency = MidiFrequency(note);
        const size_t attack =
            std::max<size_t>(1, static_cast<size_t>(instrument.attackSeconds * kSampleRate));
        const size_t release =
            std::max<size_t>(1, static_cast<size_t>(instrument.releaseSeconds * kSampleRate));
        const size_t total = length + release;
        for (const Partial& partial : instrument.partials) {
            const double step = frequency * partial.ratio / kSampleRate;
            if (step >= 0.5) {
                continue;  // above the Nyquist frequency
            }
            const float decay =
                static_cast<float>(std::exp(-partial.decayPerSecond / double{kSampleRate}));
            float level = amplitude * partial.gain;
            double phase = 0;
            size_t position = start % samples_.size();
            for (size_t i = 0; i < total && level > 1e-5f; ++i) {
                float envelope = 1.0f;
                if (i < attack) {
                    envelope = static_cast<float>(i) / static_cast<float>(attack);
                } else if (i >= length) {
                    envelope = 1.0f - static_cast<float>(i - length) / static_cast<float>(release);
                }
                samples_[position] += envelope * level * Sine(phase);
                if (++position == samples_.size()) {
                    position = 0;
                }
                phase += step;
                if (phase >= 1) {
                    phase -= 1;
                }
                level *= decay;
            }
        }
    }

    // A sine falling from 120 Hz to 45 Hz under a fast decay.
    void AddKick(size_t start, float amplitude) {
        const double decay = std::exp(-18.0 / kSampleRate);
        const double sweepDecay = std::exp(-25.0 / kSampleRate);
        double level = amplitude;
        double sweep = 75;
        double phase = 0;
        for (size_t i = 0; i < kSampleRate * 3 / 10; ++i) {
            Add(start + i, static_cast<float>(level) * Sine(phase));
            phase += (45 + sweep) / kSampleRate;
            phase -= std::floor(phase);
            level *= decay;
            sweep *= sweepDecay;
        }
    }

    // Noise with a fast decay; a tone under it makes a snare of it.
    void AddNoiseHit(size_t start, double seconds, double decayPerSecond, float amplitude,
                     std::minstd_rand* noise) {
        const double decay = std::exp(-decayPerSecond / kSampleRate);
        double level = amplitude * 0.5;
        float previous = 0;
        for (size_t i = 0; i < static_cast<size_t>(seconds * kSampleRate); ++i) {
            const float white = static_cast<float>((*noise)() % 2001) / 1000.0f - 1.0f;
            // The difference of neighbours keeps the hiss and drops the rumble.
            Add(start + i, static_cast<float>(level) * (white - previous));
            previous = white;
            level *= decay;
        }
    }

    Samples ToSamples() const {
        float peak = 0;
        for (float value : samples_) {
            peak = std::max(peak, std::fabs(value));
        }
        const float scale = peak > 0 ? 0.9f * 32767.0f / peak : 0.0f;
        Samples out(samples_.size());
        std::transform(samples_.begin(), samples_.end(), out.begin(),
                       [scale](float value) { return static_cast<int16_t>(value * scale); });
        return out;
    }

  private:
    std::vector<float> samples_;
};

constexpr std::array<int, 7> kMajorSteps{0, 2, 4, 5, 7, 9, 11};
constexpr std::array<int, 7> kMinorSteps{0, 2, 3, 5, 7, 8, 10};
constexpr std::array<int, 5> kMajorPentatonic{0, 2, 4, 7, 9};
constexpr std::array<int, 5> kMinorPentatonic{0, 3, 5, 7, 10};

// Semitones above the tonic of the given degree of a scale; degrees wrap into higher octaves.
template <size_t N>
int Degree(const std::array<int, N>& steps, int degree) {
    const int size = static_cast<int>(N);
    const int octave = degree >= 0 ? degree / size : -((-degree + size - 1) / size);
    return steps[static_cast<size_t>(degree - octave * size)] + 12 * octave;
}

int ChordTone(const MusicMood& mood, int root, int index) {
    return mood.minor ? Degree(kMinorSteps, root + 2 * index)
                      : Degree(kMajorSteps, root + 2 * index);
}

int MelodyTone(const MusicMood& mood, int degree) {
    if (mood.pentatonic) {
        return mood.minor ? Degree(kMinorPentatonic, degree) : Degree(kMajorPentatonic, degree);
    }
    return mood.minor ? Degree(kMinorSteps, degree) : Degree(kMajorSteps, degree);
}

// The melody degree nearest to one of the chord's tones, so strong beats sit on the harmony.
int NearestChordDegree(const MusicMood& mood, int root, int degree) {
    int best = degree;
    int bestDistance = 1000;
    for (int candidate = degree - 3; candidate <= degree + 3; ++candidate) {
        const int tone = ((MelodyTone(mood, candidate) % 12) + 12) % 12;
        for (int index = 0; index < 3; ++index) {
            const int chordTone = ((ChordTone(mood, root, index) % 12) + 12) % 12;
            if (tone == chordTone && std::abs(candidate - degree) < bestDistance) {
                best = candidate;
                bestDistance = std::abs(candidate - degree);
            }
        }
    }
    return best;
}

}  // namespace

Samples RenderMusic(const MusicMood& mood) {
    const size_t beat = static_cast<size_t>(kSampleRate * 60 / std::max(mood.beatsPerMinute, 30));
    const size_t bar = beat * kBeatsPerBar;
    LoopBuffer loop(std::max<size_t>(bar * mood.chords.size(), 1));
    std::mt19937 random(mood.seed);
    std::minstd_rand noise(mood.seed);

    const int scaleSize = mood.pentatonic ? 5 : 7;
    int melodyDegree = scaleSize;  // start an octave above the tonic
    const size_t slots = static_cast<size_t>(kBeatsPerBar * std::max(mood.melodyNotesPerBeat, 1));
    const size_t slot = bar / slots;

    for (size_t barIndex = 0; barIndex < mood.chords.size(); ++barIndex) {
        const size_t barStart = barIndex * bar;
        const int root = mood.chords[barIndex];
        // Chord and bass.
        if (mood.chordTimbre == Timbre::kPluck || mood.chordTimbre == Timbre::kBell) {
            // Plucked chords are broken into eighths.
            for (size_t eighth = 0; eighth < kBeatsPerBar * 2; ++eighth) {
                static constexpr std::array<int, 4> kPattern{0, 1, 2, 1};
                const int tone = ChordTone(mood, root, kPattern[eighth % 4]);
                loop.AddNote(barStart + eighth * beat / 2, beat / 2, mood.tonic + tone - 12,
                             mood.chordTimbre, 0.10f);
            }
        } else {
            for (int index = 0; index < 3; ++index) {
                loop.AddNote(barStart, bar, mood.tonic + ChordTone(mood, root, index) - 12,
                             mood.chordTimbre, 0.09f);
            }
        }
        const int bass = mood.tonic + ChordTone(mood, root, 0) - 24;
        loop.AddNote(barStart, bar / 2, bass, Timbre::kOrgan, 0.10f);
        loop.AddNote(barStart + bar / 2, bar / 2, bass, Timbre::kOrgan, 0.08f);

        // Melody: a random walk over the scale, on the chord at the start of the bar.
        for (size_t index = 0; index < slots; ++index) {
            const bool strong = index == 0;
            const int draw = static_cast<int>(random() % 12);
            if (!strong && draw < 2) {
                continue;  // a rest
            }
            melodyDegree += static_cast<int>(random() % 5) - 2;
            melodyDegree = std::clamp(melodyDegree, scaleSize - 2, 2 * scaleSize + 2);
            if (strong) {
                melodyDegree = NearestChordDegree(mood, root, melodyDegree);
            }
            loop.AddNote(barStart + index * slot, slot * 9 / 10,
                         mood.tonic + MelodyTone(mood, melodyDegree) - 12, mood.melodyTimbre,
                         0.22f);
        }

        if (mood.drums) {
            for (size_t beatIndex = 0; beatIndex < kBeatsPerBar; ++beatIndex) {
                const size_t beatStart = barStart + beatIndex * beat;
                if (beatIndex % 2 == 0) {
                    loop.AddKick(beatStart, 0.45f);
                } else {
                    loop.AddNoiseHit(beatStart, 0.15, 22, 0.25f, &noise);
                    loop.AddNote(beatStart, beat / 8, 55, Timbre::kPluck, 0.08f);
                }
                loop.AddNoiseHit(beatStart + beat / 2, 0.05, 70, 0.12f, &noise);
            }
        }
    }
    return loop.ToSamples();
}

}  // namespace dubserver
