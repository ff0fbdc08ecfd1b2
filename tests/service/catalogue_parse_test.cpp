// Catalogue answers are read by markers, not as JSON; these cases pin down what that reading
// keeps, drops and cuts. Answers are written in UTF-8 as the service sends them; expected texts
// are converted to code page 936 before comparing.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/catalogue.h"
#include "text/code_page.h"

namespace {

// Names each generated test after its case.
struct CaseName {
    template <typename Case>
    std::string operator()(const testing::TestParamInfo<Case>& info) const {
        return info.param.name;
    }
};

SpeakerRecord InAnsi(SpeakerRecord record) {
    for (std::string* text : {&record.id, &record.name, &record.picUrl, &record.voxUrl,
                              &record.param, &record.synCount, &record.insertTime}) {
        *text = Utf8TextToAnsi(*text);
    }
    return record;
}

BackgroundRecord InAnsi(BackgroundRecord record) {
    for (std::string* text :
         {&record.id, &record.name, &record.voxUrl, &record.synCount, &record.insertTime}) {
        *text = Utf8TextToAnsi(*text);
    }
    return record;
}

template <typename Record>
std::vector<Record> InAnsi(const std::vector<Record>& records) {
    std::vector<Record> converted;
    for (const Record& record : records) {
        converted.push_back(InAnsi(record));
    }
    return converted;
}

struct SpeakerCase {
    const char* name;
    std::string body;
    int category;
    std::vector<SpeakerRecord> expected;
};

void PrintTo(const SpeakerCase& c, std::ostream* os) {
    *os << c.name;
}

class SpeakerAnswer : public testing::TestWithParam<SpeakerCase> {};

TEST_P(SpeakerAnswer, GivesTheseRecords) {
    const SpeakerCase& c = GetParam();
    EXPECT_EQ(ParseSpeakerCategory(c.body, c.category), InAnsi(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpeakerAnswer,
    testing::Values(
        SpeakerCase{
            "AllFieldsInAnswerOrder",
            R"({"code":200,"data":[{"riId":11,"riName":"晓晓","riParam":"p=1","riPicurl":)"
            R"("http://x/1.png","riVoxurl":"http://x/1.mp3","riSyncount":5,"riInserttime":)"
            R"(1700000000,"riSort":1},{"riId":12,"riName":"云扬","riParam":"","riPicurl":"a",)"
            R"("riVoxurl":"b","riSyncount":7,"riInserttime":1700000001,"riSort":2}]})",
            2,
            {{"11", "晓晓", "http://x/1.png", "http://x/1.mp3", "p=1", "5", "1700000000", 2},
             {"12", "云扬", "a", "b", "", "7", "1700000001", 2}}},
        SpeakerCase{"CountAndTimeAsLastMemberAreEmpty",
                    R"({"data":[{"riId":1,"riName":"a","riSyncount":3},)"
                    R"({"riId":2,"riName":"b","riInserttime":9}]})",
                    1,
                    {{"1", "a", "", "", "", "", "", 1}, {"2", "b", "", "", "", "", "", 1}}},
        SpeakerCase{"EmptyList", R"({"code":200,"data":[]})", 3, {}},
        SpeakerCase{"NoList", R"({"code":500,"message":"error"})", 3, {}},
        SpeakerCase{"EmptyBody", "", 3, {}},
        SpeakerCase{"SeparatorInsideValueSplitsTheObject",
                    R"({"data":[{"riId":1,"riName":"a},b","riParam":"p","x":0},)"
                    R"({"riId":2,"riName":"c","x":0}]})",
                    1,
                    {{"1", "", "", "", "", "", "", 1}, {"2", "c", "", "", "", "", "", 1}}},
        SpeakerCase{"BracketInsideValueEndsTheList",
                    R"({"data":[{"riId":1,"riName":"x]y","x":0},{"riId":2,"riName":"c","x":0}]})",
                    1,
                    {{"1", "", "", "", "", "", "", 1}}},
        SpeakerCase{"IdZeroIsKeptMissingIdAndOtherCaseAreDropped",
                    R"({"data":[{"riId":0,"riName":"zero","x":0},{"riName":"none","x":0},)"
                    R"({"riid":5,"riName":"lower","x":0},{"riId":,"riName":"blank","x":0}]})",
                    4,
                    {{"0", "zero", "", "", "", "", "", 4}}},
        SpeakerCase{"EscapesStayAndAnEscapedQuoteEndsTheValue",
                    R"({"data":[{"riId":1,"riName":"a\"b","riVoxurl":"http:\/\/h\/v.mp3",)"
                    R"("x":0}]})",
                    1,
                    {{"1", R"(a\)", "", R"(http:\/\/h\/v.mp3)", "", "", "", 1}}},
        // In code page 936 the second byte of 皚 is "}" and that of 癩 is "]"; a split or cut
        // that ignored double-byte characters would break these values apart.
        SpeakerCase{"SeparatorsAreNeverMatchedInsideCharacters",
                    R"({"data":[{"riId":1,"riName":"皚,","riParam":"癩x","x":0},)"
                    R"({"riId":2,"riName":"n","x":0}]})",
                    5,
                    {{"1", "皚,", "", "", "癩x", "", "", 5}, {"2", "n", "", "", "", "", "", 5}}},
        SpeakerCase{"AnswerEndsAtItsFirstZeroByte",
                    std::string(R"({"data":[{"riId":1,"riName":"a","x":0},)") + '\0' +
                        R"({"riId":2,"riName":"b","x":0}]})",
                    1,
                    {}}),
    CaseName());

TEST(SpeakerAnswer, OutOfRangeCategoryIsStoredAsCategoryOne) {
    const std::string body = R"({"data":[{"riId":1,"riName":"a","x":0}]})";
    for (int category : {0, -3, 6, 100}) {
        std::vector<SpeakerRecord> records = ParseSpeakerCategory(body, category);
        ASSERT_EQ(records.size(), 1u) << category;
        EXPECT_EQ(records[0].category, 1) << category;
    }
    EXPECT_EQ(ParseSpeakerCategory(body, 5).at(0).category, 5);
}

struct BackgroundCase {
    const char* name;
    std::string body;
    int list;
    std::vector<BackgroundRecord> expected;
};

void PrintTo(const BackgroundCase& c, std::ostream* os) {
    *os << c.name;
}

class BackgroundAnswer : public testing::TestWithParam<BackgroundCase> {};

TEST_P(BackgroundAnswer, GivesTheseRecords) {
    const BackgroundCase& c = GetParam();
    EXPECT_EQ(ParseBackgroundList(c.body, c.list), InAnsi(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackgroundAnswer,
    testing::Values(
        BackgroundCase{
            "CustomListHasNoCountAndTimesUpToTheBrace",
            R"({"data":{"total":2,"list":[{"id":3,"bgVoxName":"春节","bgVoxUrl":)"
            R"("http://h/a.mp3","synCount":9,"insertTime":1700},{"id":4,)"
            R"("bgVoxName":"b","bgVoxUrl":"u2","insertTime":1800}]}})",
            1,
            {{"3", "春节", "http://h/a.mp3", "", "1700", 1}, {"4", "b", "u2", "", "1800", 1}}},
        BackgroundCase{"CustomListDropsObjectsWithoutIdOrAddress",
                       R"({"list":[{"id":1,"bgVoxName":"blank","bgVoxUrl":"","insertTime":1},)"
                       R"({"id":2,"bgVoxName":"none","insertTime":2},)"
                       R"({"bgVoxName":"noid","bgVoxUrl":"u","insertTime":3},)"
                       R"({"id":4,"bgVoxName":"kept","bgVoxUrl":"u4","insertTime":4}]})",
                       1,
                       {{"4", "kept", "u4", "", "4", 1}}},
        BackgroundCase{
            "TimeThatIsNotLastTakesTheRestOfTheObject",
            R"({"list":[{"id":1,"bgVoxUrl":"u","insertTime":17,"note":"x"},)"
            R"({"id":2,"bgVoxUrl":"v","insertTime":18,"note":"y"}]})",
            1,
            {{"1", "", "u", "", R"(17,"note":"x")", 1}, {"2", "", "v", "", R"(18,"note":"y")", 1}}},
        BackgroundCase{"EarlierKeyEndingInIdSuppliesTheCustomId",
                       R"({"list":[{"bgid":9,"id":3,"bgVoxUrl":"u","insertTime":1}]})",
                       1,
                       {{"9", "", "u", "", "1", 1}}},
        BackgroundCase{"CategoryListKeysAndCount",
                       R"({"data":[{"biId":21,"biName":"喜","biVoxurl":"u1","biSyncount":3,)"
                       R"("biInserttime":1700},{"biId":22,"biName":"庆","biVoxurl":"",)"
                       R"("biSyncount":4,"biInserttime":1800},{"biId":23,"biName":"乐",)"
                       R"("biVoxurl":"u3","biInserttime":1900,"biSyncount":5}]})",
                       7,
                       {{"21", "喜", "u1", "3", "1700", 7},
                        {"23", "乐", "u3", "", R"(1900,"biSyncount":5)", 7}}},
        BackgroundCase{"CategoryListIgnoresCustomKeys",
                       R"({"data":[{"id":1,"bgVoxName":"a","bgVoxUrl":"u","insertTime":1}]})",
                       2,
                       {}},
        BackgroundCase{"EmptyList", R"({"code":200,"data":[]})", 10, {}}),
    CaseName());

}  // namespace
