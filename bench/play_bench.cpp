// The Play command's cost while it waits: one whole Play in an offscreen window, with the
// window's own wait, against the local dubbing server running as a process of its own (so that
// its speech rendering is not counted) and answering "work in progress" to the first ten result
// polls: about 22 s of waiting. Reported: the client process's CPU time (every thread) as a
// share of one core over the wall time of the job. The goal is under 1 %.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/play_command.h"
#include "app/startup.h"
#include "playback/audio_player.h"
#include "service/service_api.h"
#include "service/waiting.h"
#include "window/main_window.h"

extern char** environ;

namespace {

// dubdesk-server on a free loopback port, stopped with SIGTERM when the object goes.
class ServerProcess {
  public:
    explicit ServerProcess(int busyPolls) {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const std::string polls = std::to_string(busyPolls);
        const char* argv[] = {DUBDESK_SERVER_EXECUTABLE,
                              "--port",
                              "0",
                              "--quiet",
                              "--busy-polls",
                              polls.c_str(),
                              nullptr};
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        // "dubdesk-server: listening on http://127.0.0.1:PORT"
        std::string line;
        char c = 0;
        while (pid_ > 0 && read(fds[0], &c, 1) == 1 && c != '\n') {
            line += c;
        }
        close(fds[0]);
        const std::string marker = "listening on ";
        if (const std::size_t at = line.find(marker); at != std::string::npos) {
            origin_ = line.substr(at + marker.size());
        }
    }

    ~ServerProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Empty when the server did not start.
    const std::string& Origin() const { return origin_; }

  private:
    pid_t pid_ = -1;
    std::string origin_;
};

class ChosenFile final : public SaveDialog {
  public:
    explicit ChosenFile(std::string path) : path_(std::move(path)) {}
    void SetFilter(const std::string&) override {}
    bool Show() override { return true; }
    std::string FileName() const override { return path_; }

  private:
    std::string path_;
};

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_PlayWaitingForTenPolls(benchmark::State& state) {
    const ServerProcess server(10);
    if (server.Origin().empty()) {
        state.SkipWithError("the local dubbing server did not start");
        return;
    }
    SetServiceOrigin(server.Origin());
    SetWaitFunction(WaitWithWindowEvents);
    std::string folder =
        (std::filesystem::temp_directory_path() / "dubdesk-play-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string path = folder + "/bench.mp3";

    for (auto _ : state) {
        MainWindow window;
        window.通用对话框1 = std::make_unique<ChosenFile>(path);
        window.编辑框_即时广播_广播内容->setPlainText(QStringLiteral(u"你好，世界。"));
        window.show();

        const double cpuBefore = ProcessCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        OnPlayClicked(window);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        const double cpu = ProcessCpuSeconds() - cpuBefore;

        state.SetIterationTime(wall);
        state.counters["cpu_s"] = cpu;
        state.counters["wall_s"] = wall;
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
        if (!std::filesystem::exists(path) || CurrentPlaybackAlias.empty() ||
            CurrentPlaybackAlias == "0") {
            state.SkipWithError("the job yielded no audio");
        }
        CloseClip(CurrentPlaybackAlias);
        CurrentPlaybackAlias.clear();
    }

    SetWaitFunction({});
    SetServiceOrigin({});
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_PlayWaitingForTenPolls)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    }
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
