#include "http/header_block.h"

#include <gtest/gtest.h>

namespace {

struct BlockCase {
    std::string name;
    std::string block;
    std::string normalized;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.name;
}

class NormalizeHeaderBlockTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(NormalizeHeaderBlockTest, Normalizes) {
    EXPECT_EQ(NormalizeHeaderBlock(GetParam().block), GetParam().normalized);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NormalizeHeaderBlockTest,
    ::testing::Values(
        BlockCase{"LeadingEmptyLineDropped", "\r\naccept: */*\r\nreferer: x",
                  "Accept: */*\r\nReferer: x"},
        BlockCase{"EveryHyphenWordCapitalised", "x-requested-with: 1", "X-Requested-With: 1"},
        BlockCase{"NoLowering", "CONTENT-type: a", "CONTENT-Type: a"},
        BlockCase{"BlankDoesNotStartAWord", "user agent: x", "User agent: x"},
        BlockCase{"LeadingSpaceKeepsName", " host: x", " host: x"},
        BlockCase{"LeadingDash", "-x: 1", "-X: 1"}, BlockCase{"DoubleDash", "a--b: 1", "A--B: 1"},
        BlockCase{"TrailingDashKept", "x-: 1", "X-: 1"}, BlockCase{"OnlyDashes", "--: 1", "--: 1"},
        BlockCase{"ValueWithColonKeptWhole", "referer: a:b", "Referer: a:b"},
        BlockCase{"ValueNeverCapitalised", "x: abc-def", "X: abc-def"},
        BlockCase{"SpacesAfterColonKept", "a:   b  ", "A:   b  "},
        BlockCase{"EmptyName", ": v", ": v"},
        BlockCase{"ColonLessLineDropped", "abc\r\nb: 1\r\nabc", "B: 1"},
        BlockCase{"EmptyBlock", "", ""}, BlockCase{"OnlyLineBreaks", "\r\n\r\n\r\n", ""},
        BlockCase{"FinalLineBreakDropped", "a: 1\r\n", "A: 1"},
        BlockCase{"LoneLineFeedIsNotASeparator", "a: 1\nb: 2", "A: 1\nb: 2"},
        // A double-byte name is left alone, and its trail byte is never taken for a colon or
        // a letter.
        BlockCase{"DoubleByteName", "\xD6\xD0\xCE\xC4-x: 1", "\xD6\xD0\xCE\xC4-X: 1"},
        // A value ending in a byte that opens no character here ends its line: the next line
        // is a header of its own, not glued onto the value.
        BlockCase{"StrayHighByteBeforeLineBreak", "a: \xA0\r\nb: 2", "A: \xA0\r\nB: 2"},
        BlockCase{"EuroBeforeLineBreak", "a: \x80\r\nb: 2", "A: \x80\r\nB: 2"},
        BlockCase{"HighByteBeforeColon", "\xFE: 1", "\xFE: 1"},
        BlockCase{"StrayHighByteBeforeDash", "x\xB0-b: 1", "X\xB0-B: 1"},
        BlockCase{"ValidGbkBeforeLineBreak", "a: \xD3\xEF\r\nb: 2", "A: \xD3\xEF\r\nB: 2"}),
    [](const auto& info) { return info.param.name; });

struct CapitalizeCase {
    std::string text;
    std::string capitalized;
};

void PrintTo(const CapitalizeCase& c, std::ostream* os) {
    *os << "\"" + c.text + "\"";
}

class CapitalizeFirstLetterTest : public ::testing::TestWithParam<CapitalizeCase> {};

TEST_P(CapitalizeFirstLetterTest, UpperCasesOnlyAnAsciiLowerCaseFirstByte) {
    EXPECT_EQ(CapitalizeFirstLetter(GetParam().text), GetParam().capitalized);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CapitalizeFirstLetterTest,
    ::testing::Values(CapitalizeCase{"accept", "Accept"}, CapitalizeCase{"zebra", "Zebra"},
                      CapitalizeCase{"aBC", "ABC"}, CapitalizeCase{"Abc", "Abc"},
                      CapitalizeCase{"1abc", "1abc"}, CapitalizeCase{" abc", " abc"},
                      CapitalizeCase{"`a", "`a"}, CapitalizeCase{"{a", "{a"},
                      CapitalizeCase{"\xE1\xE2", "\xE1\xE2"}, CapitalizeCase{"", ""}));

}  // namespace
