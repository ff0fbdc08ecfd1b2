// ParseSubmitBody and PercentDecode on any submit body: a request comes without an error and a
// refusal with one; an accepted content is never longer than the body, holds at most the
// allowed characters and is not blank; decoding never grows a text, and decoding every byte
// written as "%XX" gives the bytes back.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>

#include "server/synthesis_request.h"
#include "tests/fuzz/fuzz_input.h"
#include "text/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::string body = input.Rest();

    const dubserver::ParsedSubmit parsed = dubserver::ParseSubmitBody(body);
    FUZZ_CHECK(parsed.request.has_value() == parsed.error.empty());
    if (parsed.request) {
        const std::string& content = parsed.request->content;
        // JSON escapes and percent escapes are both longer than what they stand for; only a
        // number given as the content is written out afresh, and may grow by its digits (-5e22
        // becomes -4.9999999999999996e+22).
        FUZZ_CHECK(content.size() <= body.size() + 24);
        FUZZ_CHECK(CountUtf8Characters(content) <= dubserver::kMaxContentCharacters);
        bool blank = true;
        for (const char c : content)
            blank = blank && std::isspace(static_cast<unsigned char>(c));
        FUZZ_CHECK(!blank);
    }

    FUZZ_CHECK(dubserver::PercentDecode(body).size() <= body.size());
    std::string encoded;
    for (const char c : body) {
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
        encoded += escape;
    }
    FUZZ_CHECK(dubserver::PercentDecode(encoded) == body);
    return 0;
}
