// ParseCommandLine on any arguments: a refusal says why and nothing else does, and a service
// origin it accepts is one.
#include <cstdint>
#include <string>

#include "app/command_line.h"
#include "tests/fuzz/fuzz_arguments.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const CommandLine line = ParseCommandLine(FuzzArguments(input.Rest()));
    FUZZ_CHECK((line.action == CommandLine::Action::Refuse) == !line.error.empty());
    if (line.action != CommandLine::Action::Refuse && line.serviceOrigin)
        FUZZ_CHECK(IsServiceOrigin(*line.serviceOrigin));
    if (line.action != CommandLine::Action::Synthesize)
        FUZZ_CHECK(line.subcommandArguments.empty());
    return 0;
}
