#include "server/mp3_encoding.h"

#include <lame/lame.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace dubserver {
namespace {

struct LameCloser {
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LameEncoder = std::unique_ptr<lame_global_flags, LameCloser>;

// About a second of frames per call keeps the output buffer small for long texts.
constexpr size_t kChunkFrames = kSampleRate;

LameEncoder OpenEncoder(const Mp3Settings& settings) {
    LameEncoder lame(lame_init());
    if (!lame) {
        return nullptr;
    }
    lame_set_in_samplerate(lame.get(), settings.sampleRate);
    lame_set_out_samplerate(lame.get(), settings.sampleRate);
    lame_set_num_channels(lame.get(), settings.channels);
    lame_set_mode(lame.get(), settings.channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame.get(), settings.kbps);
    if (settings.quality) {
        lame_set_quality(lame.get(), *settings.quality);
    }
    lame_set_bWriteVbrTag(lame.get(), 1);
    lame_set_write_id3tag_automatic(lame.get(), 0);
    if (lame_init_params(lame.get()) < 0) {
        return nullptr;
    }
    return lame;
}

}  // namespace

std::string EncodeInterleavedMp3(std::span<const int16_t> interleaved,
                                 const Mp3Settings& settings) {
    if (settings.channels != 1 && settings.channels != 2) {
        return {};
    }
    const LameEncoder lame = OpenEncoder(settings);
    if (!lame) {
        return {};
    }
    const auto channels = static_cast<size_t>(settings.channels);
    const size_t frames = interleaved.size() / channels;

    std::string mp3;
    // Worst case per the encoder's documentation: 1.25 bytes per frame plus 7200.
    std::vector<unsigned char> buffer(kChunkFrames * 5 / 4 + 7200);
    for (size_t start = 0; start < frames; start += kChunkFrames) {
        const int count = static_cast<int>(std::min(kChunkFrames, frames - start));
        const int16_t* pcm = interleaved.data() + start * channels;
        const int written =
            channels == 1
                ? lame_encode_buffer(lame.get(), pcm, nullptr, count, buffer.data(),
                                     static_cast<int>(buffer.size()))
                : lame_encode_buffer_interleaved(lame.get(), const_cast<int16_t*>(pcm), count,
                                                 buffer.data(), static_cast<int>(buffer.size()));
        if (written < 0) {
            return {};
        }
        mp3.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(written));
    }
    const int flushed =
        lame_encode_flush(lame.get(), buffer.data(), static_cast<int>(buffer.size()));
    if (flushed < 0) {
        return {};
    }
    mp3.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(flushed));

    // The encoder reserved the first frame for the tag; it is complete only now.
    const size_t tagSize = lame_get_lametag_frame(lame.get(), buffer.data(), buffer.size());
    if (tagSize > 0 && tagSize <= mp3.size()) {
        std::copy_n(buffer.data(), tagSize, mp3.begin());
    }
    return mp3;
}

std::string EncodeMp3(const Samples& samples, int sampleRate, int kbps) {
    return EncodeInterleavedMp3(samples, {.sampleRate = sampleRate, .kbps = kbps, .quality = 7});
}

}  // namespace dubserver
