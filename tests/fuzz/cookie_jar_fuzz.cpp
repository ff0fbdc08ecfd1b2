// MergeCookieJar of a jar and the cookies an answer set: the jar stays within its limits, holds
// no space, no line break, no repeated item and no "=deleted" item, and the received text
// loses only its spaces.
#include <cstdint>
#include <string>
#include <unordered_set>

#include "http/cookie_jar.h"
#include "tests/fuzz/fuzz_input.h"
#include "text/text_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    std::string jar = input.LongText();
    std::string received = input.Rest();
    const size_t receivedSize = received.size();

    const std::string merged = MergeCookieJar(jar, received);
    FUZZ_CHECK(jar == merged);
    FUZZ_CHECK(received.size() <= receivedSize);
    // A space byte is always a character of its own, so every one is gone.
    FUZZ_CHECK(received.find(' ') == std::string::npos);
    FUZZ_CHECK(merged.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);

    std::unordered_set<std::string> seen;
    for (const std::string& item : SplitText(merged, "; ")) {
        FUZZ_CHECK(item.size() <= kMaxCookieItemBytes);
        FUZZ_CHECK(item.find(' ') == std::string::npos);
        FUZZ_CHECK(!item.ends_with("=deleted"));
        FUZZ_CHECK(seen.insert(item).second);
        CookieItemName(item);
    }
    FUZZ_CHECK(seen.size() <= kMaxCookieItems);
    return 0;
}
