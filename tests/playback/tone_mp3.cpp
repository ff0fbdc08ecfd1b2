#include "tests/playback/tone_mp3.h"

#include <stdlib.h>

#include <array>
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

namespace {

// The size of the MPEG Layer III frame whose header begins mp3.
std::size_t FirstFrameSize(const std::string& mp3) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(mp3.at(i)); };
    if (byte(0) != 0xFF || (byte(1) & 0xE0) != 0xE0 || ((byte(1) >> 1) & 3) != 1) {
        throw std::runtime_error("no MPEG Layer III frame at the start");
    }
    const int version = (byte(1) >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
    static constexpr std::array<int, 16> kMpeg1Kbps = {0,   32,  40,  48,  56,  64,  80,  96,
                                                       112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr std::array<int, 16> kMpeg2Kbps = {0,  8,  16, 24,  32,  40,  48,  56,
                                                       64, 80, 96, 112, 128, 144, 160, 0};
    static constexpr std::array<int, 4> kMpeg1Rates = {44100, 48000, 32000, 0};
    const std::size_t bitrateIndex = byte(2) >> 4;
    const std::size_t rateIndex = (byte(2) >> 2) & 3;
    const int kbps = version == 3 ? kMpeg1Kbps.at(bitrateIndex) : kMpeg2Kbps.at(bitrateIndex);
    const int rate = kMpeg1Rates.at(rateIndex) / (version == 3 ? 1 : version == 2 ? 2 : 4);
    if (kbps == 0 || rate == 0) {
        throw std::runtime_error("free-format or reserved MPEG header");
    }
    const int padding = (byte(2) >> 1) & 1;
    return static_cast<std::size_t>((version == 3 ? 144000 : 72000) * kbps / rate + padding);
}

}  // namespace

std::string FirstFrame(const std::string& mp3) {
    return mp3.substr(0, FirstFrameSize(mp3));
}

std::string AfterFirstFrame(const std::string& mp3) {
    return mp3.substr(FirstFrameSize(mp3));
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
