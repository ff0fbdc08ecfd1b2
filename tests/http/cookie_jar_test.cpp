#include "http/cookie_jar.h"

#include <gtest/gtest.h>

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
        MergeCase{"NothingAtAll", "", "", ""}),
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

}  // namespace
