#include "server/dubbing_server.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "server/development_token.h"
#include "server/dubbing_render.h"
#include "server/server_catalogue.h"
#include "server/synthesis_request.h"

namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;
using httplib::Request;
using httplib::Response;

constexpr char kJsonType[] = "application/json;charset=UTF-8";
constexpr char kSessionCookie[] = "DUBSESSION";
constexpr char kControlPath[] = "/__control";
// Finished jobs kept for download; older ones are forgotten.
constexpr size_t kKeptJobs = 16;
constexpr size_t kMaxRequestBytes = 1024 * 1024;

std::string Dump(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json Answer(int code, const std::string& message, Json data = nullptr) {
    return Json{{"code", code}, {"message", message}, {"data", std::move(data)}};
}

void SendJson(Response& res, int status, const Json& answer) {
    res.status = status;
    res.set_content(Dump(answer), kJsonType);
}

std::optional<int64_t> ParseInteger(const std::string& text) {
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

int MatchedNumber(const Request& req) {
    return static_cast<int>(ParseInteger(req.matches[1].str()).value_or(-1));
}

// The value of one cookie in the Cookie line ("a=1; DUBSESSION=xyz").
std::string CookieValue(const Request& req, const std::string& name) {
    const std::string line = req.get_header_value("Cookie");
    size_t at = 0;
    while (at < line.size()) {
        size_t end = line.find(';', at);
        if (end == std::string::npos) {
            end = line.size();
        }
        std::string item = line.substr(at, end - at);
        item.erase(0, item.find_first_not_of(' '));
        if (item.starts_with(name + "=")) {
            return item.substr(name.size() + 1);
        }
        at = end + 1;
    }
    return {};
}

// host:port as it stands in a URL: an IPv6 address goes in brackets.
std::string Authority(const std::string& host, int port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool IsLoopback(const std::string& address) {
    return address.starts_with("127.") || address == "::1" || address.starts_with("::ffff:127.");
}

// Bytes that are no JSON: a plausible start, then noise with bytes that are not UTF-8, list
// markers and a zero byte. The same bytes every time.
std::string GarbageAnswer() {
    std::string garbage = "{\"code\":200,\"data\":[{\"riId\":";
    std::minstd_rand noise(20240229);
    for (int i = 0; i < 600; ++i) {
        garbage.push_back(static_cast<char>(noise() % 256));
        if (i == 300) {
            garbage += "},{\"biId\":\xff\xfe,\"bgVoxUrl\":\"\xe4\xbd";
        } else if (i == 450) {
            garbage.push_back('\0');
        }
    }
    return garbage;
}

// When each request began, for the log; set by the pre-routing handler of the same thread.
thread_local const Request* t_loggedRequest = nullptr;
thread_local Clock::time_point t_requestStart;

void LogRequest(const Request& req, const Response& res) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string elapsed = "-";  // refused before routing: no start time
    if (t_loggedRequest == &req) {
        elapsed = std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     Clock::now() - t_requestStart)
                                     .count()) +
                  " ms";
    }
    t_loggedRequest = nullptr;
    const std::string line = std::string(stamp) + " " + req.method + " " + req.path + " " +
                             std::to_string(res.status) + " " + elapsed + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

struct DubbingServer::State {
    enum class JobStatus { kRendering, kReady, kFailed };
    struct Job {
        std::string session;
        JobStatus status = JobStatus::kRendering;
        std::string mp3;
        int polls = 0;
    };

    explicit State(ServerOptions serverOptions)
        : options(std::move(serverOptions)), misbehaviour(options.misbehaviour) {}

    ServerOptions options;
    httplib::Server http;
    std::thread listener;
    std::thread renderer;
    std::string host;
    int port = -1;

    mutable std::mutex mutex;
    std::condition_variable changed;  // switches changed or the server stops
    std::condition_variable work;     // a job to render or the server stops
    ServerMisbehaviour misbehaviour;
    bool stopping = false;
    std::map<int64_t, Job> jobs;
    std::deque<int64_t> jobOrder;
    std::deque<std::pair<int64_t, dubserver::DubbingRequest>> pending;
    int64_t nextSerial = 100001;
    int acceptedSubmits = 0;
    std::mt19937_64 random{std::random_device{}()};

    void Route();
    void Stall(const std::string& path);
    void RenderJobs();
    std::string OriginOf(const Request& req) const;
    bool CatalogueGarbage(Response& res) const;

    void SpeakerList(const Request& req, Response& res);
    void CustomTrackList(const Request& req, Response& res);
    void TrackList(const Request& req, Response& res);
    void Submit(const Request& req, Response& res);
    // Answers with answer(job, serial, origin) when the request carries the job's session cookie.
    template <typename AnswerFor>
    void FollowUp(const Request& req, Response& res, AnswerFor answer);
    void Download(const Request& req, Response& res);
    void Control(const Request& req, Response& res);
};

std::string DubbingServer::State::OriginOf(const Request& req) const {
    // Addresses handed out must work on the port the client really used.
    const std::string hostLine = req.get_header_value("Host");
    const bool usable =
        !hostLine.empty() && std::all_of(hostLine.begin(), hostLine.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' ||
                   c == '-' || c == '[' || c == ']';
        });
    return "http://" + (usable ? hostLine : Authority(host, port));
}

void DubbingServer::State::Stall(const std::string& path) {
    if (path == kControlPath) {
        return;
    }
    std::unique_lock lock(mutex);
    const auto applies = [&] {
        return misbehaviour.stallPath.empty() ||
               path.find(misbehaviour.stallPath) != std::string::npos;
    };
    if (!applies()) {
        return;
    }
    if (misbehaviour.delayMs > 0) {
        changed.wait_for(lock, std::chrono::milliseconds(misbehaviour.delayMs),
                         [&] { return stopping; });
    }
    changed.wait(lock, [&] { return stopping || !misbehaviour.hang || !applies(); });
}

bool DubbingServer::State::CatalogueGarbage(Response& res) const {
    std::lock_guard lock(mutex);
    if (!misbehaviour.catalogueGarbage) {
        return false;
    }
    res.set_content(GarbageAnswer(), kJsonType);
    return true;
}

void DubbingServer::State::SpeakerList(const Request& req, Response& res) {
    if (!CatalogueGarbage(res)) {
        res.set_content(dubserver::SpeakerListAnswer(MatchedNumber(req), OriginOf(req)), kJsonType);
    }
}

void DubbingServer::State::CustomTrackList(const Request& req, Response& res) {
    std::string token = req.get_header_value("Authorization");
    if (token.starts_with("Bearer ")) {
        token.erase(0, 7);
    }
    if (token != kDevelopmentCatalogueToken) {
        SendJson(res, 401, Answer(401, "未授权，请先登录"));
        return;
    }
    if (!CatalogueGarbage(res)) {
        const int page = static_cast<int>(ParseInteger(req.get_param_value("page")).value_or(1));
        const int pageCount =
            static_cast<int>(ParseInteger(req.get_param_value("pageCount")).value_or(10));
        res.set_content(dubserver::CustomTrackListAnswer(page, pageCount, OriginOf(req)),
                        kJsonType);
    }
}

void DubbingServer::State::TrackList(const Request& req, Response& res) {
    if (!CatalogueGarbage(res)) {
        res.set_content(dubserver::TrackListAnswer(MatchedNumber(req), OriginOf(req)), kJsonType);
    }
}

void DubbingServer::State::Submit(const Request& req, Response& res) {
    std::unique_lock lock(mutex);
    if (misbehaviour.refuseSubmit) {
        SendJson(res, 503, Answer(503, "服务繁忙，请稍后再试"));
        return;
    }
    lock.unlock();
    dubserver::ParsedSubmit parsed = dubserver::ParseSubmitBody(req.body);
    if (!parsed.request) {
        SendJson(res, 400, Answer(400, parsed.error));
        return;
    }
    lock.lock();
    char session[33];
    std::snprintf(session, sizeof session, "%016llx%016llx",
                  static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    const int64_t serial = nextSerial++;
    jobs[serial].session = session;
    jobOrder.push_back(serial);
    if (jobOrder.size() > kKeptJobs) {
        jobs.erase(jobOrder.front());
        jobOrder.pop_front();
    }
    pending.emplace_back(serial, std::move(*parsed.request));
    ++acceptedSubmits;
    if (!misbehaviour.dropCookie) {
        res.set_header("Set-Cookie",
                       std::string(kSessionCookie) + "=" + session + "; Path=/; HttpOnly");
    }
    lock.unlock();
    work.notify_one();
    // The client cuts the serial number up to the next closing brace.
    SendJson(res, 200, Answer(200, "成功", Json{{"serialId", serial}}));
}

template <typename AnswerFor>
void DubbingServer::State::FollowUp(const Request& req, Response& res, AnswerFor answer) {
    const std::string session = CookieValue(req, kSessionCookie);
    const std::optional<int64_t> serial = ParseInteger(req.get_param_value("serialId"));
    std::unique_lock lock(mutex);
    const auto job = serial ? jobs.find(*serial) : jobs.end();
    const bool knownSession = std::any_of(jobs.begin(), jobs.end(), [&](const auto& entry) {
        return entry.second.session == session;
    });
    if (session.empty() || (job != jobs.end() && job->second.session != session) ||
        (job == jobs.end() && !knownSession)) {
        SendJson(res, 403, Answer(403, "登录已失效，请重新登录"));
        return;
    }
    if (job == jobs.end()) {
        SendJson(res, 200, Answer(404, "任务不存在"));
        return;
    }
    SendJson(res, 200, answer(job->second, *serial, OriginOf(req)));
}

void DubbingServer::State::Download(const Request& req, Response& res) {
    const std::optional<int64_t> serial = ParseInteger(req.matches[1].str());
    std::unique_lock lock(mutex);
    const auto job = serial ? jobs.find(*serial) : jobs.end();
    if (job == jobs.end() || job->second.status != JobStatus::kReady) {
        SendJson(res, 404, Answer(404, "文件不存在"));
        return;
    }
    const std::string& mp3 = job->second.mp3;
    switch (misbehaviour.downloadFault) {
        case DownloadFault::kNone:
            res.set_content(mp3, "audio/mpeg");
            break;
        case DownloadFault::kHtmlErrorPage:
            res.status = 500;
            res.set_content(
                "<!DOCTYPE html><html><head><title>500 Internal Server Error</title></head>"
                "<body><h1>500 Internal Server Error</h1><p>服务器内部错误</p></body></html>",
                "text/html;charset=UTF-8");
            break;
        case DownloadFault::kTruncated:
            res.set_content(mp3.substr(0, mp3.size() / 2), "audio/mpeg");
            break;
        case DownloadFault::kEmpty:
            res.set_content(std::string(), "audio/mpeg");
            break;
    }
}

void DubbingServer::State::Control(const Request& req, Response& res) {
    if (!IsLoopback(req.remote_addr)) {
        SendJson(res, 403, Answer(403, "forbidden"));
        return;
    }
    std::unique_lock lock(mutex);
    if (req.method == "POST") {
        const nlohmann::json body = nlohmann::json::parse(req.body, nullptr, false);
        if (body.is_discarded() || !body.is_object()) {
            SendJson(res, 400, Answer(400, "bad control document"));
            return;
        }
        ServerMisbehaviour next = misbehaviour;
        try {
            if (body.value("reset", false)) {
                next = ServerMisbehaviour{};
            }
            next.refuseSubmit = body.value("refuseSubmit", next.refuseSubmit);
            next.neverReady = body.value("neverReady", next.neverReady);
            if (body.contains("delayMs")) {
                const auto& delay = body["delayMs"];
                if (!delay.is_number_integer() || delay.get<int64_t>() < 0 ||
                    delay.get<int64_t>() > 3600000) {
                    SendJson(res, 400, Answer(400, "delayMs is a whole number of milliseconds"));
                    return;
                }
                next.delayMs = delay.get<int>();
            }
            next.hang = body.value("hang", next.hang);
            next.stallPath = body.value("stallPath", next.stallPath);
            next.dropCookie = body.value("dropCookie", next.dropCookie);
            next.catalogueGarbage = body.value("catalogueGarbage", next.catalogueGarbage);
            const std::optional<DownloadFault> fault = DownloadFaultFromName(
                body.value("downloadFault", DownloadFaultName(next.downloadFault)));
            if (!fault) {
                SendJson(res, 400, Answer(400, "unknown downloadFault"));
                return;
            }
            next.downloadFault = *fault;
        } catch (const nlohmann::json::exception&) {
            SendJson(res, 400, Answer(400, "bad control document"));
            return;
        }
        misbehaviour = next;
        lock.unlock();
        changed.notify_all();
        lock.lock();
    }
    SendJson(res, 200,
             Answer(200, "ok",
                    Json{{"refuseSubmit", misbehaviour.refuseSubmit},
                         {"neverReady", misbehaviour.neverReady},
                         {"delayMs", misbehaviour.delayMs},
                         {"hang", misbehaviour.hang},
                         {"stallPath", misbehaviour.stallPath},
                         {"dropCookie", misbehaviour.dropCookie},
                         {"downloadFault", DownloadFaultName(misbehaviour.downloadFault)},
                         {"catalogueGarbage", misbehaviour.catalogueGarbage}}));
}

void DubbingServer::State::RenderJobs() {
    std::unique_lock lock(mutex);
    while (true) {
        work.wait(lock, [&] { return stopping || !pending.empty(); });
        if (stopping) {
            return;
        }
        auto [serial, request] = std::move(pending.front());
        pending.pop_front();
        if (!jobs.contains(serial)) {
            continue;  // forgotten before its turn came
        }
        lock.unlock();
        std::string mp3 = dubserver::RenderDubbing(request);
        lock.lock();
        const auto job = jobs.find(serial);
        if (job != jobs.end()) {
            job->second.status = mp3.empty() ? JobStatus::kFailed : JobStatus::kReady;
            job->second.mp3 = std::move(mp3);
        }
    }
}

void DubbingServer::State::Route() {
    http.set_payload_max_length(kMaxRequestBytes);
    // The library's default adds SO_REUSEPORT, which lets a second server share a busy port
    // without an error; only restarting over lingering connections is wanted.
    http.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // An idle kept-alive connection must not hold up Stop for long.
    http.set_keep_alive_timeout(1);
    http.set_pre_routing_handler([this](const Request& req, Response&) {
        t_loggedRequest = &req;
        t_requestStart = Clock::now();
        Stall(req.path);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    if (!options.quiet) {
        http.set_logger(LogRequest);
    }

    http.Get(R"(/pc/api/reader/readerInfo/(-?\d+))",
             [this](const Request& req, Response& res) { SpeakerList(req, res); });
    http.Get("/pc/api/customBgVoxList",
             [this](const Request& req, Response& res) { CustomTrackList(req, res); });
    http.Get(R"(/pc/api/bgVox/bgVoxInfo/(-?\d+))",
             [this](const Request& req, Response& res) { TrackList(req, res); });
    http.Post("/pc/api/synVox/speechSynth",
              [this](const Request& req, Response& res) { Submit(req, res); });

    http.Get("/pc/api/synVox/queryProcess", [this](const Request& req, Response& res) {
        FollowUp(req, res, [](const Job& job, int64_t serial, const std::string&) {
            return Answer(200, "成功",
                          Json{{"serialId", serial},
                               {"process", job.status == JobStatus::kRendering ? 50 : 100}});
        });
    });
    http.Get("/pc/api/synVox/querySynthTingResult", [this](const Request& req, Response& res) {
        FollowUp(req, res, [](const Job& job, int64_t serial, const std::string&) {
            return Answer(
                200, "成功",
                Json{{"serialId", serial}, {"finished", job.status != JobStatus::kRendering}});
        });
    });
    http.Get("/pc/api/synVox/recordExport", [this](const Request& req, Response& res) {
        FollowUp(req, res, [](const Job&, int64_t serial, const std::string&) {
            return Answer(200, "成功", Json{{"serialId", serial}, {"exported", true}});
        });
    });
    http.Get("/pc/api/synVox/querySynthResult", [this](const Request& req, Response& res) {
        FollowUp(req, res, [this](Job& job, int64_t serial, const std::string& origin) {
            ++job.polls;
            // "status":-1 is what the client reads as work in progress.
            if (misbehaviour.neverReady || job.polls <= options.busyPolls ||
                job.status == JobStatus::kRendering) {
                return Answer(200, "成功", Json{{"serialId", serial}, {"status", -1}});
            }
            if (job.status == JobStatus::kFailed) {
                return Answer(500, "语音合成失败", Json{{"serialId", serial}, {"status", 2}});
            }
            return Answer(200, "成功",
                          Json{{"serialId", serial},
                               {"status", 1},
                               {"vsriDownurl",
                                origin + "/files/dubbing/" + std::to_string(serial) + ".mp3"}});
        });
    });
    http.Get(R"(/files/dubbing/(\d+)\.mp3)",
             [this](const Request& req, Response& res) { Download(req, res); });

    http.Get(R"(/bgvox/(\d+))", [this](const Request& req, Response& res) {
        if (dubserver::FindBackgroundTrack(MatchedNumber(req)) == nullptr) {
            SendJson(res, 404, Answer(404, "背景音乐不存在"));
            return;
        }
        res.set_redirect(dubserver::TrackFileAddress(OriginOf(req), MatchedNumber(req)), 302);
    });
    http.Get(R"(/files/bgvox/(\d+)\.mp3)", [](const Request& req, Response& res) {
        const dubserver::BackgroundTrack* track =
            dubserver::FindBackgroundTrack(MatchedNumber(req));
        if (track == nullptr) {
            SendJson(res, 404, Answer(404, "文件不存在"));
            return;
        }
        res.set_content(dubserver::AudioOfTrack(*track).mp3, "audio/mpeg");
    });
    http.Get(R"(/files/reader/(\d+)\.(mp3|svg))", [](const Request& req, Response& res) {
        const dubserver::Speaker* speaker = dubserver::FindSpeaker(MatchedNumber(req));
        const std::string sample = speaker == nullptr || req.matches[2] == "svg"
                                       ? ""
                                       : dubserver::SampleOfSpeaker(*speaker);
        if (speaker == nullptr || (req.matches[2] == "mp3" && sample.empty())) {
            SendJson(res, 404, Answer(404, "文件不存在"));
        } else if (req.matches[2] == "svg") {
            res.set_content(dubserver::PictureOfSpeaker(*speaker), "image/svg+xml");
        } else {
            res.set_content(sample, "audio/mpeg");
        }
    });

    http.Get(kControlPath, [this](const Request& req, Response& res) { Control(req, res); });
    http.Post(kControlPath, [this](const Request& req, Response& res) { Control(req, res); });
}

const char* DownloadFaultName(DownloadFault fault) {
    switch (fault) {
        case DownloadFault::kNone:
            return "none";
        case DownloadFault::kHtmlErrorPage:
            return "html";
        case DownloadFault::kTruncated:
            return "truncated";
        case DownloadFault::kEmpty:
            return "empty";
    }
    return "none";
}

std::optional<DownloadFault> DownloadFaultFromName(const std::string& name) {
    for (DownloadFault fault : {DownloadFault::kNone, DownloadFault::kHtmlErrorPage,
                                DownloadFault::kTruncated, DownloadFault::kEmpty}) {
        if (name == DownloadFaultName(fault)) {
            return fault;
        }
    }
    return std::nullopt;
}

DubbingServer::DubbingServer(ServerOptions options)
    : state_(std::make_unique<State>(std::move(options))) {
    state_->Route();
}

DubbingServer::~DubbingServer() {
    Stop();
}

int DubbingServer::Start(const std::string& host, int port) {
    State& state = *state_;
    if (state.listener.joinable()) {
        return -1;  // one start per instance
    }
    const int bound = port == 0 ? state.http.bind_to_any_port(host)
                                : (state.http.bind_to_port(host, port) ? port : -1);
    if (bound < 0) {
        return -1;
    }
    state.host = host;
    state.port = bound;
    state.renderer = std::thread([&state] { state.RenderJobs(); });
    state.listener = std::thread([&state] { state.http.listen_after_bind(); });
    // Stop is only safe once the server runs.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!state.http.is_running() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!state.http.is_running()) {
        Stop();
        return -1;
    }
    return bound;
}

void DubbingServer::Stop() {
    State& state = *state_;
    {
        std::lock_guard lock(state.mutex);
        state.stopping = true;
    }
    state.changed.notify_all();
    state.work.notify_all();
    if (state.listener.joinable()) {
        state.http.stop();
        state.listener.join();
    }
    if (state.renderer.joinable()) {
        state.renderer.join();
    }
}

bool DubbingServer::IsRunning() const {
    return state_->http.is_running();
}

int DubbingServer::Port() const {
    return state_->port;
}

std::string DubbingServer::Origin() const {
    return "http://" + Authority(state_->host, state_->port);
}

void DubbingServer::SetMisbehaviour(const ServerMisbehaviour& misbehaviour) {
    {
        std::lock_guard lock(state_->mutex);
        state_->misbehaviour = misbehaviour;
    }
    state_->changed.notify_all();
}

ServerMisbehaviour DubbingServer::Misbehaviour() const {
    std::lock_guard lock(state_->mutex);
    return state_->misbehaviour;
}

int DubbingServer::AcceptedSubmits() const {
    std::lock_guard lock(state_->mutex);
    return state_->acceptedSubmits;
}
