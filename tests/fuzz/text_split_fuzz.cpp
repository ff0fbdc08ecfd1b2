// SplitText and TrimText on header lines, cookie texts and answer lists: the pieces and the
// separators between them give the text back; no piece but the first starts inside a
// character; trimming is a piece of the text and a second trim changes nothing.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/character_walk.h"
#include "tests/fuzz/fuzz_input.h"
#include "text/text_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::string separator = input.Text();
    const std::string text = input.Rest();

    const std::vector<std::string> pieces = SplitText(text, separator);
    if (text.empty()) {
        FUZZ_CHECK(pieces.empty());
    } else if (separator.empty()) {
        FUZZ_CHECK(pieces.size() == 1 && pieces[0] == text);
    } else {
        std::string joined;
        for (size_t i = 0; i < pieces.size(); ++i)
            joined += (i == 0 ? "" : separator) + pieces[i];
        FUZZ_CHECK(joined == text || joined + separator == text);
        // Every separator taken out was found where a character starts.
        const std::vector<bool> starts = CharacterStarts(text);
        const size_t separators = pieces.size() - (joined == text ? 1 : 0);
        size_t at = 0;
        for (size_t i = 0; i < separators; ++i) {
            at += pieces[i].size();
            FUZZ_CHECK(starts[at]);
            at += separator.size();
        }
    }

    const std::string trimmed = TrimText(text);
    FUZZ_CHECK(text.find(trimmed) != std::string::npos);
    FUZZ_CHECK(TrimText(trimmed) == trimmed);
    // A space byte is always a character of its own, so none is left at either end.
    FUZZ_CHECK(trimmed.empty() || (trimmed.front() != ' ' && trimmed.back() != ' '));
    return 0;
}
