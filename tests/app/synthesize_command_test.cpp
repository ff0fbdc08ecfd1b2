// dubdesk synthesize, run in-process: against the local dubbing server for whole jobs, against a
// recording server for what the job is asked to do, and the option parser on its own. Literals
// here are UTF-8, like a terminal's; catalogue records are GBK and converted before comparing.
#include "app/synthesize_command.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/catalogue_choice.h"
#include "server/dubbing_server.h"
#include "service/catalogue.h"
#include "service/service_api.h"
#include "service/waiting.h"
#include "tests/server/mp3_decoding.h"
#include "tests/support/recording_server.h"
#include "text/code_page.h"
#include "text/percent_encoding.h"

namespace {

namespace fs = std::filesystem;

struct CommandRun {
    int status = -1;
    std::string out;
    std::string err;
};

CommandRun RunCommand(const std::vector<std::string>& arguments, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    CommandRun run;
    run.status = RunSynthesizeCommand(ParseSynthesizeCommandLine(arguments), in, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// A fresh folder per test, removed afterwards.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "synthesize_test.XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    const fs::path& path() const { return path_; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

  private:
    fs::path path_;
};

// Whole jobs against the local dubbing server in this process.
class SynthesizeAgainstServer : public testing::Test {
  protected:
    void SetUp() override {
        ServerOptions options;
        options.quiet = true;
        server_ = std::make_unique<DubbingServer>(options);
        ASSERT_GT(server_->Start(), 0);
        // The job's timetable shortened fourfold: the server still gets real time to render.
        SetWaitFunction(
            [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 4)); });
    }

    void TearDown() override {
        SetWaitFunction({});
        server_->Stop();
        SetServiceOrigin("");
    }

    CommandRun Synthesize(std::vector<std::string> arguments, const std::string& input = "") {
        arguments.insert(arguments.end(), {"--service-origin", server_->Origin()});
        return RunCommand(arguments, input);
    }

    std::string Output(const std::string& name) const { return (folder_.path() / name).string(); }

    std::unique_ptr<DubbingServer> server_;
    TempFolder folder_;
};

TEST_F(SynthesizeAgainstServer, WritesAnMp3WithSpeechPauseAndTrackAndNamesItOnStdout) {
    const CommandRun listed = Synthesize({"--list-backgrounds", "--background-type", "2"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::istringstream rows(listed.out);
    std::string header;
    std::string trackId;
    std::getline(rows, header);
    rows >> trackId;
    ASSERT_FALSE(trackId.empty()) << listed.out;

    const CommandRun run = Synthesize({"--text", "你好。[1秒]世界", "--output", Output("hello"),
                                       "--background", trackId, "--background-volume", "很高"});
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path written = folder_.path() / "hello.mp3";
    const std::string bytes = ReadFile(written);
    const std::optional<DecodedAudio> audio = DecodeMp3(bytes);
    ASSERT_TRUE(audio.has_value());
    // Two words and a second of pause.
    EXPECT_GT(audio->Seconds(), 1.5);
    EXPECT_GT(Rms(audio->samples), 100.0);

    const std::string expectedStart =
        written.string() + ": " + std::to_string(bytes.size()) + " bytes, ";
    ASSERT_TRUE(run.out.starts_with(expectedStart)) << run.out;
    const int lengthMs = std::stoi(run.out.substr(expectedStart.size()));
    EXPECT_NEAR(lengthMs, audio->Seconds() * 1000, 2);
    EXPECT_TRUE(run.out.ends_with(" ms\n")) << run.out;

    for (const char* step :
         {"fetching the background track", "submitting the job", "submitted, serial",
          "asking for the result (1 of at most 21)", "downloading the audio", "done"}) {
        EXPECT_NE(run.err.find(step), std::string::npos) << step << "\n" << run.err;
    }
    EXPECT_EQ(folder_.Names(), std::vector<std::string>{"hello.mp3"}) << "no temporary left";
}

TEST_F(SynthesizeAgainstServer, LeavesAnExistingFileAloneUnlessForced) {
    const fs::path existing = folder_.path() / "take.MP3";
    std::ofstream(existing) << "mine";

    const CommandRun refused = Synthesize({"--text", "你好", "--output", existing.string()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("already exists; --force replaces it"), std::string::npos)
        << refused.err;
    EXPECT_EQ(ReadFile(existing), "mine");
    EXPECT_EQ(server_->AcceptedSubmits(), 0) << "refused before any job";

    const CommandRun forced =
        Synthesize({"--text", "你好", "--output", existing.string(), "--force"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_TRUE(DecodeMp3(ReadFile(existing)).has_value());
    EXPECT_EQ(folder_.Names(), std::vector<std::string>{"take.MP3"});
}

TEST_F(SynthesizeAgainstServer, AFileThatAppearsDuringTheJobIsNotReplaced) {
    const fs::path target = folder_.path() / "late.mp3";
    // The job's first wait is where another program creates the file.
    SetWaitFunction([&target](int ms) {
        if (!fs::exists(target)) {
            std::ofstream(target) << "theirs";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(ms / 4));
    });
    const CommandRun run = Synthesize({"--text", "你好", "--output", Output("late")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("appeared while the job ran"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(target), "theirs");
    EXPECT_EQ(folder_.Names(), std::vector<std::string>{"late.mp3"});
}

struct FailureCase {
    const char* name;
    ServerMisbehaviour misbehaviour;
    const char* reason;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class SynthesizeFailure : public SynthesizeAgainstServer,
                          public testing::WithParamInterface<FailureCase> {};

TEST_P(SynthesizeFailure, ExitsOneWithTheReasonAndWritesNothing) {
    server_->SetMisbehaviour(GetParam().misbehaviour);
    // Nothing to wait for: the job gives up however long it waits.
    SetWaitFunction([](int) {});
    const CommandRun run = Synthesize({"--text", "你好", "--output", Output("out.mp3")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(GetParam().reason), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_TRUE(folder_.Names().empty());
}

ServerMisbehaviour Refusing() {
    ServerMisbehaviour misbehaviour;
    misbehaviour.refuseSubmit = true;
    return misbehaviour;
}

ServerMisbehaviour NeverReady() {
    ServerMisbehaviour misbehaviour;
    misbehaviour.neverReady = true;
    return misbehaviour;
}

ServerMisbehaviour Downloading(DownloadFault fault) {
    ServerMisbehaviour misbehaviour;
    misbehaviour.downloadFault = fault;
    return misbehaviour;
}

INSTANTIATE_TEST_SUITE_P(
    Misbehaviours, SynthesizeFailure,
    testing::Values(FailureCase{"Refused", Refusing(), "did not accept the job"},
                    FailureCase{"NeverReady", NeverReady(),
                                "never ready (no download address after 21"},
                    FailureCase{"ErrorPage", Downloading(DownloadFault::kHtmlErrorPage),
                                "download failed (status 500"},
                    FailureCase{"EmptyDownload", Downloading(DownloadFault::kEmpty),
                                "download failed (status 200"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(SynthesizeAgainstServer, ReportsCharactersCodePage936CannotHoldBeforeTheJob) {
    const CommandRun run = Synthesize({"--text",
                                       "你好😀€a\xFF"
                                       "b𝄞?",
                                       "--output", Output("odd")});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::size_t report = run.err.find("3 character(s) of the text cannot be written");
    ASSERT_NE(report, std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\"😀\" (U+1F600) byte 0xFF \"𝄞\" (U+1D11E)\n"), std::string::npos)
        << run.err;
    EXPECT_LT(report, run.err.find("submitting the job"));
}

TEST_F(SynthesizeAgainstServer, RepresentableTextIsNotReported) {
    const CommandRun run = Synthesize({"--text", "价格€5？真的?", "--output", Output("plain")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("cannot be written"), std::string::npos) << run.err;
}

TEST_F(SynthesizeAgainstServer, ListSpeakersMatchesTheCatalogueInAlignedColumns) {
    SetServiceOrigin(server_->Origin());
    std::vector<SpeakerRecord> catalogue;
    for (int category = 1; category <= 5; ++category) {
        std::vector<SpeakerRecord> records;
        FetchSpeakerCategory(records, category);
        catalogue.insert(catalogue.end(), records.begin(), records.end());
    }
    ASSERT_FALSE(catalogue.empty());

    const CommandRun run = Synthesize({"--list-speakers"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line);
    const std::size_t nameColumn = line.find("NAME");
    ASSERT_NE(nameColumn, std::string::npos) << line;
    for (const SpeakerRecord& record : catalogue) {
        ASSERT_TRUE(std::getline(lines, line)) << "missing " << record.id;
        const std::string name = AnsiTextToUtf8(record.name);
        ASSERT_TRUE(line.ends_with(name)) << line;
        const std::string before = line.substr(0, line.size() - name.size());
        EXPECT_EQ(DisplayWidth(before), nameColumn) << line;
        std::istringstream cells(before);
        std::string id;
        int category = 0;
        cells >> id >> category;
        EXPECT_EQ(id, AnsiTextToUtf8(record.id));
        EXPECT_EQ(category, record.category);
    }
    EXPECT_FALSE(std::getline(lines, line)) << "extra row " << line;
}

TEST_F(SynthesizeAgainstServer, UnknownSpeakerOrTrackIsAUsageError) {
    const CommandRun speaker =
        Synthesize({"--text", "你好", "--output", Output("a"), "--speaker", "99999"});
    EXPECT_EQ(speaker.status, 2);
    EXPECT_NE(speaker.err.find("unknown speaker \"99999\"; 'dubdesk synthesize --list-speakers'"),
              std::string::npos)
        << speaker.err;
    const CommandRun track = Synthesize({"--text", "你好", "--output", Output("a"),
                                         "--background-type", "3", "--background", "99999"});
    EXPECT_EQ(track.status, 2);
    EXPECT_NE(track.err.find("unknown background track \"99999\" in background type 3; "
                             "'dubdesk synthesize --list-backgrounds'"),
              std::string::npos)
        << track.err;
    EXPECT_EQ(server_->AcceptedSubmits(), 0);
    EXPECT_TRUE(folder_.Names().empty());
}

TEST_F(SynthesizeAgainstServer, PlayWithoutASoundOutputStillWritesAndSucceeds) {
    // The test's environment points the sound server nowhere.
    const CommandRun run = Synthesize({"--text", "你好", "--output", Output("p"), "--play"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("no sound output could be opened"), std::string::npos) << run.err;
    EXPECT_TRUE(DecodeMp3(ReadFile(folder_.path() / "p.mp3")).has_value());
}

TEST(SynthesizeWithoutService, UnreachableServiceExitsOne) {
    TempFolder folder;
    const CommandRun run = RunCommand({"--text", "你好", "--output", (folder.path() / "x").string(),
                                       "--service-origin", "http://127.0.0.1:1"});
    SetServiceOrigin("");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("listed no speakers of voice type 1 (is it running?)"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(folder.Names().empty());
}

// What the job is asked for: a recording server that lists a few speakers and tracks and refuses
// every submit, so the submit body can be read.
struct BodyCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> bodyParts;
    std::string input = "";
};

void PrintTo(const BodyCase& c, std::ostream* os) {
    *os << c.name;
}

class SubmitBody : public testing::TestWithParam<BodyCase> {
  protected:
    SubmitBody()
        : server_([this](const RecordedRequest& request) {
              if (request.target.find("/readerInfo/") != std::string::npos) {
                  return Reply{.body = R"({"data":[{"riId":7,"riName":"晓晓","x":0},)"
                                       R"({"riId":8,"riName":"云扬","x":0}]})"};
              }
              if (request.target.find("/bgVoxInfo/") != std::string::npos) {
                  return Reply{.body = R"({"data":[{"biId":5,"biName":"古","biVoxurl":")" +
                                       server_.Url("/track.mp3") + R"(","x":0}]})"};
              }
              return Reply{.status = request.target.starts_with("/pc/api/synVox/") ? 503 : 404};
          }) {
        SetWaitFunction([](int) {});
    }
    ~SubmitBody() override {
        SetWaitFunction({});
        SetServiceOrigin("");
    }

    RecordingServer server_;
};

TEST_P(SubmitBody, CarriesTheChosenSettings) {
    TempFolder folder;
    std::vector<std::string> arguments = GetParam().arguments;
    arguments.insert(arguments.end(), {"--output", (folder.path() / "x").string(),
                                       "--service-origin", server_.Url("")});
    const CommandRun run = RunCommand(arguments, GetParam().input);
    EXPECT_EQ(run.status, 1) << run.err;
    std::string body;
    for (const RecordedRequest& request : server_.Requests()) {
        if (request.target.starts_with("/pc/api/synVox/speechSynth")) {
            body = request.body;
        }
    }
    ASSERT_FALSE(body.empty()) << run.err;
    for (const std::string& part : GetParam().bodyParts) {
        EXPECT_NE(body.find(part), std::string::npos) << part << " in " << body;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, SubmitBody,
    testing::Values(
        BodyCase{"WindowDefaults",
                 {"--text", "你好"},
                 {R"("bgVoxId":"","bgVoxPath":"","readerID":7,)", R"("speed":50,)",
                  R"("volume":-5,)", R"("readerVolume":10,"pitch":50,)"}},
        BodyCase{"LevelsByNumberAndText",
                 {"--text", "你好", "--speed", "很快", "--pitch=0", "--voice-volume", "正常",
                  "--background-volume", "4"},
                 {R"("speed":80,)", R"("volume":15,)", R"("readerVolume":5,"pitch":30,)"}},
        BodyCase{
            "SpeakerAndTrackById",
            {"--text", "你好", "--voice-type", "方言", "--speaker", "8", "--background", "5"},
            {R"("bgVoxId":"5","bgVoxPath":"http://127.0.0.1:)", R"(/track.mp3","readerID":8,)"}},
        BodyCase{"TextFromStandardInputWithCrLfAndNoFinalBreak",
                 {"--text-file", "-"},
                 {R"("ttsContent":")" +
                  PercentEncode(Utf8TextToAnsi("第一行\r\n第二行"), true, true) + R"(",)"},
                 "\xEF\xBB\xBF第一行\n第二行\n"}),
    [](const testing::TestParamInfo<BodyCase>& info) { return info.param.name; });

struct ParseCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* error;  // a piece of the refusal message
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class SynthesizeRefusal : public testing::TestWithParam<ParseCase> {};

TEST_P(SynthesizeRefusal, ExitsTwoWithAMessage) {
    const CommandRun run = RunCommand(GetParam().arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(GetParam().error), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Try 'dubdesk synthesize --help'"), std::string::npos);
    EXPECT_TRUE(run.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadUsage, SynthesizeRefusal,
    testing::Values(
        ParseCase{"NoText", {"--output", "a"}, "no text: give --text TEXT or --text-file FILE"},
        ParseCase{
            "TwoTexts", {"--text", "a", "--text-file", "f", "--output", "a"}, "cannot be combined"},
        ParseCase{"NoOutput", {"--text", "a"}, "no output file"},
        ParseCase{"EmptyOutput", {"--text", "a", "--output="}, "needs a non-empty value"},
        ParseCase{"SpeedOutOfRange",
                  {"--text", "a", "--output", "a", "--speed", "5"},
                  "bad --speed \"5\": expected 0 to 4 or one of 很慢 慢 正常 快 很快"},
        ParseCase{"VolumeByWrongWord",
                  {"--text", "a", "--output", "a", "--voice-volume", "很快"},
                  "bad --voice-volume \"很快\": expected 0 to 4 or one of 很低 低 正常 高 很高"},
        ParseCase{"VoiceTypeZero",
                  {"--text", "a", "--output", "a", "--voice-type", "0"},
                  "bad --voice-type \"0\": expected 1 to 5"},
        ParseCase{"BackgroundTypeEleven",
                  {"--text", "a", "--output", "a", "--background-type", "11"},
                  "expected 1 to 10"},
        ParseCase{
            "UnknownOption", {"--text", "a", "--output", "a", "--loud"}, "unknown option --loud"},
        ParseCase{"StrayArgument",
                  {"--text", "a", "--output", "a", "extra"},
                  "unexpected argument extra"},
        ParseCase{"FlagWithValue",
                  {"--text", "a", "--output", "a", "--force=yes"},
                  "option --force takes no value"},
        ParseCase{"MissingValue", {"--output", "a", "--text"}, "option --text needs a value"},
        ParseCase{"BadOrigin",
                  {"--text", "a", "--output", "a", "--service-origin", "x"},
                  "malformed service origin"}),
    [](const testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST(SynthesizeUsage, UnreadableTextFileAndMissingFolderExitTwoBeforeAnyRequest) {
    TempFolder folder;
    const CommandRun file = RunCommand({"--text-file", (folder.path() / "none.txt").string(),
                                        "--output", (folder.path() / "a").string()});
    EXPECT_EQ(file.status, 2);
    EXPECT_NE(file.err.find("cannot read the text file"), std::string::npos) << file.err;
    const CommandRun output =
        RunCommand({"--text", "a", "--output", (folder.path() / "no" / "a").string()});
    EXPECT_EQ(output.status, 2);
    EXPECT_NE(output.err.find("there is no folder"), std::string::npos) << output.err;
}

TEST(SynthesizeUsage, HelpDocumentsEveryOption) {
    const CommandRun run = RunCommand({"--text", "a", "--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"--text TEXT",
                               "--text-file FILE",
                               "--output FILE",
                               "--force",
                               "--play",
                               "--voice-type",
                               "--speaker ID",
                               "--background-type",
                               "--background ID",
                               "--speed",
                               "--pitch",
                               "--voice-volume",
                               "--background-volume",
                               "--list-speakers",
                               "--list-backgrounds",
                               "--service-origin URL",
                               "--catalogue-token TOKEN",
                               "--version",
                               "很慢",
                               "很高",
                               "Exit status"}) {
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
    }
}

struct WidthCase {
    std::string text;
    std::size_t width;
};

void PrintTo(const WidthCase& c, std::ostream* os) {
    *os << c.text;
}

class DisplayWidthTest : public testing::TestWithParam<WidthCase> {};

TEST_P(DisplayWidthTest, CountsWideCharactersTwice) {
    EXPECT_EQ(DisplayWidth(GetParam().text), GetParam().width) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, DisplayWidthTest,
                         testing::Values(WidthCase{"", 0}, WidthCase{"abc", 3},
                                         WidthCase{"晓雯", 4}, WidthCase{"粤语·嘉欣", 9},
                                         WidthCase{"ＡＢ", 4}, WidthCase{"e\xCC\x81", 1},
                                         WidthCase{"\xFF"
                                                   "a",
                                                   2}),
                         [](const testing::TestParamInfo<WidthCase>& info) {
                             return "Case" + std::to_string(info.index);
                         });

}  // namespace
