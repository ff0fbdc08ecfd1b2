// PercentEncode of the user's text: the output holds only unreserved bytes and %XX escapes,
// and decodes back to the bytes that were encoded.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_input.h"
#include "text/code_page.h"
#include "text/percent_encoding.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const bool keepUnreserved = (flags & 1) != 0;
    const bool asUtf8 = (flags & 2) != 0;
    const std::string text = input.Rest();

    const std::string encoded = PercentEncode(text, keepUnreserved, asUtf8);
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%') {
            FUZZ_CHECK(i + 2 < encoded.size());
            const int high = HexValue(encoded[i + 1]);
            const int low = HexValue(encoded[i + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            decoded += static_cast<char>(high << 4 | low);
            i += 2;
        } else {
            const char c = encoded[i];
            FUZZ_CHECK(keepUnreserved);
            FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.');
            decoded += c;
        }
    }
    const std::string content = text.substr(0, text.find('\0'));
    FUZZ_CHECK(decoded == (asUtf8 ? AnsiTextToUtf8(text) : content));
    return 0;
}
