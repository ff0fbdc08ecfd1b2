// ParseSpeakerCategory on any answer body: every field is cut from the converted answer, so
// none is longer than the answer, and the category is one of the five.
#include <cstdint>
#include <string>

#include "service/catalogue.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const int category = static_cast<int8_t>(input.Byte());
    const std::string body = input.Rest();
    for (const SpeakerRecord& record : ParseSpeakerCategory(body, category)) {
        for (const std::string* field : {&record.id, &record.name, &record.picUrl, &record.voxUrl,
                                         &record.param, &record.synCount, &record.insertTime})
            FUZZ_CHECK(field->size() <= body.size());
        FUZZ_CHECK(record.category >= 1 && record.category <= 5);
    }
    return 0;
}
