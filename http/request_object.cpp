#include "http/request_object.h"

#include <curl/curl.h>
#include <strings.h>
#include <time.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

// Milliseconds of the monotonic clock (<chrono> cannot be built with the GBK execution charset).
long long MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

thread_local const std::atomic<bool>* currentAbortFlag = nullptr;
thread_local HttpExchangeRunner currentRunner;

// More header text than any real answer carries.
constexpr std::size_t kHeaderLimit = std::size_t{1} << 20;

// How often a transfer looks at the abort flag while the network is quiet.
constexpr int kAbortCheckMs = 25;

void InitialiseCurlOnce() {
    [[maybe_unused]] static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
}

bool SameNameIgnoringCase(const std::string& a, const char* b) {
    return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

bool IsBlank(const std::string& value) {
    return value.find_first_not_of(" \t") == std::string::npos;
}

void Append(HeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown != nullptr) {
        (void)list.release();
        list.reset(grown);
    }
}

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

HttpError::Kind KindOf(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return HttpError::Kind::NameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return HttpError::Kind::Refused;
        case CURLE_OPERATION_TIMEDOUT:
            return HttpError::Kind::TimedOut;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
            return HttpError::Kind::TlsRefused;
        case CURLE_FILESIZE_EXCEEDED:
            return HttpError::Kind::TooLarge;
        default:
            return HttpError::Kind::Other;
    }
}

std::mutex factoryMutex;
HttpRequestObjectFactory factory;

}  // namespace

struct HttpRequestObject::Impl {
    EasyHandle handle{curl_easy_init()};
    // Driven by hand so that the abort flag is seen within kAbortCheckMs; it also holds the
    // connection cache, so connections outlive each exchange.
    MultiHandle multi{curl_multi_init()};
    char errorText[CURL_ERROR_SIZE] = {};

    // The object's own limits until SetTimeouts: resolution unlimited, 60 s to connect, 30 s of
    // silence while sending or receiving. Zero or less means no limit.
    int resolveMs = 0;
    int connectMs = 60000;
    int sendMs = 30000;
    int receiveMs = 30000;
    std::string proxy;
    bool followRedirects = true;
    std::size_t bodyLimit = kDefaultBodyLimit;

    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> requestHeaders;
    std::string requestBody;

    std::vector<std::string> headerLines;
    std::string body;
    std::string allHeaders;
    int status = 0;
    HttpError error;

    // Per transfer: stall and rate detection, the caller's abort flag, and why a callback
    // stopped the transfer.
    const std::atomic<bool>* abortFlag = nullptr;
    bool connected = false;
    long long lastProgressMs = 0;
    curl_off_t lastUploaded = 0;
    curl_off_t lastDownloaded = 0;
    long long rateWindowStartMs = 0;  // 0 until the first byte of the answer
    long long rateWindowBytes = 0;
    curl_off_t receivedBytes = 0;  // head and body
    std::size_t headerBytes = 0;
    HttpError::Kind stoppedBy = HttpError::Kind::None;

    void ClearResponse() {
        headerLines.clear();
        body.clear();
        allHeaders.clear();
        status = 0;
    }

    bool Aborted() const { return abortFlag != nullptr && abortFlag->load(); }
    bool Perform();
    CURLcode Drive();
    void Received(std::size_t bytes);
    HttpError::Kind Stalled();
    std::string StopMessage(HttpError::Kind kind) const;

    static size_t OnBody(char* data, size_t size, size_t count, void* user);
    static size_t OnHeader(char* data, size_t size, size_t count, void* user);
    static int OnPrerequest(void* user, char*, char*, int, int);
};

size_t HttpRequestObject::Impl::OnBody(char* data, size_t size, size_t count, void* user) {
    auto* impl = static_cast<Impl*>(user);
    const size_t bytes = size * count;
    std::string& body = impl->body;
    if (bytes > impl->bodyLimit - body.size()) {
        impl->stoppedBy = HttpError::Kind::TooLarge;
        return CURL_WRITEFUNC_ERROR;
    }
    if (body.size() + bytes > body.capacity()) {
        // Room for the declared length at once; otherwise the next power of two, never past
        // the limit: with the limits powers of two themselves, growing never holds more than
        // half the limit beside the limit's worth (doubling an odd size could hold almost two).
        curl_off_t declared = -1;
        curl_easy_getinfo(impl->handle.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared);
        const std::size_t wanted =
            declared > 0 && static_cast<std::size_t>(declared) >= body.size() + bytes
                ? static_cast<std::size_t>(declared)
                : std::bit_ceil(std::max(body.capacity() * 2, body.size() + bytes));
        body.reserve(std::min(wanted, impl->bodyLimit));
    }
    body.append(data, bytes);
    impl->Received(bytes);
    return bytes;
}

void HttpRequestObject::Impl::Received(std::size_t bytes) {
    if (rateWindowStartMs == 0) {
        rateWindowStartMs = MonotonicMs();
    }
    rateWindowBytes += static_cast<long long>(bytes);
    receivedBytes += static_cast<curl_off_t>(bytes);
}

size_t HttpRequestObject::Impl::OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* impl = static_cast<Impl*>(user);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    // Every status line starts a new response (interim 1xx, redirects, a proxy's CONNECT
    // answer); only the final one's headers are kept.
    if (line.rfind("HTTP/", 0) == 0) {
        impl->headerLines.clear();
        impl->headerBytes = 0;
    } else if (!line.empty()) {
        impl->headerBytes += line.size();
        // A header section without end would otherwise take memory without limit.
        if (impl->headerBytes > kHeaderLimit) {
            impl->stoppedBy = HttpError::Kind::TooLarge;
            return 0;
        }
        impl->headerLines.push_back(std::move(line));
    }
    impl->lastProgressMs = MonotonicMs();
    impl->Received(size * count);
    return size * count;
}

int HttpRequestObject::Impl::OnPrerequest(void* user, char*, char*, int, int) {
    auto* impl = static_cast<Impl*>(user);
    impl->connected = true;
    impl->lastProgressMs = MonotonicMs();
    return CURL_PREREQFUNC_OK;
}

// Looked at between rounds of the transfer: curl calls nothing back while a peer is silent.
HttpError::Kind HttpRequestObject::Impl::Stalled() {
    // Name resolution and connection are bounded by the connect timeout.
    if (!connected) {
        return HttpError::Kind::None;
    }
    curl_off_t uploaded = 0;
    curl_off_t uploadTotal = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded);
    curl_easy_getinfo(handle.get(), CURLINFO_CONTENT_LENGTH_UPLOAD_T, &uploadTotal);
    const long long nowMs = MonotonicMs();
    if (uploaded != lastUploaded || receivedBytes != lastDownloaded) {
        lastUploaded = uploaded;
        lastDownloaded = receivedBytes;
        lastProgressMs = nowMs;
    }
    const int limitMs = uploaded < uploadTotal ? sendMs : receiveMs;
    if (limitMs > 0 && nowMs - lastProgressMs >= limitMs) {
        return HttpError::Kind::TimedOut;
    }
    // Once the answer has begun, each receive-limit's worth of time must bring the minimum
    // rate's worth of bytes, or the exchange is a trickle that would never end. A peer that has
    // mostly been silent is left to the silence limit above, which names it better.
    if (rateWindowStartMs != 0 && receiveMs > 0 && nowMs - rateWindowStartMs >= receiveMs) {
        if (rateWindowBytes * 1000 < kMinimumBytesPerSecond * receiveMs) {
            return nowMs - lastProgressMs < receiveMs / 2 ? HttpError::Kind::TooSlow
                                                          : HttpError::Kind::None;
        }
        rateWindowStartMs = nowMs;
        rateWindowBytes = 0;
    }
    return HttpError::Kind::None;
}

std::string HttpRequestObject::Impl::StopMessage(HttpError::Kind kind) const {
    switch (kind) {
        case HttpError::Kind::TimedOut:
            return "no data for " + std::to_string(std::max(sendMs, receiveMs)) + " ms";
        case HttpError::Kind::TooSlow:
            return "data slower than " + std::to_string(kMinimumBytesPerSecond) + " bytes/s";
        case HttpError::Kind::TooLarge:
            return "answer larger than " + std::to_string(bodyLimit) + " bytes";
        case HttpError::Kind::Aborted:
            return "aborted";
        default:
            return "stopped";
    }
}

// Runs the transfer to its end, looking at the abort flag between rounds.
CURLcode HttpRequestObject::Impl::Drive() {
    CURL* curl = handle.get();
    if (curl_multi_add_handle(multi.get(), curl) != CURLM_OK) {
        return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_FAILED_INIT;
    for (bool done = false; !done;) {
        stoppedBy = Aborted() ? HttpError::Kind::Aborted : Stalled();
        if (stoppedBy != HttpError::Kind::None) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            break;
        }
        int left = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == curl) {
                result = message->data.result;
                done = true;
            }
        }
        if (!done && curl_multi_poll(multi.get(), nullptr, 0, kAbortCheckMs, nullptr) != CURLM_OK) {
            break;
        }
    }
    curl_multi_remove_handle(multi.get(), curl);
    return result;
}

bool HttpRequestObject::Impl::Perform() {
    CURL* curl = handle.get();
    // A reset keeps the connection cache, so a reused object reuses its connection.
    curl_easy_reset(curl);

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // Header names keep their case only over HTTP/1.1; the cookie reader depends on it.
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    // An empty proxy text also keeps curl from taking one from the environment.
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    errorText[0] = '\0';
    // A declared length above the limit is refused before any of the body is read.
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(bodyLimit));

    // curl's connect limit covers resolving, connecting and the TLS handshake in one phase;
    // adding the two limits would double the wait, so the larger one bounds the phase (0:
    // curl's own limit).
    long connectLimitMs = static_cast<long>(std::max({resolveMs, connectMs, 0}));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, connectLimitMs);

    if (method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (method == "POST" || method == "PUT" || !requestBody.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(requestBody.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, requestBody.c_str());
        if (method != "POST") {
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
        }
    } else if (method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    // Only the lines the caller set go out, plus Host and Content-Length: curl's own Accept,
    // Content-Type, Expect and Proxy-Connection lines are suppressed unless the caller set them.
    bool tunnelled = !proxy.empty() && strncasecmp(url.c_str(), "https://", 8) == 0;
    HeaderList serverHeaders;
    HeaderList proxyHeaders;
    bool hasAccept = false;
    bool hasContentType = false;
    bool hasExpect = false;
    for (const auto& [name, value] : requestHeaders) {
        hasAccept = hasAccept || SameNameIgnoringCase(name, "Accept");
        hasContentType = hasContentType || SameNameIgnoringCase(name, "Content-Type");
        hasExpect = hasExpect || SameNameIgnoringCase(name, "Expect");
        // curl drops a "Name:" line with nothing after it; "Name;" sends it empty.
        std::string line = IsBlank(value) ? name + ";" : name + ": " + value;
        // Through a tunnel the proxy credentials belong to the CONNECT, not to the server.
        bool forProxy = tunnelled && SameNameIgnoringCase(name, "Proxy-Authorization");
        Append(forProxy ? proxyHeaders : serverHeaders, line);
    }
    if (!hasAccept) {
        Append(serverHeaders, "Accept:");
    }
    if (!hasContentType) {
        Append(serverHeaders, "Content-Type:");
    }
    if (!hasExpect) {
        Append(serverHeaders, "Expect:");
    }
    if (!proxy.empty()) {
        Append(proxyHeaders, "Proxy-Connection:");
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, serverHeaders.get());
    curl_easy_setopt(curl, CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
    curl_easy_setopt(curl, CURLOPT_PROXYHEADER, proxyHeaders.get());

    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, OnPrerequest);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, this);

    connected = false;
    lastUploaded = 0;
    lastDownloaded = 0;
    receivedBytes = 0;
    lastProgressMs = MonotonicMs();
    rateWindowStartMs = 0;
    rateWindowBytes = 0;
    headerBytes = 0;
    stoppedBy = HttpError::Kind::None;
    const CURLcode result = multi ? Drive() : CURLE_FAILED_INIT;
    if (result != CURLE_OK) {
        const bool stoppedHere = stoppedBy != HttpError::Kind::None;
        error.kind = stoppedHere ? stoppedBy : KindOf(result);
        error.transportCode = static_cast<int>(result);
        error.message = stoppedHere            ? StopMessage(stoppedBy)
                        : errorText[0] != '\0' ? errorText
                                               : curl_easy_strerror(result);
        return false;
    }
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    status = static_cast<int>(code);
    return true;
}

HttpRequestObject::HttpRequestObject() : impl_((InitialiseCurlOnce(), std::make_unique<Impl>())) {}

HttpRequestObject::~HttpRequestObject() = default;

void HttpRequestObject::SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) {
    impl_->resolveMs = resolveMs;
    impl_->connectMs = connectMs;
    impl_->sendMs = sendMs;
    impl_->receiveMs = receiveMs;
}

void HttpRequestObject::SetProxy(const std::string& proxy) {
    impl_->proxy = proxy;
}

void HttpRequestObject::Open(const std::string& method, const std::string& url) {
    impl_->method = method;
    impl_->url = url;
    impl_->requestHeaders.clear();
    impl_->requestBody.clear();
    impl_->ClearResponse();
}

void HttpRequestObject::SetFollowRedirects(bool follow) {
    impl_->followRedirects = follow;
}

void HttpRequestObject::SetBodyLimit(std::size_t bytes) {
    impl_->bodyLimit = bytes == 0 ? kDefaultBodyLimit : bytes;
}

void HttpRequestObject::SetRequestHeader(const std::string& name, const std::string& value) {
    if (!name.empty() && !HasLineBreak(name) && !HasLineBreak(value)) {
        impl_->requestHeaders.emplace_back(name, value);
    }
}

void HttpRequestObject::Send(const std::string& body) {
    impl_->ClearResponse();
    impl_->error = {};
    impl_->requestBody = body;
    impl_->abortFlag = currentAbortFlag;
    if (impl_->Aborted()) {
        impl_->error = {.kind = HttpError::Kind::Aborted, .message = "aborted before sending"};
        return;
    }
    if (!impl_->handle) {
        impl_->error = {.kind = HttpError::Kind::CreateFailed, .message = "no transfer handle"};
        return;
    }
    if (!impl_->Perform()) {
        impl_->ClearResponse();
        return;
    }
    for (const std::string& line : impl_->headerLines) {
        impl_->allHeaders += (impl_->allHeaders.empty() ? "" : "\r\n") + line;
    }
}

const std::string& HttpRequestObject::ResponseBody() const {
    return impl_->body;
}

const std::string& HttpRequestObject::GetAllResponseHeaders() const {
    return impl_->allHeaders;
}

std::string HttpRequestObject::TakeResponseBody() {
    return std::exchange(impl_->body, std::string());
}

int HttpRequestObject::Status() const {
    return impl_->status;
}

const HttpError& HttpRequestObject::Error() const {
    return impl_->error;
}

void SetHttpRequestObjectFactory(HttpRequestObjectFactory replacement) {
    std::lock_guard lock(factoryMutex);
    factory = std::move(replacement);
}

std::unique_ptr<HttpRequestObject> CreateHttpRequestObject() {
    HttpRequestObjectFactory create;
    {
        std::lock_guard lock(factoryMutex);
        create = factory;
    }
    return create ? create() : std::make_unique<HttpRequestObject>();
}

HttpAbortGuard::HttpAbortGuard(const std::atomic<bool>& abort) : previous_(currentAbortFlag) {
    currentAbortFlag = &abort;
}

HttpAbortGuard::~HttpAbortGuard() {
    currentAbortFlag = previous_;
}

const std::atomic<bool>* CurrentHttpAbortFlag() {
    return currentAbortFlag;
}

void SetHttpExchangeRunner(HttpExchangeRunner runner) {
    currentRunner = std::move(runner);
}

void RunHttpExchange(const std::function<void()>& exchange) {
    if (currentRunner) {
        currentRunner(exchange);
    } else {
        exchange();
    }
}
