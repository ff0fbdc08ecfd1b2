#pragma once
// The local dubbing server: a real HTTP server that answers the dubbing service's API (speaker
// and background catalogues, synthesis jobs, downloads) so the client can do its whole job on a
// machine with no other service. Tests run it in-process on an ephemeral port and can make it
// misbehave.
//
// This header stays free of the HTTP, speech and JSON libraries and of non-ASCII literals, so
// that client tests compiled with any execution character set can include it.

#include <memory>
#include <string>

#include "server/misbehaviour.h"

struct ServerOptions {
    // No request log on standard error.
    bool quiet = false;
    // How many result polls of a job report work in progress before the download address is
    // given (at least this many, and always until the audio is ready).
    int busyPolls = 1;
    ServerMisbehaviour misbehaviour;
};

// One server instance. Several may run in one process; speech synthesis is shared and runs one
// job at a time.
class DubbingServer {
  public:
    explicit DubbingServer(ServerOptions options = {});
    ~DubbingServer();  // stops the server
    DubbingServer(const DubbingServer&) = delete;
    DubbingServer& operator=(const DubbingServer&) = delete;

    // Binds host:port (0 picks a free port) and serves on threads of its own. Returns the bound
    // port, or -1 when the address cannot be bound. Returns once the server accepts requests.
    // An instance starts once.
    int Start(const std::string& host = "127.0.0.1", int port = 0);
    // Why the last Start could not bind (the system's words, e.g. "Address already in use").
    std::string BindError() const;
    // Ends every held request, stops serving and joins the server's threads. Safe to call
    // twice or without Start.
    void Stop();
    bool IsRunning() const;
    // The bound port (-1 before Start) and "http://host:port".
    int Port() const;
    std::string Origin() const;

    // Replaces the misbehaviour switches; held requests are released when hang is cleared.
    void SetMisbehaviour(const ServerMisbehaviour& misbehaviour);
    ServerMisbehaviour Misbehaviour() const;

    // Number of submits that were accepted so far (refused ones do not count).
    int AcceptedSubmits() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};
