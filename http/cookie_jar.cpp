#include "http/cookie_jar.h"

#include <string_view>
#include <unordered_set>
#include <vector>

#include "text/text_scan.h"

namespace {

// Removes ASCII spaces and full-width spaces (A1 A1), stepping over double-byte characters so
// that two halves of neighbouring characters are never taken for one.
std::string RemoveSpaces(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = CharacterLength(text, i);
        const bool space = length == 1 ? text[i] == ' ' : text.compare(i, 2, "\xA1\xA1") == 0;
        if (!space) {
            result.append(text, i, length);
        }
        i += length;
    }
    return result;
}

bool EndsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A browser ignores a cookie it would not store (too large, or holding a line break that could
// end the Cookie header line early), and any older cookie of that name stays.
bool IsStorable(const std::string& item) {
    return item.size() <= kMaxCookieItemBytes &&
           item.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

std::vector<std::string> StorableItems(const std::string& text) {
    std::vector<std::string> items = SplitText(text, ";");
    std::erase_if(items, [](const std::string& item) { return !IsStorable(item); });
    return items;
}

// The pieces of text split at separator, each at its first occurrence only, at most limit.
std::vector<std::string> DistinctPieces(const std::string& text, const std::string& separator,
                                        std::size_t limit) {
    std::vector<std::string> kept;
    std::unordered_set<std::string> seen;
    for (std::string& piece : SplitText(text, separator)) {
        if (kept.size() == limit) {
            break;
        }
        if (seen.insert(piece).second) {
            kept.push_back(std::move(piece));
        }
    }
    return kept;
}

std::string JoinPieces(const std::vector<std::string>& pieces, const std::string& separator) {
    std::string result;
    for (const std::string& piece : pieces) {
        result += piece;
        result += separator;
    }
    if (!result.empty()) {
        result.resize(result.size() - separator.size());
    }
    return result;
}

}  // namespace

std::string CookieItemName(const std::string& item) {
    int equals = FindText(item, "=");
    return TrimText(equals < 0 ? item : item.substr(0, equals - 1));
}

std::string DistinctItems(const std::string& text, const std::string& separator) {
    return JoinPieces(DistinctPieces(text, separator, std::string::npos), separator);
}

std::string MergeCookieJar(std::string& jar, std::string& received) {
    jar = RemoveSpaces(jar);
    received = RemoveSpaces(received);

    // Newly set cookies come first and shadow older ones of the same name.
    std::vector<std::string> merged = StorableItems(received);
    std::unordered_set<std::string> names;
    for (const std::string& item : merged) {
        names.insert(CookieItemName(item));
    }
    for (std::string& item : StorableItems(jar)) {
        if (names.insert(CookieItemName(item)).second) {
            merged.push_back(std::move(item));
        }
    }

    std::string text;
    for (const std::string& item : merged) {
        if (!EndsWith(item, "=deleted")) {
            text += item;
            text += "; ";
        }
    }
    if (!text.empty()) {
        text.resize(text.size() - 2);
    }
    // The oldest items are last, so the limit drops them first.
    jar = JoinPieces(DistinctPieces(text, "; ", kMaxCookieItems), "; ");
    return jar;
}
