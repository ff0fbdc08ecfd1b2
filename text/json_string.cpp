#include "text/json_string.h"

#include "text/code_page.h"
#include "text/text_scan.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendUnicodeEscape(std::string& out, unsigned unit) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += kHex[(unit >> shift) & 0xF];
}

}  // namespace

std::string JsonEscape(const std::string& text) {
    // Escaping works on the characters a decoder sees. A stray lead byte would otherwise pair
    // with the escaping backslash after it and unescape the quote that follows; in UTF-8 no
    // byte of a longer character is ever ASCII, so escaping there is exact.
    const std::string utf8 = AnsiTextToUtf8(text);
    std::string escaped;
    escaped.reserve(utf8.size());
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            escaped += '\\';
            escaped += c;
        } else if (byte < 0x20) {
            AppendUnicodeEscape(escaped, byte);
        } else {
            escaped += c;
        }
    }
    const std::string gbk = Utf8TextToAnsi(escaped);

    std::string result;
    result.reserve(gbk.size());
    for (size_t i = 0; i < gbk.size();) {
        const size_t length = CharacterLength(gbk, i);
        if (length == 2 && gbk[i + 1] == '\\') {
            const std::string wide = TextToWide(gbk.substr(i, 2), kCodePageGbk);
            AppendUnicodeEscape(
                result, static_cast<unsigned char>(wide[0]) |
                            static_cast<unsigned>(static_cast<unsigned char>(wide[1])) << 8);
        } else {
            result.append(gbk, i, length);
        }
        i += length;
    }
    return result;
}
