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
using LameHandle = std::unique_ptr<lame_global_flags, LameCloser>;

// One second of samples per call keeps the output buffer small for long texts.
constexpr size_t kChunkSamples = kSampleRate;

}  // namespace

std::string EncodeMp3(const Samples& samples, int sampleRate, int kbps) {
    LameHandle lame(lame_init());
    if (!lame) {
        return {};
    }
    lame_set_in_samplerate(lame.get(), sampleRate);
    lame_set_out_samplerate(lame.get(), sampleRate);
    lame_set_num_channels(lame.get(), 1);
    lame_set_mode(lame.get(), MONO);
    lame_set_brate(lame.get(), kbps);
    // Quality 7 is several times faster than the default and sounds the same for speech.
    lame_set_quality(lame.get(), 7);
    lame_set_bWriteVbrTag(lame.get(), 1);
    lame_set_write_id3tag_automatic(lame.get(), 0);
    if (lame_init_params(lame.get()) < 0) {
        return {};
    }

    std::string mp3;
    // Worst case per the encoder's documentation: 1.25 bytes per sample plus 7200.
    std::vector<unsigned char> buffer(kChunkSamples * 5 / 4 + 7200);
    for (size_t start = 0; start < samples.size(); start += kChunkSamples) {
        const size_t count = std::min(kChunkSamples, samples.size() - start);
        const int written =
            lame_encode_buffer(lame.get(), samples.data() + start, nullptr, static_cast<int>(count),
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

}  // namespace dubserver
