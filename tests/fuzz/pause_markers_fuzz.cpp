// SplitAtPauseMarkers on any content: text pieces are never empty and never follow each other,
// a pause lasts from 0 to the longest pause, markers only take bytes away, and a content
// without "[" is one text piece as it is.
#include <cstdint>
#include <string>
#include <vector>

#include "server/synthesis_request.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::string content = input.Rest();

    const std::vector<dubserver::ContentPiece> pieces = dubserver::SplitAtPauseMarkers(content);
    size_t textBytes = 0;
    bool lastWasText = false;
    for (const dubserver::ContentPiece& piece : pieces) {
        if (piece.text.empty()) {
            FUZZ_CHECK(piece.pauseSeconds >= 0 &&
                       piece.pauseSeconds <= dubserver::kMaxPauseSeconds);
            lastWasText = false;
        } else {
            FUZZ_CHECK(piece.pauseSeconds == 0);
            FUZZ_CHECK(!lastWasText);
            FUZZ_CHECK(content.find(piece.text) != std::string::npos);
            textBytes += piece.text.size();
            lastWasText = true;
        }
    }
    FUZZ_CHECK(textBytes <= content.size());
    if (content.find('[') == std::string::npos) {
        FUZZ_CHECK(content.empty() ? pieces.empty()
                                   : pieces.size() == 1 && pieces[0].text == content);
    }
    return 0;
}
