#include "http/cookie_jar.h"

#include <algorithm>
#include <vector>

#include "text/text_scan.h"

namespace {

// Removes ASCII spaces and full-width spaces (A1 A1), stepping over double-byte characters so
// that two halves of neighbouring characters are never taken for one.
std::string RemoveSpaces(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80 && i + 1 < text.size()) {
            if (!(byte == 0xA1 && static_cast<unsigned char>(text[i + 1]) == 0xA1)) {
                result.append(text, i, 2);
            }
            ++i;
        } else if (byte != ' ') {
            result += text[i];
        }
    }
    return result;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::string CookieItemName(const std::string& item) {
    int equals = FindText(item, "=");
    return TrimText(equals < 0 ? item : item.substr(0, equals - 1));
}

std::string DistinctItems(const std::string& text, const std::string& separator) {
    std::vector<std::string> kept;
    for (const std::string& piece : SplitText(text, separator)) {
        if (std::find(kept.begin(), kept.end(), piece) == kept.end()) {
            kept.push_back(piece);
        }
    }
    std::string result;
    for (const std::string& piece : kept) {
        result += piece + separator;
    }
    if (!result.empty()) {
        result.resize(result.size() - separator.size());
    }
    return result;
}

std::string MergeCookieJar(std::string& jar, std::string& received) {
    jar = RemoveSpaces(jar);
    received = RemoveSpaces(received);

    // Newly set cookies come first and shadow older ones of the same name.
    std::vector<std::string> merged = SplitText(received, ";");
    std::vector<std::string> names;
    for (const std::string& item : merged) {
        names.push_back(CookieItemName(item));
    }
    for (const std::string& item : SplitText(jar, ";")) {
        std::string name = CookieItemName(item);
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            merged.push_back(item);
            names.push_back(name);
        }
    }

    std::string text;
    for (const std::string& item : merged) {
        if (!EndsWith(item, "=deleted")) {
            text += item + "; ";
        }
    }
    if (!text.empty()) {
        text.resize(text.size() - 2);
    }
    jar = DistinctItems(text, "; ");
    return jar;
}
