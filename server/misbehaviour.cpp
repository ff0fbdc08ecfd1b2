#include "server/misbehaviour.h"

#include <chrono>
#include <random>

#include "server/json_answer.h"

namespace {

using dubserver::Json;

constexpr char kMp3Type[] = "audio/mpeg";

}  // namespace

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

MisbehaviourSwitches::MisbehaviourSwitches(ServerMisbehaviour initial)
    : switches_(std::move(initial)) {}

ServerMisbehaviour MisbehaviourSwitches::Current() const {
    std::lock_guard lock(mutex_);
    return switches_;
}

void MisbehaviourSwitches::Set(const ServerMisbehaviour& misbehaviour) {
    {
        std::lock_guard lock(mutex_);
        switches_ = misbehaviour;
    }
    changed_.notify_all();
}

std::string MisbehaviourSwitches::ApplyControlDocument(std::string_view body) {
    const nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return "bad control document";
    }
    std::unique_lock lock(mutex_);
    ServerMisbehaviour next = switches_;
    try {
        if (document.value("reset", false)) {
            next = ServerMisbehaviour{};
        }
        next.refuseSubmit = document.value("refuseSubmit", next.refuseSubmit);
        next.neverReady = document.value("neverReady", next.neverReady);
        if (document.contains("delayMs")) {
            const nlohmann::json& delay = document["delayMs"];
            if (!delay.is_number_integer() || delay.get<int64_t>() < 0 ||
                delay.get<int64_t>() > kMaxDelayMs) {
                return "delayMs is a whole number of milliseconds";
            }
            next.delayMs = delay.get<int>();
        }
        next.hang = document.value("hang", next.hang);
        next.stallPath = document.value("stallPath", next.stallPath);
        next.dropCookie = document.value("dropCookie", next.dropCookie);
        next.catalogueGarbage = document.value("catalogueGarbage", next.catalogueGarbage);
        const std::optional<DownloadFault> fault = DownloadFaultFromName(
            document.value("downloadFault", DownloadFaultName(next.downloadFault)));
        if (!fault) {
            return "unknown downloadFault";
        }
        next.downloadFault = *fault;
    } catch (const nlohmann::json::exception&) {
        return "bad control document";
    }
    switches_ = next;
    lock.unlock();
    changed_.notify_all();
    return {};
}

void MisbehaviourSwitches::Stall(const std::string& path) {
    if (path == kControlPath) {
        return;
    }
    std::unique_lock lock(mutex_);
    const auto applies = [&] {
        return switches_.stallPath.empty() || path.find(switches_.stallPath) != std::string::npos;
    };
    if (!applies()) {
        return;
    }
    if (switches_.delayMs > 0) {
        changed_.wait_for(lock, std::chrono::milliseconds(switches_.delayMs),
                          [&] { return released_; });
    }
    changed_.wait(lock, [&] { return released_ || !switches_.hang || !applies(); });
}

void MisbehaviourSwitches::ReleaseAll() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    changed_.notify_all();
}

std::string ControlAnswer(const ServerMisbehaviour& misbehaviour) {
    return dubserver::Dump(
        dubserver::Answer(200, "ok",
                          Json{{"refuseSubmit", misbehaviour.refuseSubmit},
                               {"neverReady", misbehaviour.neverReady},
                               {"delayMs", misbehaviour.delayMs},
                               {"hang", misbehaviour.hang},
                               {"stallPath", misbehaviour.stallPath},
                               {"dropCookie", misbehaviour.dropCookie},
                               {"downloadFault", DownloadFaultName(misbehaviour.downloadFault)},
                               {"catalogueGarbage", misbehaviour.catalogueGarbage}}));
}

std::string GarbageAnswer() {
    // A plausible start, then noise with bytes that are not UTF-8, list markers and a zero byte.
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

DownloadAnswer AnswerDownload(DownloadFault fault, const std::string& mp3) {
    switch (fault) {
        case DownloadFault::kNone:
            break;
        case DownloadFault::kHtmlErrorPage:
            return {500,
                    "<!DOCTYPE html><html><head><title>500 Internal Server Error</title></head>"
                    "<body><h1>500 Internal Server Error</h1><p>服务器内部错误</p></body></html>",
                    "text/html;charset=UTF-8"};
        case DownloadFault::kTruncated:
            return {200, mp3.substr(0, mp3.size() / 2), kMp3Type};
        case DownloadFault::kEmpty:
            return {200, std::string(), kMp3Type};
    }
    return {200, mp3, kMp3Type};
}
