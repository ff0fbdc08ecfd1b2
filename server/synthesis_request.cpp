#include "server/synthesis_request.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <nlohmann/json.hpp>

#include "server/file_paths.h"
#include "text/utf8.h"

namespace dubserver {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kSecondsMarker = "秒]";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<double> ParseNumber(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The body's numbers are bare, but a quoted number is read too; anything else keeps the default.
double NumberField(const Json& body, const char* key, double fallback) {
    const auto found = body.find(key);
    if (found == body.end()) {
        return fallback;
    }
    if (found->is_number()) {
        return found->get<double>();
    }
    if (found->is_string()) {
        return ParseNumber(found->get<std::string>()).value_or(fallback);
    }
    return fallback;
}

// Out-of-range numbers are no reader id: they take the fallback too.
int IntegerField(const Json& body, const char* key, int fallback) {
    const double value = NumberField(body, key, fallback);
    return value >= -1e9 && value <= 1e9 ? static_cast<int>(value) : fallback;
}

std::string TextField(const Json& body, const char* key) {
    const auto found = body.find(key);
    if (found == body.end()) {
        return {};
    }
    if (found->is_string()) {
        return found->get<std::string>();
    }
    return found->is_number() ? found->dump() : std::string();
}

// The track number in a track address ".../bgvox/401" or ".../files/bgvox/401.mp3".
int TrackIdInAddress(std::string_view address) {
    const std::string_view marker = kTrackPath;
    const size_t at = address.rfind(marker);
    if (at == std::string_view::npos) {
        return 0;
    }
    int id = 0;
    const char* digits = address.data() + at + marker.size();
    std::from_chars(digits, address.data() + address.size(), id);
    return id;
}

int BackgroundIdOf(const Json& body) {
    int id = 0;
    const std::string idText = TextField(body, "bgVoxId");
    const auto [end, error] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
    if (error == std::errc() && end == idText.data() + idText.size() && id > 0) {
        return id;
    }
    return TrackIdInAddress(TextField(body, "bgVoxPath"));
}

// The seconds of the marker that starts at content[at] ("["), with the marker's length.
std::optional<std::pair<double, size_t>> PauseMarkerAt(std::string_view content, size_t at) {
    size_t end = at + 1;
    while (end < content.size() &&
           (std::isdigit(static_cast<unsigned char>(content[end])) || content[end] == '.')) {
        ++end;
    }
    std::string digits(content.substr(at + 1, end - at - 1));
    if (digits.empty() || content.substr(end, kSecondsMarker.size()) != kSecondsMarker) {
        return std::nullopt;
    }
    if (digits.size() > 1 && digits[0] == '0' && digits.find('.') == std::string::npos) {
        digits = "0." + digits.substr(1);
    }
    const std::optional<double> seconds = ParseNumber(digits);
    if (!seconds) {
        return std::nullopt;
    }
    return std::pair{std::min(*seconds, kMaxPauseSeconds), end + kSecondsMarker.size() - at};
}

}  // namespace

std::string PercentDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            decoded.push_back(
                static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

std::vector<ContentPiece> SplitAtPauseMarkers(std::string_view content) {
    std::vector<ContentPiece> pieces;
    std::string text;
    for (size_t i = 0; i < content.size();) {
        if (content[i] == '[') {
            if (const auto marker = PauseMarkerAt(content, i)) {
                if (!text.empty()) {
                    pieces.push_back({std::move(text), 0});
                    text.clear();
                }
                pieces.push_back({{}, marker->first});
                i += marker->second;
                continue;
            }
        }
        text.push_back(content[i]);
        ++i;
    }
    if (!text.empty()) {
        pieces.push_back({std::move(text), 0});
    }
    return pieces;
}

ParsedSubmit ParseSubmitBody(std::string_view body) {
    const Json parsed = Json::parse(body, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        return {std::nullopt, "请求格式错误"};
    }
    DubbingRequest request;
    request.content = PercentDecode(TextField(parsed, "ttsContent"));
    if (CountUtf8Characters(request.content) > kMaxContentCharacters) {
        return {std::nullopt, "合成内容不能超过5000字"};
    }
    if (std::all_of(request.content.begin(), request.content.end(),
                    [](char c) { return std::isspace(static_cast<unsigned char>(c)); })) {
        return {std::nullopt, "合成内容不能为空"};
    }
    request.readerId = IntegerField(parsed, "readerID", 8);
    request.speed = NumberField(parsed, "speed", 50);
    request.pitch = NumberField(parsed, "pitch", 50);
    request.readerVolume = NumberField(parsed, "readerVolume", 0);
    request.backgroundVolume = NumberField(parsed, "volume", 0);
    request.backgroundId = BackgroundIdOf(parsed);
    return {request, {}};
}

}  // namespace dubserver
