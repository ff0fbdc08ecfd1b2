// The local dubbing server: how fast it starts and how fast it turns 300 Chinese characters into
// an MP3 file, with the parts that make up that time.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "server/dubbing_render.h"
#include "server/dubbing_server.h"
#include "server/mp3_encoding.h"
#include "server/server_catalogue.h"

namespace {

// 300 Chinese characters (punctuation not counted) in sentences of ordinary length.
std::string ThreeHundredCharacters() {
    const std::string passage =
        "春天来了，公园里的花都开了，红的像火，粉的像霞，白的像雪。"
        "孩子们在草地上放风筝，老人们在树荫下下棋，到处都是欢声笑语。"
        "我们的商店今天开业，全场商品八折优惠，欢迎各位顾客光临选购。"
        "本店经营各种日用百货，价格实惠，质量可靠，服务周到，童叟无欺。"
        "凡是在本店消费满一百元的顾客，都可以获得精美礼品一份，数量有限，送完为止。";
    std::string text;
    size_t characters = 0;
    for (size_t i = 0; characters < 300; i = (i + 3) % passage.size()) {
        const std::string character = passage.substr(i, 3);  // every character here is 3 bytes
        text += character;
        if (character != "，" && character != "。") {
            ++characters;
        }
    }
    return text;
}

dubserver::DubbingRequest Request(int backgroundId) {
    dubserver::DubbingRequest request;
    request.content = ThreeHundredCharacters();
    request.readerId = 101;
    request.readerVolume = 10;
    request.backgroundVolume = -5;
    request.backgroundId = backgroundId;
    return request;
}

void BM_StartAndStopInProcess(benchmark::State& state) {
    for (auto _ : state) {
        ServerOptions options;
        options.quiet = true;
        DubbingServer server(options);
        if (server.Start() <= 0) {
            state.SkipWithError("the server did not start");
            return;
        }
        server.Stop();
    }
}
BENCHMARK(BM_StartAndStopInProcess)->Unit(benchmark::kMillisecond);

// From spawning the executable to its "listening" line, as a user starting it sees it.
void BM_ExecutableStartsListening(benchmark::State& state) {
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) {
            state.SkipWithError("no pipe");
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const char* argv[] = {DUBDESK_SERVER_EXECUTABLE, "--port", "0", "--quiet", nullptr};
        pid_t pid = 0;
        const int spawned =
            posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        char c = 0;
        while (spawned == 0 && read(fds[0], &c, 1) == 1 && c != '\n') {
        }
        state.PauseTiming();
        close(fds[0]);
        if (spawned != 0) {
            state.SkipWithError("cannot start the executable");
            return;
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ExecutableStartsListening)->Unit(benchmark::kMillisecond);

void BM_Render300CharactersToMp3(benchmark::State& state) {
    const dubserver::DubbingRequest request = Request(static_cast<int>(state.range(0)));
    if (request.backgroundId != 0) {
        // The track is rendered once per process, before the first job that needs it.
        dubserver::AudioOfTrack(*dubserver::FindBackgroundTrack(request.backgroundId));
    }
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string mp3 = dubserver::RenderDubbing(request);
        bytes = mp3.size();
        benchmark::DoNotOptimize(mp3.data());
    }
    state.counters["mp3_bytes"] = static_cast<double>(bytes);
}
// Without background, and with the festive track under the voice.
BENCHMARK(BM_Render300CharactersToMp3)->Arg(0)->Arg(401)->Unit(benchmark::kMillisecond);

// The parts: speech from the engine, then MP3 encoding of that speech.
void BM_Speak300Characters(benchmark::State& state) {
    const dubserver::DubbingRequest request = Request(0);
    const auto settings = dubserver::SpeechSettingsFor(request);
    double seconds = 0;
    for (auto _ : state) {
        const dubserver::Samples speech =
            dubserver::SpeakContent(dubserver::SplitAtPauseMarkers(request.content), settings);
        seconds = static_cast<double>(speech.size()) / dubserver::kSampleRate;
    }
    state.counters["audio_seconds"] = seconds;
}
BENCHMARK(BM_Speak300Characters)->Unit(benchmark::kMillisecond);

void BM_Encode300CharactersOfSpeech(benchmark::State& state) {
    const dubserver::DubbingRequest request = Request(0);
    const dubserver::Samples speech = dubserver::SpeakContent(
        dubserver::SplitAtPauseMarkers(request.content), dubserver::SpeechSettingsFor(request));
    for (auto _ : state) {
        benchmark::DoNotOptimize(dubserver::EncodeMp3(speech).data());
    }
}
BENCHMARK(BM_Encode300CharactersOfSpeech)->Unit(benchmark::kMillisecond);

void BM_RenderOneBackgroundTrack(benchmark::State& state) {
    const dubserver::MusicMood& mood = dubserver::FindBackgroundTrack(401)->mood;
    for (auto _ : state) {
        benchmark::DoNotOptimize(dubserver::RenderMusic(mood).data());
    }
}
BENCHMARK(BM_RenderOneBackgroundTrack)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
