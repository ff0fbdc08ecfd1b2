#include "text/code_page.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

// UTF-8 bytes of a u8 literal as a narrow byte string.
std::string Utf8(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

std::string Bytes(std::string_view bytes) {
    return std::string(bytes);
}

struct ConversionCase {
    std::string name;
    std::string input;
    std::string expected;
};

TEST(Utf8TextToAnsi, ConvertsToGbk) {
    const ConversionCase cases[] = {
        {"Chinese", Utf8(u8"成功"), "成功"},
        {"Ascii", "abc {}\"\\u6210", "abc {}\"\\u6210"},
        {"Empty", "", ""},
        {"Euro", Utf8(u8"€"), "\x80"},
        {"IdeographicSpace", Utf8(u8"\u3000"), "\xA1\xA1"},
        {"FullWidthDigits", Utf8(u8"４０"), "\xA3\xB4\xA3\xB0"},
        {"ThaiLetter", Utf8(u8"ก"), "?"},
        {"ThaiInsideText", Utf8(u8"名ก字"), "名?字"},
        {"OutsideBmpIsOneCharacter", Utf8(u8"a😀b"), "a?b"},
        {"StopsAtZero", Bytes({"ab\0cd", 5}), "ab"},
        {"InvalidByte",
         "a\xFF"
         "b",
         "a?b"},
        {"LoneContinuationBytes", "\x80\xBF", "??"},
        {"Overlong",
         "\xC0\xAF"
         "x",
         "??x"},
        {"EncodedSurrogate", "\xED\xA0\x80", "???"},
        {"TruncatedAtEnd", "a\xE6\x88", "a??"},
        {"TruncatedInside",
         "\xE6\x88"
         "x",
         "??x"},
        {"BadByteThenValid", "\xFF" + Utf8(u8"语"), "?语"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utf8TextToAnsi(c.input), c.expected);
    }
}

TEST(AnsiTextToUtf8, ConvertsFromGbk) {
    const ConversionCase cases[] = {
        {"Chinese", "语音", Utf8(u8"语音")},
        {"Ascii", "abc 123", "abc 123"},
        {"Empty", "", ""},
        {"Euro", "\x80", Utf8(u8"€")},
        {"IdeographicSpace", "\xA1\xA1", Utf8(u8"\u3000")},
        {"PauseMarker", "[1秒]", Utf8(u8"[1秒]")},
        {"StopsAtZero", Bytes({"语\0音", 5}), Utf8(u8"语")},
        // Bytes that are no GBK character become U+FFFD, which UTF-8 can hold.
        {"InvalidByte",
         "a\xFF"
         "b",
         Utf8(u8"a\uFFFDb")},
        {"TruncatedAtEnd", "a\xD3", Utf8(u8"a\uFFFD")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AnsiTextToUtf8(c.input), c.expected);
    }
    EXPECT_EQ(AnsiTextToUtf8("语音").size(), 6u);
}

TEST(AnsiTextToUtf8, EveryGbkCharacterRoundTrips) {
    int characters = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const std::string gbk{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string utf8 = AnsiTextToUtf8(gbk);
            // Not a GBK character: its lead byte is already undecodable.
            if (utf8.starts_with(Utf8(u8"\uFFFD")))
                continue;
            ++characters;
            ASSERT_EQ(Utf8TextToAnsi(utf8), gbk) << std::hex << lead << ' ' << trail;
        }
    }
    // GBK holds more than 21000 double-byte characters.
    EXPECT_GT(characters, 21000);
}

TEST(Utf8BytesToAnsi, EndsAtFirstZeroByte) {
    const ConversionCase cases[] = {
        {"ZeroInside", Bytes({"abc\0def", 7}), "abc"},
        {"LeadingZero", Bytes({"\0abc", 4}), ""},
        {"Empty", "", ""},
        {"Chinese", Utf8(u8"成功"), "成功"},
        {"ThaiLetter", Utf8(u8"ก"), "?"},
        {"TruncatedBeforeZero", Bytes({"\xE6\x88\0x", 4}), "??"},
        {"TruncatedAtEnd", "ok\xE6", "ok?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utf8BytesToAnsi(c.input), c.expected);
    }
}

TEST(TextToWide, Utf16LittleEndianWithZeroUnit) {
    const struct {
        std::string name;
        std::string text;
        int codePage;
        std::string expected;
    } cases[] = {
        {"Utf8Default", "ab", kCodePageUtf8, Bytes({"a\0b\0\0\0", 6})},
        {"Utf8Chinese", Utf8(u8"成功"), kCodePageUtf8, Bytes({"\x10\x62\x9F\x52\0\0", 6})},
        {"Gbk", "成功", kCodePageGbk, Bytes({"\x10\x62\x9F\x52\0\0", 6})},
        {"AnsiIsGbk", "成功", kCodePageAnsi, Bytes({"\x10\x62\x9F\x52\0\0", 6})},
        {"GbkEuro", "\x80", kCodePageGbk, Bytes({"\xAC\x20\0\0", 4})},
        {"InvalidUtf8", "\xFF", kCodePageUtf8, Bytes({"\xFD\xFF\0\0", 4})},
        {"OutsideBmp", Utf8(u8"😀"), kCodePageUtf8, Bytes({"\x3D\xD8\x00\xDE\0\0", 6})},
        {"StopsAtZero", Bytes({"a\0b", 3}), kCodePageUtf8, Bytes({"a\0\0\0", 4})},
        {"Empty", "", kCodePageUtf8, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextToWide(c.text, c.codePage), c.expected);
    }
    EXPECT_EQ(TextToWide(Utf8(u8"语")), TextToWide("语", kCodePageGbk));
}

TEST(WideToText, EncodesUpToFirstZeroUnit) {
    const struct {
        std::string name;
        std::string wide;
        int codePage;
        std::string expected;
    } cases[] = {
        {"AnsiDefaultIsGbk", Bytes({"\x10\x62\x9F\x52\0\0", 6}), kCodePageAnsi, "成功"},
        {"Utf8", Bytes({"\x10\x62\x9F\x52\0\0", 6}), kCodePageUtf8, Utf8(u8"成功")},
        {"StopsAtZeroUnit", Bytes({"a\0\0\0b\0\0\0", 8}), kCodePageGbk, "a"},
        {"ZeroUnitMissing", Bytes({"a\0b\0", 4}), kCodePageGbk, "ab"},
        {"OddTrailingByteIgnored", Bytes({"a\0b", 3}), kCodePageGbk, "a"},
        {"LoneSurrogateGbk",
         Bytes({"\x00\xD8"
                "a\0\0\0",
                6}),
         kCodePageGbk, "?a"},
        {"LoneSurrogateUtf8",
         Bytes({"\x00\xDC"
                "a\0\0\0",
                6}),
         kCodePageUtf8, Utf8(u8"\uFFFDa")},
        {"PairOutsideGbk",
         Bytes({"\x3D\xD8\x00\xDE"
                "b\0\0\0",
                8}),
         kCodePageGbk, "?b"},
        {"PairToUtf8", Bytes({"\x3D\xD8\x00\xDE\0\0", 6}), kCodePageUtf8, Utf8(u8"😀")},
        {"Empty", "", kCodePageGbk, ""},
        {"OnlyZeroUnit", Bytes({"\0\0", 2}), kCodePageGbk, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WideToText(c.wide, c.codePage), c.expected);
    }
    EXPECT_EQ(WideToText(TextToWide("成功", kCodePageGbk)), "成功");
}

}  // namespace
