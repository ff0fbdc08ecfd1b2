#include "playback/mp3_decoder.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>

namespace {

// Bytes in memory seen by the decoder as a seekable file.
struct MemoryFile {
    const std::string* bytes;
    off_t position = 0;
};

mpg123_ssize_t ReadMemory(void* handle, void* buffer, size_t count) {
    auto* file = static_cast<MemoryFile*>(handle);
    const auto size = static_cast<off_t>(file->bytes->size());
    const size_t available = static_cast<size_t>(std::max<off_t>(size - file->position, 0));
    const size_t taken = std::min(count, available);
    std::memcpy(buffer, file->bytes->data() + file->position, taken);
    file->position += static_cast<off_t>(taken);
    return static_cast<mpg123_ssize_t>(taken);
}

off_t SeekMemory(void* handle, off_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    const off_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? file->position
                                            : static_cast<off_t>(file->bytes->size());
    const off_t target = base + offset;
    if (target < 0 || target > static_cast<off_t>(file->bytes->size())) {
        return -1;
    }
    file->position = target;
    return target;
}

}  // namespace

Mpg123Handle NewMp3Decoder() {
    int error = MPG123_OK;
    Mpg123Handle decoder(mpg123_new(nullptr, &error));
    if (!decoder) {
        return nullptr;
    }
    // ADD keeps the default flags, gapless decoding among them.
    mpg123_param(decoder.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(decoder.get());
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i) {
        mpg123_format(decoder.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    return decoder;
}

std::optional<long long> Mp3BytesLengthMs(const std::string& bytes) {
    Mpg123Handle decoder = NewMp3Decoder();
    MemoryFile file{&bytes};
    if (!decoder ||
        mpg123_replace_reader_handle(decoder.get(), ReadMemory, SeekMemory, nullptr) != MPG123_OK ||
        mpg123_open_handle(decoder.get(), &file) != MPG123_OK) {
        return std::nullopt;
    }
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    // The format is known only once a frame has been read: no frame, no audio.
    if (mpg123_getformat(decoder.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
        mpg123_scan(decoder.get()) != MPG123_OK) {
        return std::nullopt;
    }
    const off_t samples = mpg123_length(decoder.get());
    if (samples <= 0) {
        return std::nullopt;
    }
    return static_cast<long long>(samples) * 1000 / rate;
}
