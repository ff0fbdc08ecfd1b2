// The audio player's sound, recorded: a sound server of the test's own with a null sink plays
// the clip, and the sink's monitor is recorded to see what came out and for how long.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "playback/audio_player.h"
#include "tests/playback/player_fixture.h"
#include "tests/playback/tone_mp3.h"

extern char** environ;

namespace {

constexpr int kRecordRate = 44100;

// Starts a program with the given arguments and standard output going to outputFile (when not
// empty); returns its process id, or -1.
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& outputFile = {}) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!outputFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

int WaitForExit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A sound server with one null sink "nul", in a folder of its own, for this process and the
// programs it starts. Started once for all tests of the process: the sound engine of the
// application object connects once.
class NullSinkServer : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string folder = (std::filesystem::temp_directory_path() / "dubdesk-pulse-XXXXXX");
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        folder_ = folder;
        std::filesystem::create_directory(folder_ / "run");
        std::filesystem::create_directory(folder_ / "home");
        setenv("XDG_RUNTIME_DIR", (folder_ / "run").c_str(), 1);
        setenv("HOME", (folder_ / "home").c_str(), 1);
        unsetenv("PULSE_SERVER");

        // The daemonising call returns once the server is ready.
        const pid_t starter =
            Spawn({"pulseaudio", "-D", "--exit-idle-time=-1", "-n", "--log-level=error",
                   "--load=module-null-sink sink_name=nul", "--load=module-native-protocol-unix"});
        ASSERT_NE(starter, -1) << "pulseaudio could not be started";
        ASSERT_EQ(WaitForExit(starter), 0) << "pulseaudio did not start";
        std::ifstream(folder_ / "run" / "pulse" / "pid") >> pid_;
        ASSERT_GT(pid_, 0);
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            // The server removes its pid file on the way out.
            for (int i = 0; i < 100 && std::filesystem::exists(folder_ / "run" / "pulse" / "pid");
                 ++i) {
                usleep(20'000);
            }
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

  private:
    std::filesystem::path folder_;
    pid_t pid_ = 0;
};

// Records the null sink's monitor, mono 16-bit at kRecordRate, from construction to Stop.
class MonitorRecording {
  public:
    explicit MonitorRecording(std::filesystem::path file) : file_(std::move(file)) {
        pid_ = Spawn({"parec", "--device=nul.monitor", "--raw", "--format=s16le",
                      "--rate=" + std::to_string(kRecordRate), "--channels=1", "--latency-msec=10"},
                     file_.string());
    }
    ~MonitorRecording() { Stop(); }

    // True once the recording is running (the monitor delivers silence while nothing plays).
    bool WaitUntilRecording() {
        for (int i = 0; i < 250 && pid_ > 0; ++i) {
            std::error_code error;
            if (std::filesystem::file_size(file_, error) > 0 && !error) {
                return true;
            }
            QTest::qWait(20);
        }
        return false;
    }

    std::vector<std::int16_t> Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            WaitForExit(pid_);
            pid_ = -1;
        }
        std::ifstream in(file_, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        std::vector<std::int16_t> samples(bytes.size() / 2);
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] =
                static_cast<std::int16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                          static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
        }
        return samples;
    }

  private:
    std::filesystem::path file_;
    pid_t pid_ = -1;
};

// How long the recording is louder than a share of full scale: from the first to the last sample
// above it.
double LoudForMs(const std::vector<std::int16_t>& samples, double shareOfFullScale) {
    const int threshold = static_cast<int>(shareOfFullScale * 32767);
    ptrdiff_t first = -1;
    ptrdiff_t last = -1;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(static_cast<int>(samples[i])) > threshold) {
            first = first < 0 ? static_cast<ptrdiff_t>(i) : first;
            last = static_cast<ptrdiff_t>(i);
        }
    }
    return first < 0 ? 0.0 : static_cast<double>(last - first + 1) * 1000.0 / kRecordRate;
}

class AudioOutputTest : public PlayerFixture {
  protected:
    // Writes a tone of lengthMs whose last loudTailMs are louder (0.8 of full scale, 0.4 before)
    // and probes it as the Play command does.
    std::string PrepareClip(int lengthMs, int loudTailMs = 0) {
        const std::string path =
            folder_
                .Write("合成 语音.mp3",
                       EncodeToneMp3(44100, 2, 441L * lengthMs / 10, 441L * loudTailMs / 10))
                .string();
        CurrentPlaybackAlias = std::to_string(ProbeClipLength(path));
        return path;
    }
};

struct WholeClip {
    int lengthMs;
    int loudTailMs;
};

void PrintTo(const WholeClip& c, std::ostream* os) {
    *os << c.lengthMs << " ms, loud for the last " << c.loudTailMs << " ms";
}

class WholeClipTest : public AudioOutputTest, public ::testing::WithParamInterface<WholeClip> {};

// The whole clip comes out, its last milliseconds too: the sound ends when the clip does, not
// when the player has handed the last samples to the server. A clip shorter than the server's
// buffer must start at all.
TEST_P(WholeClipTest, PlaysInTheBackgroundToTheLastMillisecond) {
    const WholeClip clip = GetParam();
    const std::string path = PrepareClip(clip.lengthMs, clip.loudTailMs);
    ASSERT_EQ(CurrentPlaybackAlias, std::to_string(clip.lengthMs));
    MonitorRecording recording(folder_.path() / "monitor.raw");
    ASSERT_TRUE(recording.WaitUntilRecording());

    QElapsedTimer call;
    call.start();
    ASSERT_TRUE(OpenAndPlayClip(path, CurrentPlaybackAlias));
    EXPECT_LT(call.elapsed(), 500) << "playing must not wait for the clip";
    EXPECT_TRUE(player_.IsPlaying(CurrentPlaybackAlias));
    QTest::qWait(clip.lengthMs + 800);

    const std::vector<std::int16_t> sound = recording.Stop();
    // The monitor may miss the first few milliseconds of a stream that joins a running sink; a
    // starved machine may stretch the sound with gaps. Neither is what this test looks for.
    EXPECT_GE(LoudForMs(sound, 0.2), clip.lengthMs - 15);
    EXPECT_LE(LoudForMs(sound, 0.2), clip.lengthMs + 250);
    EXPECT_GE(LoudForMs(sound, 0.6), clip.loudTailMs - 3) << "the end of the clip was cut off";
    EXPECT_LE(LoudForMs(sound, 0.6), clip.loudTailMs + 50);
    // Played to its end, the clip stays open until it is closed.
    EXPECT_TRUE(CloseClip(CurrentPlaybackAlias));
}

INSTANTIATE_TEST_SUITE_P(Lengths, WholeClipTest,
                         ::testing::Values(WholeClip{1000, 100}, WholeClip{150, 50}),
                         [](const ::testing::TestParamInfo<WholeClip>& info) {
                             return std::to_string(info.param.lengthMs) + "ms";
                         });

TEST_F(AudioOutputTest, StopSilencesTheClipAtOnce) {
    const std::string path = PrepareClip(3000);
    MonitorRecording recording(folder_.path() / "monitor.raw");
    ASSERT_TRUE(recording.WaitUntilRecording());

    QElapsedTimer playing;
    playing.start();
    ASSERT_TRUE(OpenAndPlayClip(path, CurrentPlaybackAlias));
    QTest::qWait(600);
    OnStopClicked();
    const qint64 stoppedAfterMs = playing.elapsed();
    EXPECT_FALSE(player_.IsOpen(CurrentPlaybackAlias));
    OnStopClicked();
    QTest::qWait(500);

    const std::vector<std::int16_t> sound = recording.Stop();
    EXPECT_GE(LoudForMs(sound, 0.2), 200) << "sound came out before Stop";
    EXPECT_LE(LoudForMs(sound, 0.2), stoppedAfterMs + 50) << "no sound after Stop";
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    QApplication application(argc, argv);
    ::testing::AddGlobalTestEnvironment(new NullSinkServer);
    return RUN_ALL_TESTS();
}
