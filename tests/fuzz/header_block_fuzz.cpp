// NormalizeHeaderBlock of a caller's header text: every line of the result has a colon, none
// is empty, the block does not end in CR LF, it is no longer than the input, and normalising it
// again changes nothing.
#include <cstdint>
#include <string>

#include "http/header_block.h"
#include "tests/fuzz/fuzz_input.h"
#include "text/text_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string block(reinterpret_cast<const char*>(data), size);
    const std::string normalized = NormalizeHeaderBlock(block);

    FUZZ_CHECK(normalized.size() <= block.size());
    FUZZ_CHECK(!normalized.ends_with("\r\n"));
    for (const std::string& line : SplitText(normalized, "\r\n")) {
        FUZZ_CHECK(!line.empty());
        FUZZ_CHECK(FindText(line, ":") > 0);
    }
    FUZZ_CHECK(NormalizeHeaderBlock(normalized) == normalized);
    return 0;
}
