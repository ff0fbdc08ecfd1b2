// The job's reading of the service's answers, with the job's own markers: the serial cut from a
// submit answer and the download address cut from a result answer. A value is a piece of the
// converted answer that follows its left marker and never holds its closing marker where a
// character starts; a quote is never a trail byte, so an address holds none at all.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/character_walk.h"
#include "tests/fuzz/fuzz_input.h"
#include "text/code_page.h"
#include "text/text_scan.h"

namespace {

void CheckValue(const std::string& answer, const std::string& left, const std::string& right) {
    const std::string value = TextBetween(answer, left, right);
    if (value.empty())
        return;
    FUZZ_CHECK(FindText(answer, left) >= 1);
    FUZZ_CHECK(answer.find(value) != std::string::npos);
    const std::vector<bool> starts = CharacterStarts(value);
    for (size_t at = value.find(right); at != std::string::npos; at = value.find(right, at + 1))
        FUZZ_CHECK(!starts[at]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::string body = input.Rest();

    // The submit answer: success is "message":"成功" (code page 936 bytes), then the serial.
    const std::string submit = Utf8TextToAnsi(body);
    FindText(submit, "message\":\"\xB3\xC9\xB9\xA6");
    CheckValue(submit, "serialId\":", "}");

    // The result answer: ":-1" while the audio is being made, then the download address.
    const std::string result = Utf8BytesToAnsi(body);
    FindText(result, ":-1");
    CheckValue(result, "vsriDownurl\":\"", "\"");
    FUZZ_CHECK(TextBetween(result, "vsriDownurl\":\"", "\"").find('"') == std::string::npos);
    return 0;
}
