#include "text/code_page.h"

#include <gtest/gtest.h>

#include <time.h>

#include <functional>
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

// ASCII runs are copied past the converter; what comes around them must not notice.
TEST(Utf8TextToAnsi, AsciiRunsNextToOtherCharacters) {
    const std::string run(17, 'x');  // longer than one eight-byte step, not a multiple of it
    const ConversionCase cases[] = {
        {"RunThenChinese", run + Utf8(u8"成功"), run + "成功"},
        {"ChineseThenRun", Utf8(u8"成功") + run, "成功" + run},
        {"RunsBetweenChinese", Utf8(u8"语") + run + Utf8(u8"音") + "a" + Utf8(u8"合"),
         "语" + run +
             "音"
             "a"
             "合"},
        {"EveryRunLength", "1234567" + Utf8(u8"甲") + "12345678" + Utf8(u8"乙") + "123456789",
         "1234567甲12345678乙123456789"},
        {"BadByteAfterLongRun", run + "\xFF", run + "?"},
        {"BadByteInsideWord",
         "abcd\xFF"
         "efghijkl",
         "abcd?efghijkl"},
        {"TruncatedAfterLongRun", run + "\xE6\x88", run + "??"},
        {"TruncatedBeforeRun", "\xE6\x88" + run, "??" + run},
        {"OutsideGbkBetweenRuns", run + Utf8(u8"ก") + run, run + "?" + run},
        {"OutsideBmpAfterRun", run + Utf8(u8"😀"), run + "?"},
        {"EuroBetweenRuns", "a" + Utf8(u8"€") + "b",
         "a\x80"
         "b"},
        {"LongChineseRun", Utf8(u8"正在合成语音，请稍候") + "...", "正在合成语音，请稍候..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utf8TextToAnsi(c.input), c.expected);
        EXPECT_EQ(Utf8BytesToAnsi(c.input), c.expected);
    }
}

TEST(AnsiTextToUtf8, AsciiRunsNextToDoubleByteCharacters) {
    const std::string run(17, 'x');
    const ConversionCase cases[] = {
        {"RunThenChinese", run + "成功", run + Utf8(u8"成功")},
        {"ChineseThenRun", "成功" + run, Utf8(u8"成功") + run},
        // "箋" ends in '{': an ASCII trail byte stays with its lead, whatever follows.
        {"AsciiTrailByteThenRun", "箋" + run, Utf8(u8"箋") + run},
        {"AsciiTrailBytesInARow", "箋箋{", Utf8(u8"箋箋{")},
        // 0x80 is one byte (€); the 81 41 after it is one character, not 80 81 then 'A'.
        {"EuroThenLeadWithAsciiTrail",
         "a\x80\x81\x41"
         "b",
         Utf8(u8"a€丄b")},
        {"BadByteAfterRun", run + "\xFF", run + Utf8(u8"\uFFFD")},
        {"BadTrailIsAscii", "\x81\x7F" + run, Utf8(u8"\uFFFD") + "\x7F" + run},
        {"TruncatedAfterRun", run + "\xD3", run + Utf8(u8"\uFFFD")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AnsiTextToUtf8(c.input), c.expected);
    }
}

// Output three times as long as the input: a single byte that becomes three.
TEST(AnsiTextToUtf8, GrowsPastItsFirstGuess) {
    std::string expected;
    for (int i = 0; i < 5000; ++i)
        expected += Utf8(u8"€");
    EXPECT_EQ(AnsiTextToUtf8(std::string(5000, '\x80')), expected);
    EXPECT_EQ(Utf8TextToAnsi(expected), std::string(5000, '\x80'));
}

// Every GBK character in one long text, with ASCII runs of changing length between them,
// converts as its pieces do one by one.
TEST(AnsiTextToUtf8, LongMixedTextConvertsLikeItsPieces) {
    std::string gbk;
    std::string utf8;
    int piece = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const std::string character{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string converted = AnsiTextToUtf8(character);
            if (converted.starts_with(Utf8(u8"\uFFFD")))
                continue;
            ++piece;
            const std::string ascii(static_cast<size_t>(piece % 19),
                                    static_cast<char>('a' + piece % 26));
            gbk += character + ascii;
            utf8 += converted + ascii;
        }
    }
    EXPECT_EQ(AnsiTextToUtf8(gbk), utf8);
    EXPECT_EQ(Utf8TextToAnsi(utf8), gbk);
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

// CPU seconds of this process, which other work on a busy machine does not stretch (<chrono>
// does not compile with the GBK execution charset).
double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Repeats a unit count times.
std::string Repeat(std::string_view unit, size_t count) {
    std::string text;
    text.reserve(unit.size() * count);
    for (size_t i = 0; i < count; ++i)
        text.append(unit);
    return text;
}

// Ten megabytes of bytes no decoder accepts or characters the target cannot hold: each becomes
// one substitute, and the whole takes time in proportion to its size (a regrown output per bad
// byte once made this minutes). The bound, in CPU time, is generous for a sanitized build; the
// benchmark has the real figure.
TEST(Conversions, TenMegabytesOfInvalidBytesInLinearTime) {
    constexpr size_t kBytes = 10u << 20;
    const struct {
        std::string name;
        std::string input;
        std::function<std::string(const std::string&)> convert;
        std::string expected;
    } cases[] = {
        {"Utf8TextToAnsi", std::string(kBytes, '\xE4'), Utf8TextToAnsi, std::string(kBytes, '?')},
        {"Utf8BytesToAnsi", std::string(kBytes, '\xBF'), Utf8BytesToAnsi, std::string(kBytes, '?')},
        {"AnsiTextToUtf8", std::string(kBytes, '\xFF'), AnsiTextToUtf8,
         Repeat(Utf8(u8"\uFFFD"), kBytes)},
        {"TextToWide", std::string(kBytes, '\xE4'),
         [](const std::string& text) { return TextToWide(text); },
         Repeat("\xFD\xFF", kBytes) + Bytes({"\0\0", 2})},
        {"WideToText", Repeat(Bytes({"\x00\xDC", 2}), kBytes / 2),
         [](const std::string& wide) { return WideToText(wide, kCodePageGbk); },
         std::string(kBytes / 2, '?')},
        // Characters the target cannot hold, each a "?" (glibc's direct conversion redid its
        // whole buffer for each of them).
        {"Utf8TextToAnsiOutsideGbk", Repeat(Utf8(u8"ก"), kBytes / 3), Utf8TextToAnsi,
         std::string(kBytes / 3, '?')},
        {"WideToTextOutsideGbk", Repeat(Bytes({"\xFD\xFF", 2}), kBytes / 2),
         [](const std::string& wide) { return WideToText(wide, kCodePageGbk); },
         std::string(kBytes / 2, '?')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const double start = CpuSeconds();
        const std::string output = c.convert(c.input);
        const double seconds = CpuSeconds() - start;
        EXPECT_TRUE(output == c.expected) << "output of " << output.size() << " bytes";
        EXPECT_LT(seconds, 5.0);
    }
}

}  // namespace
