// The audio player without a sound server (the test's environment points at none): lengths,
// aliases, opening, closing and Stop. Sound itself is checked in audio_output_test.
#include "playback/audio_player.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/playback/player_fixture.h"
#include "tests/playback/tone_mp3.h"

namespace {

class AudioPlayerTest : public PlayerFixture {
  protected:
    // A clip of a tone lasting lengthMs at 16 kHz mono, in a file with blanks and Chinese in
    // its path.
    std::string WriteClip(const std::string& name, int lengthMs) {
        return folder_.Write(name, EncodeToneMp3(16000, 1, 16L * lengthMs)).string();
    }
};

struct ClipShape {
    int sampleRate;
    int channels;
    long frames;
    std::int32_t lengthMs;
};

void PrintTo(const ClipShape& c, std::ostream* os) {
    *os << c.sampleRate << " Hz, " << c.channels << " ch, " << c.lengthMs << " ms";
}

class ClipLengthTest : public AudioPlayerTest, public ::testing::WithParamInterface<ClipShape> {};

// Blanks in the path once cost a clip its length; the encoder's delay and padding must not add
// to it; a clip shorter than one MP3 frame still has its own length.
TEST_P(ClipLengthTest, ProbeGivesExactLengthForPathWithBlanks) {
    const ClipShape shape = GetParam();
    const std::string path =
        folder_
            .Write("合成 语音 片段.mp3",
                   EncodeToneMp3(shape.sampleRate, shape.channels, shape.frames))
            .string();
    ASSERT_NE(path.find(' '), std::string::npos);

    EXPECT_EQ(ProbeClipLength(path), shape.lengthMs);
    EXPECT_FALSE(player_.IsOpen(path)) << "the probe leaves no clip open";
}

INSTANTIATE_TEST_SUITE_P(Shapes, ClipLengthTest,
                         ::testing::Values(ClipShape{44100, 2, 66150, 1500},
                                           ClipShape{16000, 1, 19744, 1234},
                                           ClipShape{22050, 1, 882, 40},
                                           ClipShape{48000, 2, 144048, 3001},
                                           // 1000.56 ms: the nearest whole millisecond.
                                           ClipShape{16000, 1, 16009, 1001}),
                         [](const ::testing::TestParamInfo<ClipShape>& info) {
                             const ClipShape& shape = info.param;
                             return std::to_string(shape.sampleRate) + "Hz_" +
                                    std::to_string(shape.channels) + "ch_" +
                                    std::to_string(shape.frames) + "frames";
                         });

struct UnreadableFile {
    const char* kind;
    const char* name;
    const char* bytes;  // null: no file at all
};

void PrintTo(const UnreadableFile& c, std::ostream* os) {
    *os << c.kind;
}

class UnreadableFileTest : public AudioPlayerTest,
                           public ::testing::WithParamInterface<UnreadableFile> {};

// What a failed synthesis leaves behind: the alias becomes "0" and nothing plays.
TEST_P(UnreadableFileTest, GivesLengthZeroAndPlaysNothing) {
    const UnreadableFile file = GetParam();
    const std::string path = file.bytes == nullptr ? (folder_.path() / file.name).string()
                                                   : folder_.Write(file.name, file.bytes).string();

    CurrentPlaybackAlias = std::to_string(ProbeClipLength(path));
    EXPECT_EQ(CurrentPlaybackAlias, "0");
    EXPECT_FALSE(OpenAndPlayClip(path, CurrentPlaybackAlias));
    EXPECT_FALSE(player_.IsOpen("0"));
    EXPECT_FALSE(player_.IsOpen(path));
}

INSTANTIATE_TEST_SUITE_P(Files, UnreadableFileTest,
                         ::testing::Values(UnreadableFile{"empty", "空 文件.mp3", ""},
                                           UnreadableFile{"missing", "不存在.mp3", nullptr},
                                           UnreadableFile{"error_page", "错误 页面.mp3",
                                                          "<html><body>502 Bad Gateway</body>"
                                                          "</html>\r\n"}),
                         [](const ::testing::TestParamInfo<UnreadableFile>& info) {
                             return std::string(info.param.kind);
                         });

TEST_F(AudioPlayerTest, ClipOpensUnderItsLengthAndPlayingFailsQuietlyWithoutSoundServer) {
    const std::string path = WriteClip("片段 一.mp3", 1500);

    CurrentPlaybackAlias = std::to_string(ProbeClipLength(path));
    ASSERT_EQ(CurrentPlaybackAlias, "1500");
    EXPECT_FALSE(OpenAndPlayClip(path, CurrentPlaybackAlias));

    EXPECT_TRUE(player_.IsOpen("1500"));
    EXPECT_FALSE(player_.IsPlaying("1500"));
    EXPECT_EQ(player_.LengthMs("1500"), 1500);
}

TEST_F(AudioPlayerTest, StopClosesTheClipAndKeepsTheAlias) {
    const std::string path = WriteClip("片段 一.mp3", 700);
    CurrentPlaybackAlias = std::to_string(ProbeClipLength(path));
    OpenAndPlayClip(path, CurrentPlaybackAlias);
    ASSERT_TRUE(player_.IsOpen("700"));

    OnStopClicked();
    EXPECT_FALSE(player_.IsOpen("700"));
    EXPECT_EQ(CurrentPlaybackAlias, "700");

    // A second Stop finds nothing to close and changes nothing.
    OnStopClicked();
    EXPECT_FALSE(CloseClip("700"));
    EXPECT_EQ(CurrentPlaybackAlias, "700");
}

TEST_F(AudioPlayerTest, OpeningUnderAnAliasInUseReplacesTheClipThere) {
    const std::string first = WriteClip("片段 一.mp3", 1500);
    const std::string second = WriteClip("片段 二.mp3", 700);
    ASSERT_TRUE(player_.Open(first, "9"));

    OpenAndPlayClip(second, "9");
    EXPECT_EQ(player_.LengthMs("9"), 700);
}

TEST_F(AudioPlayerTest, OpeningTwiceUnderOneAliasKeepsTheFirstClip) {
    const std::string first = WriteClip("片段 一.mp3", 1500);
    const std::string second = WriteClip("片段 二.mp3", 700);
    ASSERT_TRUE(player_.Open(first, "9"));

    EXPECT_FALSE(player_.Open(second, "9"));
    EXPECT_EQ(player_.LengthMs("9"), 1500);
}

TEST_F(AudioPlayerTest, ClosingWhatIsNotOpenFails) {
    EXPECT_FALSE(CloseClip("1500"));
    EXPECT_FALSE(player_.Play("1500"));
    EXPECT_EQ(player_.LengthMs("1500"), std::nullopt);
}

// Records the device operations in the order they are asked for.
class RecordingPlayer final : public MediaPlayer {
  public:
    bool Open(const std::string& path, const std::string& alias) override {
        calls.push_back("open " + path + " as " + alias);
        return openSucceeds;
    }
    std::optional<std::int32_t> LengthMs(const std::string& alias) override {
        calls.push_back("length " + alias);
        return 1500;
    }
    bool Play(const std::string& alias) override {
        calls.push_back("play " + alias);
        return true;
    }
    bool Close(const std::string& alias) override {
        calls.push_back("close " + alias);
        return true;
    }

    bool openSucceeds = true;
    std::vector<std::string> calls;
};

class PlayerOperationsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CurrentPlaybackAlias.clear();
        InstallMediaPlayer(&recorder_);
    }
    void TearDown() override {
        InstallMediaPlayer(nullptr);
        CurrentPlaybackAlias.clear();
    }

    RecordingPlayer recorder_;
};

// Before any Play, and during a synthesis (the alias is emptied at its start), Stop has no clip.
TEST_F(PlayerOperationsTest, StopWithoutAliasAsksNothing) {
    OnStopClicked();
    EXPECT_TRUE(recorder_.calls.empty());
}

TEST_F(PlayerOperationsTest, StopClosesTheAliasEachTime) {
    CurrentPlaybackAlias = "1500";
    OnStopClicked();
    OnStopClicked();
    EXPECT_EQ(recorder_.calls, (std::vector<std::string>{"close 1500", "close 1500"}));
}

TEST_F(PlayerOperationsTest, OpenAndPlayClosesTheAliasFirstAndPlaysEvenIfOpenFailed) {
    recorder_.openSucceeds = false;
    EXPECT_TRUE(OpenAndPlayClip("/tmp/a b.mp3", "0"));
    EXPECT_EQ(recorder_.calls,
              (std::vector<std::string>{"close 0", "open /tmp/a b.mp3 as 0", "play 0"}));
}

TEST_F(PlayerOperationsTest, ProbeWhoseOpenFailsAsksNoLengthAndClosesNothing) {
    recorder_.openSucceeds = false;
    EXPECT_EQ(ProbeClipLength("/tmp/a b.mp3"), 0);
    EXPECT_EQ(recorder_.calls, (std::vector<std::string>{"open /tmp/a b.mp3 as /tmp/a b.mp3"}));
}

// The process's own player, as the client uses it: a clip opened and closed once.
TEST(ProcessPlayerTest, ClosesWhatItOpened) {
    TempFolder folder;
    const std::string path = folder.Write("片段.mp3", EncodeToneMp3(16000, 1, 8000)).string();
    ASSERT_EQ(ProbeClipLength(path), 500);

    OpenAndPlayClip(path, "500");
    EXPECT_TRUE(CloseClip("500"));
    EXPECT_FALSE(CloseClip("500"));
}

}  // namespace
