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
    // Written into a buffer sized for the worst case: three bytes out for each byte in.
    std::string encoded(bytes.size() * 3, '\0');
    char* out = encoded.data();
    for (const unsigned char c : bytes) {
        if (keepUnreserved && IsUnreserved(c)) {
            *out++ = static_cast<char>(c);
        } else {
            *out++ = '%';
            *out++ = kHex[c >> 4];
            *out++ = kHex[c & 0x0F];
        }
    }
    encoded.resize(static_cast<size_t>(out - encoded.data()));
    return encoded;
}
