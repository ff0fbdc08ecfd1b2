#pragma once
// The one way MP3 is opened for decoding: libmpg123, quiet, gapless, signed 16-bit samples at
// any rate it knows, mono or stereo. The player decodes files through it, and downloads are
// checked through it before they count as audio.

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

// The exact length in milliseconds of the MP3 held in bytes, by a full scan of its frames;
// nothing when no frame decodes (an error page, a JSON answer, random bytes) or none holds a
// sample.
std::optional<long long> Mp3BytesLengthMs(const std::string& bytes);
