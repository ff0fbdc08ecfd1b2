#include "tests/playback/tone_mp3.h"

#include <lame/lame.h>
#include <stdlib.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace {

struct LameDeleter {
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};

}  // namespace

std::string EncodeToneMp3(int sampleRate, int channels, long frames, long loudTailFrames) {
    std::unique_ptr<lame_global_flags, LameDeleter> lame(lame_init());
    lame_set_in_samplerate(lame.get(), sampleRate);
    lame_set_out_samplerate(lame.get(), sampleRate);
    lame_set_num_channels(lame.get(), channels);
    lame_set_mode(lame.get(), channels == 1 ? MONO : JOINT_STEREO);
    lame_set_write_id3tag_automatic(lame.get(), 0);
    // The tag has to fit in the first frame: the low rates chosen by default leave it too small.
    lame_set_brate(lame.get(), 96);
    // The info tag carries the encoder delay and padding: decoders trim them exactly.
    lame_set_bWriteVbrTag(lame.get(), 1);
    if (lame_init_params(lame.get()) < 0) {
        throw std::runtime_error("lame_init_params failed");
    }

    std::vector<short> pcm(static_cast<size_t>(frames) * channels);
    for (long i = 0; i < frames; ++i) {
        const double amplitude = i < frames - loudTailFrames ? 0.4 : 0.8;
        const double value =
            amplitude * 32767.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / sampleRate);
        for (int c = 0; c < channels; ++c) {
            pcm[static_cast<size_t>(i) * channels + c] = static_cast<short>(value);
        }
    }

    std::vector<unsigned char> out(static_cast<size_t>(frames) * 5 / 4 + 7200);
    const int encoded =
        channels == 1
            ? lame_encode_buffer(lame.get(), pcm.data(), pcm.data(), static_cast<int>(frames),
                                 out.data(), static_cast<int>(out.size()))
            : lame_encode_buffer_interleaved(lame.get(), pcm.data(), static_cast<int>(frames),
                                             out.data(), static_cast<int>(out.size()));
    if (encoded < 0) {
        throw std::runtime_error("lame_encode_buffer failed");
    }
    unsigned char tail[7200];
    const int flushed = lame_encode_flush(lame.get(), tail, sizeof tail);
    if (flushed < 0) {
        throw std::runtime_error("lame_encode_flush failed");
    }
    std::string mp3(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(encoded));
    mp3.append(reinterpret_cast<const char*>(tail), static_cast<size_t>(flushed));

    // The first frame was left empty for the tag; it is known only now.
    unsigned char tag[2880];
    const size_t tagSize = lame_get_lametag_frame(lame.get(), tag, sizeof tag);
    if (tagSize == 0 || tagSize > mp3.size()) {
        throw std::runtime_error("lame_get_lametag_frame failed");
    }
    mp3.replace(0, tagSize, reinterpret_cast<const char*>(tag), tagSize);
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
