// dubdesk synthesize with the habits of a Unix tool: text from standard input or as arguments,
// the MP3 to standard output, short options and --quiet, speakers and tracks by name, the
// service options on either side of the subcommand, JSON listings. In-process against the
// local dubbing server and a recording server; the program itself for a real pipe. Literals
// here are UTF-8, like a terminal's.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "app/command_line.h"
#include "app/synthesize_command.h"
#include "playback/mp3_decoder.h"
#include "protocol/service_paths.h"
#include "server/dubbing_server.h"
#include "service/catalogue.h"
#include "service/service_api.h"
#include "service/waiting.h"
#include "tests/app/command_run.h"
#include "tests/playback/tone_mp3.h"
#include "tests/support/recording_server.h"
#include "text/code_page.h"

namespace {

namespace fs = std::filesystem;
using Action = SynthesizeCommandLine::Action;

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// What the parser makes of a command line: the text's source, the output, and the refusal.
struct ParseCase {
    const char* name;
    std::vector<std::string> arguments;
    StandardStreams streams = {};
    std::optional<std::string> text = {};
    std::optional<std::string> textFile = {};
    std::string output = "";
    bool quiet = false;
    std::string refusal = "";  // a piece of it; empty: accepted
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class SynthesizeArguments : public testing::TestWithParam<ParseCase> {};

TEST_P(SynthesizeArguments, GiveTheTextItsSourceAndTheOutput) {
    const ParseCase& c = GetParam();
    const SynthesizeCommandLine line = ParseSynthesizeCommandLine(c.arguments, c.streams);
    if (!c.refusal.empty()) {
        EXPECT_EQ(line.action, Action::Refuse);
        EXPECT_NE(line.error.find(c.refusal), std::string::npos) << line.error;
        return;
    }
    ASSERT_EQ(line.action, Action::Synthesize) << line.error;
    EXPECT_EQ(line.options.text, c.text);
    EXPECT_EQ(line.options.textFile, c.textFile);
    EXPECT_EQ(line.options.output, c.output);
    EXPECT_EQ(line.options.quiet, c.quiet);
}

constexpr StandardStreams kPiped{.inputIsTerminal = false, .outputIsTerminal = false};

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SynthesizeArguments,
    testing::Values(
        ParseCase{.name = "WordsAreTheTextJoinedByBlanks",
                  .arguments = {"-o", "a", "你好", "世界"},
                  .text = "你好 世界",
                  .output = "a"},
        ParseCase{.name = "WordsAroundOptions",
                  .arguments = {"你好", "-q", "-o", "a", "世界"},
                  .text = "你好 世界",
                  .output = "a",
                  .quiet = true},
        ParseCase{.name = "DoubleDashEndsTheOptions",
                  .arguments = {"-o", "a", "--", "-5度", "--quiet"},
                  .text = "-5度 --quiet",
                  .output = "a"},
        ParseCase{.name = "DashAloneIsStandardInput",
                  .arguments = {"-o", "a", "-"},
                  .textFile = "-",
                  .output = "a"},
        ParseCase{.name = "NoTextFromAPipe",
                  .arguments = {"-o", "a"},
                  .streams = kPiped,
                  .textFile = "-",
                  .output = "a"},
        ParseCase{.name = "NoTextFromATerminal",
                  .arguments = {"-o", "a"},
                  .refusal = "no text: give --text TEXT or --text-file FILE, the text itself, or "
                             "pipe it in"},
        ParseCase{.name = "GivenTextWinsOverAPipe",
                  .arguments = {"-o", "a", "-t", "x"},
                  .streams = kPiped,
                  .text = "x",
                  .output = "a"},
        ParseCase{.name = "ShortOptionsWithAttachedValues",
                  .arguments = {"-tx", "-ohello.mp3", "-q"},
                  .text = "x",
                  .output = "hello.mp3",
                  .quiet = true},
        ParseCase{.name = "ShortTextFile",
                  .arguments = {"-f", "in.txt", "--output=-"},
                  .streams = kPiped,
                  .textFile = "in.txt",
                  .output = "-"},
        ParseCase{.name = "StandardOutputNeverATerminal",
                  .arguments = {"-t", "x", "-o", "-"},
                  .streams = {.inputIsTerminal = true, .outputIsTerminal = true},
                  .refusal = "would write MP3 bytes to a terminal"},
        ParseCase{.name = "StandardOutputCannotBePlayed",
                  .arguments = {"-t", "x", "-o", "-", "--play"},
                  .refusal = "--play needs a file"},
        ParseCase{.name = "WordsAndTextOption",
                  .arguments = {"-t", "x", "-o", "a", "y"},
                  .refusal = "unexpected argument y: the text is given by --text"},
        ParseCase{.name = "JsonWithoutAList",
                  .arguments = {"-t", "x", "-o", "a", "--json"},
                  .refusal = "--json goes"},
        ParseCase{.name = "JsonOfBothLists",
                  .arguments = {"--list-speakers", "--list-backgrounds", "--json"},
                  .refusal = "one catalogue at a time"},
        ParseCase{.name = "ShortFlagWithAValue",
                  .arguments = {"-t", "x", "-o", "a", "-qq"},
                  .refusal = "unknown option -qq"},
        ParseCase{.name = "ShortOptionMissingItsValue",
                  .arguments = {"-t", "x", "-o"},
                  .refusal = "option -o needs a value"}),
    [](const testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

// The service options count the same before and after the word synthesize; after it, they win.
TEST(ServiceOptionsAroundTheSubcommand, AreReadOnEitherSide) {
    const CommandLine before =
        ParseCommandLine({"--service-origin", "http://127.0.0.1:1", "--catalogue-token=t1",
                          "synthesize", "-o", "a", "你好"});
    ASSERT_EQ(before.action, CommandLine::Action::Synthesize) << before.error;
    const SynthesizeCommandLine first = ParseSynthesizeCommandLine(before.subcommandArguments);
    ASSERT_EQ(first.action, Action::Synthesize) << first.error;
    EXPECT_EQ(first.options.serviceOrigin, "http://127.0.0.1:1");
    EXPECT_EQ(first.options.catalogueToken, "t1");
    EXPECT_EQ(first.options.text, "你好");

    const CommandLine both =
        ParseCommandLine({"--service-origin", "http://127.0.0.1:1", "synthesize",
                          "--service-origin", "http://127.0.0.1:2", "-o", "a", "你好"});
    ASSERT_EQ(both.action, CommandLine::Action::Synthesize) << both.error;
    EXPECT_EQ(ParseSynthesizeCommandLine(both.subcommandArguments).options.serviceOrigin,
              "http://127.0.0.1:2");

    for (const std::vector<std::string>& refused :
         {std::vector<std::string>{"--service-origin", "nope", "synthesize"},
          std::vector<std::string>{"--force", "synthesize"},
          std::vector<std::string>{"--help", "synthesize"}}) {
        EXPECT_EQ(ParseCommandLine(refused).action, CommandLine::Action::Refuse) << refused[0];
    }
}

// Whole jobs against the local dubbing server in this process.
class HabitsAgainstServer : public LocalServerCommandTest {
  protected:
    TempFolder folder_;
};

TEST_F(HabitsAgainstServer, TextFromAPipeOrAsWordsBecomesAnMp3File) {
    const fs::path piped = folder_.path() / "piped.mp3";
    const CommandRun fromPipe = Synthesize({"-o", piped.string()}, "你好。\n", kPiped);
    ASSERT_EQ(fromPipe.status, 0) << fromPipe.err;
    EXPECT_TRUE(Mp3BytesLengthMs(ReadFile(piped)).has_value());

    const fs::path worded = folder_.path() / "worded.mp3";
    const CommandRun fromWords = Synthesize({"-o", worded.string(), "你好。", "再见。"});
    ASSERT_EQ(fromWords.status, 0) << fromWords.err;
    const std::optional<long long> wordedMs = Mp3BytesLengthMs(ReadFile(worded));
    ASSERT_TRUE(wordedMs.has_value());
    EXPECT_GT(*wordedMs, *Mp3BytesLengthMs(ReadFile(piped))) << "both words were spoken";

    const CommandRun emptyPipe = Synthesize({"-o", (folder_.path() / "none").string()}, "", kPiped);
    EXPECT_EQ(emptyPipe.status, kExitUsage);
    EXPECT_NE(emptyPipe.err.find("the text is empty"), std::string::npos) << emptyPipe.err;
    EXPECT_EQ(server_->AcceptedSubmits(), 2);
}

TEST_F(HabitsAgainstServer, DashOutputWritesOnlyTheMp3ToStandardOutput) {
    const CommandRun run = Synthesize({"-t", "你好", "-o", "-"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::optional<long long> lengthMs = Mp3BytesLengthMs(run.out);
    ASSERT_TRUE(lengthMs.has_value()) << "standard output holds the MP3 and nothing else";
    EXPECT_GT(*lengthMs, 200);
    EXPECT_NE(run.err.find("standard output: " + std::to_string(run.out.size()) + " bytes, " +
                           std::to_string(*lengthMs) + " ms"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(fs::is_empty(folder_.path()));
    EXPECT_FALSE(fs::exists("-.mp3"));
}

TEST_F(HabitsAgainstServer, QuietLeavesOnlyTheResult) {
    const fs::path target = folder_.path() / "q.mp3";
    const CommandRun quiet = Synthesize({"-q", "-t", "你好", "-o", target.string()});
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");
    EXPECT_TRUE(quiet.out.starts_with(target.string() + ": ")) << quiet.out;

    const CommandRun toPipe = Synthesize({"--quiet", "-t", "你好", "-o", "-"});
    ASSERT_EQ(toPipe.status, 0) << toPipe.err;
    EXPECT_EQ(toPipe.err, "");
    EXPECT_TRUE(Mp3BytesLengthMs(toPipe.out).has_value());

    // Complaints still come.
    const CommandRun refused = Synthesize({"-q", "-t", "你好", "-o", target.string()});
    EXPECT_EQ(refused.status, kExitUsage);
    EXPECT_NE(refused.err.find("already exists"), std::string::npos) << refused.err;
}

TEST_F(HabitsAgainstServer, JsonListsMatchTheCatalogue) {
    SetServiceOrigin(server_->Origin());
    std::vector<SpeakerRecord> speakers;
    FetchSpeakerCategory(speakers, 3);
    ASSERT_FALSE(speakers.empty());

    const CommandRun run = Synthesize({"--list-speakers", "--json", "--voice-type", "方言"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json listed = nlohmann::json::parse(run.out);
    ASSERT_TRUE(listed.is_array());
    ASSERT_EQ(listed.size(), speakers.size()) << run.out;
    for (std::size_t i = 0; i < speakers.size(); ++i) {
        EXPECT_EQ(listed[i].at("id"), AnsiTextToUtf8(speakers[i].id));
        EXPECT_EQ(listed[i].at("name"), AnsiTextToUtf8(speakers[i].name));
        EXPECT_EQ(listed[i].at("voiceType"), 3);
        EXPECT_EQ(listed[i].at("typeName"), "方言");
        EXPECT_EQ(listed[i].at("sample"), AnsiTextToUtf8(speakers[i].voxUrl));
    }

    const CommandRun tracks = Synthesize({"--list-backgrounds", "--json"});
    ASSERT_EQ(tracks.status, 0) << tracks.err;
    const nlohmann::json listedTracks = nlohmann::json::parse(tracks.out);
    ASSERT_FALSE(listedTracks.empty());
    for (const nlohmann::json& track : listedTracks) {
        EXPECT_TRUE(track.at("track").get<std::string>().starts_with(server_->Origin()))
            << track.dump();
        EXPECT_GE(track.at("backgroundType").get<int>(), 1);
    }
}

// A service whose catalogue has two speakers named 晓晓 (id 8 in voice type 2, id 7 in every
// other), one 云扬 listed in every voice type under the same id, and tracks 古 and 雨 in
// background types 2 and 3. Every submit is refused, so what the job asked for can be read.
class ByName : public testing::Test {
  protected:
    ByName()
        : server_([this](const RecordedRequest& request) {
              const std::string path = request.target.substr(0, request.target.find('?'));
              if (path.starts_with(kReaderInfoPath)) {
                  // Voice type 2 is the service's list 12.
                  const bool second = path.ends_with("/12");
                  return Reply{.body =
                                   std::string(R"({"data":[{"riId":)") + (second ? "8" : "7") +
                                   R"(,"riName":"晓晓","x":0},{"riId":9,"riName":"云扬","x":0}]})"};
              }
              // Background types 2 and 3 are the service's lists 4 and 9.
              if (path == std::string(kBgVoxInfoPath) + "4") {
                  return Reply{.body = R"({"data":[{"biId":5,"biName":"古","biVoxurl":")" +
                                       server_.Url("/5.mp3") + R"(","x":0}]})"};
              }
              if (path == std::string(kBgVoxInfoPath) + "9") {
                  return Reply{.body = R"({"data":[{"biId":6,"biName":"雨","biVoxurl":")" +
                                       server_.Url("/6.mp3") + R"(","x":0}]})"};
              }
              if (!path.starts_with(kSynVoxPath)) {
                  return Reply{.body = R"({"data":[]})"};
              }
              return Reply{.status = 503};
          }) {
        SetWaitFunction([](int) {});
    }
    ~ByName() override {
        SetWaitFunction({});
        SetServiceOrigin("");
    }

    // The submit's body, empty when nothing was submitted.
    std::string SubmitBody() const {
        for (const RecordedRequest& request : server_.Requests()) {
            if (request.target.starts_with("/pc/api/synVox/speechSynth")) {
                return request.body;
            }
        }
        return {};
    }

    RecordingServer server_;
    TempFolder folder_;
};

struct NameCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string expected;  // a piece of the submit body (status 1) or of the complaint
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

class ChosenByName : public ByName, public testing::WithParamInterface<NameCase> {};

TEST_P(ChosenByName, PicksTheOneItNamesOrSaysWhyNot) {
    std::vector<std::string> arguments = GetParam().arguments;
    arguments.insert(arguments.end(), {"-t", "你好", "-o", (folder_.path() / "x").string(),
                                       "--service-origin", server_.Url("")});
    const CommandRun run = RunCommand(arguments);
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    if (GetParam().status == kExitNoAudio) {
        EXPECT_NE(SubmitBody().find(GetParam().expected), std::string::npos) << SubmitBody();
    } else {
        EXPECT_NE(run.err.find(GetParam().expected), std::string::npos) << run.err;
        EXPECT_EQ(SubmitBody(), "") << "nothing is submitted";
    }
    EXPECT_TRUE(fs::is_empty(folder_.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Names, ChosenByName,
    testing::Values(
        NameCase{"SpeakerListedInEveryTypeIsOne", {"--speaker", "云扬"}, 1, R"("readerID":9,)"},
        NameCase{"NameInTheGivenTypeOnly",
                 {"--voice-type", "2", "--speaker", "晓晓"},
                 1,
                 R"("readerID":8,)"},
        NameCase{"IdStillWorks", {"--speaker", "7"}, 1, R"("readerID":7,)"},
        NameCase{"TrackByName",
                 {"--background", "雨"},
                 1,
                 R"("bgVoxId":"6","bgVoxPath":"http://127.0.0.1:)"},
        NameCase{"AmbiguousSpeakerListsTheMatches",
                 {"--speaker", "晓晓"},
                 kExitUsage,
                 "speakers share the name \"晓晓\": 7 (voice type 1 推荐), 8 (voice type 2 中文); "
                 "give the id instead"},
        NameCase{"UnknownName",
                 {"--background", "雪"},
                 kExitUsage,
                 "unknown background track \"雪\"; 'dubdesk synthesize --list-backgrounds'"}),
    [](const testing::TestParamInfo<NameCase>& info) { return info.param.name; });

// Names with what JSON must escape reach a script's parser unchanged; bytes that are no
// character arrive as U+FFFD rather than as invalid JSON.
TEST(JsonListing, EscapesWhatTheServiceSends) {
    const std::string awkward = "a\\b\t\x01 \x7F 云\u2028";
    RecordingServer server([&](const RecordedRequest& request) {
        if (request.target.find("/readerInfo/1") != std::string::npos) {
            return Reply{.body = R"({"data":[{"riId":7,"riName":")" + awkward +
                                 R"(","riVoxurl":"http://127.0.0.1/s?a=1&b=2","x":0}]})"};
        }
        return Reply{.body = R"({"data":[]})"};
    });
    const CommandRun run = RunCommand(
        {"--list-speakers", "--json", "--voice-type", "1", "--service-origin", server.Url("")});
    SetServiceOrigin("");
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json listed = nlohmann::json::parse(run.out);
    ASSERT_EQ(listed.size(), 1U) << run.out;
    EXPECT_EQ(listed[0].at("name"), AnsiTextToUtf8(Utf8TextToAnsi(awkward)));
    EXPECT_EQ(listed[0].at("id"), "7");
    EXPECT_EQ(listed[0].at("sample"), "http://127.0.0.1/s?a=1&b=2");
    EXPECT_EQ(run.out.find('\t'), std::string::npos) << "control characters are escaped";
}

TEST(JsonListing, AnEmptyListIsStillJson) {
    RecordingServer server([](const RecordedRequest&) { return Reply{.body = R"({"data":[]})"}; });
    const CommandRun run = RunCommand({"--list-backgrounds", "--json", "--background-type", "4",
                                       "--service-origin", server.Url("")});
    SetServiceOrigin("");
    EXPECT_EQ(run.status, kExitNoAudio);
    EXPECT_EQ(nlohmann::json::parse(run.out), nlohmann::json::array());
    EXPECT_NE(run.err.find("listed no background tracks"), std::string::npos) << run.err;
}

// The program itself in a shell pipeline: the text piped in, the service options before the
// subcommand, the MP3 piped out, nothing on standard error with -q.
TEST(ProgramInAPipeline, ReadsTheTextFromAPipeAndWritesTheMp3ToOne) {
    DubbingServer server(ServerOptions{.quiet = true, .misbehaviour = {}});
    ASSERT_GT(server.Start(), 0);
    TempFolder folder;
    const fs::path out = folder.path() / "out.mp3";
    const fs::path err = folder.path() / "err.txt";
    const auto quoted = [](const std::string& text) { return "'" + text + "'"; };
    const fs::path statusFile = folder.path() / "status";
    const std::string command =
        "printf '你好。' | { env XDG_CONFIG_HOME=" + quoted(folder.path().string()) +
        " " DUBDESK_EXECUTABLE " --service-origin " + server.Origin() + " synthesize -q -o - 2> " +
        quoted(err.string()) + "; echo $? > " + quoted(statusFile.string()) + "; } | cat > " +
        quoted(out.string());
    ASSERT_EQ(std::system(command.c_str()), 0);
    server.Stop();
    EXPECT_EQ(ReadFile(statusFile), "0\n") << ReadFile(err);
    EXPECT_EQ(ReadFile(err), "");
    const std::optional<long long> lengthMs = Mp3BytesLengthMs(ReadFile(out));
    ASSERT_TRUE(lengthMs.has_value()) << ReadFile(out).size() << " bytes";
    EXPECT_GT(*lengthMs, 200);
    EXPECT_EQ(server.AcceptedSubmits(), 1);
}

}  // namespace

namespace {

// What the completion offers for the words typed so far, the last one being completed.
std::vector<std::string> Completions(const std::vector<std::string>& words) {
    TempFolder folder;
    std::string array;
    for (const std::string& word : words) {
        array += " '" + word + "'";
    }
    const fs::path script =
        folder.Write("complete.sh", "source '" DUBDESK_COMPLETION "'\nCOMP_WORDS=(" + array +
                                        ")\nCOMP_CWORD=" + std::to_string(words.size() - 1) +
                                        "\n_dubdesk\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n");
    const fs::path listed = folder.path() / "listed";
    EXPECT_EQ(std::system(("bash '" + script.string() + "' > '" + listed.string() + "'").c_str()),
              0);
    std::vector<std::string> offered;
    std::istringstream lines(ReadFile(listed));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            offered.push_back(line);
        }
    }
    std::ranges::sort(offered);
    return offered;
}

TEST(BashCompletion, OffersOptionsValuesAndTheServicesIds) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(Completions({"dubdesk", "syn"}), Words{"synthesize"});
    EXPECT_EQ(Completions({"dubdesk", "synthesize", "--sp"}), (Words{"--speaker", "--speed"}));
    EXPECT_EQ(Completions({"dubdesk", "synthesize", "--pitch", ""}),
              (Words{"0", "1", "2", "3", "4"}));
    EXPECT_EQ(Completions({"dubdesk", "--service-origin", "x", "synthesize", "--li"}),
              (Words{"--list-backgrounds", "--list-speakers"}));

    // Ids from the service the command line names, asked through the program itself.
    DubbingServer server(ServerOptions{.quiet = true, .misbehaviour = {}});
    ASSERT_GT(server.Start(), 0);
    SetServiceOrigin(server.Origin());
    std::vector<SpeakerRecord> speakers;
    for (int category = 1; category <= 5; ++category) {
        std::vector<SpeakerRecord> records;
        FetchSpeakerCategory(records, category);
        speakers.insert(speakers.end(), records.begin(), records.end());
    }
    SetServiceOrigin("");
    Words ids;
    for (const SpeakerRecord& speaker : speakers) {
        ids.push_back(AnsiTextToUtf8(speaker.id));
    }
    std::ranges::sort(ids);
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(Completions({DUBDESK_EXECUTABLE, "synthesize", "--service-origin", server.Origin(),
                           "--speaker", ""}),
              ids);
    server.Stop();
}

}  // namespace
