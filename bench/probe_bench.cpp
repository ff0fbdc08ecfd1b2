// Reading a clip's exact length, as the player does when it opens a clip: a 60-minute MP3 in the
// server's format (22,050 Hz mono, 64 kbps, with the encoder's info tag) and the same frames
// without the tag, which have to be scanned frame by frame; and the full scan of the tagged
// file, which is how every clip used to be measured. The files are encoded once (about half a
// minute) and read from the page cache.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "playback/mp3_decoder.h"
#include "server/mp3_encoding.h"
#include "tests/playback/tone_mp3.h"

namespace {

constexpr int kRate = 22050;
constexpr long kFrames = 60L * 60 * kRate;

struct LongClips {
    std::filesystem::path folder;
    std::string tagged;
    std::string untagged;

    LongClips() {
        std::string name =
            (std::filesystem::temp_directory_path() / "dubdesk-probe-bench-XXXXXX").string();
        if (mkdtemp(name.data()) == nullptr) {
            return;
        }
        folder = name;
        // A tone gliding up and down, so that the frames are not all alike.
        std::vector<int16_t> pcm(kFrames);
        double phase = 0;
        for (long i = 0; i < kFrames; ++i) {
            const double hz = 300.0 + 200.0 * std::sin(2.0 * std::numbers::pi * i / (7.0 * kRate));
            phase += 2.0 * std::numbers::pi * hz / kRate;
            pcm[static_cast<size_t>(i)] = static_cast<int16_t>(8000.0 * std::sin(phase));
        }
        const std::string mp3 = dubserver::EncodeInterleavedMp3(
            pcm, {.sampleRate = kRate, .channels = 1, .kbps = 64, .quality = 7});
        tagged = (folder / "tagged.mp3").string();
        untagged = (folder / "untagged.mp3").string();
        std::ofstream(tagged, std::ios::binary) << mp3;
        std::ofstream(untagged, std::ios::binary) << AfterFirstFrame(mp3);
    }

    ~LongClips() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

const LongClips& Clips() {
    static const LongClips clips;
    return clips;
}

void Report(benchmark::State& state, long long samples) {
    state.counters["length_s"] = static_cast<double>(samples) / kRate;
}

void BM_ProbeTagged(benchmark::State& state) {
    Clips();  // encoded before the clock runs
    long long samples = 0;
    for (auto _ : state) {
        samples = OpenMp3File(Clips().tagged).value().samples;
    }
    Report(state, samples);
}
BENCHMARK(BM_ProbeTagged)->Unit(benchmark::kMillisecond);

void BM_ProbeUntagged(benchmark::State& state) {
    Clips();  // encoded before the clock runs
    long long samples = 0;
    for (auto _ : state) {
        samples = OpenMp3File(Clips().untagged).value().samples;
    }
    Report(state, samples);
}
BENCHMARK(BM_ProbeUntagged)->Unit(benchmark::kMillisecond);

void BM_FullScanTagged(benchmark::State& state) {
    Clips();  // encoded before the clock runs
    long long samples = 0;
    for (auto _ : state) {
        Mpg123Handle decoder = NewMp3Decoder();
        if (mpg123_open(decoder.get(), Clips().tagged.c_str()) != MPG123_OK ||
            mpg123_scan(decoder.get()) != MPG123_OK) {
            state.SkipWithError("the tagged clip does not open");
            return;
        }
        samples = mpg123_length(decoder.get());
    }
    Report(state, samples);
}
BENCHMARK(BM_FullScanTagged)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
