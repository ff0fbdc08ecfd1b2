#pragma once
// Text scanning and request values. Texts are byte strings in code page 936 (GBK); positions
// are 1-based byte positions, -1 when nothing is found. Searches step over two-byte characters,
// so no search ever matches from a trail byte.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Byte length of the character at index i (i < text.size()): 2 when the byte is a lead byte of
// code page 936 (0x81-0xFE) and the next one a trail byte (0x40-0xFE except 0x7F), otherwise 1.
// A stray high byte therefore stands alone and never takes CR, LF, ";" or any byte below 0x40
// with it.
std::size_t CharacterLength(std::string_view text, std::size_t i);

// Cuts the value between the first leftMarker at or after startPosition and the first
// rightMarker after it. "#引号" inside a marker stands for a double quote.
std::string TextBetween(const std::string& text, const std::string& leftMarker,
                        const std::string& rightMarker, int startPosition = 0,
                        bool ignoreCase = false);

// Finds pattern in text from the 1-based startPosition (1 or less: the beginning), stepping
// over double-byte characters. ignoreCase folds ASCII letters only. Returns the 1-based
// position or -1. An empty pattern is found at startPosition when the searched part is not empty.
int FindText(const std::string& text, const std::string& pattern, int startPosition = 1,
             bool ignoreCase = false);

// Removes ASCII spaces and the full-width space (A1 A1) at both ends; not tabs or line breaks.
std::string TrimText(const std::string& text);

// Pieces between separators: adjacent separators give an empty piece, a final separator no
// extra piece, an empty text no piece; never matched inside a double-byte character.
std::vector<std::string> SplitText(const std::string& text, const std::string& separator);

// Shortest form with up to 13 significant digits; whole numbers without a decimal point.
std::string NumberToText(double value);

// The decimal number a text begins with: leading blanks skipped, optional sign, full-width
// digits count as digits; reading stops at the first character that cannot continue the
// number; 0 when the text begins with no number.
double ReadLeadingNumber(const std::string& text);

// The integer a text begins with (leading blanks, optional sign, decimal digits); 0 when no
// digit follows. Clamped to the 32-bit range.
int32_t ReadLeadingInteger(const std::string& text);

// The local wall-clock time as the request timestamp reads it.
struct LocalDateTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Replaces the clock MakeTimestamp reads; an empty function restores the system's local clock.
void SetLocalClock(std::function<LocalDateTime()> clock);

// Seconds from local 1970-01-01 08:00:00 to now, then three millisecond digits.
std::string MakeTimestamp(bool tenDigits = false);

// Three numbers 1..255 joined by ":".
std::string RandomClientAddress();
