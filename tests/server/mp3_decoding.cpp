#include "tests/server/mp3_decoding.h"

#include <algorithm>
#include <cmath>

#include "playback/mp3_decoder.h"

std::optional<DecodedAudio> DecodeMp3(const std::string& bytes) {
    Mpg123Handle handle = NewMp3Decoder();
    if (!handle || mpg123_open_feed(handle.get()) != MPG123_OK ||
        mpg123_feed(handle.get(), reinterpret_cast<const unsigned char*>(bytes.data()),
                    bytes.size()) != MPG123_OK) {
        return std::nullopt;
    }
    DecodedAudio audio;
    int channels = 1;
    std::vector<unsigned char> buffer(64 * 1024);
    while (true) {
        size_t done = 0;
        const int result = mpg123_read(handle.get(), buffer.data(), buffer.size(), &done);
        const auto* pcm = reinterpret_cast<const int16_t*>(buffer.data());
        for (size_t i = 0; i + static_cast<size_t>(channels) <= done / 2; i += channels) {
            audio.samples.push_back(
                channels == 1 ? pcm[i] : static_cast<int16_t>((pcm[i] + pcm[i + 1]) / 2));
        }
        if (result == MPG123_NEW_FORMAT) {
            int encoding = 0;
            mpg123_getformat(handle.get(), &audio.rate, &channels, &encoding);
        } else if (result != MPG123_OK) {
            break;  // MPG123_NEED_MORE: all bytes are decoded; anything else: an error
        }
    }
    if (audio.rate == 0) {
        return std::nullopt;
    }
    return audio;
}

double Rms(const std::vector<int16_t>& samples, size_t begin, size_t end) {
    end = std::min(end, samples.size());
    if (begin >= end) {
        return 0;
    }
    double sum = 0;
    for (size_t i = begin; i < end; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    return std::sqrt(sum / static_cast<double>(end - begin));
}
