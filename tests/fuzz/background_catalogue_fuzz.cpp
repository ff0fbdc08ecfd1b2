// ParseBackgroundList on any answer body, for the custom list and the category lists: every
// field is cut from the converted answer, so none is longer than the answer.
#include <cstdint>
#include <string>

#include "service/catalogue.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const int list = static_cast<int8_t>(input.Byte());
    const std::string body = input.Rest();
    for (const BackgroundRecord& record : ParseBackgroundList(body, list)) {
        for (const std::string* field :
             {&record.id, &record.name, &record.voxUrl, &record.synCount, &record.insertTime})
            FUZZ_CHECK(field->size() <= body.size());
    }
    return 0;
}
