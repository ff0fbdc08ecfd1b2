// The local dubbing server: how fast it starts and how fast it turns 300 Chinese characters into
// an MP3 file, with the parts that make up that time; and how it holds up under load: many
// clients' jobs at once, slow and idle connections, an endless chunked body.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "server/dubbing_render.h"
#include "server/dubbing_server.h"
#include "server/mp3_encoding.h"
#include "server/server_catalogue.h"
#include "tests/server/loopback_socket.h"

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

// Starts the server executable on a free port; its first line (the "listening" line, naming the
// port) is read into line. Returns the process id, or -1 when it could not be started.
pid_t SpawnServer(std::string& line) {
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
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
        line.push_back(c);
    }
    close(fds[0]);
    return spawned == 0 ? pid : -1;
}

// From spawning the executable to its "listening" line, as a user starting it sees it.
void BM_ExecutableStartsListening(benchmark::State& state) {
    for (auto _ : state) {
        std::string line;
        const pid_t pid = SpawnServer(line);
        state.PauseTiming();
        if (pid < 0) {
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

// --- under load ---------------------------------------------------------------------------

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Get(const std::string& target, const std::string& cookie = {}) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           (cookie.empty() ? "" : "Cookie: " + cookie + "\r\n") + "Connection: close\r\n\r\n";
}

// One client's whole job as the client runs it: submit, a result poll every two seconds (at most
// 21), download. The job's time when audio came, or a negative number.
double OneClientsJob(int port) {
    const auto start = Clock::now();
    const std::string body =
        R"({"bgVoxId":"","bgVoxPath":"","readerID":101,"duration":"","isStatistics":1,)"
        R"("openId":"","speed":50,"title":"","ttsContent":"%E4%BD%A0%E5%A5%BD%E3%80%82",)"
        R"("unionId":"","volume":-5,"way":2,"readerVolume":10,"pitch":50,"bgVoxType":1,)"
        R"("ipAddress":"17.203.8.9"})";
    const std::string submitted =
        Exchange(port,
                 "POST /pc/api/synVox/speechSynth?T=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                 "application/json;charset=UTF-8\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body,
                 30s);
    std::smatch match;
    std::string serial;
    std::string cookie;
    if (std::regex_search(submitted, match, std::regex(R"("serialId":(\d+))"))) {
        serial = match[1];
    }
    if (std::regex_search(submitted, match, std::regex(R"(Set-Cookie: (DUBSESSION=[0-9a-f]+))"))) {
        cookie = match[1];
    }
    if (serial.empty() || cookie.empty()) {
        return -1;
    }
    for (int poll = 0; poll < 21; ++poll) {
        std::this_thread::sleep_for(2s);
        const std::string result = BodyOf(Exchange(
            port, Get("/pc/api/synVox/querySynthResult?serialId=" + serial + "&T=2", cookie), 30s));
        if (result.find(":-1") != std::string::npos) {
            continue;
        }
        if (!std::regex_search(result, match,
                               std::regex(R"("vsriDownurl":"http://[^/]+(/[^"]+))"))) {
            return -1;
        }
        const std::string mp3 = Exchange(port, Get(match[1].str()), 30s);
        const std::string audio = BodyOf(mp3);
        const bool isMp3 = StatusOf(mp3) == 200 &&
                           (audio.starts_with("ID3") || (audio.size() > 1 && audio[0] == '\xff'));
        return isMp3 ? SecondsSince(start) : -1;
    }
    return -1;
}

// Many clients submit at the same moment; how many get audio and how long a job takes.
void BM_ConcurrentClientsJobs(benchmark::State& state) {
    const int clients = static_cast<int>(state.range(0));
    for (auto _ : state) {
        ServerOptions options;
        options.quiet = true;
        DubbingServer server(options);
        const int port = server.Start();
        std::vector<double> times(static_cast<size_t>(clients));
        std::vector<std::thread> threads;
        for (int i = 0; i < clients; ++i) {
            threads.emplace_back([&, i] { times[static_cast<size_t>(i)] = OneClientsJob(port); });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        std::vector<double> done;
        std::copy_if(times.begin(), times.end(), std::back_inserter(done),
                     [](double t) { return t >= 0; });
        std::sort(done.begin(), done.end());
        state.counters["got_audio"] = static_cast<double>(done.size());
        state.counters["p95_job_s"] =
            done.empty() ? 0 : done[std::min(done.size() - 1, done.size() * 95 / 100)];
        state.counters["max_job_s"] = done.empty() ? 0 : done.back();
    }
}
BENCHMARK(BM_ConcurrentClientsJobs)->Arg(50)->Iterations(1)->Unit(benchmark::kSecond);

// How long an ordinary request takes while idle connections (that never send a byte) and
// trickling ones (one byte of a request every two seconds) are open. Arguments: idle, trickling.
void BM_RequestBesideSlowConnections(benchmark::State& state) {
    ServerOptions options;
    options.quiet = true;
    DubbingServer server(options);
    const int port = server.Start();
    std::vector<LoopbackSocket> idle;
    for (int i = 0; i < state.range(0); ++i) {
        idle.emplace_back(port);
    }
    std::atomic<bool> done = false;
    std::thread trickler([&] {
        std::vector<LoopbackSocket> trickling;
        const std::string request = "GET /pc/api/reader/readerInfo/1 HTTP/1.1\r\nHost: x\r\n";
        for (size_t sent = 0; !done; ++sent) {
            for (int i = 0; i < state.range(1); ++i) {
                // A connection the server closed is replaced by a new one.
                if (trickling.size() <= static_cast<size_t>(i)) {
                    trickling.emplace_back(port);
                }
                if (!trickling[static_cast<size_t>(i)].Send(
                        request.substr(sent % request.size(), 1))) {
                    trickling[static_cast<size_t>(i)] = LoopbackSocket(port);
                }
            }
            for (int wait = 0; wait < 20 && !done; ++wait) {
                std::this_thread::sleep_for(100ms);
            }
        }
    });
    std::this_thread::sleep_for(500ms);
    double slowest = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const std::string answer = Exchange(port, Get("/pc/api/reader/readerInfo/1?T=1"), 60s);
        const double seconds = SecondsSince(start);
        state.SetIterationTime(seconds);
        slowest = std::max(slowest, seconds);
        if (StatusOf(answer) != 200) {
            state.SkipWithError("no answer within a minute");
            break;
        }
        std::this_thread::sleep_for(700ms);
    }
    state.counters["slowest_s"] = slowest;
    done = true;
    trickler.join();
}
BENCHMARK(BM_RequestBesideSlowConnections)
    ->Args({100, 0})
    ->Args({0, 8})
    ->Args({100, 8})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Peak resident memory of the server executable after a 512 MB chunked submit body, and how long
// until the server refused or closed it.
void BM_ChunkedBodyOfHalfAGigabyte(benchmark::State& state) {
    for (auto _ : state) {
        std::string line;
        const pid_t pid = SpawnServer(line);
        std::smatch match;
        if (!std::regex_search(line, match, std::regex(R"(:(\d+)$)"))) {
            state.SkipWithError("the server did not start");
            return;
        }
        const auto start = Clock::now();
        LoopbackSocket connection(std::stoi(match[1]));
        connection.Send(
            "POST /pc/api/synVox/speechSynth?T=1 HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: "
            "chunked\r\n\r\n");
        const std::string chunk = "100000\r\n" + std::string(0x100000, 'x') + "\r\n";
        size_t sentMegabytes = 0;
        while (sentMegabytes < 512 && connection.Send(chunk)) {
            ++sentMegabytes;
        }
        connection.Send("0\r\n\r\n");
        const std::string answer = connection.ReadUntilClosed(60s);
        state.SetIterationTime(SecondsSince(start));
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        double peakKilobytes = 0;
        for (std::string field; std::getline(status, field);) {
            if (field.starts_with("VmHWM:")) {
                peakKilobytes = std::stod(field.substr(6));
            }
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        state.counters["server_peak_rss_mb"] = peakKilobytes / 1024;
        state.counters["sent_mb"] = static_cast<double>(sentMegabytes);
        state.counters["status"] = StatusOf(answer);
    }
}
BENCHMARK(BM_ChunkedBodyOfHalfAGigabyte)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
