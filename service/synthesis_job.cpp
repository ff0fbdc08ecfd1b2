#include "service/synthesis_job.h"

#include "http/http_request.h"
#include "service/service_api.h"
#include "service/waiting.h"
#include "text/code_page.h"
#include "text/percent_encoding.h"
#include "text/text_scan.h"

namespace {

// Replaces every occurrence from the left; the inserted text is not scanned again.
void ReplaceAll(std::string& text, const std::string& placeholder, const std::string& value) {
    std::size_t position = 0;
    while ((position = text.find(placeholder, position)) != std::string::npos) {
        text.replace(position, placeholder.size(), value);
        position += value.size();
    }
}

void ApplyDefaults(SynthesisParameters& parameters) {
    if (parameters.clientAddress.find('.') == std::string::npos) {
        parameters.clientAddress = RandomClientAddress();
    }
    // The tolerance keeps a speed a hair under 40 from being pushed up to the default.
    if (parameters.speed.empty() || ReadLeadingNumber(parameters.speed) - 40.0 < -0.0000001) {
        parameters.speed = "60";
    }
    if (parameters.readerVolume.empty()) {
        parameters.readerVolume = "0";
    }
    if (parameters.backgroundVolume.empty()) {
        parameters.backgroundVolume = "0";
    }
    if (parameters.pitch.empty()) {
        parameters.pitch = "50";
    }
    if (parameters.readerId.empty()) {
        parameters.readerId = "8";
    }
}

std::string FillBody(const SynthesisParameters& parameters) {
    std::string body = SynthesisBodyTemplate;
    ReplaceAll(body, "{content}", PercentEncode(parameters.content, true, true));
    std::string backgroundPath = parameters.backgroundPath;
    std::string backgroundId = parameters.backgroundId;
    if (backgroundPath.empty() || backgroundId.empty()) {
        backgroundPath.clear();
        backgroundId.clear();
    }
    ReplaceAll(body, "{readerID}", parameters.readerId);
    ReplaceAll(body, "{bjyy}", backgroundPath);
    ReplaceAll(body, "{bjid}", backgroundId);
    ReplaceAll(body, "{ip}", parameters.clientAddress);
    ReplaceAll(body, "{speed}", parameters.speed);
    ReplaceAll(body, "{readerVolume}", parameters.readerVolume);
    ReplaceAll(body, "{volume}", parameters.backgroundVolume);
    ReplaceAll(body, "{pitch}", parameters.pitch);
    return body;
}

// Asks for the track's address and then, by hand, for where it redirects; nothing either
// answer holds is used.
void TouchBackgroundTrack(const std::string& backgroundPath) {
    std::string responseHeaders;
    PerformHttpRequest({.url = backgroundPath,
                        .textBody = std::string(),
                        .responseHeaders = &responseHeaders,
                        .noRedirect = true});
    if (responseHeaders.empty()) {
        return;
    }
    std::string location = TextBetween(responseHeaders + "\r\n", "Location: ", "\r\n");
    PerformHttpRequest({.url = location, .textBody = std::string()});
}

}  // namespace

std::string RunSynthesisJob(SynthesisParameters parameters, const SynthesisObserver& observer) {
    SynthesisOutcome scratch;
    SynthesisOutcome& outcome = observer.outcome != nullptr ? *observer.outcome : scratch;
    outcome = {};
    auto report = [&observer](SynthesisStage stage, int resultRequest = 0) {
        if (observer.progress) {
            observer.progress(stage, resultRequest);
        }
    };
    auto giveUp = [&outcome](SynthesisGiveUp reason) {
        outcome.gaveUp = reason;
        return std::string();
    };
    JobCookies jobCookies;
    auto statusRequest = [&jobCookies](const std::string& url) {
        return PerformHttpRequest({.url = url, .method = kHttpGet, .cookies = &jobCookies});
    };

    ApplyDefaults(parameters);

    if (!parameters.backgroundPath.empty()) {
        report(SynthesisStage::BackgroundTrack);
        TouchBackgroundTrack(parameters.backgroundPath);
    }

    const std::string submitUrl = SpeechSynthUrl(MakeTimestamp());
    std::string headers = SynthesisHeaderBlock();
    report(SynthesisStage::Submit);
    std::string lastResponse = Utf8TextToAnsi(PerformHttpRequest({.url = submitUrl,
                                                                  .method = kHttpPost,
                                                                  .textBody = FillBody(parameters),
                                                                  .cookies = &jobCookies,
                                                                  .headers = &headers}));
    if (FindText(lastResponse, "message\":\"成功") < 1) {
        return giveUp(SynthesisGiveUp::NoSuccess);
    }
    const std::string serial = TextBetween(lastResponse, "serialId\":", "}");
    outcome.serial = serial;
    if (serial.empty()) {
        return giveUp(SynthesisGiveUp::EmptySerial);
    }

    WaitWithEvents(100);
    const std::string t1 = MakeTimestamp();
    report(SynthesisStage::FollowUp);
    statusRequest(QueryProcessUrl(serial, t1));
    WaitWithEvents(100);
    report(SynthesisStage::FollowUp);
    statusRequest(QuerySynthTingResultUrl(serial, t1));
    WaitWithEvents(100);
    const std::string t2 = MakeTimestamp();
    report(SynthesisStage::FollowUp);
    statusRequest(QueryProcessUrl(serial, t2));
    WaitWithEvents(100);
    report(SynthesisStage::FollowUp);
    statusRequest(QuerySynthTingResultUrl(serial, t2));
    WaitWithEvents(100);
    report(SynthesisStage::FollowUp);
    statusRequest(RecordExportUrl(serial, t2));
    WaitWithEvents(1000);

    // Built once: every result request of the job asks the very same address.
    const std::string resultUrl = QuerySynthResultUrl(serial, t2);
    int resultRequests = 1;
    report(SynthesisStage::ResultPoll, resultRequests);
    outcome.resultRequests = resultRequests;
    lastResponse = Utf8BytesToAnsi(statusRequest(resultUrl));
    for (int repeat = 1; repeat <= 20; ++repeat) {
        if (FindText(lastResponse, ":-1") < 1) {
            break;
        }
        WaitWithEvents(2000);
        ++resultRequests;
        report(SynthesisStage::ResultPoll, resultRequests);
        outcome.resultRequests = resultRequests;
        lastResponse = Utf8BytesToAnsi(statusRequest(resultUrl));
    }

    const std::string downloadUrl = TextBetween(lastResponse, "vsriDownurl\":\"", "\"");
    outcome.downloadUrl = downloadUrl;
    if (downloadUrl.empty()) {
        return giveUp(SynthesisGiveUp::NoDownloadAddress);
    }
    report(SynthesisStage::Download);
    int status = 0;
    std::string audio = PerformHttpRequest({.url = downloadUrl, .statusCode = &status});
    outcome.downloadStatus = status;
    // An error page or an empty answer is not audio.
    if (status != 200 || audio.empty()) {
        return giveUp(SynthesisGiveUp::NoAudio);
    }
    return audio;
}
