#pragma once
// A raw TCP connection to a loopback port, for tests and measurements that must send bytes no
// HTTP client library would send: a request trickled one byte at a time, a connection that
// says nothing, an endless chunked body.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

class LoopbackSocket {
  public:
    // Connects to 127.0.0.1:port; IsOpen tells whether that worked.
    explicit LoopbackSocket(int port);
    ~LoopbackSocket();
    LoopbackSocket(LoopbackSocket&& other) noexcept;
    LoopbackSocket& operator=(LoopbackSocket&& other) noexcept;
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // Sends all of bytes; false once the peer has closed or reset the connection.
    bool Send(std::string_view bytes);
    // Everything the peer sends until it closes or limit passes.
    std::string ReadUntilClosed(std::chrono::milliseconds limit);
    // Whether the peer closed the connection (or reset it) within limit; drops what it sent.
    bool ClosedWithin(std::chrono::milliseconds limit);

  private:
    int fd_ = -1;
};

// One request on a connection of its own, answered with "Connection: close": the whole answer
// (status line, headers, body), or empty when none came within limit.
std::string Exchange(int port, const std::string& request, std::chrono::milliseconds limit);

// The status code of an answer's status line, 0 when there is none.
int StatusOf(const std::string& answer);
// The body of an answer (everything after the blank line).
std::string BodyOf(const std::string& answer);
