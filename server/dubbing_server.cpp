// The HTTP side of the server: routes, cookies, addresses, the request log. Jobs live in the
// job store, the switches in misbehaviour, the offer in the catalogue.
#include "server/dubbing_server.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <thread>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "protocol/development_token.h"
#include "protocol/service_paths.h"
#include "server/dubbing_render.h"
#include "server/file_paths.h"
#include "server/guarded_http_server.h"
#include "server/job_store.h"
#include "server/json_answer.h"
#include "server/server_catalogue.h"

namespace {

using dubserver::Answer;
using dubserver::Job;
using dubserver::JobStatus;
using dubserver::Json;
using dubserver::Success;
using Clock = std::chrono::steady_clock;
using httplib::ContentReader;
using httplib::Request;
using httplib::Response;

constexpr char kJsonType[] = "application/json;charset=UTF-8";
constexpr char kSessionCookie[] = "DUBSESSION";
constexpr size_t kMaxRequestBytes = 1024 * 1024;
// Category and file numbers in the request paths.
constexpr char kNumber[] = R"((-?\d+))";
constexpr char kFileNumber[] = R"((\d+))";

void SendJson(Response& res, int status, const Json& answer) {
    res.status = status;
    res.set_content(dubserver::Dump(answer), kJsonType);
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

// Why host:port cannot be listened on. The library only says that it failed, so the steps it
// takes are taken again to find the one that fails and its reason.
std::string BindFailure(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        return gai_strerror(resolved);
    }
    std::string reason = "the address cannot be used";
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const int sock =
            socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        int yes = 1;
        if (sock < 0 || setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
            bind(sock, address->ai_addr, address->ai_addrlen) != 0 || listen(sock, 1) != 0) {
            reason = std::generic_category().message(errno);
        }
        if (sock >= 0) {
            close(sock);
        }
    }
    freeaddrinfo(found);
    return reason;
}

std::string SynVoxPath(const char* endpoint) {
    return std::string(kSynVoxPath) + endpoint;
}

}  // namespace

struct DubbingServer::State {
    explicit State(ServerOptions serverOptions)
        : options(std::move(serverOptions)), switches(options.misbehaviour) {}

    ServerOptions options;
    MisbehaviourSwitches switches;
    dubserver::JobStore store{dubserver::RenderDubbing};
    dubserver::GuardedHttpServer http;
    std::thread listener;
    std::string host;
    int port = -1;
    std::string bindError;

    void Route();
    std::string OriginOf(const Request& req) const;
    bool CatalogueGarbage(Response& res) const;

    void SpeakerList(const Request& req, Response& res);
    void CustomTrackList(const Request& req, Response& res);
    void TrackList(const Request& req, Response& res);
    // The body of a POST, capped; nothing (and the answer in res) when it cannot be read.
    static std::optional<std::string> Body(const Request& req, Response& res,
                                           const ContentReader& reader);
    void Submit(const Request& req, Response& res, const ContentReader& reader);
    // Answers with answer(job, serial, origin) when the request carries the job's session cookie.
    template <typename AnswerFor>
    void FollowUp(const Request& req, Response& res, AnswerFor answer);
    void Download(const Request& req, Response& res);
    void Control(const Request& req, Response& res, const ContentReader* reader);
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

bool DubbingServer::State::CatalogueGarbage(Response& res) const {
    if (!switches.Current().catalogueGarbage) {
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
        const int page =
            static_cast<int>(ParseInteger(req.get_param_value(kPageParameter)).value_or(1));
        const int pageCount =
            static_cast<int>(ParseInteger(req.get_param_value(kPageCountParameter)).value_or(10));
        res.set_content(dubserver::CustomTrackListAnswer(page, pageCount, OriginOf(req)),
                        kJsonType);
    }
}

void DubbingServer::State::TrackList(const Request& req, Response& res) {
    if (!CatalogueGarbage(res)) {
        res.set_content(dubserver::TrackListAnswer(MatchedNumber(req), OriginOf(req)), kJsonType);
    }
}

std::optional<std::string> DubbingServer::State::Body(const Request& req, Response& res,
                                                      const ContentReader& reader) {
    std::string body;
    switch (dubserver::ReadBody(req, reader, kMaxRequestBytes, &body)) {
        case dubserver::BodyRead::kComplete:
            return body;
        case dubserver::BodyRead::kTooLarge:
            SendJson(res, 413, Answer(413, "请求内容过大"));
            return std::nullopt;
        case dubserver::BodyRead::kBroken:
            SendJson(res, 400, Answer(400, "请求内容不完整"));
            return std::nullopt;
    }
    return std::nullopt;
}

void DubbingServer::State::Submit(const Request& req, Response& res, const ContentReader& reader) {
    const std::optional<std::string> body = Body(req, res, reader);
    if (!body) {
        return;
    }
    if (switches.Current().refuseSubmit) {
        SendJson(res, 503, Answer(503, "服务繁忙，请稍后再试"));
        return;
    }
    dubserver::ParsedSubmit parsed = dubserver::ParseSubmitBody(*body);
    if (!parsed.request) {
        SendJson(res, 400, Answer(400, parsed.error));
        return;
    }
    const std::optional<dubserver::JobStore::Accepted> job = store.Add(std::move(*parsed.request));
    if (!job) {
        // Full of jobs not yet fetched: refused now rather than accepted and lost.
        SendJson(res, 503, Answer(503, "服务繁忙，请稍后再试"));
        return;
    }
    if (!switches.Current().dropCookie) {
        res.set_header("Set-Cookie",
                       std::string(kSessionCookie) + "=" + job->session + "; Path=/; HttpOnly");
    }
    // The client cuts the serial number up to the next closing brace.
    SendJson(res, 200, Success(Json{{kSerialIdParameter, job->serial}}));
}

template <typename AnswerFor>
void DubbingServer::State::FollowUp(const Request& req, Response& res, AnswerFor answer) {
    const std::optional<int64_t> serial = ParseInteger(req.get_param_value(kSerialIdParameter));
    const std::string origin = OriginOf(req);
    Json answered;
    switch (store.Visit(CookieValue(req, kSessionCookie), serial,
                        [&](Job& job) { answered = answer(job, *serial, origin); })) {
        case dubserver::JobAccess::kForbidden:
            SendJson(res, 403, Answer(403, "登录已失效，请重新登录"));
            return;
        case dubserver::JobAccess::kNoSuchJob:
            SendJson(res, 200, Answer(404, "任务不存在"));
            return;
        case dubserver::JobAccess::kGranted:
            SendJson(res, 200, answered);
            return;
    }
}

void DubbingServer::State::Download(const Request& req, Response& res) {
    const std::optional<int64_t> serial = ParseInteger(req.matches[1].str());
    const std::optional<std::string> mp3 = serial ? store.FetchMp3(*serial) : std::nullopt;
    if (!mp3) {
        SendJson(res, 404, Answer(404, "文件不存在"));
        return;
    }
    const DownloadAnswer answer = AnswerDownload(switches.Current().downloadFault, *mp3);
    res.status = answer.status;
    res.set_content(answer.body, answer.contentType);
}

void DubbingServer::State::Control(const Request& req, Response& res, const ContentReader* reader) {
    if (!IsLoopback(req.remote_addr)) {
        SendJson(res, 403, Answer(403, "forbidden"));
        dubserver::CloseConnectionAfterAnswer();  // a POST body may be left unread
        return;
    }
    if (reader != nullptr) {
        const std::optional<std::string> body = Body(req, res, *reader);
        if (!body) {
            return;
        }
        const std::string error = switches.ApplyControlDocument(*body);
        if (!error.empty()) {
            SendJson(res, 400, Answer(400, error));
            return;
        }
    }
    res.status = 200;
    res.set_content(ControlAnswer(switches.Current()), kJsonType);
}

void DubbingServer::State::Route() {
    // Bodies read by the library itself (methods the server does not route) stay small too.
    http.set_payload_max_length(kMaxRequestBytes);
    // The library's default adds SO_REUSEPORT, which lets a second server share a busy port
    // without an error; only restarting over lingering connections is wanted.
    http.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http.set_pre_routing_handler([this](const Request& req, Response&) {
        t_loggedRequest = &req;
        t_requestStart = Clock::now();
        switches.Stall(req.path);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    if (!options.quiet) {
        http.set_logger(LogRequest);
    }

    http.Get(std::string(kReaderInfoPath) + kNumber,
             [this](const Request& req, Response& res) { SpeakerList(req, res); });
    http.Get(kCustomBgVoxListPath,
             [this](const Request& req, Response& res) { CustomTrackList(req, res); });
    http.Get(std::string(kBgVoxInfoPath) + kNumber,
             [this](const Request& req, Response& res) { TrackList(req, res); });
    http.Post(SynVoxPath(kSpeechSynthEndpoint),
              [this](const Request& req, Response& res, const ContentReader& reader) {
                  Submit(req, res, reader);
              });

    http.Get(SynVoxPath(kQueryProcessEndpoint), [this](const Request& req, Response& res) {
        FollowUp(req, res, [](const Job& job, int64_t serial, const std::string&) {
            return Success(Json{{kSerialIdParameter, serial},
                                {"process", job.status == JobStatus::kRendering ? 50 : 100}});
        });
    });
    http.Get(SynVoxPath(kQuerySynthTingResultEndpoint), [this](const Request& req, Response& res) {
        FollowUp(req, res, [](const Job& job, int64_t serial, const std::string&) {
            return Success(Json{{kSerialIdParameter, serial},
                                {"finished", job.status != JobStatus::kRendering}});
        });
    });
    http.Get(SynVoxPath(kRecordExportEndpoint), [this](const Request& req, Response& res) {
        FollowUp(req, res, [](const Job&, int64_t serial, const std::string&) {
            return Success(Json{{kSerialIdParameter, serial}, {"exported", true}});
        });
    });
    http.Get(SynVoxPath(kQuerySynthResultEndpoint), [this](const Request& req, Response& res) {
        const bool neverReady = switches.Current().neverReady;
        FollowUp(req, res, [&](Job& job, int64_t serial, const std::string& origin) {
            ++job.polls;
            // "status":-1 is what the client reads as work in progress.
            if (neverReady || job.polls <= options.busyPolls ||
                job.status == JobStatus::kRendering) {
                return Success(Json{{kSerialIdParameter, serial}, {"status", -1}});
            }
            if (job.status == JobStatus::kFailed) {
                job.fetched = true;
                return Answer(500, "语音合成失败",
                              Json{{kSerialIdParameter, serial}, {"status", 2}});
            }
            return Success(Json{{kSerialIdParameter, serial},
                                {"status", 1},
                                {"vsriDownurl", origin + dubserver::kDubbingFilesPath +
                                                    std::to_string(serial) + ".mp3"}});
        });
    });
    http.Get(std::string(dubserver::kDubbingFilesPath) + kFileNumber + R"(\.mp3)",
             [this](const Request& req, Response& res) { Download(req, res); });

    http.Get(std::string(dubserver::kTrackPath) + kFileNumber, [this](const Request& req,
                                                                      Response& res) {
        if (dubserver::FindBackgroundTrack(MatchedNumber(req)) == nullptr) {
            SendJson(res, 404, Answer(404, "背景音乐不存在"));
            return;
        }
        res.set_redirect(dubserver::TrackFileAddress(OriginOf(req), MatchedNumber(req)), 302);
    });
    http.Get(std::string(dubserver::kTrackFilesPath) + kFileNumber + R"(\.mp3)",
             [](const Request& req, Response& res) {
                 const dubserver::BackgroundTrack* track =
                     dubserver::FindBackgroundTrack(MatchedNumber(req));
                 if (track == nullptr) {
                     SendJson(res, 404, Answer(404, "文件不存在"));
                     return;
                 }
                 res.set_content(dubserver::AudioOfTrack(*track).mp3, "audio/mpeg");
             });
    http.Get(std::string(dubserver::kSpeakerFilesPath) + kFileNumber + R"(\.(mp3|svg))",
             [](const Request& req, Response& res) {
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

    http.Get(kControlPath,
             [this](const Request& req, Response& res) { Control(req, res, nullptr); });
    http.Post(kControlPath, [this](const Request& req, Response& res, const ContentReader& reader) {
        Control(req, res, &reader);
    });
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
    const int bound = state.http.Bind(host, port);
    if (bound < 0) {
        state.bindError = BindFailure(host, port);
        return -1;
    }
    state.host = host;
    state.port = bound;
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
    state.switches.ReleaseAll();
    // No render starts once stopping; the one in hand finishes.
    state.store.Stop();
    if (state.listener.joinable()) {
        state.http.stop();
        state.listener.join();
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
    state_->switches.Set(misbehaviour);
}

ServerMisbehaviour DubbingServer::Misbehaviour() const {
    return state_->switches.Current();
}

std::string DubbingServer::BindError() const {
    return state_->bindError;
}

int DubbingServer::AcceptedSubmits() const {
    return state_->store.AcceptedCount();
}
