// One catalogue exchange as the service sees it, and what the caller's array holds after it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/catalogue.h"
#include "service/service_api.h"
#include "tests/service/virtual_time.h"
#include "tests/support/recording_server.h"
#include "text/code_page.h"

namespace {

using testing::ElementsAre;

class CatalogueFetch : public testing::Test {
  protected:
    CatalogueFetch() { SetServiceOrigin(server_.Url("")); }
    ~CatalogueFetch() override {
        SetServiceOrigin({});
        SetCatalogueAccessToken({});
    }

    RecordedRequest OnlyRequest() const {
        std::vector<RecordedRequest> requests = server_.Requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? RecordedRequest() : requests.front();
    }

    RecordingServer server_;
    VirtualTime time_;
    const std::string t_ = VirtualTime::TimestampAfter(0);
};

TEST_F(CatalogueFetch, SpeakerRequestCarriesOnlyTheDefaultLines) {
    server_.Route("/pc/api/reader/readerInfo/1",
                  {.body = R"({"data":[{"riId":7,"riName":"晓晓","riSyncount":1,"x":0}]})"});
    std::vector<SpeakerRecord> records(3);

    // Category 0 is out of range: the request and the records use category 1.
    EXPECT_EQ(FetchSpeakerCategory(records, 0), 1);

    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(
        records[0],
        (SpeakerRecord{.id = "7", .name = Utf8TextToAnsi("晓晓"), .synCount = "1", .category = 1}));
    RecordedRequest request = OnlyRequest();
    const std::string target = "/pc/api/reader/readerInfo/1?T=" + t_;
    EXPECT_EQ(request.requestLine, "GET " + target + " HTTP/1.1");
    EXPECT_THAT(request.headerLines,
                ElementsAre("Host: " + server_.HostPort(), "Accept: */*",
                            "Referer: " + server_.Url(target), "Accept-Language: zh-cn",
                            "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"));
}

TEST_F(CatalogueFetch, BackgroundRequestCarriesTheCatalogueBlock) {
    SetCatalogueAccessToken("aaa.bbb.ccc");
    server_.Route("/pc/api/bgVox/bgVoxInfo/9",
                  {.body = R"({"data":[{"biId":5,"biName":"古","biVoxurl":"u","biSyncount":2,)"
                           R"("biInserttime":17}]})"});
    std::vector<BackgroundRecord> records;

    EXPECT_EQ(FetchBackgroundList(records, 3), 1);

    EXPECT_THAT(records, ElementsAre(BackgroundRecord{.id = "5",
                                                      .name = Utf8TextToAnsi("古"),
                                                      .voxUrl = "u",
                                                      .synCount = "2",
                                                      .insertTime = "17",
                                                      .category = 3}));
    RecordedRequest request = OnlyRequest();
    EXPECT_EQ(request.requestLine, "GET /pc/api/bgVox/bgVoxInfo/9?T=" + t_ + " HTTP/1.1");
    EXPECT_THAT(
        request.headerLines,
        ElementsAre("Host: " + server_.HostPort(), "Accept: application/json, text/plain, */*",
                    "Authorization: aaa.bbb.ccc",
                    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) "
                    "AppleWebKit/537.36 (KHTML, like Gecko) Chrome/71.0.3578.80 "
                    "Safari/537.36",
                    "Referer: " + server_.Url("/"), "Accept-Language: zh-CN,zh;q=0.9"));
}

TEST_F(CatalogueFetch, CustomListAsksForTheFirstThousand) {
    std::vector<BackgroundRecord> records;
    FetchBackgroundList(records, 1);
    EXPECT_EQ(OnlyRequest().target, "/pc/api/customBgVoxList?page=1&pageCount=1000&T=" + t_);
}

TEST_F(CatalogueFetch, EmptyOrFailedAnswersLeaveTheArrayEmpty) {
    server_.Route("/pc/api/bgVox/bgVoxInfo/4", {.body = R"({"code":200,"data":[]})"});
    server_.Route("/pc/api/reader/readerInfo/12", {.status = 500, .reason = "Error"});
    std::vector<BackgroundRecord> tracks(2, BackgroundRecord{.id = "1", .voxUrl = "u"});
    std::vector<SpeakerRecord> speakers(2, SpeakerRecord{.id = "1"});

    EXPECT_EQ(FetchBackgroundList(tracks, 2), 0);
    EXPECT_EQ(FetchSpeakerCategory(speakers, 2), 0);

    EXPECT_TRUE(tracks.empty());
    EXPECT_TRUE(speakers.empty());
}

TEST_F(CatalogueFetch, ListNumberOutOfRangeAsksNothing) {
    std::vector<BackgroundRecord> tracks(1);
    EXPECT_EQ(FetchBackgroundList(tracks, 11), 0);
    EXPECT_EQ(FetchBackgroundList(tracks, 0), 0);
    EXPECT_TRUE(tracks.empty());
    EXPECT_TRUE(server_.Requests().empty());
}

}  // namespace
