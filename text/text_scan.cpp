#include "text/text_scan.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <random>

namespace {

bool IsLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

bool IsTrailByte(unsigned char c) {
    return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compares pattern with text at index at, a character boundary; only single-byte characters
// fold case, so the trail byte of a double-byte character always compares exactly.
bool MatchesAt(const std::string& text, size_t at, const std::string& pattern, bool ignoreCase) {
    if (text.size() - at < pattern.size())
        return false;
    if (!ignoreCase)
        return std::memcmp(text.data() + at, pattern.data(), pattern.size()) == 0;
    for (size_t j = 0; j < pattern.size();) {
        const size_t length = CharacterLength(text, at + j);
        if (length == 1) {
            if (FoldAscii(text[at + j]) != FoldAscii(pattern[j]))
                return false;
        } else if (text.compare(at + j, std::min(length, pattern.size() - j), pattern, j,
                                std::min(length, pattern.size() - j)) != 0) {
            return false;
        }
        j += length;
    }
    return true;
}

bool IsBlankAt(const std::string& text, size_t i, size_t length) {
    if (length == 1)
        return text[i] == ' ';
    return text.compare(i, 2, "\xA1\xA1") == 0;
}

std::mutex clockMutex;
std::function<LocalDateTime()> localClock;

LocalDateTime SystemLocalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return {.year = local.tm_year + 1900,
            .month = local.tm_mon + 1,
            .day = local.tm_mday,
            .hour = local.tm_hour,
            .minute = local.tm_min,
            .second = local.tm_sec,
            .millisecond = static_cast<int>(now.tv_nsec / 1'000'000)};
}

// Days since 1970-01-01 of a proleptic Gregorian date (the usual days-from-civil arithmetic).
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The first character boundary at or after index at, knowing that index known (<= at) is one.
// Only the bytes just before `at` need reading: a byte that can be no trail byte is a character
// of its own, so the index after it is a boundary; from there the characters are walked forward.
size_t BoundaryAtOrAfter(const std::string& text, size_t known, size_t at) {
    if (at >= text.size())
        return text.size();
    size_t boundary = at;
    while (boundary > known && IsTrailByte(static_cast<unsigned char>(text[boundary - 1])))
        --boundary;
    while (boundary < at)
        boundary += CharacterLength(text, boundary);
    return boundary;
}

// The next index at or after from whose byte can begin a match of a pattern starting with
// first; last is the final index a match can begin at.
size_t NextCandidate(const std::string& text, size_t from, size_t last, char first,
                     bool ignoreCase) {
    if (!ignoreCase) {
        const void* hit = std::memchr(text.data() + from, first, last + 1 - from);
        return hit != nullptr ? static_cast<size_t>(static_cast<const char*>(hit) - text.data())
                              : std::string::npos;
    }
    const char folded = FoldAscii(first);
    for (size_t i = from; i <= last; ++i)
        if (FoldAscii(text[i]) == folded)
            return i;
    return std::string::npos;
}

// Searches from index from, which must be a character boundary; returns the 1-based position.
// Only bytes equal to the pattern's first byte are tried, each after checking that it begins a
// character; the known boundary moves forward with the candidates, so every byte is looked at
// a bounded number of times.
int FindFromBoundary(const std::string& text, const std::string& pattern, size_t from,
                     bool ignoreCase) {
    if (from >= text.size())
        return -1;
    if (pattern.empty())
        return static_cast<int>(from + 1);
    if (text.size() - from < pattern.size())
        return -1;
    const size_t last = text.size() - pattern.size();
    size_t boundary = from;
    while (boundary <= last) {
        const size_t candidate = NextCandidate(text, boundary, last, pattern[0], ignoreCase);
        if (candidate == std::string::npos)
            return -1;
        boundary = BoundaryAtOrAfter(text, boundary, candidate);
        if (boundary != candidate)
            continue;  // a trail byte
        if (MatchesAt(text, candidate, pattern, ignoreCase))
            return static_cast<int>(candidate + 1);
        boundary += CharacterLength(text, candidate);
    }
    return -1;
}

}  // namespace

size_t CharacterLength(std::string_view text, size_t i) {
    return i + 1 < text.size() && IsLeadByte(static_cast<unsigned char>(text[i])) &&
                   IsTrailByte(static_cast<unsigned char>(text[i + 1]))
               ? 2
               : 1;
}

int FindText(const std::string& text, const std::string& pattern, int startPosition,
             bool ignoreCase) {
    const size_t start = startPosition <= 1 ? 0 : static_cast<size_t>(startPosition - 1);
    return FindFromBoundary(text, pattern, BoundaryAtOrAfter(text, 0, start), ignoreCase);
}

std::string TextBetween(const std::string& text, const std::string& leftMarker,
                        const std::string& rightMarker, int startPosition, bool ignoreCase) {
    const auto unquote = [](std::string marker) {
        // "#引号" in code page 936, written as bytes so that the file means the same to any
        // compiler whatever its execution character set.
        static const std::string quoteWord = "#\xD2\xFD\xBA\xC5";
        for (int at = FindText(marker, quoteWord); at != -1;
             at = FindText(marker, quoteWord, at + 1))
            marker.replace(static_cast<size_t>(at - 1), quoteWord.size(), "\"");
        return marker;
    };
    const std::string left = unquote(leftMarker);
    const std::string right = unquote(rightMarker);

    const int leftAt = FindText(text, left, startPosition, ignoreCase);
    if (leftAt == -1)
        return {};
    const int valueAt = leftAt + static_cast<int>(left.size());
    const int rightAt = FindText(text, right, valueAt, ignoreCase);
    if (rightAt == -1)
        return {};
    return text.substr(static_cast<size_t>(valueAt - 1), static_cast<size_t>(rightAt - valueAt));
}

std::string TrimText(const std::string& text) {
    size_t begin = text.size();
    size_t end = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t length = CharacterLength(text, i);
        if (!IsBlankAt(text, i, length)) {
            begin = std::min(begin, i);
            end = i + length;
        }
        i += length;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string();
}

std::vector<std::string> SplitText(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    if (text.empty())
        return pieces;
    if (separator.empty())
        return {text};
    size_t start = 0;
    size_t known = 0;  // a character boundary at or before start: where the last match began
    while (start < text.size()) {
        // A separator that ends inside a character leaves the rest of it to the next piece; the
        // search goes on from the next character boundary.
        const int at =
            FindFromBoundary(text, separator, BoundaryAtOrAfter(text, known, start), false);
        if (at == -1) {
            pieces.push_back(text.substr(start));
            break;
        }
        known = static_cast<size_t>(at - 1);
        pieces.push_back(text.substr(start, known - start));
        start = known + separator.size();
    }
    return pieces;
}

std::string NumberToText(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.13g", value);
    const double rounded = std::strtod(buffer, nullptr);
    // %g switches to an exponent from 13 integer digits on; whole numbers stay plain digits.
    if (std::isfinite(rounded) && rounded == std::trunc(rounded) && std::fabs(rounded) < 1e21) {
        std::snprintf(buffer, sizeof buffer, "%.0f", rounded == 0 ? 0.0 : rounded);
    }
    return buffer;
}

double ReadLeadingNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    // The accepted prefix, in ASCII, so strtod reads exactly what this function accepts.
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        number += text[i++];
    bool seenPoint = false;
    bool seenDigit = false;
    while (i < text.size()) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            number += c;
            seenDigit = true;
            ++i;
        } else if (c == '\xA3' && i + 1 < text.size() && text[i + 1] >= '\xB0' &&
                   text[i + 1] <= '\xB9') {
            number += static_cast<char>('0' + (text[i + 1] - '\xB0'));
            seenDigit = true;
            i += 2;
        } else if (c == '.' && !seenPoint) {
            number += c;
            seenPoint = true;
            ++i;
        } else {
            break;
        }
    }
    return seenDigit ? std::strtod(number.c_str(), nullptr) : 0.0;
}

int32_t ReadLeadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min(kLimit, magnitude * 10 + (text[i] - '0'));
    const int64_t value = negative ? -magnitude : magnitude;
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

void SetLocalClock(std::function<LocalDateTime()> clock) {
    const std::lock_guard lock(clockMutex);
    localClock = std::move(clock);
}

std::string MakeTimestamp(bool tenDigits) {
    std::function<LocalDateTime()> clock;
    {
        const std::lock_guard lock(clockMutex);
        clock = localClock;
    }
    const LocalDateTime now = clock ? clock() : SystemLocalTime();
    // Seconds between two local wall-clock readings: plain calendar arithmetic, so the
    // machine's time zone never enters.
    const int64_t seconds = DaysFromCivil(now.year, now.month, now.day) * 86400 + now.hour * 3600 +
                            now.minute * 60 + now.second - 8 * 3600;
    char millis[8];
    std::snprintf(millis, sizeof millis, "%03d", std::clamp(now.millisecond, 0, 999));
    std::string stamp = std::to_string(seconds) + millis;
    const size_t width = tenDigits ? 10 : 13;
    if (tenDigits && stamp.size() > width)
        stamp.resize(width);
    if (stamp.size() < width)
        stamp.append(width - stamp.size(), '0');
    return stamp;
}

std::string RandomClientAddress() {
    static std::atomic<uint32_t> reseeds{0};
    // <chrono> cannot be compiled with the GBK execution charset (it holds a "µs" literal).
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t ticks = int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
    std::seed_seq seed{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32),
                       reseeds.fetch_add(1, std::memory_order_relaxed)};
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> part(1, 255);
    const int a = part(generator);
    const int b = part(generator);
    const int c = part(generator);
    return std::to_string(a) + ":" + std::to_string(b) + ":" + std::to_string(c);
}
