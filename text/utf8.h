#pragma once
// Walking UTF-8 one character at a time: the one decoder the client, the command line and the
// local server share.

#include <cstddef>
#include <string_view>

struct Utf8Character {
    long value;          // the code point, or -1 for a byte that starts no valid sequence
    std::size_t length;  // bytes taken: the sequence's length, or 1 for a bad byte
};

// The character at pos (pos < text.size()). Overlong forms, surrogates, values above U+10FFFF
// and truncated sequences are bad bytes, so a walk always moves forward.
Utf8Character NextUtf8Character(std::string_view text, std::size_t pos);

// Characters in the text; every bad byte counts as one.
std::size_t CountUtf8Characters(std::string_view text);
