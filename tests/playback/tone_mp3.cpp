#include "tests/playback/tone_mp3.h"

#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "server/mp3_encoding.h"

std::string EncodeToneMp3(int sampleRate, int channels, long frames, long loudTailFrames) {
    std::vector<int16_t> pcm(static_cast<size_t>(frames) * channels);
    for (long i = 0; i < frames; ++i) {
        const double amplitude = i < frames - loudTailFrames ? 0.4 : 0.8;
        const double value =
            amplitude * 32767.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / sampleRate);
        for (int c = 0; c < channels; ++c) {
            pcm[static_cast<size_t>(i) * channels + c] = static_cast<int16_t>(value);
        }
    }
    // 96 kbps: the Info tag has to fit in the first frame, and the low rates the encoder would
    // choose leave it too small.
    std::string mp3 = dubserver::EncodeInterleavedMp3(
        pcm, {.sampleRate = sampleRate, .channels = channels, .kbps = 96, .quality = std::nullopt});
    if (mp3.empty()) {
        throw std::runtime_error("MP3 encoding failed");
    }
    return mp3;
}

TempFolder::TempFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "dubdesk 播放 测试 XXXXXX");
    if (mkdtemp(name.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = name;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempFolder::Write(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
}
