#include "text/percent_encoding.h"

#include <gtest/gtest.h>

#include <time.h>

#include <string>

namespace {

struct EncodeCase {
    std::string text;
    bool keepUnreserved;
    bool asUtf8;
    std::string expected;
};

TEST(PercentEncode, KnownAnswers) {
    const EncodeCase cases[] = {
        {"a b", true, true, "a%20b"},
        {"语音", true, true, "%E8%AF%AD%E9%9F%B3"},
        {"语音", true, false, "%D3%EF%D2%F4"},
        {"[1秒]", true, true, "%5B1%E7%A7%92%5D"},
        {"_~", true, true, "%5F%7E"},
        {"A-z.09/", true, true, "A-z.09%2F"},
        {"\r\n", true, true, "%0D%0A"},
        {"\"", true, true, "%22"},
        {"{pitch}", true, true, "%7Bpitch%7D"},
        {"{pitch}", false, true, "%7B%70%69%74%63%68%7D"},
        {"+&=?#%", true, true, "%2B%26%3D%3F%23%25"},
        {"\x01\x7F\xFF", true, false, "%01%7F%FF"},
        {"", true, true, ""},
        {"", false, false, ""},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(c.text + " keepUnreserved=" + std::to_string(c.keepUnreserved) +
                     " asUtf8=" + std::to_string(c.asUtf8));
        EXPECT_EQ(PercentEncode(c.text, c.keepUnreserved, c.asUtf8), c.expected);
    }
}

TEST(PercentEncode, OutputIsSafeInsideJsonString) {
    std::string everyByte;
    for (int b = 1; b < 256; ++b)
        everyByte += static_cast<char>(b);
    for (const bool asUtf8 : {false, true}) {
        const std::string encoded = PercentEncode(everyByte, true, asUtf8);
        ASSERT_FALSE(encoded.empty());
        for (const char c : encoded) {
            const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                 (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '%';
            EXPECT_TRUE(allowed) << "byte " << static_cast<int>(static_cast<unsigned char>(c));
        }
    }
}

// Ten megabytes of bytes that are no GBK character: each becomes the three bytes of U+FFFD,
// encoded, in time proportional to the input (generous bound; the benchmark has the figure).
TEST(PercentEncode, TenMegabytesOfInvalidBytesInLinearTime) {
    constexpr size_t kBytes = 10u << 20;
    timespec start{};
    timespec end{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    const std::string encoded = PercentEncode(std::string(kBytes, '\xFF'), true, true);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    ASSERT_EQ(encoded.size(), kBytes * 9);
    EXPECT_EQ(encoded.substr(0, 18), "%EF%BF%BD%EF%BF%BD");
    EXPECT_EQ(encoded.substr(encoded.size() - 9), "%EF%BF%BD");
    EXPECT_LT(static_cast<double>(end.tv_sec - start.tv_sec) +
                  static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9,
              5.0);
}

}  // namespace
