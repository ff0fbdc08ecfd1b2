#include "app/audition.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "app/audio_file.h"
#include "http/http_request.h"
#include "playback/mp3_decoder.h"

namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        return home;
    }
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "/tmp";
}

// 64-bit FNV-1a: stable across builds and runs, unlike std::hash.
std::uint64_t AddressHash(const std::string& address) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : address) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

bool IsCachedFile(const std::string& path) {
    struct stat found {};
    return ::stat(path.c_str(), &found) == 0 && S_ISREG(found.st_mode) && found.st_size > 0;
}

std::string Fail(SampleOutcome& outcome, SampleFailure failure) {
    outcome.failure = failure;
    return {};
}

}  // namespace

std::string SampleCacheFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const std::string base =
        cache != nullptr && cache[0] == '/' ? std::string(cache) : HomeFolder() + "/.cache";
    return base + "/dubdesk/samples";
}

std::string SampleCachePath(const std::string& address) {
    static const char kDigits[] = "0123456789abcdef";
    std::uint64_t hash = AddressHash(address);
    std::string name(16, '0');
    for (auto digit = name.rbegin(); digit != name.rend(); ++digit, hash >>= 4) {
        *digit = kDigits[hash & 0xf];
    }
    return SampleCacheFolder() + "/" + name + ".mp3";
}

bool SampleIsCached(const std::string& address) {
    return !address.empty() && IsCachedFile(SampleCachePath(address));
}

std::string FetchSample(const std::string& address, SampleOutcome* outcome,
                        const std::atomic<bool>* cancel) {
    SampleOutcome scratch;
    SampleOutcome& result = outcome != nullptr ? *outcome : scratch;
    result = {};
    if (address.empty()) {
        return Fail(result, SampleFailure::NoAddress);
    }
    const std::string path = SampleCachePath(address);
    if (SampleIsCached(address)) {
        result.fromCache = true;
        return path;
    }

    int status = 0;
    std::string body;
    {
        std::optional<HttpAbortGuard> guard;
        if (cancel != nullptr) {
            guard.emplace(*cancel);
        }
        body = PerformHttpRequest(
            {.url = address, .method = kHttpGet, .statusCode = &status, .error = &result.error});
    }
    if (result.error.kind != HttpError::Kind::None) {
        return Fail(result, SampleFailure::Exchange);
    }
    if (status != 200) {
        result.status = status;
        return Fail(result, SampleFailure::HttpStatus);
    }
    if (body.empty() || !Mp3BytesLengthMs(body).has_value()) {
        return Fail(result, SampleFailure::NotAudio);
    }

    std::error_code created;
    std::filesystem::create_directories(SampleCacheFolder(), created);
    if (created) {
        result.errorNumber = created.value();
        return Fail(result, SampleFailure::CacheWrite);
    }
    if (!WriteFileAtomically(path, body, &result.errorNumber)) {
        return Fail(result, SampleFailure::CacheWrite);
    }
    return path;
}
