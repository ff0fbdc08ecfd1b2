#include "app/failure_reason.h"

#include <cerrno>
#include <cstring>

namespace {

const char* const kFailed = "语音合成失败：";

// Short Chinese words for a failed exchange.
std::string TransportCaption(const HttpError& error) {
    switch (error.kind) {
        case HttpError::Kind::NameNotResolved:
        case HttpError::Kind::Refused:
            return "无法连接服务";
        case HttpError::Kind::TimedOut:
        case HttpError::Kind::TooSlow:
            return "服务无应答";
        case HttpError::Kind::TlsRefused:
            return "证书验证失败";
        case HttpError::Kind::TooLarge:
            return "服务返回的内容过大";
        case HttpError::Kind::Aborted:
            return "已取消";
        case HttpError::Kind::CreateFailed:
        case HttpError::Kind::Other:
        case HttpError::Kind::None:
            break;
    }
    return "网络错误";
}

std::string WriteErrorCaption(int errorNumber) {
    switch (errorNumber) {
        case EACCES:
        case EPERM:
            return "权限不足";
        case ENOSPC:
        case EDQUOT:
            return "磁盘空间不足";
        case EROFS:
            return "只读文件系统";
        case ENOENT:
        case ENOTDIR:
            return "文件夹不存在";
        case EISDIR:
            return "这是一个文件夹";
        case ENAMETOOLONG:
            return "文件名过长";
        default:
            return "错误 " + std::to_string(errorNumber);
    }
}

}  // namespace

std::string FailureCaption(const SynthesisOutcome& outcome) {
    switch (outcome.gaveUp) {
        case SynthesisGiveUp::None:
            break;
        case SynthesisGiveUp::Cancelled:
            return "语音合成已取消";
        case SynthesisGiveUp::ExchangeFailed:
            return kFailed + TransportCaption(outcome.error);
        case SynthesisGiveUp::HttpStatus:
            return kFailed + std::string("服务返回错误 ") + std::to_string(outcome.failedStatus);
        case SynthesisGiveUp::NoSuccess:
        case SynthesisGiveUp::EmptySerial:
            return kFailed + std::string("服务未接受任务");
        case SynthesisGiveUp::SessionRejected:
            return kFailed + std::string("会话已失效");
        case SynthesisGiveUp::NeverReady:
            return kFailed + std::string("等待结果超时");
        case SynthesisGiveUp::NoDownloadAddress:
            return kFailed + std::string("服务未给出下载地址");
        case SynthesisGiveUp::NoAudio:
        case SynthesisGiveUp::NotAudio:
            return kFailed + std::string("下载的内容不是音频");
    }
    return kFailed;
}

std::string AuditionFailureCaption(const SampleOutcome& outcome) {
    const std::string failed = "试听失败：";
    switch (outcome.failure) {
        case SampleFailure::None:
            break;
        case SampleFailure::NoAddress:
            return failed + "没有试听地址";
        case SampleFailure::Exchange:
            return failed + TransportCaption(outcome.error);
        case SampleFailure::HttpStatus:
            return failed + "服务返回错误 " + std::to_string(outcome.status);
        case SampleFailure::NotAudio:
            return failed + "下载的内容不是音频";
        case SampleFailure::CacheWrite:
            return failed + "无法写入缓存：" + WriteErrorCaption(outcome.errorNumber);
    }
    return failed;
}

std::string WriteFailureCaption(int errorNumber) {
    return kFailed + std::string("无法写入文件：") + WriteErrorCaption(errorNumber);
}

std::string DescribeStage(SynthesisStage stage, int resultRequest) {
    switch (stage) {
        case SynthesisStage::BackgroundTrack:
            return "the background track request";
        case SynthesisStage::Submit:
            return "the submit";
        case SynthesisStage::FollowUp:
            return "a status request";
        case SynthesisStage::ResultPoll:
            return "result request " + std::to_string(resultRequest);
        case SynthesisStage::Download:
            return "the download";
        case SynthesisStage::None:
            break;
    }
    return "an exchange";
}

std::string DescribeTransportFailure(const HttpError& error) {
    switch (error.kind) {
        case HttpError::Kind::NameNotResolved:
            return "host name not found";
        case HttpError::Kind::Refused:
            return "connection refused (is the service running?)";
        case HttpError::Kind::TimedOut:
            return "timed out";
        case HttpError::Kind::TooSlow:
            return "too slow";
        case HttpError::Kind::TlsRefused:
            return "TLS refused";
        case HttpError::Kind::TooLarge:
            return "answer too large";
        case HttpError::Kind::Aborted:
            return "cancelled";
        case HttpError::Kind::CreateFailed:
        case HttpError::Kind::Other:
        case HttpError::Kind::None:
            break;
    }
    return "failed";
}

std::string DescribeFailure(const SynthesisOutcome& outcome) {
    const std::string where = DescribeStage(outcome.failedStage, outcome.failedRequest);
    switch (outcome.gaveUp) {
        case SynthesisGiveUp::None:
            break;
        case SynthesisGiveUp::Cancelled:
            return "cancelled";
        case SynthesisGiveUp::ExchangeFailed:
            return where + " failed: " + DescribeTransportFailure(outcome.error) + " (" +
                   outcome.error.message + ")";
        case SynthesisGiveUp::HttpStatus:
            return where + " was answered with HTTP status " + std::to_string(outcome.failedStatus);
        case SynthesisGiveUp::NoSuccess:
            return "the service did not accept the job (its answer to the submit was not "
                   "understood)";
        case SynthesisGiveUp::EmptySerial:
            return "the service accepted the job but gave no serial number";
        case SynthesisGiveUp::SessionRejected:
            return "the service rejected the session (result request " +
                   std::to_string(outcome.resultRequests) +
                   " was answered with neither work in progress nor a result)";
        case SynthesisGiveUp::NeverReady:
            return "the job was never ready after " + std::to_string(outcome.resultRequests) +
                   " result requests";
        case SynthesisGiveUp::NoDownloadAddress:
            return "the service reported the job ready but gave no download address";
        case SynthesisGiveUp::NoAudio:
            return "the download was empty";
        case SynthesisGiveUp::NotAudio:
            return "the download is not audio (it does not decode as MP3)";
    }
    return "the service gave no audio";
}

std::string DescribeWriteFailure(int errorNumber) {
    return std::string("the file could not be written: ") + std::strerror(errorNumber);
}

std::string DescribeSampleFailure(const SampleOutcome& outcome) {
    switch (outcome.failure) {
        case SampleFailure::None:
            break;
        case SampleFailure::NoAddress:
            return "the catalogue lists no sample address";
        case SampleFailure::Exchange:
            return "the sample request " + DescribeTransportFailure(outcome.error) + " (" +
                   outcome.error.message + ")";
        case SampleFailure::HttpStatus:
            return "the sample request was answered with HTTP status " +
                   std::to_string(outcome.status);
        case SampleFailure::NotAudio:
            return "the sample is not audio (it does not decode as MP3)";
        case SampleFailure::CacheWrite:
            return "the sample could not be kept in " + SampleCacheFolder() + ": " +
                   std::strerror(outcome.errorNumber);
    }
    return "no sample";
}
