#include "http/base64.h"

#include <gtest/gtest.h>

namespace {

struct Vector {
    std::string bytes;
    std::string encoded;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const Vector& c, std::ostream* os) {
    *os << "\"" + c.encoded + "\"";
}

class Base64EncodeTest : public ::testing::TestWithParam<Vector> {};

TEST_P(Base64EncodeTest, EncodesKnownAnswer) {
    EXPECT_EQ(Base64Encode(GetParam().bytes), GetParam().encoded);
}

// RFC 4648 section 10, then bytes that reach the last letters of the alphabet and the high half
// of a byte (a signed char shifted as a number would garble these).
INSTANTIATE_TEST_SUITE_P(Rfc4648AndBinary, Base64EncodeTest,
                         ::testing::Values(Vector{"", ""}, Vector{"f", "Zg=="},
                                           Vector{"fo", "Zm8="}, Vector{"foo", "Zm9v"},
                                           Vector{"foob", "Zm9vYg=="}, Vector{"fooba", "Zm9vYmE="},
                                           Vector{"foobar", "Zm9vYmFy"}, Vector{"\xfb\xff", "+/8="},
                                           Vector{"\xff\xfe\xfd", "//79"},
                                           Vector{std::string("\0\0\0\0", 4), "AAAAAA=="},
                                           Vector{"user:pa\xC3\xA9ss", "dXNlcjpwYcOpc3M="}));

TEST(Base64Encode, LongInputHasNoLineBreaks) {
    std::string encoded = Base64Encode(std::string(300, 'x'));
    EXPECT_EQ(encoded.size(), 400u);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
}

}  // namespace
