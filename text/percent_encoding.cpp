#include "text/percent_encoding.h"

#include "text/code_page.h"

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

}  // namespace

std::string PercentEncode(const std::string& text, bool keepUnreserved, bool asUtf8) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::string bytes = asUtf8 ? AnsiTextToUtf8(text) : text.substr(0, text.find('\0'));
    std::string encoded;
    encoded.reserve(bytes.size() * 3);
    for (const unsigned char c : bytes) {
        if (keepUnreserved && IsUnreserved(c)) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}
