// Opening MP3 and its exact length: read from the info tag when the tag fits the stream,
// scanned otherwise, and in every case the number of samples decoding gives; and the check
// that downloaded bytes are MP3.
#include "playback/mp3_decoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tests/playback/tone_mp3.h"

namespace {

// The length as the player used to read it: every frame scanned.
long long ScannedSamples(const std::string& path) {
    Mpg123Handle decoder = NewMp3Decoder();
    if (!decoder || mpg123_open(decoder.get(), path.c_str()) != MPG123_OK ||
        mpg123_scan(decoder.get()) != MPG123_OK) {
        return -1;
    }
    return mpg123_length(decoder.get());
}

// Decodes the rest of the stream; the samples per channel it gave.
long long DecodeToTheEnd(OpenedMp3& mp3) {
    std::vector<unsigned char> buffer(64 * 1024);
    long long bytes = 0;
    while (true) {
        size_t done = 0;
        const int result = mpg123_read(mp3.decoder.get(), buffer.data(), buffer.size(), &done);
        bytes += static_cast<long long>(done);
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) {
            return bytes / 2 / mp3.channels;
        }
    }
}

struct ClipShape {
    int sampleRate;
    int channels;
    long frames;
};

void PrintTo(const ClipShape& shape, std::ostream* os) {
    *os << shape.sampleRate << " Hz, " << shape.channels << " ch, " << shape.frames << " frames";
}

// ID3v2.3 with one text frame, 16 bytes of tag body.
const std::string kId3v2("ID3\x03\x00\x00\x00\x00\x00\x10TIT2\x00\x00\x00\x06\x00\x00\x00tone", 26);
const std::string kId3v1 = "TAG" + std::string(125, ' ');

struct Variant {
    const char* name;
    // Makes the file from the tagged tone of the shape.
    std::function<std::string(const std::string& tone, const ClipShape& shape)> make;
    // Whether the tag holds and the length is the tone's own frame count.
    bool toneLength;
};

void PrintTo(const Variant& variant, std::ostream* os) {
    *os << variant.name;
}

const Variant kVariants[] = {
    {"tagged", [](const std::string& tone, const ClipShape&) { return tone; }, true},
    {"id3_tags_around",
     [](const std::string& tone, const ClipShape&) { return kId3v2 + tone + kId3v1; }, true},
    // The encoder's delay and padding are then played as part of the clip.
    {"untagged", [](const std::string& tone, const ClipShape&) { return AfterFirstFrame(tone); },
     false},
    {"cut_short",
     [](const std::string& tone, const ClipShape&) { return tone.substr(0, tone.size() * 2 / 3); },
     false},
    {"tag_of_a_longer_clip",
     [](const std::string& tone, const ClipShape& shape) {
         return FirstFrame(EncodeToneMp3(shape.sampleRate, shape.channels, shape.frames * 2)) +
                AfterFirstFrame(tone);
     },
     false},
    {"tag_of_a_shorter_clip",
     [](const std::string& tone, const ClipShape& shape) {
         return FirstFrame(EncodeToneMp3(shape.sampleRate, shape.channels, shape.frames / 3)) +
                AfterFirstFrame(tone);
     },
     false},
    {"another_clip_appended",
     [](const std::string& tone, const ClipShape& shape) {
         return tone +
                AfterFirstFrame(EncodeToneMp3(shape.sampleRate, shape.channels, shape.frames / 2));
     },
     false},
};

const ClipShape kShapes[] = {{16000, 1, 16009}, {22050, 1, 33075}, {44100, 2, 66150}};

class Mp3LengthTest : public ::testing::TestWithParam<std::tuple<ClipShape, Variant>> {
  protected:
    TempFolder folder_;
};

// Whatever the tag says, the length is what the player will decode, and what a full scan finds.
TEST_P(Mp3LengthTest, LengthIsTheSamplesDecodingGives) {
    const auto& [shape, variant] = GetParam();
    const std::string tone = EncodeToneMp3(shape.sampleRate, shape.channels, shape.frames);
    const std::string path = folder_.Write("片段 一.mp3", variant.make(tone, shape)).string();

    std::optional<OpenedMp3> mp3 = OpenMp3File(path);
    ASSERT_TRUE(mp3.has_value());
    EXPECT_EQ(mp3->sampleRate, shape.sampleRate);
    EXPECT_EQ(mp3->channels, shape.channels);
    if (variant.toneLength) {
        EXPECT_EQ(mp3->samples, shape.frames);
    } else {
        EXPECT_GT(mp3->samples, 0);
    }
    EXPECT_EQ(mp3->samples, ScannedSamples(path));
    EXPECT_EQ(DecodeToTheEnd(*mp3), mp3->samples);
}

INSTANTIATE_TEST_SUITE_P(Files, Mp3LengthTest,
                         ::testing::Combine(::testing::ValuesIn(kShapes),
                                            ::testing::ValuesIn(kVariants)),
                         [](const auto& info) {
                             const ClipShape& shape = std::get<0>(info.param);
                             return std::to_string(shape.sampleRate) + "Hz_" +
                                    std::to_string(shape.channels) + "ch_" +
                                    std::get<1>(info.param).name;
                         });

// The untagged copy is the same frames without the delay and padding trimmed: exactly one
// tag's worth of samples longer, both read to the sample.
TEST(Mp3Length, UntaggedCopyIsLongerByTheEncodersDelayAndPadding) {
    TempFolder folder;
    const std::string tone = EncodeToneMp3(22050, 1, 22050);
    std::optional<OpenedMp3> tagged = OpenMp3File(folder.Write("tagged.mp3", tone).string());
    std::optional<OpenedMp3> untagged =
        OpenMp3File(folder.Write("untagged.mp3", AfterFirstFrame(tone)).string());
    ASSERT_TRUE(tagged && untagged);
    ASSERT_EQ(tagged->samples, 22050);
    long delay = 0;
    long padding = 0;
    ASSERT_EQ(mpg123_getstate(tagged->decoder.get(), MPG123_ENC_DELAY, &delay, nullptr), MPG123_OK);
    ASSERT_EQ(mpg123_getstate(tagged->decoder.get(), MPG123_ENC_PADDING, &padding, nullptr),
              MPG123_OK);
    ASSERT_GT(delay, 0);
    EXPECT_EQ(untagged->samples, tagged->samples + delay + padding);
}

class BelievedTagTest : public ::testing::TestWithParam<std::tuple<ClipShape, bool>> {};

// A tag whose byte count fits the stream is taken at its word: its frame count is the length,
// no frame after the first is read (this is what makes a long clip open at once). The tag is
// found after an ID3v2 tag too.
TEST_P(BelievedTagTest, TagThatFitsTheStreamIsBelievedWithoutAScan) {
    const auto& [shape, inId3Tags] = GetParam();
    std::string tone = EncodeToneMp3(shape.sampleRate, shape.channels, shape.frames);
    const size_t info = tone.find("Info");
    ASSERT_LT(info, FirstFrame(tone).size());
    // The frame count: four bytes, most significant first, after "Info" and the flags.
    unsigned long frames = 0;
    for (size_t i = info + 8; i < info + 12; ++i) {
        frames = frames << 8 | static_cast<unsigned char>(tone[i]);
    }
    frames -= 10;
    for (size_t i = info + 12; i-- > info + 8; frames >>= 8) {
        tone[i] = static_cast<char>(frames & 0xFF);
    }
    TempFolder folder;
    std::optional<OpenedMp3> mp3 = OpenMp3File(
        folder.Write("doctored.mp3", inId3Tags ? kId3v2 + tone + kId3v1 : tone).string());
    ASSERT_TRUE(mp3.has_value());
    const long samplesPerFrame = shape.sampleRate >= 32000 ? 1152 : 576;
    EXPECT_EQ(mp3->samples, shape.frames - 10 * samplesPerFrame);
}

INSTANTIATE_TEST_SUITE_P(Files, BelievedTagTest,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Bool()),
                         [](const auto& info) {
                             const ClipShape& shape = std::get<0>(info.param);
                             return std::to_string(shape.sampleRate) + "Hz_" +
                                    std::to_string(shape.channels) + "ch" +
                                    (std::get<1>(info.param) ? "_in_id3_tags" : "");
                         });

struct DownloadCase {
    const char* name;
    std::function<std::string()> bytes;
    std::optional<long long> lengthMs;
};

std::string RandomBytes(size_t count) {
    std::mt19937 generator(20240611);
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

void PrintTo(const DownloadCase& download, std::ostream* os) {
    *os << download.name;
}

class Mp3BytesTest : public ::testing::TestWithParam<DownloadCase> {};

TEST_P(Mp3BytesTest, OnlyMp3HasALength) {
    EXPECT_EQ(Mp3BytesLengthMs(GetParam().bytes()), GetParam().lengthMs);
}

INSTANTIATE_TEST_SUITE_P(
    Downloads, Mp3BytesTest,
    ::testing::Values(
        DownloadCase{"empty", [] { return std::string(); }, std::nullopt},
        DownloadCase{"html_error_page",
                     [] {
                         return std::string(
                             "<!DOCTYPE html>\r\n<html><head><title>502 Bad Gateway</title></head>"
                             "<body><h1>502 Bad Gateway</h1></body></html>\r\n");
                     },
                     std::nullopt},
        DownloadCase{"json_answer",
                     [] { return std::string(R"({"code":500,"msg":"合成失败","data":null})"); },
                     std::nullopt},
        DownloadCase{"random_bytes", [] { return RandomBytes(64 * 1024); }, std::nullopt},
        DownloadCase{"id3_tag_alone", [] { return kId3v2; }, std::nullopt},
        // 16009 frames at 16 kHz: 1000.56 ms.
        DownloadCase{"clip", [] { return EncodeToneMp3(16000, 1, 16009); }, 1000},
        DownloadCase{"clip_in_id3_tags",
                     [] { return kId3v2 + EncodeToneMp3(16000, 1, 16009) + kId3v1; }, 1000},
        DownloadCase{"clip_shorter_than_a_frame", [] { return EncodeToneMp3(22050, 1, 441); }, 20}),
    [](const ::testing::TestParamInfo<DownloadCase>& info) {
        return std::string(info.param.name);
    });

// A cut download still holds audio, only less of it than its tag says.
TEST(Mp3Bytes, CutDownloadHasTheLengthOfWhatArrived) {
    const std::string tone = EncodeToneMp3(16000, 1, 32000);
    const std::optional<long long> cut = Mp3BytesLengthMs(tone.substr(0, tone.size() / 2));
    ASSERT_TRUE(cut.has_value());
    EXPECT_GT(*cut, 800);
    EXPECT_LT(*cut, 1200);
}

}  // namespace
