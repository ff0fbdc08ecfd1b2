// 1,000 sequential GETs to a loopback server: through the request engine with a new request
// object per call and with one shared object, and the same loop done by the curl tool.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "http/http_request.h"

namespace {

constexpr int kRequests = 1000;

class LoopbackServer {
  public:
    LoopbackServer() {
        // Head and body leave in separate writes; without this, delayed acknowledgements stall
        // every kept-alive exchange for tens of milliseconds.
        server_.set_tcp_nodelay(true);
        server_.Get("/.*", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("ok", "text/plain");
        });
        // The socket listens from here on, so clients may connect before the accept loop runs.
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~LoopbackServer() {
        server_.stop();
        thread_.join();
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

LoopbackServer& Server() {
    static LoopbackServer server;
    return server;
}

void Report(benchmark::State& state) {
    state.counters["requests/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kRequests, benchmark::Counter::kIsRate);
}

void BM_EngineNewObjectPerRequest(benchmark::State& state) {
    std::string url = Server().Url("/bench");
    for (auto _ : state) {
        for (int i = 0; i < kRequests; ++i) {
            benchmark::DoNotOptimize(PerformHttpRequest({.url = url}));
        }
    }
    Report(state);
}

void BM_EngineSharedObject(benchmark::State& state) {
    std::string url = Server().Url("/bench");
    HttpRequestObject shared;
    for (auto _ : state) {
        for (int i = 0; i < kRequests; ++i) {
            benchmark::DoNotOptimize(PerformHttpRequest({.url = url, .requestObject = &shared}));
        }
    }
    Report(state);
}

void RunOrSkip(benchmark::State& state, const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        state.SkipWithError(("failed: " + command).c_str());
    }
}

// One curl process fetching 1,000 URLs over one kept-alive connection.
void BM_CurlToolOneProcess(benchmark::State& state) {
    std::string command =
        "curl -s --noproxy '*' '" + Server().Url("/bench[1-1000]") + "' > /dev/null";
    for (auto _ : state) {
        RunOrSkip(state, command);
    }
    Report(state);
}

// 1,000 curl processes, one URL each, started from one shell loop.
void BM_CurlToolProcessPerRequest(benchmark::State& state) {
    std::string command = "i=0; while [ $i -lt 1000 ]; do curl -s --noproxy '*' '" +
                          Server().Url("/bench") + "' > /dev/null || exit 1; i=$((i+1)); done";
    for (auto _ : state) {
        RunOrSkip(state, command);
    }
    Report(state);
}

BENCHMARK(BM_EngineNewObjectPerRequest)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_EngineSharedObject)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_CurlToolOneProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_CurlToolProcessPerRequest)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
