// The catalogue loader thread started by the window's created event, the speaker and track
// lists it fills, the type-list refills and shutdown while the loader is still at work. These
// run under ThreadSanitizer too.
#include "window/catalogue_lists.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>

#include "app/startup.h"
#include "service/catalogue.h"
#include "service/service_api.h"
#include "tests/support/recording_server.h"
#include "window/main_window.h"

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace std::chrono_literals;

std::string U8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

// The service's paths in the order the loader asks them, with the answer for each: speaker
// categories 1 to 5, then background lists 1 to 10.
const std::vector<std::pair<std::string, std::string>>& CatalogueAnswers() {
    static const std::vector<std::pair<std::string, std::string>> answers = {
        {"/pc/api/reader/readerInfo/1?T=",
         U8(u8R"({"code":200,"data":[{"riId":101,"riName":"晓晓","riParam":"a","riPicurl":"p","riVoxurl":"v","riSyncount":1,"riInserttime":1},)"
            u8R"({"riId":102,"riName":"云希","riParam":"b","riPicurl":"p","riVoxurl":"v","riSyncount":2,"riInserttime":2},)"
            u8R"({"riId":"x7","riName":"云希","riParam":"c","riPicurl":"p","riVoxurl":"v","riSyncount":3,"riInserttime":3}]})")},
        {"/pc/api/reader/readerInfo/12?T=",
         U8(u8R"({"code":200,"data":[{"riId":201,"riName":"中文甲","riParam":"a","riPicurl":"p","riVoxurl":"v","riSyncount":1,"riInserttime":1}]})")},
        {"/pc/api/reader/readerInfo/4?T=",
         U8(u8R"({"code":200,"data":[{"riId":301,"riName":"粤语","riParam":"a","riPicurl":"p","riVoxurl":"v","riSyncount":1,"riInserttime":1}]})")},
        {"/pc/api/reader/readerInfo/2?T=",
         U8(u8R"({"code":200,"data":[{"riId":401,"riName":"英语","riParam":"a","riPicurl":"p","riVoxurl":"v","riSyncount":1,"riInserttime":1},)"
            u8R"({"riId":402,"riName":"日语","riParam":"a","riPicurl":"p","riVoxurl":"v","riSyncount":1,"riInserttime":1}]})")},
        {"/pc/api/reader/readerInfo/3?T=", R"({"code":200,"data":[]})"},
        {"/pc/api/customBgVoxList?page=1&pageCount=1000&T=",
         U8(u8R"({"code":200,"data":{"total":2,"list":[{"id":11,"bgVoxUrl":"http://127.0.0.1/a.mp3","bgVoxName":"自定义一","insertTime":1},)"
            u8R"({"id":12,"bgVoxUrl":"http://127.0.0.1/b.mp3","bgVoxName":"自定义二","insertTime":2}]}})")},
        {"/pc/api/bgVox/bgVoxInfo/4?T=",
         U8(u8R"({"code":200,"data":[{"biId":21,"biName":"喜庆一","biVoxurl":"http://127.0.0.1/c.mp3","biSyncount":1,"biInserttime":1}]})")},
        {"/pc/api/bgVox/bgVoxInfo/9?T=", R"({"code":200,"data":[]})"},
        {"/pc/api/bgVox/bgVoxInfo/8?T=", R"({"code":200,"data":[]})"},
        {"/pc/api/bgVox/bgVoxInfo/1?T=", R"({"code":200,"data":[]})"},
        {"/pc/api/bgVox/bgVoxInfo/6?T=", R"({"code":200,"data":[]})"},
        {"/pc/api/bgVox/bgVoxInfo/10?T=", R"({"code":200,"data":[]})"},
        {"/pc/api/bgVox/bgVoxInfo/5?T=", R"({"code":200,"data":[]})"},
        {"/pc/api/bgVox/bgVoxInfo/11?T=", R"({"code":200,"data":[]})"},
        {"/pc/api/bgVox/bgVoxInfo/12?T=",
         U8(u8R"({"code":200,"data":[{"biId":1001,"biName":"离别","biVoxurl":"http://127.0.0.1/d.mp3","biSyncount":1,"biInserttime":1},)"
            u8R"({"biId":1002,"biName":"雨夜","biVoxurl":"http://127.0.0.1/e.mp3","biSyncount":1,"biInserttime":1}]})")},
    };
    return answers;
}

const std::string kLastListPath = "/pc/api/bgVox/bgVoxInfo/12";

struct Item {
    QString text;
    int32_t value;
    bool operator==(const Item&) const = default;
};

void PrintTo(const Item& item, std::ostream* out) {
    *out << item.text.toStdString() << "=" << item.value;
}

std::vector<Item> Items(const QComboBox* list) {
    std::vector<Item> items;
    for (int i = 0; i < list->count(); ++i) {
        items.push_back({list->itemText(i), ReadItemValue(list, i)});
    }
    return items;
}

// Picks the item from the opened list with the keyboard, as a user does.
void Pick(QComboBox* list, int index) {
    ShowDropDown(list);
    QAbstractItemView* view = list->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
    view->setCurrentIndex(list->model()->index(index, 0));
    QTest::keyClick(view, Qt::Key_Return);
}

// A save dialog the user answers at once with a fixed path.
class AnsweringSaveDialog : public SaveDialog {
  public:
    explicit AnsweringSaveDialog(std::string path) : path_(std::move(path)) {}
    void SetFilter(const std::string&) override {}
    bool Show() override { return true; }
    std::string FileName() const override { return path_; }

  private:
    std::string path_;
};

// A service that answers the catalogue paths; the last background list can be held back until
// the test lets it go.
class CatalogueService {
  public:
    CatalogueService()
        : server_([this](const RecordedRequest& request) { return Answer(request); }) {
        SetServiceOrigin(server_.Url(""));
    }
    ~CatalogueService() {
        Release();
        SetServiceOrigin({});
    }

    void HoldLastList() {
        std::lock_guard lock(mutex_);
        hold_ = true;
    }
    bool WaitUntilLastListAsked(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return lastAsked_; });
    }
    void Release() {
        {
            std::lock_guard lock(mutex_);
            hold_ = false;
        }
        changed_.notify_all();
    }

    RecordingServer& Server() { return server_; }

  private:
    Reply Answer(const RecordedRequest& request) {
        const std::string path = request.target.substr(0, request.target.find('?'));
        if (path == kLastListPath) {
            std::unique_lock lock(mutex_);
            lastAsked_ = true;
            changed_.notify_all();
            changed_.wait_for(lock, 20s, [this] { return !hold_; });
        }
        for (const auto& [target, body] : CatalogueAnswers()) {
            if (target.substr(0, target.find('?')) == path) {
                return {.headerLines = {"Content-Type: application/json;charset=UTF-8"},
                        .body = body};
            }
        }
        return {.status = 404, .reason = "Not Found"};
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool hold_ = false;
    bool lastAsked_ = false;
    RecordingServer server_;
};

class CatalogueListsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InitGlobals();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QObject::connect(&window, &MainWindow::voiceTypeSelected,
                         [this] { OnVoiceTypeSelected(window); });
        QObject::connect(&window, &MainWindow::backgroundTypeSelected,
                         [this] { OnBackgroundTypeSelected(window); });
    }
    void TearDown() override {
        service.Release();
        ReleaseGlobals();
    }

    // The loader's final fill has reached the lists once the track list holds list 1.
    bool WaitForFinalFill() {
        return QTest::qWaitFor(
            [this] {
                return tracks()->count() == 3 && tracks()->itemText(1) == u"自定义一"_qs &&
                       speakers()->count() == 3 && speakers()->itemText(0) == u"晓晓"_qs;
            },
            15000);
    }

    QComboBox* speakers() { return window.组合框_即时广播_发音人; }
    QComboBox* tracks() { return window.组合框_即时广播_背景音乐; }

    CatalogueService service;
    MainWindow window;

    const std::vector<Item> kCategory1 = {{u"晓晓"_qs, 101}, {u"云希"_qs, 102}, {u"云希"_qs, 0}};
    const std::vector<Item> kList1 = {{u"无"_qs, -1}, {u"自定义一"_qs, 11}, {u"自定义二"_qs, 12}};
};

TEST_F(CatalogueListsTest, LoadsFifteenListsInOrderAndFillsNumberOne) {
    OnMainWindowCreated(window);
    ASSERT_TRUE(WaitForFinalFill());

    const std::vector<RecordedRequest> requests = service.Server().Requests();
    ASSERT_EQ(requests.size(), CatalogueAnswers().size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_TRUE(requests[i].target.starts_with(CatalogueAnswers()[i].first))
            << i << ": " << requests[i].target;
        EXPECT_EQ(requests[i].method, "GET");
    }

    // Two speakers of one name stay two items, in catalogue order; an id that is no number
    // gives the value 0.
    EXPECT_EQ(Items(speakers()), kCategory1);
    EXPECT_EQ(ReadSelectedIndex(speakers()), 0);
    EXPECT_EQ(Items(tracks()), kList1);
    EXPECT_EQ(ReadSelectedIndex(tracks()), 0);
    EXPECT_EQ(ReadListText(tracks()), "无");
    EXPECT_EQ(SpeakerCatalogue().Count(), 7u);
    EXPECT_EQ(BackgroundCatalogue().Count(), 5u);
}

TEST_F(CatalogueListsTest, TypePicksRefillFromTheCatalogueWithoutAskingTheService) {
    OnMainWindowCreated(window);
    ASSERT_TRUE(WaitForFinalFill());
    const std::size_t asked = service.Server().Requests().size();

    Pick(window.组合框_即时广播_声音类型, 3);  // 外语
    EXPECT_EQ(Items(speakers()), (std::vector<Item>{{u"英语"_qs, 401}, {u"日语"_qs, 402}}));
    EXPECT_EQ(ReadSelectedIndex(speakers()), 0);

    Pick(window.组合框_即时广播_背景类型, 9);  // 伤感
    EXPECT_EQ(Items(tracks()),
              (std::vector<Item>{{u"无"_qs, -1}, {u"离别"_qs, 1001}, {u"雨夜"_qs, 1002}}));
    EXPECT_EQ(ReadSelectedIndex(tracks()), 0);

    Pick(window.组合框_即时广播_背景类型, 2);  // 古韵: an empty list leaves "无" alone
    EXPECT_EQ(Items(tracks()), (std::vector<Item>{{u"无"_qs, -1}}));
    EXPECT_EQ(ReadSelectedIndex(tracks()), 0);

    Pick(window.组合框_即时广播_声音类型, 0);  // 推荐 again
    EXPECT_EQ(Items(speakers()), kCategory1);
    Pick(window.组合框_即时广播_背景类型, 0);  // 本地 again
    EXPECT_EQ(Items(tracks()), kList1);

    EXPECT_EQ(service.Server().Requests().size(), asked);
}

TEST_F(CatalogueListsTest, EmptyCategoryLeavesNothingSelected) {
    OnMainWindowCreated(window);
    ASSERT_TRUE(WaitForFinalFill());

    Pick(window.组合框_即时广播_声音类型, 4);  // 特色
    EXPECT_EQ(speakers()->count(), 0);
    EXPECT_EQ(ReadSelectedIndex(speakers()), -1);
    EXPECT_EQ(ReadItemValue(speakers(), ReadSelectedIndex(speakers())), -1);
    EXPECT_EQ(ReadListText(speakers()), "");
}

TEST_F(CatalogueListsTest, TypePickedDuringLoadingIsReplacedByTheFinalFill) {
    service.HoldLastList();
    OnMainWindowCreated(window);
    ASSERT_TRUE(service.WaitUntilLastListAsked(15s));

    // Every speaker category is in; the tenth background list is not.
    Pick(window.组合框_即时广播_声音类型, 3);
    EXPECT_EQ(Items(speakers()), (std::vector<Item>{{u"英语"_qs, 401}, {u"日语"_qs, 402}}));
    Pick(window.组合框_即时广播_背景类型, 9);
    EXPECT_EQ(Items(tracks()), (std::vector<Item>{{u"无"_qs, -1}}));

    service.Release();
    ASSERT_TRUE(WaitForFinalFill());
    EXPECT_EQ(Items(speakers()), kCategory1);
    EXPECT_EQ(Items(tracks()), kList1);
    // The type lists keep what the user picked.
    EXPECT_EQ(ReadSelectedIndex(window.组合框_即时广播_声音类型), 3);
    EXPECT_EQ(ReadSelectedIndex(window.组合框_即时广播_背景类型), 9);
}

TEST(CatalogueLoaderFailureTest, EveryRequestFailingStillFillsTheLists) {
    // The created event makes the working folder again when it is missing.
    std::filesystem::remove_all(WorkingFolder());
    InitGlobals();
    RecordingServer server;  // 404 for every path
    SetServiceOrigin(server.Url(""));
    MainWindow window;
    OnMainWindowCreated(window);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return window.组合框_即时广播_背景音乐->count() == 1; }, 15000));
    EXPECT_EQ(server.Requests().size(), 15u);
    EXPECT_EQ(window.组合框_即时广播_发音人->count(), 0);
    EXPECT_EQ(ReadSelectedIndex(window.组合框_即时广播_发音人), -1);
    EXPECT_EQ(ReadListText(window.组合框_即时广播_背景音乐), "无");
    EXPECT_TRUE(FolderExists(WorkingFolder()));
    ReleaseGlobals();
    SetServiceOrigin({});
}

// Closing the window while the loader waits on a service that never answers: the event loop
// ends, the request in flight is aborted and the exit routine returns within a second.
TEST(ShutdownTest, ClosingTheWindowWhileTheLoaderHangsEndsPromptly) {
    RecordingServer server([](const RecordedRequest&) { return Reply{.neverAnswer = true}; });
    SetServiceOrigin(server.Url(""));

    QElapsedTimer sinceClose;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (server.Requests().empty()) {
            return;
        }
        closer.stop();
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<MainWindow*>(widget)) {
                sinceClose.start();
                window->close();
            }
        }
    });
    closer.start(10);

    RunMainWindow();
    ASSERT_TRUE(sinceClose.isValid());
    EXPECT_LT(sinceClose.elapsed(), 1000);
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(SpeakerCatalogue().Count(), 0u);
    EXPECT_EQ(BackgroundCatalogue().Count(), 0u);
    SetServiceOrigin({});
}

// The same while a synthesis waits between its requests, its click handler still running: the
// job is abandoned and its remaining requests give up at once (the service would never answer
// them).
TEST(ShutdownTest, ClosingTheWindowDuringASynthesisEndsPromptly) {
    const std::string submitPath = "/pc/api/synVox/speechSynth";
    RecordingServer server([&](const RecordedRequest& request) {
        if (request.target.starts_with(submitPath)) {
            return Reply{.body = R"({"code":200,"message":"成功","data":{"serialId":42}})"};
        }
        if (request.target.starts_with("/pc/api/synVox/")) {
            return Reply{.neverAnswer = true};
        }
        return Reply{.status = 404, .reason = "Not Found"};
    });
    SetServiceOrigin(server.Url(""));
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string chosen = folder.filePath(u"clip"_qs).toStdString();

    MainWindow* window = nullptr;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<MainWindow*>(widget)) {
                window = found;
            }
        }
        ASSERT_NE(window, nullptr);
        window->通用对话框1 = std::make_unique<AnsweringSaveDialog>(chosen);
        window->编辑框_即时广播_广播内容->setPlainText(u"你好"_qs);
        QTest::mouseClick(window->超级按钮_即时广播_播放, Qt::LeftButton);
    });
    QElapsedTimer sinceClose;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (const RecordedRequest& request : server.Requests()) {
            if (request.target.starts_with(submitPath)) {
                closer.stop();
                sinceClose.start();
                window->close();
                return;
            }
        }
    });
    closer.start(10);

    RunMainWindow();
    ASSERT_TRUE(sinceClose.isValid());
    EXPECT_LT(sinceClose.elapsed(), 1000);
    EXPECT_FALSE(std::filesystem::exists(chosen + ".mp3"));
    SetServiceOrigin({});
}

}  // namespace
