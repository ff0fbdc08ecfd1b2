#include "app/json_text.h"

#include <cstdio>

#include "text/utf8.h"

std::string JsonStringFromUtf8(const std::string& utf8) {
    std::string json = "\"";
    json.reserve(utf8.size() + 2);
    for (std::size_t pos = 0; pos < utf8.size();) {
        const auto [value, length] = NextUtf8Character(utf8, pos);
        if (value < 0) {
            json += "\\uFFFD";
        } else if (value == '"' || value == '\\') {
            json += '\\';
            json += static_cast<char>(value);
        } else if (value == '\n') {
            json += "\\n";
        } else if (value == '\r') {
            json += "\\r";
        } else if (value == '\t') {
            json += "\\t";
        } else if (value < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04lX", value);
            json += escaped;
        } else {
            json.append(utf8, pos, length);
        }
        pos += length;
    }
    return json + "\"";
}
