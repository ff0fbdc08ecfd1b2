#pragma once
// The local dubbing server: a real HTTP server that answers the dubbing service's API (speaker
// and background catalogues, synthesis jobs, downloads) so the client can do its whole job on a
// machine with no other service. Tests run it in-process on an ephemeral port and can make it
// misbehave.
//
// This header stays free of the HTTP, speech and JSON libraries and of non-ASCII literals, so
// that client tests compiled with any execution character set can include it.

#include <memory>
#include <optional>
#include <string>

// What the download address serves instead of the finished audio.
enum class DownloadFault {
    kNone,           // the MP3 file
    kHtmlErrorPage,  // status 500 with an HTML error page
    kTruncated,      // status 200 with the first half of the MP3 file
    kEmpty,          // status 200 with an empty body
};

// "none", "html", "truncated", "empty": the names used on the command line and by the control
// endpoint.
const char* DownloadFaultName(DownloadFault fault);
std::optional<DownloadFault> DownloadFaultFromName(const std::string& name);

// Ways to make the server misbehave, for tests and demonstrations. The default is a
// well-behaved server.
struct ServerMisbehaviour {
    // The submit answers an error: status 503, no success message, no serial number.
    bool refuseSubmit = false;
    // The result poll reports work in progress forever.
    bool neverReady = false;
    // Every stalled request waits this long before it is answered.
    int delayMs = 0;
    // Every stalled request is held until this switch is cleared or the server stops.
    bool hang = false;
    // Which requests stall: those whose path contains this text; empty means every request
    // except the control endpoint.
    std::string stallPath;
    // The submit sets no session cookie, so the follow-up requests are refused.
    bool dropCookie = false;
    DownloadFault downloadFault = DownloadFault::kNone;
    // Speaker and background catalogue requests are answered with bytes that are not JSON.
    bool catalogueGarbage = false;
};

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
