#include "text/json_string.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <string_view>

#include "text/code_page.h"

namespace {

// UTF-8 bytes of a u8 literal as a narrow byte string.
std::string Utf8(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

struct EscapeCase {
    std::string name;
    std::string text;
    std::string escaped;
    std::string parsed;  // UTF-8: the value a JSON parser reads from the escaped text
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
    *os << c.name;
}

class JsonEscapeTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscapeTest, EscapesOnlyWhatJsonRequires) {
    EXPECT_EQ(JsonEscape(GetParam().text), GetParam().escaped);
}

// A body holding the escaped value, in UTF-8 as a parser reads it, is JSON, and its one field
// holds the value.
TEST_P(JsonEscapeTest, ParsesAsJsonWithTheValue) {
    const std::string body =
        "{\"bjyy\":\"" + AnsiTextToUtf8(JsonEscape(GetParam().text)) + "\",\"bjid\":\"7\"}";
    const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << body;
    EXPECT_EQ(parsed["bjyy"].get<std::string>(), GetParam().parsed);
    EXPECT_EQ(parsed["bjid"].get<std::string>(), "7");
    EXPECT_EQ(parsed.size(), 2u);
}

// "箋" ends in '{' and "誠" (U+8AA0) in '\'.
INSTANTIATE_TEST_SUITE_P(
    Values, JsonEscapeTest,
    testing::Values(
        EscapeCase{"OrdinaryAddressUnchanged", "http://127.0.0.1:8017/bg/3.mp3?a=1&b=2",
                   "http://127.0.0.1:8017/bg/3.mp3?a=1&b=2",
                   "http://127.0.0.1:8017/bg/3.mp3?a=1&b=2"},
        EscapeCase{"ChineseUnchanged", "背景音乐 轻快", "背景音乐 轻快", Utf8(u8"背景音乐 轻快")},
        EscapeCase{"Empty", "", "", ""}, EscapeCase{"Quote", R"(a"b)", R"(a\"b)", R"(a"b)"},
        EscapeCase{"QuoteThatWouldRewriteAField", R"(x","bjid":"1)", R"(x\",\"bjid\":\"1)",
                   R"(x","bjid":"1)"},
        EscapeCase{"Backslash", R"(a\b)", R"(a\\b)", R"(a\b)"},
        EscapeCase{"ControlCharacters",
                   "a\r\n\t\x01\x1F"
                   "b",
                   R"(a\u000D\u000A\u0009\u0001\u001Fb)",
                   "a\r\n\t\x01\x1F"
                   "b"},
        EscapeCase{"DeleteAndSlashUnchanged", "/\x7F", "/\x7F", "/\x7F"},
        EscapeCase{"EndsAtZeroByte", std::string("a\0\"", 3), "a", "a"},
        EscapeCase{"TrailByteBrace", "箋", "箋", Utf8(u8"箋")},
        EscapeCase{"EuroBeforeBackslash", "\x80\\", "\x80\\\\", Utf8(u8"€\\")},
        // A parser reading bytes would take the trail byte for an escape.
        EscapeCase{"TrailByteBackslash", "誠", R"(\u8AA0)", Utf8(u8"誠")},
        EscapeCase{"TrailByteBackslashThenQuote", "誠\"", R"(\u8AA0\")", Utf8(u8"誠\"")},
        // A stray lead byte would pair with the escaping backslash and free the quote.
        EscapeCase{"StrayLeadByteBeforeQuote", "\xA0\"", R"(?\")", "?\""},
        // A1 5C is no character: the 5C a decoder then reads is a backslash.
        EscapeCase{"UnassignedPairWithBackslashTrail", "\xA1\\\"", R"(?\\\")", R"(?\")"},
        // A1 A0 is no character: A1 is a bad byte and A0 a stray lead byte before the quote.
        EscapeCase{"UnassignedPairBeforeQuote", "\xA1\xA0\"", R"(??\")", "??\""},
        EscapeCase{"StrayLeadByteAtEnd", "ab\xB0", "ab?", "ab?"}),
    [](const testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });

TEST(JsonEscape, FixtureTrailByteIsBackslash) {
    EXPECT_EQ(std::string("\xD5\x5C"), "誠");
}

// Every byte but zero, alone and after a lead byte, before a quote: read byte by byte the
// result holds no raw control byte, every backslash starts an escape and every quote is escaped.
TEST(JsonEscape, EveryBackslashStartsAnEscapeReadingBytes) {
    for (int lead : {-1, 0xA1, 0xB0, 0xD5}) {
        for (int b = 1; b < 256; ++b) {
            std::string text;
            if (lead >= 0)
                text += static_cast<char>(lead);
            text += static_cast<char>(b);
            text += '"';
            const std::string escaped = JsonEscape(text);
            for (size_t i = 0; i < escaped.size(); ++i) {
                ASSERT_GE(static_cast<unsigned char>(escaped[i]), 0x20) << b;
                ASSERT_NE(escaped[i], '"') << "bare quote for byte " << b;
                if (escaped[i] == '\\') {
                    ASSERT_LT(i + 1, escaped.size());
                    ASSERT_TRUE(escaped[i + 1] == '"' || escaped[i + 1] == '\\' ||
                                escaped[i + 1] == 'u')
                        << "byte " << b;
                    ++i;
                }
            }
        }
    }
}

}  // namespace
