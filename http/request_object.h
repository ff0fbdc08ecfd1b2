#pragma once
// The request object: one HTTP exchange at a time over one libcurl easy handle. Reusing an
// object across exchanges reuses its connection. Failures are not reported here: a failed
// exchange simply leaves an empty body, empty headers and status 0.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class HttpRequestObject {
  public:
    HttpRequestObject();
    ~HttpRequestObject();
    HttpRequestObject(const HttpRequestObject&) = delete;
    HttpRequestObject& operator=(const HttpRequestObject&) = delete;

    // Milliseconds for name resolution, connection, sending and receiving.
    void SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs);
    void SetProxy(const std::string& proxy);
    // Starts a new request: clears the headers, body and response of the previous one.
    void Open(const std::string& method, const std::string& url);
    void SetFollowRedirects(bool follow);
    // An empty name is refused (nothing is added); an empty value goes out as an empty header.
    void SetRequestHeader(const std::string& name, const std::string& value);
    // Sends the request with the given body and waits for the whole response.
    void Send(const std::string& body);
    const std::string& ResponseBody() const;
    // The final response's header lines, CR LF separated, without the status line.
    const std::string& GetAllResponseHeaders() const;
    int Status() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Creates request objects; tests replace it (an empty function restores the real one). A
// factory returning null means creation failed.
using HttpRequestObjectFactory = std::function<std::unique_ptr<HttpRequestObject>()>;
void SetHttpRequestObjectFactory(HttpRequestObjectFactory factory);
std::unique_ptr<HttpRequestObject> CreateHttpRequestObject();

// While a guard lives, exchanges on the calling thread give up (as a failed exchange) as soon
// as the flag becomes true, also in the middle of a transfer. Used to end a thread promptly
// at shutdown.
class HttpAbortGuard {
  public:
    explicit HttpAbortGuard(const std::atomic<bool>& abort);
    ~HttpAbortGuard();
    HttpAbortGuard(const HttpAbortGuard&) = delete;
    HttpAbortGuard& operator=(const HttpAbortGuard&) = delete;

  private:
    const std::atomic<bool>* previous_;
};
