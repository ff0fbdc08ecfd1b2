#include "http/cookie_jar.h"

#include <gtest/gtest.h>

#include <time.h>

#include <string>

namespace {

struct MergeCase {
    std::string name;
    std::string jar;
    std::string received;
    std::string merged;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const MergeCase& c, std::ostream* os) {
    *os << c.name;
}

class MergeCookieJarTest : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeCookieJarTest, MergesIntoJar) {
    std::string jar = GetParam().jar;
    std::string received = GetParam().received;
    EXPECT_EQ(MergeCookieJar(jar, received), GetParam().merged);
    EXPECT_EQ(jar, GetParam().merged);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MergeCookieJarTest,
    ::testing::Values(
        MergeCase{"NewItemReplacesOldAndComesFirst", "sid=1; lang=zh", "sid=2", "sid=2; lang=zh"},
        MergeCase{"OldItemsFollowNewOnes", "a=1", "b=2; c=3", "b=2; c=3; a=1"},
        MergeCase{"DeletedRemovesCookie", "sid=1; a=2", "sid=deleted", "a=2"},
        MergeCase{"DeletedOldItemDropped", "sid=deleted; a=1", "", "a=1"},
        MergeCase{"ValueMerelyContainingDeletedStays", "x=undeleted", "", "x=undeleted"},
        MergeCase{"FirstOfRepeatedOldNamesStays", "a=1; a=2", "", "a=1"},
        MergeCase{"RepeatedNewNamesBothStay", "", "a=1; a=2", "a=1; a=2"},
        MergeCase{"IdenticalNewItemsOnce", "", "a=1; a=1", "a=1"},
        MergeCase{"AllSpacesGo", " a = 1 ", "", "a=1"},
        MergeCase{"FullWidthSpacesGo",
                  "\xA1\xA1"
                  "a=1\xA1\xA1",
                  "b\xA1\xA1=2", "b=2; a=1"},
        // "B0 A1" and "A1 B0" are two characters whose halves meet as A1 A1: not a space.
        MergeCase{"FullWidthSpaceOnlyOnCharacterBoundary", "a=\xB0\xA1\xA1\xB0", "",
                  "a=\xB0\xA1\xA1\xB0"},
        MergeCase{"NamesAreCaseSensitive", "SID=1", "sid=2", "sid=2; SID=1"},
        MergeCase{"EmptyPieceSurvivesOnce", "a=1;;b=2;;c=3", "", "a=1; ; b=2; c=3"},
        MergeCase{"ItemWithoutEqualsIsNamedByItself", "flag; a=1", "flag", "flag; a=1"},
        MergeCase{"NothingAtAll", "", "", ""},
        // A value ending in a byte that opens no character here keeps the "; " after it, so the
        // new b replaces the old one instead of riding inside a.
        MergeCase{"StrayHighByteBeforeSeparator", "b=1", "a=\xA0; b=2", "a=\xA0; b=2"},
        MergeCase{"EuroBeforeSeparator", "b=1", "a=\x80;b=2", "a=\x80; b=2"},
        MergeCase{"ValidGbkBeforeSeparator", "b=1", "a=\xD3\xEF; b=2", "a=\xD3\xEF; b=2"},
        // A lead byte before a space: the space is its own character and goes.
        MergeCase{"StrayHighByteBeforeSpace", "", "a=\xB0 ;b=2", "a=\xB0; b=2"},
        // Items that could end the Cookie header line early are ignored; the old value stays.
        MergeCase{"ItemWithLineBreakIgnored", "a=1", "a=x\r\nX-Injected:yes", "a=1"},
        MergeCase{"ItemWithLineFeedIgnored", "a=1", "b=2;a=x\ny", "b=2; a=1"},
        MergeCase{"OldItemWithLineBreakDropped", "a=x\r\ny; b=1", "", "b=1"},
        MergeCase{"ItemOfLargestSizeKept", "", "a=" + std::string(kMaxCookieItemBytes - 2, 'v'),
                  "a=" + std::string(kMaxCookieItemBytes - 2, 'v')},
        MergeCase{"OversizedItemIgnored", "a=1", "a=" + std::string(kMaxCookieItemBytes - 1, 'v'),
                  "a=1"}),
    [](const auto& info) { return info.param.name; });

TEST(MergeCookieJar, WritesBothVariablesWithoutSpaces) {
    std::string jar = "a = 1; b=2";
    std::string received = "c = 3";
    MergeCookieJar(jar, received);
    EXPECT_EQ(received, "c=3");
    EXPECT_EQ(jar, "c=3; a=1; b=2");
}

TEST(CookieItemName, IsTrimmedTextBeforeFirstEquals) {
    EXPECT_EQ(CookieItemName(" sid =a=b"), "sid");
    EXPECT_EQ(CookieItemName("  flag "), "flag");
    EXPECT_EQ(CookieItemName("=v"), "");
    EXPECT_EQ(CookieItemName(""), "");
}

TEST(DistinctItems, KeepsFirstOccurrences) {
    EXPECT_EQ(DistinctItems("a; b; a; c; b", "; "), "a; b; c");
    EXPECT_EQ(DistinctItems("a,,a,", ","), "a,");
    EXPECT_EQ(DistinctItems("", "; "), "");
    EXPECT_EQ(DistinctItems("x", "; "), "x");
}

// "n0=v0; n1=v1; ..." with count items.
std::string Cookies(const std::string& prefix, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += (i == 0 ? "" : "; ") + prefix + std::to_string(i) + "=v" + std::to_string(i);
    return text;
}

TEST(MergeCookieJar, KeepsNewestItemsUpToTheLimit) {
    const int limit = static_cast<int>(kMaxCookieItems);
    const struct {
        std::string name;
        std::string jar;
        std::string received;
        std::string merged;
    } cases[] = {
        {"ExactlyFull", Cookies("old", limit - 10), Cookies("new", 10),
         Cookies("new", 10) + "; " + Cookies("old", limit - 10)},
        {"OldestOldItemsGo", Cookies("old", limit), Cookies("new", 10),
         Cookies("new", 10) + "; " + Cookies("old", limit - 10)},
        {"TooManyNewItems", Cookies("old", 5), Cookies("new", limit + 7), Cookies("new", limit)},
        // Repeats and deleted items do not take places.
        {"RepeatsDoNotCount", Cookies("old", limit - 1), "x=1; x=1; y=deleted",
         "x=1; " + Cookies("old", limit - 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string jar = c.jar;
        std::string received = c.received;
        EXPECT_EQ(MergeCookieJar(jar, received), c.merged);
    }
}

// A service setting tens of thousands of cookies: the merge stays linear and the jar bounded.
TEST(MergeCookieJar, FortyThousandIntoFortyThousandIsFastAndBounded) {
    std::string jar = Cookies("old", 40'000);
    std::string received = Cookies("new", 40'000);
    timespec start{};
    timespec end{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    const std::string merged = MergeCookieJar(jar, received);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    EXPECT_EQ(merged, Cookies("new", static_cast<int>(kMaxCookieItems)));
    EXPECT_LT(static_cast<double>(end.tv_sec - start.tv_sec) +
                  static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9,
              3.0);
}

}  // namespace
