#include "service/service_api.h"

#include <array>
#include <mutex>

#include "protocol/development_token.h"
#include "protocol/service_paths.h"

namespace {

const char* const kUserAgentLine =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
    "Gecko) Chrome/71.0.3578.80 Safari/537.36\r\n";

// The service's own numbers behind speaker categories 1 to 5 and background lists 2 to 10.
constexpr std::array<int, 5> kReaderInfoNumbers = {1, 12, 4, 2, 3};
constexpr std::array<int, 9> kBgVoxInfoNumbers = {4, 9, 8, 1, 6, 10, 5, 11, 12};

struct Configuration {
    std::mutex mutex;
    std::string origin = kDefaultServiceOrigin;
    std::string token = kDevelopmentCatalogueToken;
};

Configuration& Settings() {
    static Configuration configuration;
    return configuration;
}

std::string SynthesisUrl(const std::string& endpoint, const std::string& query,
                         const std::string& t) {
    return ServiceOrigin() + kSynVoxPath + endpoint + "?" + query + "T=" + t;
}

std::string SerialQuery(const std::string& serial) {
    return std::string(kSerialIdParameter) + "=" + serial + "&";
}

}  // namespace

std::string ServiceOrigin() {
    Configuration& settings = Settings();
    std::lock_guard lock(settings.mutex);
    return settings.origin;
}

std::string ServiceHost() {
    std::string host = ServiceOrigin();
    std::size_t schemeEnd = host.find("://");
    if (schemeEnd != std::string::npos) {
        host.erase(0, schemeEnd + 3);
    }
    std::size_t pathStart = host.find('/');
    if (pathStart != std::string::npos) {
        host.erase(pathStart);
    }
    return host;
}

void SetServiceOrigin(const std::string& origin) {
    std::string trimmed = origin;
    while (!trimmed.empty() && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    Configuration& settings = Settings();
    std::lock_guard lock(settings.mutex);
    settings.origin = trimmed.empty() ? std::string(kDefaultServiceOrigin) : trimmed;
}

std::string CatalogueAccessToken() {
    Configuration& settings = Settings();
    std::lock_guard lock(settings.mutex);
    return settings.token;
}

void SetCatalogueAccessToken(const std::string& token) {
    Configuration& settings = Settings();
    std::lock_guard lock(settings.mutex);
    settings.token = token.empty() ? std::string(kDevelopmentCatalogueToken) : token;
}

std::string CatalogueHeaderBlock() {
    return "Host: " + ServiceHost() +
           "\r\n"
           "Connection: keep-alive\r\n"
           "Accept: application/json, text/plain, */*\r\n"
           "Authorization: " +
           CatalogueAccessToken() + "\r\n" + kUserAgentLine + "Referer: " + ServiceOrigin() +
           "/\r\n"
           "Accept-Language: zh-CN,zh;q=0.9\r\n";
}

std::string SynthesisHeaderBlock() {
    const std::string origin = ServiceOrigin();
    return "Host: " + ServiceHost() +
           "\r\n"
           "Connection: keep-alive\r\n"
           "Accept: application/json, text/plain, */*\r\n"
           "Origin: " +
           origin +
           "\r\n"
           "Authorization: \r\n" +
           kUserAgentLine +
           "Content-Type: application/json;charset=UTF-8\r\n"
           "Referer: " +
           origin +
           "/\r\n"
           "Accept-Language: zh-CN,zh;q=0.9\r\n";
}

std::string SpeakerCategoryUrl(int category, const std::string& t) {
    if (category < 1 || category > 5) {
        category = 1;
    }
    return ServiceOrigin() + kReaderInfoPath + std::to_string(kReaderInfoNumbers[category - 1]) +
           "?T=" + t;
}

std::string BackgroundListUrl(int list, const std::string& t) {
    if (list == 1) {
        return ServiceOrigin() + kCustomBgVoxListPath + "?" + kPageParameter + "=1&" +
               kPageCountParameter + "=1000&T=" + t;
    }
    if (list < 2 || list > 10) {
        return {};
    }
    return ServiceOrigin() + kBgVoxInfoPath + std::to_string(kBgVoxInfoNumbers[list - 2]) +
           "?T=" + t;
}

std::string SpeechSynthUrl(const std::string& t) {
    return SynthesisUrl(kSpeechSynthEndpoint, "", t);
}

std::string QueryProcessUrl(const std::string& serial, const std::string& t) {
    return SynthesisUrl(kQueryProcessEndpoint, SerialQuery(serial) + "type=2&", t);
}

std::string QuerySynthTingResultUrl(const std::string& serial, const std::string& t) {
    return SynthesisUrl(kQuerySynthTingResultEndpoint, SerialQuery(serial), t);
}

std::string RecordExportUrl(const std::string& serial, const std::string& t) {
    return SynthesisUrl(kRecordExportEndpoint, SerialQuery(serial), t);
}

std::string QuerySynthResultUrl(const std::string& serial, const std::string& t) {
    return SynthesisUrl(kQuerySynthResultEndpoint, SerialQuery(serial), t);
}
