#pragma once
// Reading one fuzz input as fields, and checking a property of the result. Shared by every
// harness in this folder; a harness defines LLVMFuzzerTestOneInput and nothing else.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// The input as a sequence of fields: Byte() takes one byte, Text() a piece whose length is the
// next byte, LongText() one whose length is the next two bytes, Rest() whatever is left. A field
// past the end is zero or empty, so every input is read without failing.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

    std::string Text() { return Take(Byte()); }

    std::string LongText() {
        const size_t high = Byte();
        return Take(high << 8 | Byte());
    }

    std::string Rest() { return Take(size_ - at_); }

  private:
    std::string Take(size_t length) {
        const size_t taken = length < size_ - at_ ? length : size_ - at_;
        std::string piece(reinterpret_cast<const char*>(data_) + at_, taken);
        at_ += taken;
        return piece;
    }

    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A property that must hold for every input; a violation stops the run like a crash does, so
// the fuzzer keeps the input and the replay test fails.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)
