// The conversions of the user's code page 936 text (a text file, the window) to UTF-8: the
// output is valid UTF-8 at most three bytes per input byte, ASCII comes back unchanged, and
// text without a bad byte converts back to itself.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_input.h"
#include "text/code_page.h"
#include "text/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string content = bytes.substr(0, bytes.find('\0'));

    const std::string utf8 = AnsiTextToUtf8(bytes);
    FUZZ_CHECK(utf8.size() <= content.size() * 3);
    for (size_t i = 0; i < utf8.size();) {
        const Utf8Character character = NextUtf8Character(utf8, i);
        FUZZ_CHECK(character.value >= 0);
        i += character.length;
    }
    bool ascii = true;
    for (const char c : content)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        FUZZ_CHECK(utf8 == content);
    if (utf8.find("\xEF\xBF\xBD") == std::string::npos)
        FUZZ_CHECK(Utf8TextToAnsi(utf8) == content);

    const std::string wide = TextToWide(bytes, kCodePageGbk);
    FUZZ_CHECK(wide.size() % 2 == 0);
    FUZZ_CHECK(WideToText(wide, kCodePageUtf8) == utf8);
    return 0;
}
