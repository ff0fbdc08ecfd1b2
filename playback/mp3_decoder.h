#pragma once
// The one way MP3 is opened for decoding: libmpg123, quiet, gapless, signed 16-bit samples at
// any rate it knows, mono or stereo. The player decodes files through it, and downloads are
// checked through it before they count as audio.
//
// The exact length (in samples, after the encoder's delay and padding are trimmed) comes from
// the stream's info tag when the tag fits the stream, so a long clip opens at once; a stream
// without a tag, or whose tag does not fit (a truncated download, a tag copied from another
// file, data appended after the end), is scanned frame by frame. Either way the length is the
// number of samples that decoding gives.

#include <mpg123.h>

#include <memory>
#include <optional>
#include <string>

struct Mpg123Deleter {
    void operator()(mpg123_handle* handle) const {
        mpg123_close(handle);
        mpg123_delete(handle);
    }
};
using Mpg123Handle = std::unique_ptr<mpg123_handle, Mpg123Deleter>;

// A decoder set up as above, nothing opened yet; null when the library could not make one.
Mpg123Handle NewMp3Decoder();

// An MP3 open for decoding from its first sample, with its format and exact length.
struct OpenedMp3 {
    Mpg123Handle decoder;
    long sampleRate = 0;
    int channels = 0;
    long long samples = 0;  // per channel
};

// Opens the MP3 file at path; nothing when it cannot be read or no frame decodes.
std::optional<OpenedMp3> OpenMp3File(const std::string& path);

// The exact length in milliseconds (rounded down) of the MP3 held in bytes; nothing when no
// frame decodes (an error page, a JSON answer, random bytes) or none holds a sample.
std::optional<long long> Mp3BytesLengthMs(const std::string& bytes);
