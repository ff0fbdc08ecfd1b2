// Audition: samples fetched from the address the catalogue lists, kept in a cache folder of
// their own (a temporary XDG_CACHE_HOME here), checked as MP3 and played in a real window
// (offscreen) through a logging player. The sample servers are a recording server and the local
// dubbing server, both in this process. No sound server is reachable: playing fails quietly.
// Texts here are UTF-8; GBK texts are made with Utf8TextToAnsi.

#include "app/audition.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/audition_command.h"
#include "app/failure_reason.h"
#include "app/play_command.h"
#include "app/startup.h"
#include "app/synthesize_command.h"
#include "http/request_object.h"
#include "playback/audio_player.h"
#include "playback/mp3_decoder.h"
#include "server/dubbing_server.h"
#include "service/catalogue.h"
#include "service/waiting.h"
#include "tests/app/command_run.h"
#include "tests/playback/tone_mp3.h"
#include "tests/service/fake_service.h"
#include "tests/support/recording_server.h"
#include "text/code_page.h"
#include "window/catalogue_lists.h"
#include "window/main_window.h"

namespace {

namespace fs = std::filesystem;

// 0.9 s of tone: the alias "900".
const std::string& Tone() {
    static const std::string mp3 = EncodeToneMp3(16000, 1, 14400);
    return mp3;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every file under the folder, by name; none when it does not exist.
std::vector<std::string> FilesUnder(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto entry = fs::recursive_directory_iterator(folder, error);
         !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        if (entry->is_regular_file()) {
            names.push_back(entry->path().filename().string());
        }
    }
    return names;
}

// Sets an environment variable for the life of the object, then restores it.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        Set(value);
    }
    ~ScopedVariable() { Set(old_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    void Set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> old_;
};

// A cache folder of the test's own.
class CacheTest : public testing::Test {
  protected:
    fs::path SampleFolder() const { return cache_.path() / "dubdesk" / "samples"; }

    TempFolder cache_;
    ScopedVariable xdgCache_{"XDG_CACHE_HOME", cache_.path().string()};
};

// --- where samples are kept -------------------------------------------------------------

struct FolderCase {
    const char* name;
    std::optional<std::string> xdgCacheHome;
    std::string expected;
};

void PrintTo(const FolderCase& c, std::ostream* os) {
    *os << c.name;
}

class SampleCacheFolderTest : public testing::TestWithParam<FolderCase> {};

TEST_P(SampleCacheFolderTest, FollowsTheXdgCacheHome) {
    const ScopedVariable home("HOME", std::string("/home/someone"));
    const ScopedVariable cache("XDG_CACHE_HOME", GetParam().xdgCacheHome);
    EXPECT_EQ(SampleCacheFolder(), GetParam().expected);
}

// A relative or empty XDG_CACHE_HOME is invalid and ignored.
INSTANTIATE_TEST_SUITE_P(
    Variables, SampleCacheFolderTest,
    testing::Values(FolderCase{"Set", "/var/cache/me", "/var/cache/me/dubdesk/samples"},
                    FolderCase{"Unset", std::nullopt, "/home/someone/.cache/dubdesk/samples"},
                    FolderCase{"Empty", "", "/home/someone/.cache/dubdesk/samples"},
                    FolderCase{"Relative", "cache", "/home/someone/.cache/dubdesk/samples"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CacheTest, EachAddressHasAFileOfItsOwnInTheCacheFolder) {
    const std::string a = SampleCachePath("http://127.0.0.1:8017/files/reader/101.mp3");
    const std::string b = SampleCachePath("http://127.0.0.1:8017/files/reader/102.mp3");
    const std::string c = SampleCachePath("http://127.0.0.1:8018/files/reader/101.mp3");
    EXPECT_EQ(fs::path(a).parent_path(), SampleFolder());
    EXPECT_TRUE(a.ends_with(".mp3")) << a;
    EXPECT_NE(a, b);
    EXPECT_NE(a, c);
    EXPECT_EQ(a, SampleCachePath("http://127.0.0.1:8017/files/reader/101.mp3"));
}

// --- fetching a sample ------------------------------------------------------------------

class FetchSampleTest : public CacheTest {
  protected:
    RecordingServer server_;
};

TEST_F(FetchSampleTest, SampleIsFetchedWithoutCookiesOrTokenAndThenComesFromTheCache) {
    server_.Route("/files/reader/101.mp3", {.body = Tone()});
    const std::string address = server_.Url("/files/reader/101.mp3");

    SampleOutcome first;
    const std::string path = FetchSample(address, &first);

    EXPECT_EQ(first.failure, SampleFailure::None);
    EXPECT_FALSE(first.fromCache);
    EXPECT_EQ(path, SampleCachePath(address));
    EXPECT_EQ(ReadFile(path), Tone());
    const std::vector<RecordedRequest> requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /files/reader/101.mp3 HTTP/1.1");
    EXPECT_EQ(requests[0].Header("Cookie"), std::nullopt);
    EXPECT_EQ(requests[0].Header("Authorization"), std::nullopt);
    EXPECT_EQ(requests[0].Header("Accept"), "*/*") << "the engine's default header lines";
    EXPECT_EQ(requests[0].Header("Referer"), address);
    EXPECT_TRUE(requests[0].body.empty());

    SampleOutcome second;
    EXPECT_EQ(FetchSample(address, &second), path);
    EXPECT_TRUE(second.fromCache);
    EXPECT_EQ(server_.Requests().size(), 1u) << "no second request";
    EXPECT_TRUE(SampleIsCached(address));
}

TEST_F(FetchSampleTest, TrackAddressIsFollowedToWhereItRedirects) {
    server_.Route("/bgvox/4", {.status = 302,
                               .reason = "Found",
                               .headerLines = {"Location: " + server_.Url("/files/bgvox/4.mp3")}});
    server_.Route("/files/bgvox/4.mp3", {.body = Tone()});

    SampleOutcome outcome;
    const std::string path = FetchSample(server_.Url("/bgvox/4"), &outcome);

    EXPECT_EQ(outcome.failure, SampleFailure::None);
    EXPECT_EQ(ReadFile(path), Tone());
    ASSERT_EQ(server_.Requests().size(), 2u);
    EXPECT_EQ(server_.Requests()[1].target, "/files/bgvox/4.mp3");
    EXPECT_EQ(server_.Requests()[1].Header("Cookie"), std::nullopt);
}

struct RefusalCase {
    const char* name;
    Reply reply;
    SampleFailure failure;
    const char* caption;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class SampleRefusalTest : public FetchSampleTest,
                          public testing::WithParamInterface<RefusalCase> {};

// Whatever comes back that is not MP3 is refused with a reason, and nothing is kept: the next
// audition asks again.
TEST_P(SampleRefusalTest, NothingIsKeptAndTheReasonIsWorded) {
    server_.Route("/sample.mp3", GetParam().reply);
    const std::string address = server_.Url("/sample.mp3");

    SampleOutcome outcome;
    EXPECT_EQ(FetchSample(address, &outcome), "");

    EXPECT_EQ(outcome.failure, GetParam().failure);
    EXPECT_EQ(AuditionFailureCaption(outcome), Utf8TextToAnsi(GetParam().caption));
    EXPECT_FALSE(DescribeSampleFailure(outcome).empty());
    EXPECT_TRUE(FilesUnder(cache_.path()).empty());
    EXPECT_FALSE(SampleIsCached(address));
    FetchSample(address);
    EXPECT_EQ(server_.Requests().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SampleRefusalTest,
    testing::Values(RefusalCase{"HtmlPage",
                                {.headerLines = {"Content-Type: text/html"},
                                 .body = "<html><body>Not here</body></html>"},
                                SampleFailure::NotAudio,
                                "试听失败：下载的内容不是音频"},
                    RefusalCase{"JsonError",
                                {.body = R"({"code":404,"message":"文件不存在"})"},
                                SampleFailure::NotAudio,
                                "试听失败：下载的内容不是音频"},
                    RefusalCase{
                        "Empty", {}, SampleFailure::NotAudio, "试听失败：下载的内容不是音频"},
                    RefusalCase{"Missing",
                                {.status = 404, .reason = "Not Found", .body = Tone()},
                                SampleFailure::HttpStatus,
                                "试听失败：服务返回错误 404"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CacheTest, UnreachableServiceIsNamed) {
    int port = 0;
    {
        const RecordingServer gone;
        port = gone.Port();
    }
    SampleOutcome outcome;
    EXPECT_EQ(FetchSample("http://127.0.0.1:" + std::to_string(port) + "/s.mp3", &outcome), "");
    EXPECT_EQ(outcome.failure, SampleFailure::Exchange);
    EXPECT_EQ(outcome.error.kind, HttpError::Kind::Refused);
    EXPECT_EQ(AuditionFailureCaption(outcome), Utf8TextToAnsi("试听失败：无法连接服务"));
    EXPECT_TRUE(FilesUnder(cache_.path()).empty());
}

TEST_F(FetchSampleTest, CacheFolderThatCannotBeMadeIsNamed) {
    server_.Route("/s.mp3", {.body = Tone()});
    // A file where the cache folder should begin.
    const ScopedVariable cache("XDG_CACHE_HOME", cache_.Write("plain file", "x").string());

    SampleOutcome outcome;
    EXPECT_EQ(FetchSample(server_.Url("/s.mp3"), &outcome), "");
    EXPECT_EQ(outcome.failure, SampleFailure::CacheWrite);
    EXPECT_EQ(outcome.errorNumber, ENOTDIR);
    EXPECT_EQ(AuditionFailureCaption(outcome),
              Utf8TextToAnsi("试听失败：无法写入缓存：文件夹不存在"));
}

TEST_F(CacheTest, NoAddressAsksNobody) {
    SampleOutcome outcome;
    EXPECT_EQ(FetchSample("", &outcome), "");
    EXPECT_EQ(outcome.failure, SampleFailure::NoAddress);
}

// --- audition in the window -------------------------------------------------------------

// The real player, with every call logged.
class LoggingPlayer final : public MediaPlayer {
  public:
    bool Open(const std::string& path, const std::string& alias) override {
        log.push_back("open " + fs::path(path).filename().string() + " as " + alias);
        return real.Open(path, alias);
    }
    std::optional<std::int32_t> LengthMs(const std::string& alias) override {
        return real.LengthMs(alias);
    }
    bool Play(const std::string& alias) override {
        log.push_back("play " + alias);
        return real.Play(alias);
    }
    bool Close(const std::string& alias) override {
        log.push_back("close " + alias);
        return real.Close(alias);
    }

    Mp3Player real;
    std::vector<std::string> log;
};

// Answers the save dialog at once with a name in the folder.
class ScriptedDialog final : public SaveDialog {
  public:
    explicit ScriptedDialog(std::string name) : name_(std::move(name)) {}
    void SetFilter(const std::string&) override {}
    bool Show() override { return true; }
    std::string FileName() const override { return name_; }

  private:
    std::string name_;
};

class WindowAuditionTest : public CacheTest {
  protected:
    void SetUp() override {
        SpeakerCatalogue().Clear();
        BackgroundCatalogue().Clear();
        CurrentPlaybackAlias.clear();
        InstallMediaPlayer(&player_);
        SetHttpExchangeRunner(RunExchangeBesideWindowEvents);
        ConnectPlayCommand(*window_);
        ConnectAuditionCommand(*window_);
        QObject::connect(window_.get(), &QWidget::windowTitleChanged,
                         [this](const QString& caption) { captions_.push_back(caption); });
    }

    void TearDown() override {
        SetHttpExchangeRunner({});
        InstallMediaPlayer(nullptr);
        CurrentPlaybackAlias.clear();
        SpeakerCatalogue().Clear();
        BackgroundCatalogue().Clear();
    }

    // One speaker (id 101) whose sample is at address, listed and selected.
    void ListSpeaker(const std::string& address) {
        SpeakerCatalogue().Append(
            {{.id = "101", .name = Utf8TextToAnsi("晓雯"), .voxUrl = address, .category = 1}});
        FillSpeakerList(*window_, 1);
    }

    LoggingPlayer player_;
    std::unique_ptr<MainWindow> window_ = std::make_unique<MainWindow>();
    std::vector<QString> captions_;
};

TEST_F(WindowAuditionTest, NotMp3IsRefusedInTheCaptionAndNothingPlays) {
    RecordingServer server;
    server.Route("/101.mp3", {.body = "<html>busy</html>"});
    ListSpeaker(server.Url("/101.mp3"));

    emit window_->speakerAuditionRequested();

    EXPECT_EQ(captions_, (std::vector<QString>{QStringLiteral(u"正在获取试听音频，请稍候..."),
                                               QStringLiteral(u"试听失败：下载的内容不是音频")}));
    EXPECT_TRUE(player_.log.empty());
    EXPECT_TRUE(CurrentPlaybackAlias.empty());
    EXPECT_TRUE(FilesUnder(cache_.path()).empty());
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
}

TEST_F(WindowAuditionTest, NothingSelectedIsSaidAndNobodyIsAsked) {
    FillBackgroundTrackList(*window_, 1);  // only "无"

    emit window_->speakerAuditionRequested();
    emit window_->trackAuditionRequested();

    EXPECT_EQ(captions_, (std::vector<QString>{QStringLiteral(u"试听失败：未选择发音人"),
                                               QStringLiteral(u"试听失败：未选择背景音乐")}));
    EXPECT_TRUE(player_.log.empty());
}

// Stop while the sample is on its way: the exchange is abandoned at once, Play (disabled while
// the fetch ran) is enabled again, nothing is kept or played.
TEST_F(WindowAuditionTest, StopDuringTheFetchAbandonsIt) {
    RecordingServer server;
    server.Route("/101.mp3", {.neverAnswer = true});
    ListSpeaker(server.Url("/101.mp3"));
    bool playEnabledDuringFetch = true;
    QTimer::singleShot(200, window_.get(), [&] {
        playEnabledDuringFetch = window_->超级按钮_即时广播_播放->isEnabled();
        window_->超级按钮_即时广播_停止->click();
    });

    const auto start = std::chrono::steady_clock::now();
    emit window_->speakerAuditionRequested();
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_LT(elapsed, std::chrono::seconds(3)) << "not the 15-second limit";
    EXPECT_FALSE(playEnabledDuringFetch);
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
    EXPECT_EQ(captions_.back(), QStringLiteral(u"试听已取消"));
    EXPECT_TRUE(FilesUnder(cache_.path()).empty());
    EXPECT_TRUE(player_.log.empty());
}

// A Play's job runs on: audition while it waits is refused in the caption, asks nobody for the
// sample, and the job's audio is written and played as usual.
TEST_F(WindowAuditionTest, AuditionWhileAJobRunsIsRefused) {
    RecordingServer samples;
    samples.Route("/101.mp3", {.body = Tone()});
    ListSpeaker(samples.Url("/101.mp3"));
    FakeService service;
    service.SetScript({.download = {.body = Tone()}});
    window_->编辑框_即时广播_广播内容->setPlainText(QStringLiteral(u"你好"));
    const std::string audio = (cache_.path() / "job.mp3").string();
    window_->通用对话框1 = std::make_unique<ScriptedDialog>(audio);
    int auditionsDuringJob = 0;
    SetWaitFunction([&](int) {
        if (auditionsDuringJob++ == 0) {
            emit window_->speakerAuditionRequested();
        }
    });

    window_->超级按钮_即时广播_播放->click();
    SetWaitFunction({});

    ASSERT_GT(auditionsDuringJob, 0);
    EXPECT_TRUE(samples.Requests().empty());
    EXPECT_NE(
        std::find(captions_.begin(), captions_.end(), QStringLiteral(u"正在合成语音，暂不能试听")),
        captions_.end());
    EXPECT_EQ(captions_.back(), QStringLiteral(u"语音合成完毕"));
    EXPECT_EQ(ReadFile(audio), Tone());
    EXPECT_EQ(player_.log.back(), "play 900");
    EXPECT_FALSE(SampleIsCached(samples.Url("/101.mp3")));
}

// Against the local dubbing server: the speaker's real sample and a track, both played under
// their length; Stop closes what plays; the second audition of the speaker comes from the cache
// (the server is gone by then).
class LocalServerAuditionTest : public WindowAuditionTest {
  protected:
    void SetUp() override {
        WindowAuditionTest::SetUp();
        ServerOptions options;
        options.quiet = true;
        server_ = std::make_unique<DubbingServer>(options);
        ASSERT_GT(server_->Start(), 0);
        SetServiceOrigin(server_->Origin());
        std::vector<SpeakerRecord> speakers;
        ASSERT_GT(FetchSpeakerCategory(speakers, 1), 0);
        SpeakerCatalogue().Append(speakers);
        std::vector<BackgroundRecord> tracks;
        ASSERT_GT(FetchBackgroundList(tracks, 2), 0);
        BackgroundCatalogue().Append(tracks);
        FillSpeakerList(*window_, 1);
        FillBackgroundTrackList(*window_, 2);
    }

    void TearDown() override {
        SetServiceOrigin({});
        server_.reset();
        WindowAuditionTest::TearDown();
    }

    std::unique_ptr<DubbingServer> server_;
};

TEST_F(LocalServerAuditionTest, SpeakerSampleAndTrackPlayAndStopStopsThem) {
    const QString speaker = window_->组合框_即时广播_发音人->currentText();

    emit window_->speakerAuditionRequested();

    const std::string alias = CurrentPlaybackAlias;
    ASSERT_FALSE(alias.empty());
    EXPECT_GT(std::stoi(alias), 1000) << "a spoken sentence";
    EXPECT_EQ(player_.log.back(), "play " + alias);
    EXPECT_EQ(captions_.back(), QStringLiteral(u"正在试听：") + speaker);
    EXPECT_TRUE(player_.real.IsOpen(alias));
    window_->超级按钮_即时广播_停止->click();
    EXPECT_FALSE(player_.real.IsOpen(alias));
    EXPECT_EQ(player_.log.back(), "close " + alias);

    SelectItem(window_->组合框_即时广播_背景音乐, 1);
    emit window_->trackAuditionRequested();
    const std::string track = CurrentPlaybackAlias;
    EXPECT_GT(std::stoi(track), 5000) << "a music loop";
    EXPECT_EQ(player_.log.back(), "play " + track);
    EXPECT_EQ(FilesUnder(SampleFolder()).size(), 2u);

    server_.reset();
    captions_.clear();
    emit window_->speakerAuditionRequested();
    EXPECT_EQ(CurrentPlaybackAlias, alias);
    EXPECT_EQ(captions_, std::vector<QString>{QStringLiteral(u"正在试听：") + speaker});
    EXPECT_TRUE(player_.real.IsOpen(alias));
    EXPECT_FALSE(player_.real.IsOpen(track)) << "the track made way for the sample";
}

// --- dubdesk synthesize --preview -------------------------------------------------------

// dubdesk synthesize --preview against the local dubbing server, in this process.
class PreviewCommandTest : public CacheTest {
  protected:
    void SetUp() override {
        ServerOptions options;
        options.quiet = true;
        server_ = std::make_unique<DubbingServer>(options);
        ASSERT_GT(server_->Start(), 0);
    }

    void TearDown() override { SetServiceOrigin({}); }

    CommandRun Run(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"--preview", "--service-origin", server_->Origin()});
        return RunCommand(arguments);
    }

    std::unique_ptr<DubbingServer> server_;
};

// Saved with --output: the very sample the window plays, kept in the cache.
TEST_F(PreviewCommandTest, SpeakerSampleIsSavedFromTheCache) {
    const fs::path first = cache_.path() / "sample.mp3";

    const CommandRun run = Run({"--speaker", "101", "--output", first.string()});

    ASSERT_EQ(run.status, kExitWritten) << run.err;
    EXPECT_EQ(FilesUnder(SampleFolder()).size(), 1u);
    const std::string cached = ReadFile(SampleFolder() / FilesUnder(SampleFolder()).front());
    EXPECT_EQ(ReadFile(first), cached);
    EXPECT_GT(Mp3BytesLengthMs(cached).value_or(0), 500) << "spoken words";
    EXPECT_TRUE(run.out.starts_with(first.string() + ": ")) << run.out;
    EXPECT_EQ(run.err.find("from the cache"), std::string::npos) << run.err;
}

TEST_F(PreviewCommandTest, SecondPreviewOfTheSpeakerComesFromTheCache) {
    ASSERT_EQ(Run({"--speaker", "101", "--output", (cache_.path() / "a").string()}).status,
              kExitWritten);
    const CommandRun again = Run({"--speaker", "101", "--output", (cache_.path() / "b").string()});
    EXPECT_EQ(again.status, kExitWritten) << again.err;
    EXPECT_NE(again.err.find("(from the cache)"), std::string::npos) << again.err;
    EXPECT_EQ(ReadFile(cache_.path() / "a.mp3"), ReadFile(cache_.path() / "b.mp3"));
}

TEST_F(PreviewCommandTest, BackgroundAloneSavesTheTrack) {
    const CommandRun run = Run({"--background", "401", "--output", (cache_.path() / "t").string()});
    ASSERT_EQ(run.status, kExitWritten) << run.err;
    EXPECT_NE(run.err.find("background track 401"), std::string::npos) << run.err;
    EXPECT_GT(Mp3BytesLengthMs(ReadFile(cache_.path() / "t.mp3")).value_or(0), 5000);
}

// Without --output the sample is played; with no sound output that fails and says so, but the
// sample is kept for next time.
TEST_F(PreviewCommandTest, WithoutSoundOutputThePreviewFailsAndSaysWhy) {
    const CommandRun run = Run({"--speaker", "101"});
    EXPECT_EQ(run.status, kExitNoAudio);
    EXPECT_NE(run.err.find("no sound output"), std::string::npos) << run.err;
    EXPECT_EQ(FilesUnder(SampleFolder()).size(), 1u);
    EXPECT_TRUE(run.out.empty()) << run.out;
}

struct PreviewRefusalCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    const char* said;
};

void PrintTo(const PreviewRefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class PreviewRefusalTest : public PreviewCommandTest,
                           public testing::WithParamInterface<PreviewRefusalCase> {};

TEST_P(PreviewRefusalTest, NothingIsFetchedOrWritten) {
    const CommandRun run = Run(GetParam().arguments);
    EXPECT_EQ(run.status, GetParam().status);
    EXPECT_NE(run.err.find(GetParam().said), std::string::npos) << run.err;
    EXPECT_TRUE(FilesUnder(cache_.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, PreviewRefusalTest,
    testing::Values(
        PreviewRefusalCase{
            "SpeakerAndTrack", {"--speaker", "101", "--background", "401"}, kExitUsage, "not both"},
        PreviewRefusalCase{"UnknownSpeaker", {"--speaker", "99999"}, kExitUsage, "99999"},
        PreviewRefusalCase{
            "TextGiven", {"--speaker", "101", "--text", "hi"}, kExitUsage, "takes no text"},
        PreviewRefusalCase{"OutputIsAFolder",
                           {"--speaker", "101", "--output", "/tmp/"},
                           kExitUsage,
                           "names a folder"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
