#pragma once
// One synthesis job: settings in, the MP3 bytes the service produced out (empty when the job
// gave up). The job runs to completion inside the call and waits between its requests with
// WaitWithEvents.

#include <atomic>
#include <functional>
#include <string>

#include "http/request_object.h"
#include "service/service_api.h"

// Texts in code page 936; numbers travel as decimal texts and go into the body as they stand.
// Every member has an initializer so that a caller names only the fields it sets.
struct SynthesisParameters {
    std::string content{};
    std::string readerId{};
    std::string backgroundPath{};
    std::string backgroundId{};
    std::string speed{};
    std::string readerVolume{};
    std::string backgroundVolume{};
    std::string pitch{};
    std::string clientAddress{};
};

// The submit body before its placeholders are filled.
inline constexpr const char* SynthesisBodyTemplate =
    R"({"bgVoxId":"{bjid}","bgVoxPath":"{bjyy}","readerID":{readerID},"duration":"",)"
    R"("isStatistics":1,"openId":"","speed":{speed},"title":"","ttsContent":"{content}",)"
    R"("unionId":"","volume":{volume},"way":2,"readerVolume":{readerVolume},"pitch":{pitch},)"
    R"("bgVoxType":1,"ipAddress":"{ip}"})";

enum class SynthesisStage { None, BackgroundTrack, Submit, FollowUp, ResultPoll, Download };

// Why a job gave up. Where an exchange is to blame, the outcome names it (failedStage,
// failedRequest) and says what went wrong there (failedStatus or error).
enum class SynthesisGiveUp {
    None,               // audio came back
    Cancelled,          // the caller's cancel flag was raised
    ExchangeFailed,     // an exchange did not complete: error says why (refused, timed out...)
    HttpStatus,         // an exchange was answered with a status other than 200: failedStatus
    NoSuccess,          // the submit answer lacks the success text
    EmptySerial,        // the submit answer holds no serial number
    SessionRejected,    // a result answer held neither work in progress nor a result
    NeverReady,         // still work in progress after the last result request
    NoDownloadAddress,  // the result answer holds an empty download address
    NoAudio,            // the download answered with an empty body
    NotAudio,           // the download is no audio the caller can play
};

struct SynthesisOutcome {
    SynthesisGiveUp gaveUp = SynthesisGiveUp::None;
    std::string serial{};
    int resultRequests = 0;
    std::string downloadUrl{};
    int downloadStatus = 0;
    // The exchange to blame when one is: its stage, its number among the result requests (0 for
    // other stages), the status it was answered with (0: none) and why it failed.
    SynthesisStage failedStage = SynthesisStage::None;
    int failedRequest = 0;
    int failedStatus = 0;
    HttpError error{};
};

// Optional company for a job; nothing here changes what goes over the wire for a job that is
// not cancelled.
struct SynthesisObserver {
    // Called before each exchange; resultRequest numbers the result requests (1 to 21) and is
    // 0 for every other stage.
    std::function<void(SynthesisStage stage, int resultRequest)> progress{};
    // Filled in as the job goes; null when not wanted.
    SynthesisOutcome* outcome = nullptr;
    // Raised by another thread (or by an event handler during a wait) to abandon the job: the
    // exchange in flight is aborted, no further request goes out, the job gives up Cancelled.
    const std::atomic<bool>* cancel = nullptr;
    // Whether the downloaded bytes are audio; absent: any non-empty body counts.
    std::function<bool(const std::string& bytes)> isAudio{};
};

// The audio, or empty when the job gave up (the outcome says why).
std::string RunSynthesisJob(SynthesisParameters parameters, const SynthesisObserver& observer = {});
