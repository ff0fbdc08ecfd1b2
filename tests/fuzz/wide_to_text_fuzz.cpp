// WideToText on any UTF-16 units, lone surrogates included: UTF-8 output is valid and at most
// three bytes per unit, code page 936 output at most two.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_input.h"
#include "text/code_page.h"
#include "text/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string wide(reinterpret_cast<const char*>(data), size);
    const size_t units = size / 2;

    const std::string utf8 = WideToText(wide, kCodePageUtf8);
    FUZZ_CHECK(utf8.size() <= units * 3);
    for (size_t i = 0; i < utf8.size();) {
        const Utf8Character character = NextUtf8Character(utf8, i);
        FUZZ_CHECK(character.value >= 0);
        i += character.length;
    }
    const std::string gbk = WideToText(wide, kCodePageGbk);
    FUZZ_CHECK(gbk.size() <= units * 2);
    FUZZ_CHECK(Utf8TextToAnsi(utf8) == gbk);
    return 0;
}
