#include "text/text_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <limits>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

// Characters whose trail byte equals an ASCII character: a search that steps byte by byte
// would find that character inside them.
const std::string kTrailBrace = "箋";   // .. 7B '{'
const std::string kTrailBar = "箌";     // .. 7C '|'
const std::string kTrailUpperA = "礎";  // .. 41 'A'

// The three numbers of a client address written without leading zeros, or nothing when the
// text has another shape.
std::optional<std::vector<int>> ParseAddress(const std::string& address) {
    std::vector<int> numbers;
    size_t at = 0;
    while (numbers.size() < 3) {
        size_t end = at;
        while (end < address.size() && address[end] >= '0' && address[end] <= '9')
            ++end;
        if (end == at || end - at > 3 || address[at] == '0')
            return std::nullopt;
        numbers.push_back(std::stoi(address.substr(at, end - at)));
        const bool last = numbers.size() == 3;
        if (last ? end != address.size() : end >= address.size() || address[end] != ':')
            return std::nullopt;
        at = end + 1;
    }
    return numbers;
}

bool IsDigits(const std::string& text, size_t count) {
    return text.size() == count &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

TEST(DoubleByteFixtures, TrailBytesEqualAsciiCharacters) {
    ASSERT_EQ(kTrailBrace.size(), 2u);
    EXPECT_EQ(kTrailBrace[1], '{');
    EXPECT_EQ(kTrailBar[1], '|');
    EXPECT_EQ(kTrailUpperA[1], 'A');
}

struct BetweenCase {
    std::string name;
    std::string text;
    std::string left;
    std::string right;
    int startPosition;
    bool ignoreCase;
    std::string expected;
};

void PrintTo(const BetweenCase& c, std::ostream* os) {
    *os << c.name;
}

class TextBetweenTest : public testing::TestWithParam<BetweenCase> {};

TEST_P(TextBetweenTest, CutsValue) {
    const BetweenCase& c = GetParam();
    EXPECT_EQ(TextBetween(c.text, c.left, c.right, c.startPosition, c.ignoreCase), c.expected);
}

const std::string kDownloadAnswer =
    R"({"code":0,"data":{"vsriDownurl":"http://127.0.0.1/a.mp3","size":3}})";

INSTANTIATE_TEST_SUITE_P(
    Markers, TextBetweenTest,
    testing::Values(
        BetweenCase{"Simple", "a{x}b", "{", "}", 0, false, "x"},
        BetweenCase{"NoLeftMarker", "ax}b", "{", "}", 0, false, ""},
        BetweenCase{"RightOnlyBeforeLeft", "}a{x", "{", "}", 0, false, ""},
        BetweenCase{"AdjacentMarkers", "a{}b", "{", "}", 0, false, ""},
        BetweenCase{"EmptyText", "", "{", "}", 0, false, ""},
        BetweenCase{"QuoteWordInMarkers", kDownloadAnswer, "vsriDownurl#引号:#引号", "#引号", 0,
                    false, "http://127.0.0.1/a.mp3"},
        BetweenCase{"LiteralQuoteMarkers", kDownloadAnswer, R"(vsriDownurl":")", "\"", 0, false,
                    "http://127.0.0.1/a.mp3"},
        BetweenCase{"FirstRightMarkerWins", R"({"serialId":12,"x":3}})", R"(serialId":)", "}", 0,
                    false, R"(12,"x":3)"},
        BetweenCase{"EmptyLeftMarkerAtStart", "abc", "", "b", 0, false, "a"},
        BetweenCase{"StartPositionSkipsFirst", "{a}{b}", "{", "}", 2, false, "b"},
        BetweenCase{"StartPositionOnMarker", "{a}{b}", "{", "}", 4, false, "b"},
        BetweenCase{"NegativeStartIsBeginning", "{a}{b}", "{", "}", -7, false, "a"},
        BetweenCase{"StartPastEnd", "{a}", "{", "}", 9, false, ""},
        BetweenCase{"IgnoreCaseBothMarkers", "LOCATION: /x END", "location: ", " end", 0, true,
                    "/x"},
        BetweenCase{"ExactCaseByDefault", "LOCATION: /x\r\n", "location: ", "\r\n", 0, false, ""},
        BetweenCase{"ChineseMarkers", "名称：语音合成；", "名称：", "；", 0, false, "语音合成"},
        BetweenCase{"LeftMarkerNotOnTrailByte", kTrailBrace + "x}{y}", "{", "}", 0, false, "y"},
        BetweenCase{"RightMarkerNotOnTrailByte", "{a" + kTrailBrace + "b}", "{", "}", 0, false,
                    "a" + kTrailBrace + "b"}),
    [](const testing::TestParamInfo<BetweenCase>& info) { return info.param.name; });

struct FindCase {
    std::string name;
    std::string text;
    std::string pattern;
    int startPosition;
    bool ignoreCase;
    int expected;
};

void PrintTo(const FindCase& c, std::ostream* os) {
    *os << c.name;
}

class FindTextTest : public testing::TestWithParam<FindCase> {};

TEST_P(FindTextTest, FindsPosition) {
    const FindCase& c = GetParam();
    EXPECT_EQ(FindText(c.text, c.pattern, c.startPosition, c.ignoreCase), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, FindTextTest,
    testing::Values(FindCase{"First", "abcabc", "bc", 1, false, 2},
                    FindCase{"FromStart", "abcabc", "bc", 3, false, 5},
                    FindCase{"Missing", "abc", "x", 1, false, -1},
                    FindCase{"PatternLongerThanText", "ab", "abc", 1, false, -1},
                    FindCase{"EmptyPattern", "abc", "", 2, false, 2},
                    FindCase{"EmptyPatternEmptyText", "", "", 1, false, -1},
                    FindCase{"AfterDoubleByte", "语音x", "x", 1, false, 5},
                    FindCase{"TrailByteNeverMatches", kTrailBar, "|", 1, false, -1},
                    FindCase{"TrailByteThenReal", kTrailBar + "|", "|", 1, false, 3},
                    // Starting on a trail byte moves on to the next character.
                    FindCase{"StartOnTrailByte", kTrailBar + "|", "|", 2, false, 3},
                    FindCase{"IgnoreCaseAscii", "xAb", "ab", 1, true, 2},
                    // Case folding never applies to a trail byte: it would make two different
                    // characters equal.
                    FindCase{"IgnoreCaseNotOnTrailByte", kTrailUpperA,
                             std::string{kTrailUpperA[0], 'a'}, 1, true, -1},
                    FindCase{"IgnoreCaseAfterDoubleByte", kTrailUpperA + "X", kTrailUpperA + "x", 1,
                             true, 1},
                    FindCase{"DoubleBytePattern", "甲乙丙", "丙", 1, false, 5},
                    // The pattern's first byte turns up first as a trail byte, followed by the
                    // rest of the pattern.
                    FindCase{"PatternStartsOnTrailByte", kTrailBrace + "x{x", "{x", 1, false, 4},
                    // "坝" ends in D3 and "铩" begins with EF: together they hold the bytes of
                    // "语" (D3 EF) across a character boundary.
                    FindCase{"DoubleBytePatternAcrossCharacters", "坝铩语", "语", 1, false, 5},
                    FindCase{"IgnoreCaseTrailByteOtherCase", kTrailUpperA + "a", "a", 1, true, 3},
                    // A long run of double-byte characters before the candidate: the trail
                    // byte is told from a single character by the run's length.
                    FindCase{"TrailByteAfterLongRun", std::string(40, '\xB0') + kTrailBar + "|",
                             "|", 1, false, 43},
                    FindCase{"StartInsideLongRun", std::string(40, '\xB0') + kTrailBar + "|", "|",
                             24, false, 43},
                    FindCase{"StartOnTrailInsideRun", "甲乙丙丁" + kTrailBar + "|" + kTrailBar,
                             "丁", 6, false, 7},
                    FindCase{"LastByteLoneLead", "ab\xB0", "\xB0", 1, false, 3}),
    [](const testing::TestParamInfo<FindCase>& info) { return info.param.name; });

// Every text of up to six bytes over an alphabet of ASCII bytes (one that can be a trail byte,
// one that cannot), lead bytes, the lone 0x80 and 0x7F, searched from every start position,
// against a walk over the characters by code page 936's lead and trail ranges.
TEST(FindText, AgreesWithCharacterWalkOnEveryShortText) {
    const char alphabet[] = {'a', '|', ';', '\xB0', '\xD3', '\x80', '\x7F'};
    const std::string patterns[] = {"|",   "a|",       "\xB0|", "\xD3\xB0",
                                    "|a|", "\xB0\xB0", ";",     "\x80;"};
    const auto length = [](const std::string& text, size_t i) -> size_t {
        const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
        const bool pair = i + 1 < text.size() && byte(i) >= 0x81 && byte(i) <= 0xFE &&
                          byte(i + 1) >= 0x40 && byte(i + 1) <= 0xFE && byte(i + 1) != 0x7F;
        return pair ? 2 : 1;
    };
    const auto walk = [&](const std::string& text, const std::string& pattern, size_t start) {
        size_t i = 0;
        while (i < start && i < text.size())
            i += length(text, i);
        for (; i < text.size(); i += length(text, i))
            if (text.compare(i, pattern.size(), pattern) == 0)
                return static_cast<int>(i + 1);
        return -1;
    };
    std::vector<std::string> texts = {""};
    for (size_t from = 0; texts.back().size() < 6;) {
        const size_t end = texts.size();
        for (size_t i = from; i < end; ++i)
            for (const char c : alphabet)
                texts.push_back(texts[i] + c);
        from = end;
    }
    for (const std::string& text : texts)
        for (const std::string& pattern : patterns)
            for (size_t start = 0; start <= text.size() + 1; ++start)
                ASSERT_EQ(FindText(text, pattern, static_cast<int>(start + 1)),
                          walk(text, pattern, start))
                    << testing::PrintToString(text) << " " << testing::PrintToString(pattern)
                    << " from " << start + 1;
}

struct LengthCase {
    std::string name;
    std::string text;
    size_t expected;
};

void PrintTo(const LengthCase& c, std::ostream* os) {
    *os << c.name;
}

class CharacterLengthTest : public testing::TestWithParam<LengthCase> {};

TEST_P(CharacterLengthTest, FollowsLeadAndTrailRanges) {
    EXPECT_EQ(CharacterLength(GetParam().text, 0), GetParam().expected);
}

// A byte opens a two-byte character only when it is 0x81-0xFE and the next byte is
// 0x40-0xFE other than 0x7F.
INSTANTIATE_TEST_SUITE_P(
    DoubleByteRule, CharacterLengthTest,
    testing::Values(
        LengthCase{"Chinese", "语", 2}, LengthCase{"LowestPair", "\x81\x40", 2},
        LengthCase{"HighestPair", "\xFE\xFE", 2},
        LengthCase{"TrailEqualsAsciiLetter", kTrailUpperA, 2},
        LengthCase{"TrailIs0x80", "\x81\x80", 2}, LengthCase{"Ascii", "ab", 1},
        LengthCase{"EuroStandsAlone", "\x80\x80", 1}, LengthCase{"FFStandsAlone", "\xFF\x40", 1},
        LengthCase{"LeadBeforeCr", "\xA0\r\n", 1}, LengthCase{"LeadBeforeSemicolon", "\xA0;", 1},
        LengthCase{"LeadBeforeSpace", "\xB0 ", 1}, LengthCase{"LeadBefore0x3F", "\xB0?", 1},
        LengthCase{"LeadBefore0x7F", "\xB0\x7F", 1}, LengthCase{"LeadBeforeFF", "\xB0\xFF", 1},
        LengthCase{"LeadAtEnd", "\xB0", 1}),
    [](const testing::TestParamInfo<LengthCase>& info) { return info.param.name; });

// What a stray high byte from a broken or hostile answer may no longer do: hide the CR LF,
// ";" or quote after it from a search.
TEST(DoubleByteRule, StrayHighByteNeverHidesTheNextAsciiByte) {
    const std::string headers = "Set-Cookie: a=\xA0\r\nX-Injected: yes\r\n";
    EXPECT_EQ(TextBetween(headers, "Set-Cookie: ", "\r\n"), "a=\xA0");
    EXPECT_EQ(SplitText(headers, "\r\n"),
              (std::vector<std::string>{"Set-Cookie: a=\xA0", "X-Injected: yes"}));
    EXPECT_EQ(SplitText("a=\x80;b=2", ";"), (std::vector<std::string>{"a=\x80", "b=2"}));
    EXPECT_EQ(TextBetween(R"({"name":")" + std::string("\xFE") + R"(","id":1})", "name\":\"", "\""),
              "\xFE");
    EXPECT_EQ(FindText("\xB0\x7F|", "|"), 3);
    EXPECT_EQ(TrimText("\xA0 "), "\xA0");
    EXPECT_EQ(TrimText(" \x80  "), "\x80");
}

// Valid GBK whose characters sit right before ASCII separators splits as it always did.
TEST(DoubleByteRule, ValidGbkBeforeAsciiUnchanged) {
    EXPECT_EQ(SplitText("语音;合成\r\n" + kTrailBar + ";x", ";"),
              (std::vector<std::string>{"语音", "合成\r\n" + kTrailBar, "x"}));
    EXPECT_EQ(TextBetween("{" + kTrailBrace + "}", "{", "}"), kTrailBrace);
    EXPECT_EQ(TrimText("　语 "), "语");
}

TEST(TrimText, RemovesSpacesAndFullWidthSpacesOnly) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"  ab c  ", "ab c"},
        {"　 语音　", "语音"},  // full-width spaces (A1 A1) and ASCII spaces
        {"\tab\r\n", "\tab\r\n"},
        {"   ", ""},
        {"", ""},
        // "啊" is B0 A1: its trail byte and a lone A1 after it are not a full-width space.
        {"啊\xA1", "啊\xA1"},
        {"\xA1\xA1啊", "啊"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TrimText(c.text), c.expected);
    }
}

TEST(SplitText, PiecesBetweenSeparators) {
    using Pieces = std::vector<std::string>;
    const struct {
        std::string text;
        std::string separator;
        Pieces expected;
    } cases[] = {
        {"a,b,c", ",", {"a", "b", "c"}},
        {"a,,b", ",", {"a", "", "b"}},
        {"a,b,", ",", {"a", "b"}},
        {",a", ",", {"", "a"}},
        {",", ",", {""}},
        {"", ",", {}},
        {"abc", ",", {"abc"}},
        {"abc", "", {"abc"}},
        {"a},{b},{c", "},{", {"a", "b", "c"}},
        {"甲，乙，", "，", {"甲", "乙"}},
        {kTrailBar + "|x", "|", {kTrailBar, "x"}},
        {"a|" + kTrailBar + kTrailBar + "|", "|", {"a", kTrailBar + kTrailBar}},
        // "皚" ends in '}': with the ",{" after it, it holds the separator's bytes.
        {"x},{皚,{y},{z", "},{", {"x", "皚,{y", "z"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SplitText(c.text, c.separator), c.expected);
    }
}

TEST(NumberToText, ShortestFormUpToThirteenDigits) {
    const struct {
        double value;
        std::string expected;
    } cases[] = {
        {50, "50"},
        {-5, "-5"},
        {0, "0"},
        {-0.0, "0"},
        {0.1 + 0.2, "0.3"},
        {1.5, "1.5"},
        {-0.25, "-0.25"},
        {1.0 / 3, "0.3333333333333"},
        {2.0 / 3, "0.6666666666667"},
        {9999999999999, "9999999999999"},
        {1e15, "1000000000000000"},
        {123456789012345, "123456789012300"},
        {1e-5, "1e-05"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(NumberToText(c.value), c.expected);
    }
}

TEST(ReadLeadingNumber, ReadsPrefix) {
    const struct {
        std::string text;
        double expected;
    } cases[] = {
        {"40", 40},  {"  -3.5x", -3.5}, {"+8", 8},  {".5", 0.5},  {"7.5.3", 7.5}, {"12abc", 12},
        {"abc", 0},  {"", 0},           {"-", 0},   {".", 0},     {"４５", 45},   {"１２.５", 12.5},
        {"6０", 60}, {"x40", 0},        {"4 0", 4}, {"０x９", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(ReadLeadingNumber(c.text), c.expected);
    }
}

// The synthesis speed falls back to its default when its value lies more than 1e-7 below 40.
TEST(ReadLeadingNumber, SpeedThresholdBoundary) {
    const struct {
        std::string text;
        bool below;
    } cases[] = {
        {"40", false},   {"39.99999999", false}, {"39.9999999", true},
        {"39.9", true},  {"abc", true},          {"", true},
        {"４０", false}, {"３９", true},         {"40.5abc", false},
        {"-40", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ReadLeadingNumber(c.text) - 40 < -0.0000001, c.below);
    }
}

TEST(ReadLeadingInteger, ReadsPrefixClamped) {
    const struct {
        std::string text;
        int32_t expected;
    } cases[] = {
        {"123", 123},
        {" -42abc", -42},
        {"+7", 7},
        {"12.9", 12},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"2147483647", std::numeric_limits<int32_t>::max()},
        {"99999999999999999999", std::numeric_limits<int32_t>::max()},
        {"-2147483648", std::numeric_limits<int32_t>::min()},
        {"-99999999999", std::numeric_limits<int32_t>::min()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ReadLeadingInteger(c.text), c.expected);
    }
}

struct TimestampCase {
    std::string name;
    LocalDateTime now;
    bool tenDigits;
    std::string expected;
};

void PrintTo(const TimestampCase& c, std::ostream* os) {
    *os << c.name;
}

class MakeTimestampTest : public testing::TestWithParam<TimestampCase> {
  protected:
    void TearDown() override { SetLocalClock({}); }
};

TEST_P(MakeTimestampTest, FromLocalClock) {
    const TimestampCase& c = GetParam();
    SetLocalClock([now = c.now] { return now; });
    EXPECT_EQ(MakeTimestamp(c.tenDigits), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, MakeTimestampTest,
    testing::Values(
        TimestampCase{"Milliseconds", {2019, 7, 8, 10, 20, 30, 45}, false, "1562552430045"},
        TimestampCase{"Seconds", {2019, 7, 8, 10, 20, 30, 45}, true, "1562552430"},
        TimestampCase{"ZeroMilliseconds", {2019, 7, 8, 10, 20, 30, 0}, false, "1562552430000"},
        TimestampCase{"OneDigitMilliseconds", {2019, 7, 8, 10, 20, 30, 7}, false, "1562552430007"},
        TimestampCase{"TwoDigitMilliseconds", {2019, 7, 8, 10, 20, 30, 57}, false, "1562552430057"},
        TimestampCase{"MaxMilliseconds", {2019, 7, 8, 10, 20, 30, 999}, false, "1562552430999"},
        TimestampCase{"OneDayPaddedTo13", {1970, 1, 2, 8, 0, 0, 0}, false, "8640000000000"},
        TimestampCase{"OneDayPaddedTo10", {1970, 1, 2, 8, 0, 0, 0}, true, "8640000000"},
        TimestampCase{"LeapDay", {2024, 2, 29, 23, 59, 59, 1}, false, "1709222399001"},
        TimestampCase{"AfterCenturyLeapDay", {2000, 3, 1, 0, 0, 0, 0}, false, "9518400000000"}),
    [](const testing::TestParamInfo<TimestampCase>& info) { return info.param.name; });

TEST(MakeTimestamp, DefaultClockIsLocalTimeCountedFromEightOClock) {
    const time_t before = time(nullptr);
    const std::string stamp = MakeTimestamp();
    const time_t after = time(nullptr);
    ASSERT_TRUE(IsDigits(stamp, 13)) << stamp;
    tm local{};
    localtime_r(&before, &local);
    // The local wall clock differs from UTC by the zone offset; the count starts at 08:00.
    const long long offset = local.tm_gmtoff - 8 * 3600;
    const long long seconds = std::stoll(stamp.substr(0, 10));
    EXPECT_GE(seconds, before + offset);
    EXPECT_LE(seconds, after + offset + 1);
}

TEST(RandomClientAddress, ThreeNumbersFrom1To255) {
    std::set<int> seen;
    std::set<std::string> addresses;
    constexpr int kDraws = 3000;
    for (int i = 0; i < kDraws; ++i) {
        const std::string address = RandomClientAddress();
        addresses.insert(address);
        const auto numbers = ParseAddress(address);
        ASSERT_TRUE(numbers) << address;
        for (const int value : *numbers) {
            ASSERT_GE(value, 1) << address;
            ASSERT_LE(value, 255) << address;
            seen.insert(value);
        }
    }
    // Calls within the same millisecond still differ, and the whole range is drawn from.
    EXPECT_GT(addresses.size(), kDraws * 99 / 100);
    EXPECT_EQ(seen.size(), 255u);
}

TEST(RandomClientAddressShape, RejectsOtherShapes) {
    for (const std::string bad : {"1.2.3", "1:2", "1:2:3:4", "01:2:3", "1:2:", "1:a:3", ""}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseAddress(bad));
    }
    EXPECT_EQ(ParseAddress("17:203:8"), (std::vector<int>{17, 203, 8}));
}

}  // namespace
