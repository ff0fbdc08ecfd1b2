#include "http/http_request.h"

#include <climits>
#include <memory>
#include <utility>

#include "http/base64.h"
#include "http/cookie_jar.h"
#include "http/header_block.h"
#include "text/text_scan.h"

namespace {

struct DefaultHeaderLine {
    const char* searchKey;
    const char* line;
    bool followedByUrl;
    bool postOnly;
};

constexpr DefaultHeaderLine kDefaultHeaderLines[] = {
    {"Accept:", "Accept: */*", false, false},
    {"Referer:", "Referer: ", true, false},
    {"Accept-Language:", "Accept-Language: zh-cn", false, false},
    {"User-Agent:", "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)", false, false},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded", false, true},
};

std::string RemoveEveryIgnoringCase(const std::string& text, const std::string& pattern) {
    std::string result;
    int from = 1;
    for (int found; (found = FindText(text, pattern, from, true)) > 0;
         from = found + static_cast<int>(pattern.size())) {
        result.append(text, from - 1, found - from);
    }
    result.append(text, from - 1);
    return result;
}

// Name and value of one header line, both trimmed; both empty when the line has no colon.
std::pair<std::string, std::string> SplitHeaderLine(const std::string& line) {
    int colon = FindText(line, ":");
    if (colon < 0) {
        return {};
    }
    return {TrimText(line.substr(0, colon - 1)), TrimText(line.substr(colon))};
}

std::string CollectReceivedCookies(const std::string& responseHeaders) {
    std::string received;
    for (const std::string& line : SplitText(responseHeaders, "\r\n")) {
        // Only this exact spelling of the name counts.
        int separator = FindText(line, ": ");
        if (separator < 0 || line.substr(0, separator - 1) != "Set-Cookie") {
            continue;
        }
        std::string item = FindText(line, ";") > 0 ? TextBetween(line, "Set-Cookie:", ";")
                                                   : RemoveEveryIgnoringCase(line, "Set-Cookie:");
        received += TrimText(item) + "; ";
    }
    if (received.size() >= 2) {
        received.resize(received.size() - 2);
    }
    return received;
}

}  // namespace

std::string PerformHttpRequest(const HttpRequestOptions& options) {
    bool mergeCookies = options.mergeCookies.value_or(true);
    bool completeHeaders = options.completeHeaders.value_or(true);
    bool normalizeHeaders = options.normalizeHeaders.value_or(true);
    int proxyAuthMode = options.proxyAuthMode.value_or(1);
    int method = options.method.value_or(kHttpGet);
    if (method < 0 || method > 7) {
        method = kHttpGet;
    }

    std::unique_ptr<HttpRequestObject> created;
    HttpRequestObject* request = options.requestObject;
    if (request == nullptr) {
        created = CreateHttpRequestObject();
        request = created.get();
        if (request == nullptr) {
            if (options.error != nullptr) {
                *options.error = {.kind = HttpError::Kind::CreateFailed,
                                  .message = "no request object could be made"};
            }
            return {};
        }
    }
    request->SetBodyLimit(options.bodyLimit.value_or(kDefaultBodyLimit));

    int timeoutSeconds = options.timeoutSeconds.value_or(0);
    if (timeoutSeconds != -1) {
        int ms = timeoutSeconds <= 0               ? 15000
                 : timeoutSeconds > INT_MAX / 1000 ? INT_MAX
                                                   : timeoutSeconds * 1000;
        request->SetTimeouts(ms, ms, ms, ms);
    }
    std::string proxy = options.proxy.value_or("");
    if (!proxy.empty()) {
        request->SetProxy(proxy);
    }
    request->Open(HttpMethod[method], options.url);
    if (options.noRedirect.value_or(false)) {
        request->SetFollowRedirects(false);
    }
    // Certificates are always verified: tolerating certificate errors would hand the access
    // token and the user's text to anyone in the middle.

    std::string scratchHeaders;
    std::string& headers = options.headers != nullptr ? *options.headers : scratchHeaders;
    if (completeHeaders) {
        for (const DefaultHeaderLine& row : kDefaultHeaderLines) {
            if (row.postOnly && method != kHttpPost) {
                continue;
            }
            if (FindText(headers, row.searchKey, 1, true) < 0) {
                headers += std::string("\r\n") + row.line + (row.followedByUrl ? options.url : "");
            }
        }
    }
    if (normalizeHeaders) {
        headers = NormalizeHeaderBlock(headers);
    }

    std::string proxyUser = options.proxyUser.value_or("");
    if (!proxy.empty() && !proxyUser.empty() && proxyAuthMode == 1) {
        request->SetRequestHeader(
            "Proxy-Authorization",
            "Basic " + Base64Encode(proxyUser + ":" + options.proxyPassword.value_or("")));
    }

    if (options.cookies != nullptr) {
        std::string& cookies = *options.cookies;
        if (!cookies.empty() && FindText(cookies, "Cookie:", 1, true) > 0) {
            cookies = RemoveEveryIgnoringCase(cookies, "Cookie:");
        }
        request->SetRequestHeader("Cookie", cookies);
    }

    if (FindText(headers, "\r\n") < 0) {
        auto [name, value] = SplitHeaderLine(headers);
        request->SetRequestHeader(name, value);
    } else {
        for (const std::string& line : SplitText(headers, "\r\n")) {
            if (line.empty()) {
                continue;
            }
            auto [name, value] = SplitHeaderLine(line);
            // The transport keeps connections alive on its own; a forced "keep-alive" is left out.
            if (name == "Connection" && value == "keep-alive") {
                continue;
            }
            request->SetRequestHeader(name, value);
        }
    }

    const std::string byteBody = options.byteBody.value_or("");
    const std::string& sent = !byteBody.empty() ? byteBody : options.textBody.value_or("");
    // The caller's abort flag goes along to wherever the runner performs the exchange.
    const std::atomic<bool>* abort = CurrentHttpAbortFlag();
    RunHttpExchange([&] {
        if (abort != nullptr) {
            const HttpAbortGuard guard(*abort);
            request->Send(sent);
        } else {
            request->Send(sent);
        }
    });
    if (options.error != nullptr) {
        *options.error = request->Error();
    }

    // A body of our own is handed over, not copied: a download may be large.
    std::string body = created ? request->TakeResponseBody() : request->ResponseBody();
    std::string responseHeaders = request->GetAllResponseHeaders();
    if (options.responseHeaders != nullptr) {
        *options.responseHeaders = responseHeaders;
    }
    if (options.statusCode != nullptr) {
        *options.statusCode = request->Status();
    }

    std::string scratchReceived;
    std::string& received =
        options.receivedCookies != nullptr ? *options.receivedCookies : scratchReceived;
    received = CollectReceivedCookies(responseHeaders);
    if (mergeCookies && options.cookies != nullptr) {
        received = MergeCookieJar(*options.cookies, received);
    }
    return body;
}
