#pragma once
// An HTTP server that no connection can hold hostage. cpp-httplib reads each request itself and
// waits as long as bytes keep trickling in, and it reads a chunked body whole whatever its
// size; so every connection here is fed to it through a stream that keeps limits: a deadline
// for the whole request, a short limit on silence inside it, a byte budget, a short wait for
// an idle connection's next request. Connections get workers of their own (WorkerPool).

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace dubserver {

struct ConnectionLimits {
    // Wait for the first byte of a connection's next request.
    std::chrono::milliseconds idle{1000};
    // Longest silence while a request is being read.
    std::chrono::milliseconds silence{2000};
    // Reading one request: request line, headers and body.
    std::chrono::milliseconds request{5000};
    // Longest wait for the peer to take more of an answer.
    std::chrono::milliseconds write{5000};
    // Bytes read for one request, framing included; past it the connection ends.
    std::size_t requestBytes = 2 * 1024 * 1024 + 64 * 1024;
    // Connections served at once; more wait for a worker.
    std::size_t workers = 256;
};

class GuardedHttpServer : public httplib::Server {
  public:
    explicit GuardedHttpServer(ConnectionLimits limits = {});

    // Binds like bind_to_port (0: any free port), with a queue of pending connections long
    // enough for a burst of clients (the library's own is five). The bound port, or -1.
    int Bind(const std::string& host, int port);

  private:
    bool process_and_close_socket(socket_t sock) override;

    ConnectionLimits limits_;
};

// For a handler of a GuardedHttpServer: the connection of the request in hand ends after its
// answer (a body left unread must not be taken for the next request).
void CloseConnectionAfterAnswer();

enum class BodyRead { kComplete, kTooLarge, kBroken };

// Reads the request's body through the handler's reader into *body, chunked or not, stopping
// at maxBytes: a body declared larger is not read at all. An incomplete read ends the
// connection after the answer.
BodyRead ReadBody(const httplib::Request& req, const httplib::ContentReader& reader,
                  std::size_t maxBytes, std::string* body);

}  // namespace dubserver
