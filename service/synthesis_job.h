#pragma once
// One synthesis job: settings in, the MP3 bytes the service produced out (empty when the job
// gave up). The job runs to completion inside the call and waits between its requests with
// WaitWithEvents.

#include <functional>
#include <string>

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

enum class SynthesisStage { BackgroundTrack, Submit, FollowUp, ResultPoll, Download };

enum class SynthesisGiveUp {
    None,               // audio came back
    NoSuccess,          // the submit answer lacks the success text
    EmptySerial,        // the submit answer holds no serial number
    NoDownloadAddress,  // the last result answer holds no download address
    NoAudio,            // the download answered other than 200 or with an empty body
};

struct SynthesisOutcome {
    SynthesisGiveUp gaveUp = SynthesisGiveUp::None;
    std::string serial{};
    int resultRequests = 0;
    std::string downloadUrl{};
    int downloadStatus = 0;
};

// Optional company for a job; nothing here changes what goes over the wire.
struct SynthesisObserver {
    // Called before each exchange; resultRequest numbers the result requests (1 to 21) and is
    // 0 for every other stage.
    std::function<void(SynthesisStage stage, int resultRequest)> progress{};
    // Filled in as the job goes; null when not wanted.
    SynthesisOutcome* outcome = nullptr;
};

std::string RunSynthesisJob(SynthesisParameters parameters, const SynthesisObserver& observer = {});
