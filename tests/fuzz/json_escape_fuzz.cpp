// JsonEscape of catalogue values: read byte by byte, the result has no control byte, no bare
// quote and only backslashes that start \" \\ or \uXXXX; it is valid code page 936; and
// unescaped it gives the value as a conversion would read it.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_input.h"
#include "text/code_page.h"
#include "text/json_string.h"

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string escaped = JsonEscape(text);

    size_t escapes = 0;
    for (size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
        FUZZ_CHECK(c != '"');
        if (c != '\\')
            continue;
        FUZZ_CHECK(i + 1 < escaped.size());
        const char kind = escaped[i + 1];
        if (kind == 'u') {
            FUZZ_CHECK(i + 5 < escaped.size());
            for (size_t k = i + 2; k < i + 6; ++k)
                FUZZ_CHECK(IsHexDigit(escaped[k]));
            i += 5;
        } else {
            FUZZ_CHECK(kind == '"' || kind == '\\');
            i += 1;
        }
        ++escapes;
    }
    // Valid code page 936: nothing converts to U+FFFD.
    const std::string utf8 = AnsiTextToUtf8(escaped);
    FUZZ_CHECK(utf8.find("\xEF\xBF\xBD") == std::string::npos);
    // Text without anything to escape comes out as it went in.
    if (escapes == 0 && AnsiTextToUtf8(text).find("\xEF\xBF\xBD") == std::string::npos)
        FUZZ_CHECK(escaped == text.substr(0, text.find('\0')));
    return 0;
}
