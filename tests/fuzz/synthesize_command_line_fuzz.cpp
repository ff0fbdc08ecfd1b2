// ParseSynthesizeCommandLine on any arguments, with the standard streams terminals or not: a
// refusal says why and nothing else does; whatever is accepted names an item of each list.
#include <cstdint>
#include <string>

#include "app/command_line.h"
#include "app/synthesize_options.h"
#include "tests/fuzz/fuzz_arguments.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t terminals = input.Byte();
    const StandardStreams streams{.inputIsTerminal = (terminals & 1) != 0,
                                  .outputIsTerminal = (terminals & 2) != 0};
    const SynthesizeCommandLine line =
        ParseSynthesizeCommandLine(FuzzArguments(input.Rest()), streams);
    FUZZ_CHECK((line.action == SynthesizeCommandLine::Action::Refuse) == !line.error.empty());
    if (line.action == SynthesizeCommandLine::Action::Refuse)
        return 0;
    const SynthesizeOptions& options = line.options;
    for (const int level :
         {options.speed, options.pitch, options.voiceVolume, options.backgroundVolume})
        FUZZ_CHECK(level >= 0 && level <= 4);
    FUZZ_CHECK(!options.voiceType || (*options.voiceType >= 1 && *options.voiceType <= 5));
    FUZZ_CHECK(!options.backgroundType ||
               (*options.backgroundType >= 1 && *options.backgroundType <= 10));
    if (options.serviceOrigin)
        FUZZ_CHECK(IsServiceOrigin(*options.serviceOrigin));
    // Help, version, lists and a preview read no text; a synthesis reads exactly one and has
    // somewhere to put the audio.
    if (line.action == SynthesizeCommandLine::Action::Synthesize && !options.preview) {
        FUZZ_CHECK(options.text.has_value() != options.textFile.has_value());
        FUZZ_CHECK(!options.output.empty());
    }
    return 0;
}
