#pragma once
// One complete, synchronous HTTP exchange: the only way the client talks to the network.

#include <optional>
#include <string>

#include "http/request_object.h"

// Method names by index; an index outside 0..7 is taken as 0.
inline constexpr const char* HttpMethod[8] = {"GET",     "POST",   "HEAD",  "PUT",
                                              "OPTIONS", "DELETE", "TRACE", "CONNECT"};
enum HttpMethodIndex { kHttpGet = 0, kHttpPost = 1 };

// Absent inputs are std::nullopt; in/out and out fields point to the caller's variables
// (null = absent: the engine works on a scratch value).
struct HttpRequestOptions {
    std::string url;
    std::optional<int> method{};
    std::optional<std::string> textBody{};
    std::string* cookies = nullptr;
    std::string* receivedCookies = nullptr;
    std::string* headers = nullptr;
    std::string* responseHeaders = nullptr;
    int* statusCode = nullptr;
    std::optional<bool> noRedirect{};
    std::optional<std::string> byteBody{};
    std::optional<std::string> proxy{};
    std::optional<int> timeoutSeconds{};
    std::optional<std::string> proxyUser{};
    std::optional<std::string> proxyPassword{};
    std::optional<int> proxyAuthMode{};
    HttpRequestObject* requestObject = nullptr;
    std::optional<bool> mergeCookies{};
    std::optional<bool> completeHeaders{};
    std::optional<bool> normalizeHeaders{};
    // Out: why the exchange failed (kind None when it completed, whatever the status).
    HttpError* error = nullptr;
    // The most body bytes accepted; absent: kDefaultBodyLimit. Reading stops at the limit and
    // the exchange fails as TooLarge.
    std::optional<std::size_t> bodyLimit{};
};

// Returns the response body; empty on any failure. Never throws. The transfer itself runs
// through the calling thread's exchange runner (RunHttpExchange).
std::string PerformHttpRequest(const HttpRequestOptions& options);
