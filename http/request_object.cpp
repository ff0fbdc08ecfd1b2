#include "http/request_object.h"

#include <curl/curl.h>
#include <strings.h>
#include <time.h>

#include <algorithm>
#include <cstring>
#include <mutex>
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
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

thread_local const std::atomic<bool>* currentAbortFlag = nullptr;

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

std::mutex factoryMutex;
HttpRequestObjectFactory factory;

}  // namespace

struct HttpRequestObject::Impl {
    EasyHandle handle{curl_easy_init()};

    // The object's own limits until SetTimeouts: resolution unlimited, 60 s to connect, 30 s of
    // silence while sending or receiving. Zero or less means no limit.
    int resolveMs = 0;
    int connectMs = 60000;
    int sendMs = 30000;
    int receiveMs = 30000;
    std::string proxy;
    bool followRedirects = true;

    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> requestHeaders;
    std::string requestBody;

    std::vector<std::string> headerLines;
    std::string body;
    std::string allHeaders;
    int status = 0;

    // Per transfer: stall detection and the caller's abort flag.
    const std::atomic<bool>* abortFlag = nullptr;
    bool connected = false;
    long long lastProgressMs = 0;
    curl_off_t lastUploaded = 0;
    curl_off_t lastDownloaded = 0;

    void ClearResponse() {
        headerLines.clear();
        body.clear();
        allHeaders.clear();
        status = 0;
    }

    bool Perform();
    bool Stalled(curl_off_t uploadTotal, curl_off_t uploaded, curl_off_t downloaded);

    static size_t OnBody(char* data, size_t size, size_t count, void* user);
    static size_t OnHeader(char* data, size_t size, size_t count, void* user);
    static int OnPrerequest(void* user, char*, char*, int, int);
    static int OnProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t uploadTotal,
                          curl_off_t uploaded);
};

size_t HttpRequestObject::Impl::OnBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
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
    } else if (!line.empty()) {
        impl->headerLines.push_back(std::move(line));
    }
    impl->lastProgressMs = MonotonicMs();
    return size * count;
}

int HttpRequestObject::Impl::OnPrerequest(void* user, char*, char*, int, int) {
    auto* impl = static_cast<Impl*>(user);
    impl->connected = true;
    impl->lastProgressMs = MonotonicMs();
    return CURL_PREREQFUNC_OK;
}

int HttpRequestObject::Impl::OnProgress(void* user, curl_off_t, curl_off_t downloaded,
                                        curl_off_t uploadTotal, curl_off_t uploaded) {
    auto* impl = static_cast<Impl*>(user);
    if (impl->abortFlag != nullptr && impl->abortFlag->load()) {
        return 1;
    }
    return impl->Stalled(uploadTotal, uploaded, downloaded) ? 1 : 0;
}

bool HttpRequestObject::Impl::Stalled(curl_off_t uploadTotal, curl_off_t uploaded,
                                      curl_off_t downloaded) {
    // Name resolution and connection are bounded by the connect timeout.
    if (!connected) {
        return false;
    }
    long long nowMs = MonotonicMs();
    if (uploaded != lastUploaded || downloaded != lastDownloaded) {
        lastUploaded = uploaded;
        lastDownloaded = downloaded;
        lastProgressMs = nowMs;
        return false;
    }
    int limitMs = uploaded < uploadTotal ? sendMs : receiveMs;
    return limitMs > 0 && nowMs - lastProgressMs >= limitMs;
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

    // curl resolves and connects in one phase, so their limits add up (0: curl's own limit).
    long connectLimitMs = static_cast<long>(std::max(resolveMs, 0)) + std::max(connectMs, 0);
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
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, OnPrerequest);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);

    connected = false;
    lastUploaded = 0;
    lastDownloaded = 0;
    lastProgressMs = MonotonicMs();
    if (curl_easy_perform(curl) != CURLE_OK) {
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

void HttpRequestObject::SetRequestHeader(const std::string& name, const std::string& value) {
    if (!name.empty()) {
        impl_->requestHeaders.emplace_back(name, value);
    }
}

void HttpRequestObject::Send(const std::string& body) {
    impl_->ClearResponse();
    impl_->requestBody = body;
    impl_->abortFlag = currentAbortFlag;
    bool aborted = impl_->abortFlag != nullptr && impl_->abortFlag->load();
    if (aborted || !impl_->handle || !impl_->Perform()) {
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

int HttpRequestObject::Status() const {
    return impl_->status;
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
