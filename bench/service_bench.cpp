// Service layer: the client's own share of a full synthesis job against the local dubbing
// server (waits and the server's rendering left out), and reading a 1,000-track catalogue
// answer.

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "server/dubbing_server.h"
#include "service/catalogue.h"
#include "service/service_api.h"
#include "service/synthesis_job.h"
#include "service/waiting.h"
#include "tests/service/fake_service.h"
#include "tests/service/job_parameters.h"
#include "text/code_page.h"

namespace {

using Clock = std::chrono::steady_clock;

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Twenty "not ready" answers before the download address: with the two track requests that
// makes 30 exchanges, the most a job ever makes.
void BM_FullJobAgainstLocalServer(benchmark::State& state) {
    ServerOptions options;
    options.quiet = true;
    options.busyPolls = 20;
    DubbingServer server(options);
    if (server.Start() <= 0) {
        state.SkipWithError("local server did not start");
        return;
    }
    SetServiceOrigin(server.Origin());
    std::vector<SpeakerRecord> speakers;
    std::vector<BackgroundRecord> tracks;
    if (FetchSpeakerCategory(speakers, 1) == 0 || FetchBackgroundList(tracks, 2) == 0) {
        state.SkipWithError("local server offers no catalogue");
        return;
    }
    // Waits are shortened a hundredfold (the server renders meanwhile) and their time is taken
    // out of the measurement.
    Clock::duration waited{};
    SetWaitFunction([&waited](int ms) {
        Clock::time_point start = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(ms / 100));
        waited += Clock::now() - start;
    });
    const SynthesisParameters parameters =
        JobAtWindowLevels(Utf8TextToAnsi("你好，世界。"), speakers.front().id,
                          tracks.front().voxUrl, tracks.front().id);
    double cpuSeconds = 0;
    int exchanges = 0;
    for (auto _ : state) {
        waited = {};
        SynthesisOutcome outcome;
        const double cpuStart = ThreadCpuSeconds();
        const Clock::time_point start = Clock::now();
        std::string mp3 = RunSynthesisJob(parameters, {.outcome = &outcome});
        const Clock::duration elapsed = Clock::now() - start;
        cpuSeconds += ThreadCpuSeconds() - cpuStart;
        if (mp3.empty()) {
            state.SkipWithError("the job gave up");
            break;
        }
        exchanges = 2 + 1 + 5 + outcome.resultRequests + 1;
        state.SetIterationTime(std::chrono::duration<double>(elapsed - waited).count());
    }
    state.counters["exchanges"] = exchanges;
    state.counters["client_cpu_ms"] =
        benchmark::Counter(cpuSeconds * 1000, benchmark::Counter::kAvgIterations);
    SetWaitFunction({});
    SetServiceOrigin({});
}
BENCHMARK(BM_FullJobAgainstLocalServer)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// The same 30 exchanges against a scripted stand-in that answers at once: what is left is the
// client and the loopback.
void BM_FullJobAgainstScriptedService(benchmark::State& state) {
    FakeService service;
    ServiceScript script;
    script.busyResults = 20;
    std::atomic<int> poll{0};
    script.result = [&poll](int, const std::string& downloadUrl) {
        return ++poll % 21 == 0 ? ReadyResult(downloadUrl) : BusyResult();
    };
    service.SetScript(script);
    SetWaitFunction([](int) {});
    const SynthesisParameters parameters =
        JobAtWindowLevels(Utf8TextToAnsi("你好，世界。"), "3", service.TrackUrl(), "7");
    double cpuSeconds = 0;
    for (auto _ : state) {
        const double cpuStart = ThreadCpuSeconds();
        if (RunSynthesisJob(parameters).empty()) {
            state.SkipWithError("the job gave up");
            break;
        }
        cpuSeconds += ThreadCpuSeconds() - cpuStart;
    }
    state.counters["requests"] = static_cast<double>(service.RequestCount()) /
                                 static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.counters["client_cpu_ms"] =
        benchmark::Counter(cpuSeconds * 1000, benchmark::Counter::kAvgIterations);
    SetWaitFunction({});
}
BENCHMARK(BM_FullJobAgainstScriptedService)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string ThousandTrackAnswer() {
    std::string body = R"({"code":200,"message":"成功","data":[)";
    for (int i = 1; i <= 1000; ++i) {
        std::string n = std::to_string(i);
        body += R"({"biId":)" + n + R"(,"biName":"欢快的背景音乐)" + n +
                R"(","biVoxurl":"http://127.0.0.1:8017/bgvox/)" + n + R"(","biSyncount":)" + n +
                R"(,"biInserttime":1700000000)" + n + "}";
        body += i < 1000 ? "," : "]}";
    }
    return body;
}

void BM_ParseThousandTrackAnswer(benchmark::State& state) {
    const std::string body = ThousandTrackAnswer();
    for (auto _ : state) {
        std::vector<BackgroundRecord> records = ParseBackgroundList(body, 2);
        if (records.size() != 1000) {
            state.SkipWithError("not every track was read");
            break;
        }
        benchmark::DoNotOptimize(records);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_ParseThousandTrackAnswer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
