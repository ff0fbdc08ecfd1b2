#pragma once
// Putting code page 936 texts into JSON string values.

#include <string>

// The text escaped for use between the double quotes of a JSON string: '"' and '\' get a
// backslash and control characters (below 0x20) become \u00XX; other characters stay as they
// are, so an ordinary value comes out unchanged. Two kinds of characters are rewritten so that
// a parser reading code page 936 and one reading bytes see the same value: bytes that are no
// character become "?" (as any conversion of them would), and a character whose trail byte is
// '\' is written \uXXXX. The text ends at its first zero byte.
std::string JsonEscape(const std::string& text);
