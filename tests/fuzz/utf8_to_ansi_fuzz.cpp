// The conversions of answers from the service (UTF-8) to code page 936: both forms agree, the
// output is never longer than the input, ASCII comes back unchanged, and the wide form is
// whole UTF-16 units ending in a zero unit.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_input.h"
#include "text/code_page.h"
#include "text/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string content = bytes.substr(0, bytes.find('\0'));

    const std::string ansi = Utf8TextToAnsi(bytes);
    FUZZ_CHECK(Utf8BytesToAnsi(bytes) == ansi);
    FUZZ_CHECK(ansi.size() <= content.size());
    bool ascii = true;
    for (const char c : content)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        FUZZ_CHECK(ansi == content);
    // What came out is code page 936 that converts back without a bad byte.
    const std::string utf8 = AnsiTextToUtf8(ansi);
    FUZZ_CHECK(utf8.find("\xEF\xBF\xBD") == std::string::npos);

    const std::string wide = TextToWide(bytes);
    FUZZ_CHECK(wide.size() % 2 == 0);
    FUZZ_CHECK(content.empty() ? wide.empty() : wide.ends_with(std::string(2, '\0')));
    FUZZ_CHECK(WideToText(wide, kCodePageAnsi) == ansi);
    return 0;
}
