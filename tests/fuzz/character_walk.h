#pragma once
// The character boundaries of a code page 936 text, walked from its first byte: the reference
// the search harnesses hold the searches to.

#include <cstddef>
#include <string>
#include <vector>

#include "text/text_scan.h"

inline std::vector<bool> CharacterStarts(const std::string& text) {
    std::vector<bool> starts(text.size() + 1, false);
    for (size_t i = 0; i < text.size(); i += CharacterLength(text, i))
        starts[i] = true;
    starts[text.size()] = true;
    return starts;
}
