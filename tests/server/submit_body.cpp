#include "tests/server/submit_body.h"

std::string SubmitBody(const std::string& content, const SubmitFields& fields) {
    return "{\"bgVoxId\":\"" + fields.bgId + "\",\"bgVoxPath\":\"" + fields.bgPath +
           "\",\"readerID\":" + fields.readerId +
           ",\"duration\":\"\",\"isStatistics\":1,\"openId\":\"\",\"speed\":" + fields.speed +
           ",\"title\":\"\",\"ttsContent\":\"" + content +
           "\",\"unionId\":\"\",\"volume\":" + fields.volume +
           ",\"way\":2,\"readerVolume\":" + fields.readerVolume + ",\"pitch\":" + fields.pitch +
           ",\"bgVoxType\":1,\"ipAddress\":\"17.203.8.9\"}";
}

std::string Repeated(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}
