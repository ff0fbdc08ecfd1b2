// ParseServerCommandLine on any arguments: when nothing is refused, every number is within the
// bounds the server takes.
#include <cstdint>
#include <string>

#include "server/command_line.h"
#include "server/misbehaviour.h"
#include "tests/fuzz/fuzz_arguments.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const ServerCommandLine line = ParseServerCommandLine(FuzzArguments(input.Rest()));
    if (!line.error.empty())
        return 0;
    FUZZ_CHECK(line.port >= 0 && line.port <= 65535);
    FUZZ_CHECK(line.options.busyPolls >= 0 && line.options.busyPolls <= 1000);
    const ServerMisbehaviour& misbehaviour = line.options.misbehaviour;
    FUZZ_CHECK(misbehaviour.delayMs >= 0 && misbehaviour.delayMs <= kMaxDelayMs);
    return 0;
}
