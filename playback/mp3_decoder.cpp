#include "playback/mp3_decoder.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string_view>

namespace {

// Reads count bytes of the stream from offset on (fewer at its end).
using ReadAt = std::function<std::string(long long offset, std::size_t count)>;

// What the info tag (Xing/Info) in the stream's first frame says about the whole stream.
struct InfoTag {
    long long frames = 0;  // MPEG frames after the tag's own
    long long bytes = 0;   // the MPEG stream's size, the tag's frame included
};

std::uint32_t BigEndian32(std::string_view bytes) {
    std::uint32_t value = 0;
    for (const char byte : bytes.substr(0, 4)) {
        value = value << 8 | static_cast<unsigned char>(byte);
    }
    return value;
}

// Header, CRC, the largest side information, then "Xing"/"Info", flags, frames and bytes.
constexpr std::size_t kInfoTagReach = 4 + 2 + 32 + 16;

// The tag in the Layer III frame that starts frame; nothing without one holding both counts.
std::optional<InfoTag> ReadInfoTag(std::string_view frame) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(frame[i]); };
    if (frame.size() < 4 || byte(0) != 0xFF || (byte(1) & 0xE0) != 0xE0) {
        return std::nullopt;
    }
    const int version = (byte(1) >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5, 1: reserved
    const int layer = (byte(1) >> 1) & 3;    // 1: Layer III
    if (version == 1 || layer != 1) {
        return std::nullopt;
    }
    const bool mono = (byte(3) >> 6) == 3;
    const std::size_t sideInformation = version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const bool crc = (byte(1) & 1) == 0;
    const std::string_view tag =
        frame.substr(std::min(frame.size(), 4 + (crc ? 2 : 0) + sideInformation));
    if (tag.size() < 16 || !(tag.starts_with("Xing") || tag.starts_with("Info"))) {
        return std::nullopt;
    }
    const std::uint32_t flags = BigEndian32(tag.substr(4));
    constexpr std::uint32_t kFrames = 1;
    constexpr std::uint32_t kBytes = 2;
    if ((flags & (kFrames | kBytes)) != (kFrames | kBytes)) {
        return std::nullopt;
    }
    return InfoTag{.frames = BigEndian32(tag.substr(8)), .bytes = BigEndian32(tag.substr(12))};
}

// Whether the length the decoder took from the stream's info tag can be believed: the tag
// names as many bytes as the stream holds between its ID3 tags (a cut download holds fewer, a
// tag from another file or data appended after the end rarely exactly as many), and the decoder
// counts the tag's frames. A frame count that lies while the byte count holds goes unnoticed;
// catching that would take the scan this saves.
bool InfoTagFitsStream(mpg123_handle* decoder, const ReadAt& read, long long size) {
    long long start = 0;
    const std::string id3v2 = read(0, 10);
    if (id3v2.size() == 10 && id3v2.starts_with("ID3")) {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(id3v2[i]); };
        // Four bytes of seven bits each; a footer of ten bytes when flag 0x10 says so.
        start = 10 + (byte(6) << 21 | byte(7) << 14 | byte(8) << 7 | byte(9)) +
                ((byte(5) & 0x10) != 0 ? 10 : 0);
    }
    long long end = size;
    if (end - start >= 128 && read(end - 128, 3) == "TAG") {
        end -= 128;  // ID3v1
    }
    const std::optional<InfoTag> tag = ReadInfoTag(read(start, kInfoTagReach));
    return tag && tag->bytes == end - start && mpg123_framelength(decoder) == tag->frames;
}

// Reads the format and the exact length of the stream just opened in decoder.
std::optional<OpenedMp3> ReadFormatAndLength(Mpg123Handle decoder, const ReadAt& read,
                                             long long size) {
    OpenedMp3 mp3;
    int encoding = 0;
    // The format is known only once a frame has been read: no frame, no audio.
    if (mpg123_getformat(decoder.get(), &mp3.sampleRate, &mp3.channels, &encoding) != MPG123_OK ||
        mp3.sampleRate <= 0) {
        return std::nullopt;
    }
    // The scan counts every frame and comes back to the first sample.
    if (!InfoTagFitsStream(decoder.get(), read, size) && mpg123_scan(decoder.get()) != MPG123_OK) {
        return std::nullopt;
    }
    const off_t samples = mpg123_length(decoder.get());
    if (samples < 0) {
        return std::nullopt;
    }
    mp3.samples = samples;
    mp3.decoder = std::move(decoder);
    return mp3;
}

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

std::optional<OpenedMp3> OpenMp3File(const std::string& path) {
    Mpg123Handle decoder = NewMp3Decoder();
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!decoder || !file || mpg123_open(decoder.get(), path.c_str()) != MPG123_OK) {
        return std::nullopt;
    }
    const long long size = file.tellg();
    const ReadAt read = [&file](long long offset, std::size_t count) {
        std::string bytes(count, '\0');
        file.clear();
        file.seekg(offset);
        file.read(bytes.data(), static_cast<std::streamsize>(count));
        bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
        return bytes;
    };
    return ReadFormatAndLength(std::move(decoder), read, size);
}

std::optional<long long> Mp3BytesLengthMs(const std::string& bytes) {
    Mpg123Handle decoder = NewMp3Decoder();
    MemoryFile file{&bytes};
    if (!decoder ||
        mpg123_replace_reader_handle(decoder.get(), ReadMemory, SeekMemory, nullptr) != MPG123_OK ||
        mpg123_open_handle(decoder.get(), &file) != MPG123_OK) {
        return std::nullopt;
    }
    const ReadAt read = [&bytes](long long offset, std::size_t count) {
        return offset < 0 || static_cast<std::size_t>(offset) > bytes.size()
                   ? std::string()
                   : bytes.substr(static_cast<std::size_t>(offset), count);
    };
    const std::optional<OpenedMp3> mp3 =
        ReadFormatAndLength(std::move(decoder), read, static_cast<long long>(bytes.size()));
    if (!mp3 || mp3->samples <= 0) {
        return std::nullopt;
    }
    return mp3->samples * 1000 / mp3->sampleRate;
}
