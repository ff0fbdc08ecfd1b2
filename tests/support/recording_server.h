#pragma once
// A small HTTP/1.1 server for wire tests: it listens on 127.0.0.1 at an ephemeral port, records
// every request exactly as it arrived and answers from a script. Each server runs its own
// threads and is torn down by its destructor (connections that were told never to answer are
// closed then too).
//
//   RecordingServer server;
//   server.Route("/login", {.status = 302, .reason = "Found",
//                           .headerLines = {"Location: " + server.Url("/home")}});
//   server.Route("/home", {.headerLines = {"Set-Cookie: sid=1; Path=/"}, .body = "hi"});
//   ... client requests server.Url("/login") ...
//   std::vector<RecordedRequest> seen = server.Requests();
//
// A reply is chosen in this order: the handler (when one was given), the queued replies (first
// in, first out), the reply routed for the request's path (query left out), else 404 with an
// empty body. Connections stay open for further requests (keep-alive) unless the request or the
// reply says "Connection: close". The header includes no <chrono>, which cannot be compiled with
// the GBK execution charset, so durations are plain milliseconds. Request bodies are read by
// Content-Length; a request that carries "Expect: 100-continue" gets "HTTP/1.1 100 Continue" first.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct RecordedRequest {
    std::string requestLine;               // "GET /a?b=1 HTTP/1.1", without CR LF
    std::string method;                    // "GET"
    std::string target;                    // "/a?b=1", or "http://host/a" through a proxy
    std::vector<std::string> headerLines;  // raw lines in arrival order, without CR LF
    std::string body;                      // exactly Content-Length bytes
    std::string raw;                       // the whole request as received, head and body
    int connection = 0;                    // 0 for the first accepted connection, then 1, 2...

    // The value of the first header whose name matches (ASCII case ignored), with the blanks
    // after the colon removed; nullopt when there is no such header.
    std::optional<std::string> Header(const std::string& name) const;
};

struct Reply {
    int status = 200;
    std::string reason = "OK";
    // Raw header lines without CR LF, e.g. "Set-Cookie: sid=1; Path=/". Content-Length is added
    // from the body unless one is given here.
    std::vector<std::string> headerLines{};
    std::string body{};
    // Wait this many milliseconds before answering.
    int delayMs = 0;
    // Keep the connection open and never answer (a stalled peer).
    bool neverAnswer = false;
    // Send the head, then this many bytes of the body, then stall without ever finishing.
    std::optional<std::size_t> stallAfterBodyBytes{};
    // Send the head at once, then the body one byte every this many milliseconds.
    int trickleMs = 0;
    // Send a head without Content-Length, then the body over and over until the peer leaves.
    bool endlessBody = false;
};

class RecordingServer {
  public:
    // Called on the server's connection threads, possibly on several at once.
    using Handler = std::function<Reply(const RecordedRequest&)>;

    RecordingServer();
    explicit RecordingServer(Handler handler);
    ~RecordingServer();
    RecordingServer(const RecordingServer&) = delete;
    RecordingServer& operator=(const RecordingServer&) = delete;

    int Port() const { return port_; }
    // "127.0.0.1:<port>"
    std::string HostPort() const;
    // "http://127.0.0.1:<port>" followed by path.
    std::string Url(const std::string& path = "/") const;

    void Route(const std::string& path, Reply reply);
    void Queue(Reply reply);

    // A copy of the requests recorded so far, in the order they were complete.
    std::vector<RecordedRequest> Requests() const;
    // Waits until at least count requests were recorded; false when the timeout passed first.
    bool WaitForRequests(std::size_t count, int timeoutMs) const;
    int ConnectionCount() const;

  private:
    void AcceptLoop();
    void Serve(int fd, int connection);
    Reply ChooseReply(const RecordedRequest& request);
    // Sleeps up to timeoutMs (-1: until tear-down); false when the server is being torn down.
    bool Pause(int timeoutMs) const;

    Handler handler_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    int port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable recorded_;
    std::vector<RecordedRequest> requests_;
    std::vector<Reply> queue_;
    std::map<std::string, Reply> routes_;
    std::vector<std::thread> connections_;
    int connectionCount_ = 0;
    bool stopping_ = false;
    std::thread acceptor_;
};
