#include "service/synthesis_job.h"

#include <optional>
#include <utility>

#include "http/http_request.h"
#include "service/service_api.h"
#include "service/waiting.h"
#include "text/code_page.h"
#include "text/json_string.h"
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
    // Catalogue values are the service's, not ours: escaped, they stay inside their strings.
    ReplaceAll(body, "{bjyy}", JsonEscape(backgroundPath));
    ReplaceAll(body, "{bjid}", JsonEscape(backgroundId));
    ReplaceAll(body, "{ip}", JsonEscape(parameters.clientAddress));
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
                        .noRedirect = true,
                        .bodyLimit = kJsonAnswerLimit});
    if (responseHeaders.empty()) {
        return;
    }
    std::string location = TextBetween(responseHeaders + "\r\n", "Location: ", "\r\n");
    PerformHttpRequest({.url = location, .textBody = std::string()});
}

// One exchange's result, kept so that a give-up can name what went wrong there.
struct Exchange {
    std::string body;
    int status = 0;
    HttpError error;
};

// The job's state between its steps: where it is, what the last exchange gave, and how it
// ends.
class Job {
  public:
    Job(const SynthesisObserver& observer, SynthesisOutcome& outcome)
        : observer_(observer), outcome_(outcome) {}

    bool Cancelled() const { return observer_.cancel != nullptr && observer_.cancel->load(); }

    // Waits unless the job was cancelled before or during the wait.
    bool Wait(int milliseconds) {
        if (Cancelled()) {
            return false;
        }
        WaitWithEvents(milliseconds);
        return !Cancelled();
    }

    void Report(SynthesisStage stage, int resultRequest = 0) {
        stage_ = stage;
        resultRequest_ = resultRequest;
        if (observer_.progress) {
            observer_.progress(stage, resultRequest);
        }
    }

    Exchange Perform(HttpRequestOptions options) {
        Exchange exchange;
        options.statusCode = &exchange.status;
        options.error = &exchange.error;
        exchange.body = PerformHttpRequest(options);
        return exchange;
    }

    // Gives up for a reason the answer's content gives.
    std::string GiveUp(SynthesisGiveUp reason) {
        outcome_.gaveUp = Cancelled() ? SynthesisGiveUp::Cancelled : reason;
        return {};
    }

    // Gives up, blaming the exchange when it failed or was answered with an error status, and
    // its content otherwise.
    std::string GiveUp(const Exchange& exchange, SynthesisGiveUp contentReason) {
        if (Cancelled() || exchange.error.kind == HttpError::Kind::Aborted) {
            return GiveUp(SynthesisGiveUp::Cancelled);
        }
        SynthesisGiveUp reason = contentReason;
        if (exchange.error.kind != HttpError::Kind::None) {
            reason = SynthesisGiveUp::ExchangeFailed;
        } else if (exchange.status != 200) {
            reason = SynthesisGiveUp::HttpStatus;
        }
        if (reason == SynthesisGiveUp::ExchangeFailed || reason == SynthesisGiveUp::HttpStatus) {
            outcome_.failedStage = stage_;
            outcome_.failedRequest = resultRequest_;
            outcome_.failedStatus = exchange.status;
            outcome_.error = exchange.error;
        }
        return GiveUp(reason);
    }

  private:
    const SynthesisObserver& observer_;
    SynthesisOutcome& outcome_;
    SynthesisStage stage_ = SynthesisStage::None;
    int resultRequest_ = 0;
};

}  // namespace

std::string RunSynthesisJob(SynthesisParameters parameters, const SynthesisObserver& observer) {
    SynthesisOutcome scratch;
    SynthesisOutcome& outcome = observer.outcome != nullptr ? *observer.outcome : scratch;
    outcome = {};
    Job job(observer, outcome);
    // Whoever cancels also ends the exchange in flight.
    std::optional<HttpAbortGuard> abort;
    if (observer.cancel != nullptr) {
        abort.emplace(*observer.cancel);
    }

    JobCookies jobCookies;
    auto statusRequest = [&](const std::string& url) {
        return job.Perform({.url = url,
                            .method = kHttpGet,
                            .cookies = &jobCookies,
                            .bodyLimit = kJsonAnswerLimit});
    };

    ApplyDefaults(parameters);

    if (!parameters.backgroundPath.empty()) {
        job.Report(SynthesisStage::BackgroundTrack);
        TouchBackgroundTrack(parameters.backgroundPath);
    }
    if (job.Cancelled()) {
        return job.GiveUp(SynthesisGiveUp::Cancelled);
    }

    const std::string submitUrl = SpeechSynthUrl(MakeTimestamp());
    std::string headers = SynthesisHeaderBlock();
    job.Report(SynthesisStage::Submit);
    const Exchange submit = job.Perform({.url = submitUrl,
                                         .method = kHttpPost,
                                         .textBody = FillBody(parameters),
                                         .cookies = &jobCookies,
                                         .headers = &headers,
                                         .bodyLimit = kJsonAnswerLimit});
    std::string lastResponse = Utf8TextToAnsi(submit.body);
    if (FindText(lastResponse, "message\":\"成功") < 1) {
        return job.GiveUp(submit, SynthesisGiveUp::NoSuccess);
    }
    const std::string serial = TextBetween(lastResponse, "serialId\":", "}");
    outcome.serial = serial;
    if (serial.empty()) {
        return job.GiveUp(submit, SynthesisGiveUp::EmptySerial);
    }

    // The follow-ups' answers are not read; they only tell the service the job is watched.
    const auto followUp = [&](const std::string& url, int waitAfter) {
        job.Report(SynthesisStage::FollowUp);
        statusRequest(url);
        return job.Wait(waitAfter);
    };
    if (!job.Wait(100)) {
        return job.GiveUp(SynthesisGiveUp::Cancelled);
    }
    const std::string t1 = MakeTimestamp();
    if (!followUp(QueryProcessUrl(serial, t1), 100) ||
        !followUp(QuerySynthTingResultUrl(serial, t1), 100)) {
        return job.GiveUp(SynthesisGiveUp::Cancelled);
    }
    const std::string t2 = MakeTimestamp();
    if (!followUp(QueryProcessUrl(serial, t2), 100) ||
        !followUp(QuerySynthTingResultUrl(serial, t2), 100) ||
        !followUp(RecordExportUrl(serial, t2), 1000)) {
        return job.GiveUp(SynthesisGiveUp::Cancelled);
    }

    // Built once: every result request of the job asks the very same address.
    const std::string resultUrl = QuerySynthResultUrl(serial, t2);
    int resultRequests = 1;
    job.Report(SynthesisStage::ResultPoll, resultRequests);
    outcome.resultRequests = resultRequests;
    Exchange result = statusRequest(resultUrl);
    lastResponse = Utf8BytesToAnsi(result.body);
    for (int repeat = 1; repeat <= 20; ++repeat) {
        if (FindText(lastResponse, ":-1") < 1) {
            break;
        }
        if (!job.Wait(2000)) {
            return job.GiveUp(SynthesisGiveUp::Cancelled);
        }
        ++resultRequests;
        job.Report(SynthesisStage::ResultPoll, resultRequests);
        outcome.resultRequests = resultRequests;
        result = statusRequest(resultUrl);
        lastResponse = Utf8BytesToAnsi(result.body);
    }

    const std::string downloadUrl = TextBetween(lastResponse, "vsriDownurl\":\"", "\"");
    outcome.downloadUrl = downloadUrl;
    if (downloadUrl.empty()) {
        const SynthesisGiveUp reason =
            FindText(lastResponse, ":-1") > 0                ? SynthesisGiveUp::NeverReady
            : FindText(lastResponse, "vsriDownurl\":\"") > 0 ? SynthesisGiveUp::NoDownloadAddress
                                                             : SynthesisGiveUp::SessionRejected;
        return job.GiveUp(result, reason);
    }
    job.Report(SynthesisStage::Download);
    Exchange download = job.Perform({.url = downloadUrl});
    outcome.downloadStatus = download.status;
    // An error page or an empty answer is not audio.
    if (download.status != 200 || download.body.empty() ||
        download.error.kind != HttpError::Kind::None) {
        return job.GiveUp(download, SynthesisGiveUp::NoAudio);
    }
    if (observer.isAudio && !observer.isAudio(download.body)) {
        return job.GiveUp(SynthesisGiveUp::NotAudio);
    }
    return std::move(download.body);
}
