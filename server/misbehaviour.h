#pragma once
// The switches that make the local server misbehave, for tests and demonstrations: their names
// on the command line and in the control endpoint's document, holding requests back, and the
// bytes a misbehaving server sends.
//
// Included by dubbing_server.h: free of the HTTP and JSON libraries and of non-ASCII literals.

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// Reads and changes the switches at run time, from loopback only. Never stalled itself.
inline constexpr char kControlPath[] = "/__control";
// An hour: the longest delay the command line and the control endpoint accept.
inline constexpr int kMaxDelayMs = 3600000;

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

// Ways to make the server misbehave. The default is a well-behaved server.
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

// The switches of a running server: read by every request, changed by its owner and by the
// control endpoint while requests are held.
class MisbehaviourSwitches {
  public:
    explicit MisbehaviourSwitches(ServerMisbehaviour initial = {});

    ServerMisbehaviour Current() const;
    // Replaces the switches; held requests they no longer stall go on.
    void Set(const ServerMisbehaviour& misbehaviour);
    // Reads a control document ({"hang":false}, {"reset":true}, ...) over the current switches.
    // Empty when it was applied, else why not (the switches then stay as they were).
    std::string ApplyControlDocument(std::string_view body);
    // Holds a request to this path for as long as the delay and hang switches say.
    void Stall(const std::string& path);
    // Lets every held request go, now and from now on: the server stops.
    void ReleaseAll();

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    ServerMisbehaviour switches_;
    bool released_ = false;
};

// The control endpoint's answer: every switch as it stands, under "data".
std::string ControlAnswer(const ServerMisbehaviour& misbehaviour);

// Bytes that are no JSON, for catalogueGarbage: the same bytes every time.
std::string GarbageAnswer();

// What the download address answers for a finished job's audio.
struct DownloadAnswer {
    int status = 200;
    std::string body;
    std::string contentType;
};
DownloadAnswer AnswerDownload(DownloadFault fault, const std::string& mp3);
