#pragma once
// Decoding MP3 bytes in the server's tests with the client's player's decoder set-up (libmpg123,
// gapless), and simple measures of the samples.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct DecodedAudio {
    long rate = 0;
    std::vector<int16_t> samples;  // mono: channels are averaged

    double Seconds() const { return rate > 0 ? static_cast<double>(samples.size()) / rate : 0; }
};

// Nothing when the bytes hold no MP3 frame.
std::optional<DecodedAudio> DecodeMp3(const std::string& bytes);

// Root mean square of samples [begin, end), clamped to the sample count.
double Rms(const std::vector<int16_t>& samples, size_t begin = 0, size_t end = SIZE_MAX);
