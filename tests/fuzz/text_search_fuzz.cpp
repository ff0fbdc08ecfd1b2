// FindText and TextBetween on answer text: a match starts on a character boundary, at or after
// the start position, holds the pattern, and is the first such place; a cut value is a piece
// of the text.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/character_walk.h"
#include "tests/fuzz/fuzz_input.h"
#include "text/text_scan.h"

namespace {

char Fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The pattern at index at as a caseless search compares it: single-byte characters fold, the
// bytes of a two-byte character compare exactly.
bool MatchesAt(const std::string& text, size_t at, const std::string& pattern, bool ignoreCase) {
    if (text.size() - at < pattern.size())
        return false;
    for (size_t j = 0; j < pattern.size();) {
        const size_t length = CharacterLength(text, at + j);
        for (size_t k = 0; k < length && j + k < pattern.size(); ++k) {
            const char t = text[at + j + k];
            const char p = pattern[j + k];
            if (length == 1 && ignoreCase ? Fold(t) != Fold(p) : t != p)
                return false;
        }
        j += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const bool ignoreCase = (flags & 1) != 0;
    const int startPosition = static_cast<int8_t>(input.Byte());
    const std::string left = input.Text();
    const std::string right = input.Text();
    const std::string text = input.Rest();

    const std::vector<bool> starts = CharacterStarts(text);
    const size_t from = startPosition <= 1 ? 0 : static_cast<size_t>(startPosition - 1);
    int expected = -1;
    for (size_t i = from; i < text.size(); ++i) {
        if (starts[i] && MatchesAt(text, i, left, ignoreCase)) {
            expected = static_cast<int>(i + 1);
            break;
        }
    }
    FUZZ_CHECK(FindText(text, left, startPosition, ignoreCase) == expected);

    const std::string value = TextBetween(text, left, right, startPosition, ignoreCase);
    FUZZ_CHECK(value.size() <= text.size());
    FUZZ_CHECK(value.empty() || text.find(value) != std::string::npos);
    return 0;
}
