#pragma once
// The request object: one HTTP exchange at a time over one libcurl easy handle. Reusing an
// object across exchanges reuses its connection. A failed exchange leaves an empty body, empty
// headers and status 0, and Error() says why.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// Why an exchange did not complete. An exchange that completed has kind None, whatever its
// HTTP status: a status is the server's answer, not a transport failure.
struct HttpError {
    enum class Kind {
        None,
        CreateFailed,     // no request object could be made
        NameNotResolved,  // the host (or proxy) name is unknown
        Refused,          // nobody accepted the connection
        TimedOut,         // connecting, or silence while sending or receiving, outlasted its limit
        TooSlow,          // data kept coming, but slower than the minimum rate
        TlsRefused,       // the TLS handshake or the certificate check failed
        TooLarge,         // the body passed its limit; reading stopped there
        Aborted,          // the caller's abort flag was raised
        Other,            // any other transport failure: message says which
    };
    Kind kind = Kind::None;
    int transportCode = 0;  // the transport library's own code (CURLcode), 0 when it had none
    std::string message{};  // the transport library's own words, for logs and the command line
};

// The slowest an exchange may move data, averaged over its receive limit once the answer has
// begun: a trickle that never falls silent still ends.
inline constexpr long long kMinimumBytesPerSecond = 1024;
// What a response body may hold unless the caller sets less: enough for any clip the service
// makes, small enough that a runaway answer cannot take the machine's memory.
inline constexpr std::size_t kDefaultBodyLimit = std::size_t{256} << 20;

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
    // The most body bytes the next exchanges accept; 0 restores kDefaultBodyLimit.
    void SetBodyLimit(std::size_t bytes);
    // An empty name is refused (nothing is added); an empty value goes out as an empty header.
    // A name or value holding CR or LF is refused too: it would smuggle a line of its own.
    void SetRequestHeader(const std::string& name, const std::string& value);
    // Sends the request with the given body and waits for the whole response.
    void Send(const std::string& body);
    const std::string& ResponseBody() const;
    // Hands the body over without a copy; ResponseBody() is empty afterwards.
    std::string TakeResponseBody();
    // The final response's header lines, CR LF separated, without the status line.
    const std::string& GetAllResponseHeaders() const;
    int Status() const;
    // Why the last Send failed; kind None when it completed.
    const HttpError& Error() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Creates request objects; tests replace it (an empty function restores the real one). A
// factory returning null means creation failed.
using HttpRequestObjectFactory = std::function<std::unique_ptr<HttpRequestObject>()>;
void SetHttpRequestObjectFactory(HttpRequestObjectFactory factory);
std::unique_ptr<HttpRequestObject> CreateHttpRequestObject();

// While a guard lives, exchanges on the calling thread give up (as a failed exchange, kind
// Aborted) as soon as the flag becomes true, also in the middle of a transfer, within a few
// tens of milliseconds. Used to end a thread promptly at shutdown and to abandon a job.
class HttpAbortGuard {
  public:
    explicit HttpAbortGuard(const std::atomic<bool>& abort);
    ~HttpAbortGuard();
    HttpAbortGuard(const HttpAbortGuard&) = delete;
    HttpAbortGuard& operator=(const HttpAbortGuard&) = delete;

  private:
    const std::atomic<bool>* previous_;
};

// The flag of the innermost guard on the calling thread; null when none. An exchange handed to
// another thread takes it along.
const std::atomic<bool>* CurrentHttpAbortFlag();

// Where the calling thread's exchanges run: by default right here, blocking the thread. A
// thread that must keep serving its own events while a transfer is under way (the window's)
// installs a runner that performs the exchange elsewhere and waits its own way; the runner
// must return only once the exchange has finished. An empty function restores the default.
using HttpExchangeRunner = std::function<void(const std::function<void()>& exchange)>;
void SetHttpExchangeRunner(HttpExchangeRunner runner);
// Runs the exchange with the calling thread's runner.
void RunHttpExchange(const std::function<void()>& exchange);
