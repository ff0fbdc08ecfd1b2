// The start-up load on a thread of its own while the window's thread reads the catalogues.
// Also runs under ThreadSanitizer.

#include "service/catalogue_loader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service/catalogue.h"
#include "service/service_api.h"
#include "service/waiting.h"
#include "tests/support/recording_server.h"

namespace {

using namespace std::chrono_literals;
using testing::ElementsAreArray;

const std::vector<std::string> kPathsInOrder = {
    "/pc/api/reader/readerInfo/1", "/pc/api/reader/readerInfo/12",
    "/pc/api/reader/readerInfo/4", "/pc/api/reader/readerInfo/2",
    "/pc/api/reader/readerInfo/3", "/pc/api/customBgVoxList?page=1&pageCount=1000",
    "/pc/api/bgVox/bgVoxInfo/4",   "/pc/api/bgVox/bgVoxInfo/9",
    "/pc/api/bgVox/bgVoxInfo/8",   "/pc/api/bgVox/bgVoxInfo/1",
    "/pc/api/bgVox/bgVoxInfo/6",   "/pc/api/bgVox/bgVoxInfo/10",
    "/pc/api/bgVox/bgVoxInfo/5",   "/pc/api/bgVox/bgVoxInfo/11",
    "/pc/api/bgVox/bgVoxInfo/12"};

// Two records per answer, named after the path that was asked for.
Reply CatalogueAnswer(const RecordedRequest& request) {
    std::string path = request.target.substr(0, request.target.find('?'));
    if (path.starts_with("/pc/api/reader/")) {
        return {.body = R"({"data":[{"riId":1,"riName":")" + path +
                        R"(","x":0},{"riId":2,)"
                        R"("riName":")" +
                        path + R"(","x":0}]})"};
    }
    if (path.starts_with("/pc/api/customBgVoxList")) {
        return {.body = R"({"data":{"list":[{"id":1,"bgVoxName":")" + path +
                        R"(","bgVoxUrl":"u","insertTime":1},{"id":2,"bgVoxName":")" + path +
                        R"(","bgVoxUrl":"u","insertTime":2}]}})"};
    }
    return {.body = R"({"data":[{"biId":1,"biName":")" + path +
                    R"(","biVoxurl":"u","biInserttime":1},{"biId":2,"biName":")" + path +
                    R"(","biVoxurl":"u","biInserttime":2}]})"};
}

class CatalogueLoader : public testing::Test {
  protected:
    CatalogueLoader() {
        SpeakerCatalogue().Clear();
        BackgroundCatalogue().Clear();
    }
    ~CatalogueLoader() override {
        SetServiceOrigin({});
        SpeakerCatalogue().Clear();
        BackgroundCatalogue().Clear();
    }

    void Serve(RecordingServer& server) { SetServiceOrigin(server.Url("")); }

    std::vector<std::string> AskedPaths(const RecordingServer& server) const {
        std::vector<std::string> paths;
        for (const RecordedRequest& request : server.Requests()) {
            std::size_t t = request.target.rfind("T=");
            EXPECT_NE(t, std::string::npos) << request.target;
            EXPECT_EQ(request.target.size() - t, 2u + 13u) << request.target;
            std::string path = request.target.substr(0, t == std::string::npos ? 0 : t - 1);
            paths.push_back(path);
        }
        return paths;
    }

    // Runs the load on its own thread, with its waits recorded there, while this thread keeps
    // reading the catalogues as the window's thread would.
    void LoadWhileReading(const std::atomic<bool>* abort = nullptr) {
        std::atomic<bool> done{false};
        std::thread loader([&] {
            SetWaitFunction([this](int ms) { loaderWaits_.push_back(ms); });
            LoadCatalogues(
                [this] {
                    fills_.push_back({SpeakerCatalogue().Count(), BackgroundCatalogue().Count()});
                },
                abort);
            SetWaitFunction({});
            done = true;
        });
        std::size_t seen = 0;
        while (!done) {
            std::vector<SpeakerRecord> speakers = SpeakerCatalogue().Snapshot();
            // The catalogue only ever grows at its end.
            EXPECT_GE(speakers.size(), seen);
            seen = speakers.size();
            BackgroundCatalogue().Count();
            BackgroundCatalogue().At(1);
            std::this_thread::yield();
        }
        loader.join();
    }

    std::vector<int> loaderWaits_;
    std::vector<std::pair<std::size_t, std::size_t>> fills_;
};

TEST_F(CatalogueLoader, AsksFifteenTimesInOrderThenFills) {
    RecordingServer server(CatalogueAnswer);
    Serve(server);

    LoadWhileReading();

    EXPECT_THAT(AskedPaths(server), ElementsAreArray(kPathsInOrder));
    for (const RecordedRequest& request : server.Requests()) {
        EXPECT_FALSE(request.Header("Cookie")) << request.target;
    }

    std::vector<SpeakerRecord> speakers = SpeakerCatalogue().Snapshot();
    ASSERT_EQ(speakers.size(), 10u);
    for (std::size_t i = 0; i < speakers.size(); ++i) {
        EXPECT_EQ(speakers[i].category, static_cast<int32_t>(i / 2 + 1));
        EXPECT_EQ(speakers[i].name, kPathsInOrder[i / 2]);
        EXPECT_EQ(speakers[i].id, i % 2 == 0 ? "1" : "2");
    }
    std::vector<BackgroundRecord> tracks = BackgroundCatalogue().Snapshot();
    ASSERT_EQ(tracks.size(), 20u);
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        EXPECT_EQ(tracks[i].category, static_cast<int32_t>(i / 2 + 1));
        const std::string& asked = kPathsInOrder[5 + i / 2];
        EXPECT_EQ(tracks[i].name, asked.substr(0, asked.find('?')));
        EXPECT_EQ(tracks[i].id, i % 2 == 0 ? "1" : "2");
    }

    EXPECT_EQ(loaderWaits_, std::vector<int>(10, 1));
    ASSERT_EQ(fills_.size(), 1u);
    EXPECT_EQ(fills_[0], std::pair(std::size_t{10}, std::size_t{20}));
}

TEST_F(CatalogueLoader, FailuresContributeNothingAndAreNotRetried) {
    RecordingServer server([](const RecordedRequest& request) {
        if (request.target.starts_with("/pc/api/reader/readerInfo/12") ||
            request.target.starts_with("/pc/api/bgVox/bgVoxInfo/1?")) {
            return Reply{.status = 500, .reason = "Error", .body = "{}"};
        }
        return CatalogueAnswer(request);
    });
    Serve(server);

    LoadWhileReading();

    EXPECT_THAT(AskedPaths(server), ElementsAreArray(kPathsInOrder));
    std::set<int32_t> speakerCategories;
    for (const SpeakerRecord& record : SpeakerCatalogue().Snapshot()) {
        speakerCategories.insert(record.category);
    }
    EXPECT_EQ(speakerCategories, (std::set<int32_t>{1, 3, 4, 5}));
    std::set<int32_t> lists;
    for (const BackgroundRecord& record : BackgroundCatalogue().Snapshot()) {
        lists.insert(record.category);
    }
    EXPECT_EQ(lists, (std::set<int32_t>{1, 2, 3, 4, 6, 7, 8, 9, 10}));
    EXPECT_EQ(fills_.size(), 1u);
}

TEST_F(CatalogueLoader, AbortEndsAStalledLoadPromptlyWithoutFilling) {
    RecordingServer server([](const RecordedRequest& request) {
        if (request.target.starts_with("/pc/api/reader/readerInfo/4")) {
            return Reply{.neverAnswer = true};
        }
        return CatalogueAnswer(request);
    });
    Serve(server);
    std::atomic<bool> abort{false};
    std::thread trigger([&] {
        if (server.WaitForRequests(3, 10000)) {
            abort = true;
        }
    });

    auto start = std::chrono::steady_clock::now();
    LoadWhileReading(&abort);
    auto elapsed = std::chrono::steady_clock::now() - start;
    trigger.join();

    EXPECT_TRUE(abort);
    EXPECT_LT(elapsed, 5s);
    EXPECT_EQ(server.Requests().size(), 3u);
    EXPECT_EQ(SpeakerCatalogue().Count(), 4u);
    EXPECT_EQ(BackgroundCatalogue().Count(), 0u);
    EXPECT_TRUE(fills_.empty());
}

TEST_F(CatalogueLoader, AbortBeforeStartAsksNothing) {
    RecordingServer server(CatalogueAnswer);
    Serve(server);
    std::atomic<bool> abort{true};

    LoadWhileReading(&abort);

    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(fills_.empty());
}

}  // namespace
