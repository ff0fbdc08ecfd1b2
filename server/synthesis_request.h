#pragma once
// Reading a synthesis submit: the JSON body the client fills from its template, the
// percent-encoded text in it, and the pause markers inside that text.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dubserver {

// Longer texts are refused: no job of the server grows without bound. Characters are counted
// as CountUtf8Characters does.
inline constexpr size_t kMaxContentCharacters = 5000;

struct DubbingRequest {
    std::string content;  // UTF-8, percent-decoded, pause markers still in it
    int readerId = 8;
    double speed = 50;        // 40 to 80, 50 normal
    double pitch = 50;        // 30 to 70, 50 normal
    double readerVolume = 0;  // -5 to 15
    double backgroundVolume = 0;
    int backgroundId = 0;  // 0: no background track
};

struct ParsedSubmit {
    std::optional<DubbingRequest> request;
    std::string error;  // why there is no request (UTF-8, for the answer's message)
};

ParsedSubmit ParseSubmitBody(std::string_view body);

// "%XX" becomes the byte 0xXX; a "%" without two hexadecimal digits stays as it is.
std::string PercentDecode(std::string_view text);

// A piece of the content: text to speak, or a pause (text empty).
struct ContentPiece {
    std::string text;
    double pauseSeconds = 0;

    bool operator==(const ContentPiece&) const = default;
};

// Splits the content at pause markers: "[" digits "秒" "]", where digits may carry a decimal
// point and a leading zero stands for one (so "[05秒]" is half a second). A single pause is
// at most kMaxPauseSeconds. Anything else in brackets is text.
inline constexpr double kMaxPauseSeconds = 60;
std::vector<ContentPiece> SplitAtPauseMarkers(std::string_view content);

}  // namespace dubserver
