// The Play command in a real window (offscreen): the save dialog pre-answered, the service a
// scripted recording server or the local dubbing server in this process, the waits recorded
// instead of waited, the player a real one whose calls are logged. No sound server is reachable,
// so playing fails quietly and no test makes noise.

#include "app/play_command.h"

#include <gtest/gtest.h>
#include <mpg123.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/audio_file.h"
#include "app/startup.h"
#include "http/request_object.h"
#include "playback/audio_player.h"
#include "server/dubbing_server.h"
#include "service/catalogue.h"
#include "service/service_api.h"
#include "service/waiting.h"
#include "tests/playback/tone_mp3.h"
#include "tests/service/fake_service.h"
#include "text/code_page.h"
#include "window/main_window.h"

namespace {

namespace fs = std::filesystem;

const QString kSynthesizing = QStringLiteral(u"正在合成语音，请稍候...");
const QString kDone = QStringLiteral(u"语音合成完毕");
const QString kFailed = QStringLiteral(u"语音合成失败");

// 1.2 s and 0.8 s of tone at 16 kHz: the aliases "1200" and "800".
const std::string& LongTone() {
    static const std::string mp3 = EncodeToneMp3(16000, 1, 19200);
    return mp3;
}
const std::string& ShortTone() {
    static const std::string mp3 = EncodeToneMp3(16000, 1, 12800);
    return mp3;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> FolderEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t IndexOf(const std::vector<std::string>& log, const std::string& entry) {
    return static_cast<std::size_t>(std::find(log.begin(), log.end(), entry) - log.begin());
}

bool HasPrefix(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

struct DecodedAudio {
    long rate = 0;
    std::size_t frames = 0;
    int peak = 0;  // largest absolute 16-bit sample
};

// Decodes the whole file with gapless trimming, as a player would.
DecodedAudio Decode(const fs::path& path) {
    DecodedAudio audio;
    int error = MPG123_OK;
    std::unique_ptr<mpg123_handle, decltype(&mpg123_delete)> handle(mpg123_new(nullptr, &error),
                                                                    &mpg123_delete);
    if (!handle || mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0) != MPG123_OK ||
        mpg123_format_none(handle.get()) != MPG123_OK) {
        return audio;
    }
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i) {
        mpg123_format(handle.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    if (mpg123_open(handle.get(), path.c_str()) != MPG123_OK) {
        return audio;
    }
    int channels = 0;
    int encoding = 0;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        std::size_t done = 0;
        const int result = mpg123_read(handle.get(), buffer.data(), buffer.size(), &done);
        if (result == MPG123_NEW_FORMAT) {
            mpg123_getformat(handle.get(), &audio.rate, &channels, &encoding);
            continue;
        }
        if (channels == 0 || (result != MPG123_OK && result != MPG123_DONE)) {
            break;
        }
        const auto* samples = reinterpret_cast<const int16_t*>(buffer.data());
        for (std::size_t i = 0; i < done / 2; ++i) {
            audio.peak = std::max(audio.peak, std::abs(static_cast<int>(samples[i])));
        }
        audio.frames += done / 2 / static_cast<std::size_t>(channels);
        if (result == MPG123_DONE) {
            break;
        }
    }
    mpg123_close(handle.get());
    return audio;
}

// Answers at once: with the name in `chosen`, or cancel when it holds none.
class ScriptedDialog final : public SaveDialog {
  public:
    void SetFilter(const std::string& text) override { filter = text; }
    bool Show() override {
        ++shows;
        if (onShow) {
            onShow();
        }
        return chosen.has_value();
    }
    std::string FileName() const override { return chosen.value_or(""); }

    std::optional<std::string> chosen;
    std::function<void()> onShow;
    int shows = 0;
    std::string filter;
};

// The real player, with every call written to the shared event log.
class LoggingPlayer final : public MediaPlayer {
  public:
    explicit LoggingPlayer(std::vector<std::string>& log) : log_(log) {}

    bool Open(const std::string& path, const std::string& alias) override {
        log_.push_back("open " + fs::path(path).filename().string() + " as " + alias);
        return real.Open(path, alias);
    }
    std::optional<std::int32_t> LengthMs(const std::string& alias) override {
        return real.LengthMs(alias);
    }
    bool Play(const std::string& alias) override {
        log_.push_back("play " + alias);
        return real.Play(alias);
    }
    bool Close(const std::string& alias) override {
        log_.push_back("close " + alias);
        return real.Close(alias);
    }

    Mp3Player real;

  private:
    std::vector<std::string>& log_;
};

// What the window showed while the job waited.
struct WaitSeen {
    int milliseconds;
    bool playEnabled;
    QString caption;
    std::string alias;
};

class PlayCommandTest : public testing::Test {
  protected:
    void SetUp() override {
        CurrentPlaybackAlias.clear();
        BackgroundCatalogue().Clear();
        InstallMediaPlayer(&player_);
        auto dialog = std::make_unique<ScriptedDialog>();
        dialog_ = dialog.get();
        dialog_->chosen = Path("x");
        dialog_->onShow = [this] { log_.push_back("dialog"); };
        window_->通用对话框1 = std::move(dialog);
        window_->编辑框_即时广播_广播内容->setPlainText(QStringLiteral(u"你好，世界。"));
        QObject::connect(window_.get(), &QWidget::windowTitleChanged,
                         [this](const QString& caption) { captions_.push_back(caption); });
        SetWaitFunction([this](int milliseconds) {
            log_.push_back("wait");
            waits_.push_back({milliseconds, window_ && window_->超级按钮_即时广播_播放->isEnabled(),
                              window_ ? window_->windowTitle() : QString(), CurrentPlaybackAlias});
            if (onWait_) {
                onWait_(waits_.size());
            }
            RealWait(milliseconds);
        });
        SetReplaceQuestion([this](MainWindow&, const std::string& path) {
            questions_.push_back(path);
            return replace_;
        });
    }

    void TearDown() override {
        SetReplaceQuestion({});
        SetWaitFunction({});
        InstallMediaPlayer(nullptr);
        CurrentPlaybackAlias.clear();
        BackgroundCatalogue().Clear();
    }

    // The scripted service answers at once; the local server needs a little time to render.
    virtual void RealWait(int) {}

    std::string Path(const std::string& name) const { return (folder_.path() / name).string(); }

    // A clip open and playing under "1200", as after an earlier Play.
    void StartEarlierClip() {
        const std::string path = folder_.Write("earlier.mp3", LongTone()).string();
        CurrentPlaybackAlias = "1200";
        OpenAndPlayClip(path, CurrentPlaybackAlias);
        ASSERT_TRUE(player_.real.IsOpen("1200"));
        log_.clear();
    }

    TempFolder folder_;
    std::vector<std::string> log_;
    LoggingPlayer player_{log_};
    std::unique_ptr<MainWindow> window_ = std::make_unique<MainWindow>();
    ScriptedDialog* dialog_ = nullptr;
    std::vector<QString> captions_;
    std::vector<WaitSeen> waits_;
    std::function<void(std::size_t wait)> onWait_;
    std::vector<std::string> questions_;
    bool replace_ = true;
};

// Against a scripted service that delivers LongTone after two "work in progress" answers.
class ScriptedPlayTest : public PlayCommandTest {
  protected:
    void SetUp() override {
        PlayCommandTest::SetUp();
        service_.SetScript(ToneScript(LongTone()));
    }

    static ServiceScript ToneScript(const std::string& mp3) {
        ServiceScript script;
        script.download.body = mp3;
        return script;
    }

    std::string ServiceUrl(const std::string& path) const {
        return "http://" + service_.HostPort() + path;
    }

    std::vector<RecordedRequest> Requests(const std::string& path) const {
        std::vector<RecordedRequest> found;
        for (const RecordedRequest& request : service_.Requests()) {
            if (HasPrefix(request.target, path)) {
                found.push_back(request);
            }
        }
        return found;
    }

    FakeService service_;
};

TEST_F(ScriptedPlayTest, PlaySavesAndPlaysTheAudioWithCaptionsInOrder) {
    OnPlayClicked(*window_);

    EXPECT_EQ(dialog_->shows, 1);
    EXPECT_EQ(dialog_->filter, Utf8TextToAnsi("声音文件（*.mp3）|*.mp3"));
    EXPECT_TRUE(questions_.empty()) << "a new file needs no question";
    EXPECT_EQ(ReadFile(Path("x.mp3")), LongTone());
    EXPECT_EQ(CurrentPlaybackAlias, "1200");
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_.back(), "play 1200");
    EXPECT_EQ(captions_, (std::vector<QString>{kSynthesizing, kDone}));

    ASSERT_FALSE(waits_.empty());
    for (const WaitSeen& wait : waits_) {
        EXPECT_FALSE(wait.playEnabled) << "Play is disabled for the whole job";
        EXPECT_EQ(wait.caption, kSynthesizing);
    }
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
}

struct ContentCase {
    const char* name;
    const char16_t* content;
    bool synthesized;
};

void PrintTo(const ContentCase& c, std::ostream* os) {
    *os << c.name;
}

class ContentTest : public ScriptedPlayTest, public testing::WithParamInterface<ContentCase> {};

// Only a box without a single character ends the command before the dialog.
TEST_P(ContentTest, OnlyAnEmptyBoxEndsTheCommandBeforeTheDialog) {
    window_->编辑框_即时广播_广播内容->setPlainText(QString::fromUtf16(GetParam().content));

    OnPlayClicked(*window_);

    const int expected = GetParam().synthesized ? 1 : 0;
    EXPECT_EQ(dialog_->shows, expected);
    EXPECT_EQ(static_cast<int>(Requests(kSubmitPath).size()), expected);
    EXPECT_EQ(fs::exists(Path("x.mp3")), GetParam().synthesized);
    if (!GetParam().synthesized) {
        EXPECT_TRUE(captions_.empty());
    }
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Content, ContentTest,
                         testing::Values(ContentCase{"Empty", u"", false},
                                         ContentCase{"BlanksAndLineBreaks", u"  \n\u3000", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScriptedPlayTest, CancelledDialogChangesNothing) {
    StartEarlierClip();
    window_->setWindowTitle(QStringLiteral("before"));
    captions_.clear();
    dialog_->chosen.reset();

    OnPlayClicked(*window_);

    EXPECT_EQ(dialog_->shows, 1);
    EXPECT_TRUE(captions_.empty());
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("before"));
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
    EXPECT_EQ(log_, std::vector<std::string>{"dialog"}) << "the earlier clip plays on";
    EXPECT_EQ(CurrentPlaybackAlias, "1200");
    EXPECT_TRUE(player_.real.IsOpen("1200"));
    EXPECT_EQ(service_.RequestCount(), 0u);
}

struct SaveNameCase {
    const char* name;
    std::string chosen;
    std::string written;
};

void PrintTo(const SaveNameCase& c, std::ostream* os) {
    *os << c.name;
}

class SaveNameTest : public ScriptedPlayTest, public testing::WithParamInterface<SaveNameCase> {};

// One ".mp3" at the end, never two, whatever its letter case; blanks in the name keep the clip
// its real length.
TEST_P(SaveNameTest, AudioGoesToTheNameWithOneMp3Suffix) {
    dialog_->chosen = Path(GetParam().chosen);

    OnPlayClicked(*window_);

    EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{GetParam().written});
    EXPECT_EQ(ReadFile(Path(GetParam().written)), LongTone());
    EXPECT_EQ(CurrentPlaybackAlias, "1200");
    EXPECT_EQ(Mp3PathFor(GetParam().chosen), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SaveNameTest,
    testing::Values(SaveNameCase{"Bare", "x", "x.mp3"}, SaveNameCase{"Mp3", "x.mp3", "x.mp3"},
                    SaveNameCase{"UpperCase", "x.MP3", "x.MP3"},
                    SaveNameCase{"MixedCase", "x.mP3", "x.mP3"},
                    SaveNameCase{"OtherSuffix", "x.wav", "x.wav.mp3"},
                    SaveNameCase{"Mp3InTheMiddle", "x.mp3.txt", "x.mp3.txt.mp3"},
                    SaveNameCase{"BlanksAndChinese", "配音 第 1 段", "配音 第 1 段.mp3"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReplaceCase {
    const char* name;
    std::string chosen;
    bool answer;
    bool asked;     // by the command; a name ending in ".mp3" was confirmed by the dialog
    bool replaced;  // else the old file stays byte for byte and nothing is synthesized
};

void PrintTo(const ReplaceCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplaceTest : public ScriptedPlayTest, public testing::WithParamInterface<ReplaceCase> {};

TEST_P(ReplaceTest, ExistingFileIsReplacedOnlyOnceTheUserAgreed) {
    WriteFile(Path("x.mp3"), "the user's own file");
    replace_ = GetParam().answer;
    dialog_->chosen = Path(GetParam().chosen);

    OnPlayClicked(*window_);

    EXPECT_EQ(questions_, GetParam().asked ? std::vector<std::string>{Path("x.mp3")}
                                           : std::vector<std::string>{});
    EXPECT_EQ(ReadFile(Path("x.mp3")), GetParam().replaced ? LongTone() : "the user's own file");
    EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"x.mp3"});
    if (!GetParam().replaced) {
        EXPECT_EQ(service_.RequestCount(), 0u);
        EXPECT_TRUE(captions_.empty());
        EXPECT_EQ(log_, std::vector<std::string>{"dialog"});
    }
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ReplaceTest,
    testing::Values(ReplaceCase{"SuffixAddedAnswerNo", "x", false, true, false},
                    ReplaceCase{"SuffixAddedAnswerYes", "x", true, true, true},
                    ReplaceCase{"ConfirmedByTheDialog", "x.mp3", false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    std::function<void(ServiceScript&)> spoil;
    QString reason;  // what the caption says after "语音合成失败："
};

QString FailedBecause(const QString& reason) {
    return kFailed + QStringLiteral(u"：") + reason;
}

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class FailedJobTest : public ScriptedPlayTest, public testing::WithParamInterface<FailureCase> {};

// A job without audio leaves the user's file byte for byte, plays nothing and says so; the clip
// that played before is closed all the same, as the synthesis began.
TEST_P(FailedJobTest, LeavesTheFileAsItWasAndSaysTheSynthesisFailed) {
    ServiceScript script = ToneScript(LongTone());
    GetParam().spoil(script);
    service_.SetScript(script);
    WriteFile(Path("x.mp3"), "the user's own file");
    dialog_->chosen = Path("x.mp3");
    StartEarlierClip();

    OnPlayClicked(*window_);

    EXPECT_EQ(ReadFile(Path("x.mp3")), "the user's own file");
    EXPECT_EQ(FolderEntries(folder_.path()), (std::vector<std::string>{"earlier.mp3", "x.mp3"}));
    EXPECT_EQ(captions_, (std::vector<QString>{kSynthesizing, FailedBecause(GetParam().reason)}));
    EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                            [](const std::string& entry) { return !HasPrefix(entry, "wait"); }),
              2)
        << "only the dialog and the close of the earlier clip";
    EXPECT_EQ(log_.at(1), "close 1200");
    EXPECT_TRUE(CurrentPlaybackAlias.empty());
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedJobTest,
    testing::Values(
        FailureCase{
            "SubmitRefused",
            [](ServiceScript& s) { s.submit = {.body = R"({"code":500,"message":"失败"})"}; },
            QStringLiteral(u"服务未接受任务")},
        FailureCase{"SubmitUnavailable",
                    [](ServiceScript& s) {
                        s.submit = {.status = 503, .reason = "Unavailable", .body = "<html/>"};
                    },
                    QStringLiteral(u"服务返回错误 503")},
        FailureCase{"NoDownloadAddress",
                    [](ServiceScript& s) {
                        s.result = [](int, const std::string&) {
                            return Reply{.body = R"({"code":200,"data":{"vsriStatus":3}})"};
                        };
                    },
                    QStringLiteral(u"会话已失效")},
        FailureCase{"ResultForbidden",
                    [](ServiceScript& s) {
                        s.result = [](int, const std::string&) {
                            return Reply{.status = 403, .reason = "Forbidden"};
                        };
                    },
                    QStringLiteral(u"服务返回错误 403")},
        FailureCase{"NeverReady",
                    [](ServiceScript& s) {
                        s.result = [](int, const std::string&) { return BusyResult(); };
                    },
                    QStringLiteral(u"等待结果超时")},
        FailureCase{"DownloadNotFound",
                    [](ServiceScript& s) {
                        s.download = {.status = 404, .reason = "Not Found", .body = "<html/>"};
                    },
                    QStringLiteral(u"服务返回错误 404")},
        FailureCase{"DownloadIsAnErrorPage",
                    [](ServiceScript& s) {
                        s.download = {.body = "<html><body>Internal error</body></html>"};
                    },
                    QStringLiteral(u"下载的内容不是音频")},
        FailureCase{
            "DownloadIsJson",
            [](ServiceScript& s) { s.download = {.body = R"({"code":500,"message":"error"})"}; },
            QStringLiteral(u"下载的内容不是音频")},
        FailureCase{"DownloadEmpty", [](ServiceScript& s) { s.download = {}; },
                    QStringLiteral(u"下载的内容不是音频")},
        FailureCase{"DownloadOfRandomBytes",
                    [](ServiceScript& s) {
                        std::string noise(64 * 1024, '\0');
                        unsigned state = 12345;
                        for (char& c : noise) {
                            state = state * 1103515245 + 12345;
                            c = static_cast<char>(state >> 16);
                        }
                        s.download = {.body = noise};
                    },
                    QStringLiteral(u"下载的内容不是音频")},
        FailureCase{"DownloadWithoutEnd",
                    [](ServiceScript& s) {
                        s.download = {.body = std::string(1 << 20, 'x'), .endlessBody = true};
                    },
                    QStringLiteral(u"服务返回的内容过大")}),
    [](const auto& info) { return std::string(info.param.name); });

// The audio cannot be written where a folder has the name: the folder stays as it was, no
// temporary file is left behind, and the caption tells of the failure.
TEST_F(ScriptedPlayTest, FailedWriteSaysTheSynthesisFailed) {
    fs::create_directory(Path("x.mp3"));
    WriteFile(Path("x.mp3/inside"), "kept");

    OnPlayClicked(*window_);

    EXPECT_EQ(questions_, std::vector<std::string>{Path("x.mp3")});
    EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"x.mp3"});
    EXPECT_EQ(ReadFile(Path("x.mp3/inside")), "kept");
    EXPECT_EQ(captions_,
              (std::vector<QString>{
                  kSynthesizing, FailedBecause(QStringLiteral(u"无法写入文件：这是一个文件夹"))}));
    EXPECT_EQ(std::count(log_.begin(), log_.end(), "play 1200"), 0);
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
}

TEST_F(ScriptedPlayTest, ContentIsReadAgainAfterTheDialog) {
    dialog_->onShow = [this] {
        window_->编辑框_即时广播_广播内容->setPlainText(QStringLiteral("a b"));
    };

    OnPlayClicked(*window_);

    const std::vector<RecordedRequest> submits = Requests(kSubmitPath);
    ASSERT_EQ(submits.size(), 1u);
    EXPECT_NE(submits[0].body.find(R"("ttsContent":"a%20b")"), std::string::npos)
        << submits[0].body;
}

struct Item {
    std::string text;
    int32_t value;
};

struct SettingsCase {
    const char* name;
    // Indexes to select; none: as the window starts.
    std::optional<int> speed{};
    std::optional<int> readerVolume{};
    std::optional<int> backgroundVolume{};
    std::optional<int> pitch{};
    std::vector<Item> speakers{};  // empty: the catalogue has not been loaded
    int speaker = -1;
    std::vector<Item> tracks{};
    int track = -1;
    std::vector<std::string> expected{};  // pieces of the submit body
    bool trackRequested = false;
};

void PrintTo(const SettingsCase& c, std::ostream* os) {
    *os << c.name;
}

class SettingsTest : public ScriptedPlayTest, public testing::WithParamInterface<SettingsCase> {
  protected:
    static void Fill(QComboBox* list, const std::vector<Item>& items, int selected) {
        for (const Item& item : items) {
            AddItem(list, Utf8TextToAnsi(item.text), item.value);
        }
        SelectItem(list, selected);
    }
};

// Two background lists hold the track 31; the first record is the one sent.
TEST_P(SettingsTest, SubmitCarriesTheWindowSettings) {
    const SettingsCase& settings = GetParam();
    BackgroundCatalogue().Append({{.id = "7", .voxUrl = ServiceUrl("/track/7")},
                                  {.id = "31", .voxUrl = service_.TrackUrl()}});
    BackgroundCatalogue().Append({{.id = "31", .voxUrl = ServiceUrl("/track/other")}});
    const auto select = [](QComboBox* list, std::optional<int> index) {
        if (index) {
            SelectItem(list, *index);
        }
    };
    select(window_->组合框_即时广播_语速, settings.speed);
    select(window_->组合框_即时广播_语音, settings.readerVolume);
    select(window_->组合框_即时广播_背音, settings.backgroundVolume);
    select(window_->组合框_即时广播_语调, settings.pitch);
    Fill(window_->组合框_即时广播_发音人, settings.speakers, settings.speaker);
    Fill(window_->组合框_即时广播_背景音乐, settings.tracks, settings.track);

    OnPlayClicked(*window_);

    const std::vector<RecordedRequest> submits = Requests(kSubmitPath);
    ASSERT_EQ(submits.size(), 1u);
    for (const std::string& piece : settings.expected) {
        EXPECT_NE(submits[0].body.find(piece), std::string::npos)
            << piece << " missing from " << submits[0].body;
    }
    const std::vector<RecordedRequest> trackRequests = Requests("/track/");
    if (settings.trackRequested) {
        ASSERT_EQ(trackRequests.size(), 2u);
        EXPECT_EQ(trackRequests[0].target, "/track/1");
        EXPECT_EQ(trackRequests[1].target, "/track/1.mp3");
    } else {
        EXPECT_TRUE(trackRequests.empty());
    }
}

const std::string kNoTrack = R"("bgVoxId":"","bgVoxPath":"")";

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingsTest,
    testing::Values(
        SettingsCase{.name = "AsTheWindowStarts",
                     .expected = {R"("readerID":-1,)", R"("speed":50,)", R"("volume":-5,)",
                                  R"("readerVolume":10,)", R"("pitch":50,)", kNoTrack}},
        SettingsCase{.name = "Lowest",
                     .speed = 0,
                     .readerVolume = 0,
                     .backgroundVolume = 0,
                     .pitch = 0,
                     .expected = {R"("speed":40,)", R"("volume":-5,)", R"("readerVolume":-5,)",
                                  R"("pitch":30,)"}},
        SettingsCase{.name = "Highest",
                     .speed = 4,
                     .readerVolume = 4,
                     .backgroundVolume = 4,
                     .pitch = 4,
                     .expected = {R"("speed":80,)", R"("volume":15,)", R"("readerVolume":15,)",
                                  R"("pitch":70,)"}},
        SettingsCase{.name = "Middle",
                     .speed = 2,
                     .readerVolume = 1,
                     .backgroundVolume = 2,
                     .pitch = 3,
                     .expected = {R"("speed":60,)", R"("volume":5,)", R"("readerVolume":0,)",
                                  R"("pitch":60,)"}},
        SettingsCase{.name = "SpeakerSelected",
                     .speakers = {{"晓晓", 101}, {"云扬", 202}},
                     .speaker = 1,
                     .expected = {R"("readerID":202,)"}},
        SettingsCase{.name = "TrackSelected",
                     .tracks = {{"无", -1}, {"喜庆一", 7}, {"喜庆二", 31}},
                     .track = 2,
                     .expected = {R"("bgVoxId":"31",)", R"("bgVoxPath":"http://127.0.0.1:)"},
                     .trackRequested = true},
        SettingsCase{.name = "NoTrackChosen",
                     .tracks = {{"无", -1}, {"喜庆二", 31}},
                     .track = 0,
                     .expected = {kNoTrack}},
        SettingsCase{.name = "TrackNotInCatalogue",
                     .tracks = {{"无", -1}, {"别处", 99}},
                     .track = 1,
                     .expected = {kNoTrack}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FindBackgroundRecordTest, FirstRecordWithTheSameIdInCatalogueOrder) {
    BackgroundCatalogue().Clear();
    EXPECT_EQ(FindBackgroundRecord("31"), 0) << "empty catalogue";
    BackgroundCatalogue().Append({{.id = "7"}, {.id = "31"}});
    BackgroundCatalogue().Append({{.id = "31", .name = "later"}, {.id = "-1"}});

    EXPECT_EQ(FindBackgroundRecord("31"), 2);
    EXPECT_EQ(FindBackgroundRecord("-1"), 4);
    EXPECT_EQ(FindBackgroundRecord("031"), 0) << "compared as text";
    EXPECT_EQ(FindBackgroundRecord("3"), 0);
    EXPECT_EQ(FindBackgroundRecord(""), 0);
    BackgroundCatalogue().Clear();
}

TEST_F(ScriptedPlayTest, StopBeforeAnyPlaySendsNothing) {
    OnStopClicked();

    EXPECT_TRUE(log_.empty());
}

TEST_F(ScriptedPlayTest, SecondStopChangesNothing) {
    OnPlayClicked(*window_);
    ASSERT_TRUE(player_.real.IsOpen("1200"));
    log_.clear();

    OnStopClicked();
    EXPECT_FALSE(player_.real.IsOpen("1200"));
    OnStopClicked();

    EXPECT_EQ(log_, (std::vector<std::string>{"close 1200", "close 1200"}));
    EXPECT_FALSE(player_.real.IsOpen("1200"));
    EXPECT_EQ(CurrentPlaybackAlias, "1200");
}

// The earlier clip is closed when the synthesis starts; Stop pressed while the job waits finds
// no alias and sends nothing.
TEST_F(ScriptedPlayTest, StopDuringTheJobSendsNothing) {
    StartEarlierClip();
    onWait_ = [](std::size_t) { OnStopClicked(); };

    OnPlayClicked(*window_);

    ASSERT_GE(waits_.size(), 2u);
    const std::size_t firstWait = IndexOf(log_, "wait");
    EXPECT_EQ(std::count(log_.begin(), log_.end(), "close 1200"), 2)
        << "once as the synthesis began, once before the new clip opened";
    EXPECT_LT(IndexOf(log_, "close 1200"), firstWait);
    EXPECT_EQ(
        std::count(log_.begin() + static_cast<std::ptrdiff_t>(firstWait),
                   log_.begin() + static_cast<std::ptrdiff_t>(firstWait + waits_.size()), "wait"),
        static_cast<std::ptrdiff_t>(waits_.size()))
        << "nothing sent to the player between the waits";
}

// Stop pressed while the job waits for its result: nothing more is sent, written or played, the
// caption says so and Play can be pressed again.
TEST_F(ScriptedPlayTest, StopButtonDuringTheJobCancelsIt) {
    service_.SetScript({.busyResults = 10, .download = {.body = LongTone()}});
    ConnectPlayCommand(*window_);
    std::size_t requestsAtStop = 0;
    onWait_ = [&](std::size_t) {
        if (waits_.back().milliseconds == 2000 && requestsAtStop == 0) {
            requestsAtStop = service_.RequestCount();
            window_->超级按钮_即时广播_停止->click();
        }
    };

    OnPlayClicked(*window_);

    ASSERT_GT(requestsAtStop, 0u);
    EXPECT_EQ(service_.RequestCount(), requestsAtStop) << "no request after the Stop";
    EXPECT_TRUE(FolderEntries(folder_.path()).empty()) << "nothing written, no temporary left";
    EXPECT_EQ(captions_, (std::vector<QString>{kSynthesizing, QStringLiteral(u"语音合成已取消")}));
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
    EXPECT_EQ(std::count(log_.begin(), log_.end(), "play 1200"), 0);

    // With no job running, Stop closes the clip as before.
    StartEarlierClip();
    window_->超级按钮_即时广播_停止->click();
    EXPECT_EQ(log_, std::vector<std::string>{"close 1200"});
}

TEST_F(ScriptedPlayTest, SecondPlayClosesTheFirstClipAsItsSynthesisStarts) {
    OnPlayClicked(*window_);
    ASSERT_EQ(CurrentPlaybackAlias, "1200");
    service_.SetScript(ToneScript(ShortTone()));
    dialog_->chosen = Path("second");
    log_.clear();
    waits_.clear();

    OnPlayClicked(*window_);

    ASSERT_GE(log_.size(), 3u);
    EXPECT_EQ(log_[0], "dialog");
    EXPECT_EQ(log_[1], "close 1200") << "not before the dialog, and before any request";
    EXPECT_EQ(log_[2], "wait");
    EXPECT_EQ(log_.back(), "play 800");
    EXPECT_LT(IndexOf(log_, "close 1200"), IndexOf(log_, "open second.mp3 as 800"));
    for (const WaitSeen& wait : waits_) {
        EXPECT_TRUE(wait.alias.empty()) << "no clip during the synthesis";
    }
    EXPECT_EQ(CurrentPlaybackAlias, "800");
    EXPECT_EQ(ReadFile(Path("x.mp3")), LongTone());
    EXPECT_EQ(ReadFile(Path("second.mp3")), ShortTone());
}

// Nobody listens where the service should be.
TEST_F(ScriptedPlayTest, UnreachableServiceIsNamed) {
    SetServiceOrigin("http://127.0.0.1:" + std::to_string(RecordingServer().Port()));

    OnPlayClicked(*window_);

    EXPECT_EQ(captions_, (std::vector<QString>{kSynthesizing,
                                               FailedBecause(QStringLiteral(u"无法连接服务"))}));
    EXPECT_TRUE(FolderEntries(folder_.path()).empty()) << "no temporary left";
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
}

// A folder that cannot take the file is found before the service is asked for anything.
TEST_F(ScriptedPlayTest, UnwritableFolderIsFoundBeforeTheJob) {
    dialog_->chosen = Path("missing/x");

    OnPlayClicked(*window_);

    EXPECT_EQ(service_.RequestCount(), 0u);
    EXPECT_TRUE(FolderEntries(folder_.path()).empty());
    EXPECT_EQ(captions_,
              (std::vector<QString>{kSynthesizing,
                                    FailedBecause(QStringLiteral(u"无法写入文件：文件夹不存在"))}));
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
}

enum class Goodbye { Close, Destroy };

void PrintTo(Goodbye goodbye, std::ostream* os) {
    *os << (goodbye == Goodbye::Close ? "closed" : "destroyed");
}

class WindowGoneTest : public ScriptedPlayTest, public testing::WithParamInterface<Goodbye> {};

// The window closes, or is destroyed, while the job waits between two result requests: the
// job sends no further request, nothing is written or played, and a destroyed window is never
// touched again (the address sanitizer would tell).
TEST_P(WindowGoneTest, JobIsAbandonedWithoutTouchingTheWindow) {
    service_.SetScript({.busyResults = 10, .download = {.body = LongTone()}});
    std::size_t requestsAtClose = 0;
    std::size_t waitsAtClose = 0;
    onWait_ = [&](std::size_t wait) {
        if (waits_.back().milliseconds == 2000 && waitsAtClose == 0) {
            waitsAtClose = wait;
            requestsAtClose = service_.RequestCount();
            if (GetParam() == Goodbye::Close) {
                window_->close();
            } else {
                window_.reset();
            }
        }
    };
    window_->show();

    OnPlayClicked(*window_);

    ASSERT_GT(waitsAtClose, 0u);
    EXPECT_EQ(waits_.size(), waitsAtClose) << "no wait after the close";
    EXPECT_EQ(service_.RequestCount(), requestsAtClose) << "no request after the close";
    EXPECT_FALSE(fs::exists(Path("x.mp3")));
    EXPECT_EQ(std::count(log_.begin(), log_.end(), "play 1200"), 0);
    if (GetParam() == Goodbye::Close) {
        EXPECT_EQ(captions_.back(), QStringLiteral(u"语音合成已取消"));
        EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
    }
}

INSTANTIATE_TEST_SUITE_P(Goodbyes, WindowGoneTest,
                         testing::Values(Goodbye::Close, Goodbye::Destroy), [](const auto& info) {
                             return std::string(info.param == Goodbye::Close ? "Closed"
                                                                             : "Destroyed");
                         });

// The application as it runs: the window's own wait, a click on Play, and the window closed by
// the user while the job waits for a slow service. The event loop ends at once: no request of
// the job is made or waited for after the close.
TEST_F(ScriptedPlayTest, ClosingTheWindowDuringAJobEndsTheApplicationPromptly) {
    ServiceScript slow = ToneScript(LongTone());
    slow.result = [](int, const std::string&) {
        Reply busy = BusyResult();
        busy.delayMs = 1500;
        return busy;
    };
    service_.SetScript(slow);
    ConnectPlayCommand(*window_);
    QElapsedTimer sinceClose;
    std::size_t requestsAtClose = 0;
    SetWaitFunction([&](int milliseconds) {
        if (milliseconds == 2000 && !sinceClose.isValid()) {
            QTimer::singleShot(100, window_.get(), [&] {
                requestsAtClose = service_.RequestCount();
                sinceClose.start();
                window_->close();
            });
        }
        WaitWithWindowEvents(milliseconds);
    });
    QApplication::setQuitOnLastWindowClosed(true);
    window_->show();
    QTimer::singleShot(0, window_->超级按钮_即时广播_播放, &QPushButton::click);
    // Only if the close never ends the loop.
    QObject watchdog;
    QTimer::singleShot(20000, &watchdog, [] { QApplication::exit(3); });

    EXPECT_EQ(QApplication::exec(), 0);

    ASSERT_TRUE(sinceClose.isValid());
    EXPECT_LT(sinceClose.elapsed(), 1000);
    EXPECT_EQ(service_.RequestCount(), requestsAtClose);
    EXPECT_FALSE(fs::exists(Path("x.mp3")));
}

// Against the local dubbing server in this process: real speech, real MP3.
struct HangCase {
    const char* name;
    std::function<void(ServiceScript&)> hang;
    const char* hungPath;  // the request that hangs
};

void PrintTo(const HangCase& c, std::ostream* os) {
    *os << c.name;
}

class HungExchangeTest : public ScriptedPlayTest, public testing::WithParamInterface<HangCase> {
  protected:
    void SetUp() override {
        ScriptedPlayTest::SetUp();
        SetHttpExchangeRunner(RunExchangeBesideWindowEvents);
    }
    void TearDown() override {
        SetHttpExchangeRunner({});
        ScriptedPlayTest::TearDown();
    }
};

// The application as it runs, with an exchange that never ends: the window keeps processing
// its events all the while (a timer keeps firing), and closing it ends the event loop at once,
// with nothing written.
TEST_P(HungExchangeTest, WindowStaysResponsiveAndClosesAtOnce) {
    ServiceScript script = ToneScript(LongTone());
    GetParam().hang(script);
    service_.SetScript(script);
    SetWaitFunction(WaitWithWindowEvents);
    ConnectPlayCommand(*window_);
    int ticks = 0;
    int ticksWhileHung = 0;
    QElapsedTimer sinceClose;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        if (!Requests(GetParam().hungPath).empty() && ++ticksWhileHung == 10 &&
            !sinceClose.isValid()) {
            sinceClose.start();
            window_->close();
        }
    });
    ticker.start(20);
    QApplication::setQuitOnLastWindowClosed(true);
    window_->show();
    QTimer::singleShot(0, window_->超级按钮_即时广播_播放, &QPushButton::click);
    QObject watchdog;
    QTimer::singleShot(20000, &watchdog, [] { QApplication::exit(3); });

    EXPECT_EQ(QApplication::exec(), 0);

    ASSERT_TRUE(sinceClose.isValid());
    EXPECT_LT(sinceClose.elapsed(), 1000);
    EXPECT_GE(ticksWhileHung, 10) << "the event loop ran while the exchange hung";
    EXPECT_FALSE(fs::exists(Path("x.mp3")));
    EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{}) << "no temporary left";
}

INSTANTIATE_TEST_SUITE_P(
    Hangs, HungExchangeTest,
    testing::Values(HangCase{"Submit", [](ServiceScript& s) { s.submit = {.neverAnswer = true}; },
                             kSubmitPath},
                    HangCase{"Download",
                             [](ServiceScript& s) {
                                 s.busyResults = 0;
                                 s.download = {.body = std::string(100000, 'x'), .trickleMs = 100};
                             },
                             "/download/"}),
    [](const auto& info) { return std::string(info.param.name); });

class LocalServerPlayTest : public PlayCommandTest {
  protected:
    void SetUp() override {
        PlayCommandTest::SetUp();
        ASSERT_GT(server_.Start(), 0);
        SetServiceOrigin(server_.Origin());
    }

    void TearDown() override {
        SetServiceOrigin({});
        server_.Stop();
        PlayCommandTest::TearDown();
    }

    // The timetable shortened eightfold: the server still has seconds to render.
    void RealWait(int milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds / 8));
    }

    static ServerOptions QuietOptions() {
        ServerOptions options;
        options.quiet = true;
        return options;
    }

    DubbingServer server_{QuietOptions()};
};

TEST_F(LocalServerPlayTest, PlayWritesSpeechOverMusicAndPlaysItUnderItsLength) {
    std::vector<SpeakerRecord> speakers;
    ASSERT_GT(FetchSpeakerCategory(speakers, 1), 0);
    std::vector<BackgroundRecord> tracks;
    ASSERT_GT(FetchBackgroundList(tracks, 2), 0);
    BackgroundCatalogue().Append(tracks);
    AddItem(window_->组合框_即时广播_发音人, speakers.front().name, std::stoi(speakers.front().id));
    SelectItem(window_->组合框_即时广播_发音人, 0);
    AddItem(window_->组合框_即时广播_背景音乐, "none", -1);
    AddItem(window_->组合框_即时广播_背景音乐, tracks.front().name, std::stoi(tracks.front().id));
    SelectItem(window_->组合框_即时广播_背景音乐, 1);
    dialog_->chosen = Path("配音 结果");

    OnPlayClicked(*window_);

    EXPECT_EQ(captions_, (std::vector<QString>{kSynthesizing, kDone}));
    EXPECT_EQ(server_.AcceptedSubmits(), 1);
    const DecodedAudio audio = Decode(Path("配音 结果.mp3"));
    ASSERT_GT(audio.rate, 0);
    EXPECT_GT(static_cast<double>(audio.frames) / static_cast<double>(audio.rate), 0.5);
    EXPECT_GT(audio.peak, 2000) << "speech, not silence";
    const long lengthMs =
        std::lround(static_cast<double>(audio.frames) * 1000.0 / static_cast<double>(audio.rate));
    EXPECT_EQ(CurrentPlaybackAlias, std::to_string(lengthMs));
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_.back(), "play " + std::to_string(lengthMs));
    for (const WaitSeen& wait : waits_) {
        EXPECT_FALSE(wait.playEnabled);
    }
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
}

TEST_F(LocalServerPlayTest, RefusedSubmitLeavesTheExistingFileByteForByte) {
    ServerMisbehaviour refuse;
    refuse.refuseSubmit = true;
    server_.SetMisbehaviour(refuse);
    const std::string before = LongTone();
    WriteFile(Path("x.mp3"), before);

    OnPlayClicked(*window_);

    EXPECT_EQ(questions_, std::vector<std::string>{Path("x.mp3")});
    EXPECT_EQ(ReadFile(Path("x.mp3")), before);
    EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"x.mp3"});
    EXPECT_EQ(captions_, (std::vector<QString>{
                             kSynthesizing, FailedBecause(QStringLiteral(u"服务返回错误 503"))}));
    EXPECT_TRUE(CurrentPlaybackAlias.empty());
    EXPECT_EQ(log_, std::vector<std::string>{"dialog"});
    EXPECT_TRUE(window_->超级按钮_即时广播_播放->isEnabled());
}

class AtomicWriteTest : public testing::Test {
  protected:
    std::string Path(const std::string& name) const { return (folder_.path() / name).string(); }

    static mode_t ModeOf(const std::string& path) {
        struct stat status {};
        ::stat(path.c_str(), &status);
        return status.st_mode & 07777;
    }

    TempFolder folder_;
};

TEST_F(AtomicWriteTest, ReplacedFileKeepsItsPermissions) {
    WriteFile(Path("a.mp3"), "old content, longer than the new one");
    ::chmod(Path("a.mp3").c_str(), 0640);

    ASSERT_TRUE(WriteFileAtomically(Path("a.mp3"), "new"));

    EXPECT_EQ(ReadFile(Path("a.mp3")), "new");
    EXPECT_EQ(ModeOf(Path("a.mp3")), 0640u);
    EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"a.mp3"});
}

TEST_F(AtomicWriteTest, NewFileGetsWhatTheUmaskAllows) {
    const mode_t previous = ::umask(027);
    const bool written = WriteFileAtomically(Path("a.mp3"), "new");
    ::umask(previous);

    ASSERT_TRUE(written);
    EXPECT_EQ(ModeOf(Path("a.mp3")), 0640u);
}

// A disk that fills up in the middle of the write (here a file size limit): the old file stays
// byte for byte and no temporary file remains.
TEST_F(AtomicWriteTest, WriteThatFailsHalfwayLeavesTheOldFile) {
    WriteFile(Path("a.mp3"), "the user's own file");
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    const rlimit small{4096, previous.rlim_max};
    ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    int error = 0;
    const bool written = WriteFileAtomically(Path("a.mp3"), std::string(100000, 'x'), &error);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    ::signal(SIGXFSZ, SIG_DFL);

    EXPECT_FALSE(written);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(ReadFile(Path("a.mp3")), "the user's own file");
    EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"a.mp3"});
}

TEST_F(AtomicWriteTest, MissingFolderFailsWithoutCreatingAnything) {
    int error = 0;
    EXPECT_FALSE(WriteFileAtomically(Path("missing/a.mp3"), "new", &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_TRUE(FolderEntries(folder_.path()).empty());
}

}  // namespace
