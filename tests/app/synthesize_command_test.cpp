// dubdesk synthesize, run in-process: against the local dubbing server for whole jobs, against a
// recording server for what the job is asked to do and for a misbehaving service, and the
// option parser on its own; the program itself for the signals. Literals here are UTF-8, like a
// terminal's; catalogue records are GBK and converted before comparing.
#include "app/synthesize_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "app/catalogue_choice.h"
#include "protocol/service_paths.h"
#include "server/dubbing_server.h"
#include "service/catalogue.h"
#include "service/service_api.h"
#include "service/waiting.h"
#include "tests/app/command_run.h"
#include "tests/playback/tone_mp3.h"
#include "tests/server/mp3_decoding.h"
#include "tests/support/recording_server.h"
#include "text/code_page.h"
#include "text/percent_encoding.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// What the folder holds, by name, sorted.
std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::ranges::sort(names);
    return names;
}

// Whole jobs against the local dubbing server in this process.
class SynthesizeAgainstServer : public LocalServerCommandTest {
  protected:
    std::string Output(const std::string& name) const { return (folder_.path() / name).string(); }

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
    EXPECT_EQ(Names(folder_.path()), std::vector<std::string>{"hello.mp3"}) << "no temporary left";
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
    EXPECT_EQ(Names(folder_.path()), std::vector<std::string>{"take.MP3"});
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
    EXPECT_EQ(run.status, kExitFileError);
    EXPECT_NE(run.err.find("appeared while the job ran"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(target), "theirs");
    EXPECT_EQ(Names(folder_.path()), std::vector<std::string>{"late.mp3"});
}

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
    EXPECT_TRUE(Names(folder_.path()).empty());
}

TEST_F(SynthesizeAgainstServer, PlayWithoutASoundOutputStillWritesAndSucceeds) {
    // The test's environment points the sound server nowhere.
    const CommandRun run = Synthesize({"--text", "你好", "--output", Output("p"), "--play"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("no sound output could be opened"), std::string::npos) << run.err;
    EXPECT_TRUE(DecodeMp3(ReadFile(folder_.path() / "p.mp3")).has_value());
}

// A service that does everything right unless told otherwise: one speaker, one background track,
// a job ready at the first result request and a real MP3 to download. A case replaces the answer
// for one path (the query left out) and may name the speaker and the serial number.
struct ServiceScript {
    std::map<std::string, Reply> replaced{};
    std::string speakerName = "晓晓";
    std::string serial = "42";
};

const std::string kSubmitPath = std::string(kSynVoxPath) + kSpeechSynthEndpoint;
const std::string kResultPath = std::string(kSynVoxPath) + kQuerySynthResultEndpoint;
const std::string kFirstSpeakersPath = std::string(kReaderInfoPath) + "1";
constexpr const char* kDownloadPath = "/download/42.mp3";

const std::string& ToneMp3() {
    static const std::string mp3 = EncodeToneMp3(16000, 1, 8000);
    return mp3;
}

class ScriptedService {
  public:
    explicit ScriptedService(ServiceScript script = {})
        : script_(std::move(script)),
          server_([this](const RecordedRequest& request) { return Answer(request); }) {}

    std::string Origin() const { return server_.Url(""); }
    std::vector<RecordedRequest> Requests() const { return server_.Requests(); }
    bool Received(const std::string& path) const {
        return std::ranges::any_of(Requests(), [&](const RecordedRequest& request) {
            return request.target.starts_with(path);
        });
    }

  private:
    Reply Answer(const RecordedRequest& request) const {
        const std::string path = request.target.substr(0, request.target.find('?'));
        if (const auto it = script_.replaced.find(path); it != script_.replaced.end()) {
            return it->second;
        }
        if (path.starts_with(kReaderInfoPath)) {
            return {.body = R"({"code":200,"data":[{"riId":7,"riName":")" + script_.speakerName +
                            R"(","x":0}]})"};
        }
        if (path.starts_with(kBgVoxInfoPath) || path == kCustomBgVoxListPath) {
            return {.body = R"({"code":200,"data":[{"biId":5,"biName":"古","biVoxurl":")" +
                            server_.Url("/track.mp3") + R"(","x":0}]})"};
        }
        if (path == kSubmitPath) {
            return {.headerLines = {"Set-Cookie: sid=abc; Path=/"},
                    .body = R"({"code":200,"message":"成功","data":{"serialId":)" + script_.serial +
                            "}}"};
        }
        if (path == kResultPath) {
            return {.body = R"({"code":200,"data":{"vsriStatus":2,"vsriDownurl":")" +
                            server_.Url(kDownloadPath) + R"("}})"};
        }
        if (path == kDownloadPath) {
            return {.headerLines = {"Content-Type: audio/mpeg"}, .body = ToneMp3()};
        }
        return {.body = R"({"code":200,"message":"成功"})"};
    }

    const ServiceScript script_;
    RecordingServer server_;  // last: its threads stop before the script goes away
};

// Makes the folder refuse new entries, to root too (which permissions do not stop): read-only
// permissions and, where they are not enough, the immutable attribute. False when neither holds.
bool MakeUnwritable(const fs::path& folder) {
    ::chmod(folder.c_str(), 0555);
    const auto refuses = [&] {
        const fs::path probe = folder / "probe";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            return true;
        }
        ::close(fd);
        ::unlink(probe.c_str());
        return false;
    };
    if (refuses()) {
        return true;
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return refuses();
}

void MakeWritable(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL) != 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    ::chmod(folder.c_str(), 0755);
}

// A loopback port nobody listens on: bound once, then given up.
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

std::string RandomBytes(std::size_t size) {
    std::minstd_rand noise(20240611);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(noise() % 256);
    }
    return bytes;
}

// Where the service lives for one case.
enum class Service {
    Scripted,     // the scripted service with the case's replacements
    LocalServer,  // the local dubbing server with the case's switches
    Nobody,       // a loopback port nobody listens on
};

struct FaultCase {
    const char* name;
    Service service = Service::Scripted;
    ServiceScript script{};
    ServerMisbehaviour misbehaviour{};
    std::vector<std::string> arguments{};  // besides the text, the output and --force
    bool unwritableFolder = false;
    int status = kExitNoAudio;
    std::vector<std::string> reason{};  // pieces of the last line on standard error
    int secondsAtMost = 10;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

// One misbehaving service per case, run through the command's own code path: the reason is
// printed, the status is the documented one, the user's file is byte for byte what it was (the
// command was told to replace it), no temporary file is left, and the command gives up in time.
class ServiceFault : public testing::TestWithParam<FaultCase> {
  protected:
    // The job's timetable does not matter here: every case fails for its own reason.
    ServiceFault() {
        SetWaitFunction([](int) {});
    }
    ~ServiceFault() override {
        SetWaitFunction({});
        SetServiceOrigin("");
        SetCatalogueAccessToken("");
    }
};

TEST_P(ServiceFault, GivesUpWithTheReasonAndLeavesTheFileAlone) {
    const FaultCase& fault = GetParam();
    std::unique_ptr<ScriptedService> scripted;
    std::unique_ptr<DubbingServer> local;
    std::string origin;
    switch (fault.service) {
        case Service::Scripted:
            scripted = std::make_unique<ScriptedService>(fault.script);
            origin = scripted->Origin();
            break;
        case Service::LocalServer: {
            ServerOptions options;
            options.quiet = true;
            options.misbehaviour = fault.misbehaviour;
            local = std::make_unique<DubbingServer>(options);
            ASSERT_GT(local->Start(), 0);
            origin = local->Origin();
            break;
        }
        case Service::Nobody:
            origin = "http://127.0.0.1:" + std::to_string(ClosedPort());
            break;
    }
    TempFolder folder;
    const fs::path target = folder.Write("take.mp3", "the user's own take\n");
    if (fault.unwritableFolder && !MakeUnwritable(folder.path())) {
        MakeWritable(folder.path());
        GTEST_SKIP() << "this file system lets the test's user write into any folder";
    }

    std::vector<std::string> arguments = {
        "--text", "你好", "--output", target.string(), "--force", "--service-origin", origin};
    arguments.insert(arguments.end(), fault.arguments.begin(), fault.arguments.end());
    const auto start = std::chrono::steady_clock::now();
    const CommandRun run = RunCommand(arguments);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    MakeWritable(folder.path());

    EXPECT_EQ(run.status, fault.status) << run.err;
    const std::string lastLine = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
    // For the record: how long giving up took and what was said.
    RecordProperty("seconds", std::to_string(took.count()));
    RecordProperty("reason", lastLine.substr(0, lastLine.size() - 1));
    for (const std::string& piece : fault.reason) {
        EXPECT_NE(lastLine.find(piece), std::string::npos) << piece << "\n" << run.err;
    }
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(ReadFile(target), "the user's own take\n");
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"take.mp3"}) << "no temporary left";
    EXPECT_LT(took.count(), fault.secondsAtMost) << run.err;
    if (fault.unwritableFolder) {
        EXPECT_TRUE(scripted->Requests().empty()) << "refused before anything was sent";
    }
}

ServerMisbehaviour NeverReady() {
    ServerMisbehaviour misbehaviour;
    misbehaviour.neverReady = true;
    return misbehaviour;
}

FaultCase Replacing(const char* name, const std::string& path, Reply reply,
                    std::vector<std::string> reason, int secondsAtMost = 10) {
    FaultCase fault{.name = name, .reason = std::move(reason), .secondsAtMost = secondsAtMost};
    fault.script.replaced[path] = std::move(reply);
    return fault;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ServiceFault,
    testing::Values(
        FaultCase{.name = "Refused",
                  .service = Service::Nobody,
                  .reason = {"the speakers of voice type 1", "could not be fetched",
                             "connection refused"}},
        // The engine gives up after 15 s of silence or of less than 1 KiB/s.
        Replacing("NoAnswerAtTheSubmit", kSubmitPath, {.neverAnswer = true},
                  {"no audio: the submit failed: timed out"}, 30),
        Replacing("StallMidBodyOfAResult", kResultPath,
                  {.body = std::string(4000, ' '), .stallAfterBodyBytes = 1000},
                  {"no audio: result request 1 failed: timed out"}, 30),
        Replacing("TrickleOfTheDownload", kDownloadPath,
                  {.body = std::string(4000, 'x'), .trickleMs = 50},
                  {"no audio: the download failed: too slow"}, 30),
        FaultCase{.name = "CatalogueTokenRefused",
                  .service = Service::LocalServer,
                  .arguments = {"--catalogue-token", "wrong", "--background-type", "1",
                                "--background", "1"},
                  .reason = {"refused the catalogue token (HTTP 401", "background type 1",
                             "--catalogue-token"}},
        Replacing(
            "SpeakerListUnauthorizedWithoutAToken", kFirstSpeakersPath, {.status = 401},
            {"answered the request for the speakers of voice type 1 推荐 with HTTP status 401"}),
        Replacing("PollAnswered503", kResultPath, {.status = 503},
                  {"no audio: result request 1 was answered with HTTP status 503"}),
        Replacing("PollAnswered403", kResultPath, {.status = 403},
                  {"no audio: result request 1 was answered with HTTP status 403"}),
        Replacing("HtmlPageDownloadedWith200", kDownloadPath,
                  {.headerLines = {"Content-Type: text/html"},
                   .body = "<!DOCTYPE html><html><body><h1>Error</h1></body></html>"},
                  {"no audio: the download is not audio"}),
        Replacing("JsonDownloadedWith200", kDownloadPath,
                  {.headerLines = {"Content-Type: application/json"},
                   .body = R"({"code":500,"message":"内部错误"})"},
                  {"no audio: the download is not audio"}),
        Replacing("RandomBytesDownloadedWith200", kDownloadPath, {.body = RandomBytes(256 * 1024)},
                  {"no audio: the download is not audio"}),
        Replacing("EndlessDownload", kDownloadPath,
                  {.body = RandomBytes(64 * 1024), .endlessBody = true},
                  {"no audio: the download failed: answer too large"}, 60),
        Replacing("DownloadNotFound", kDownloadPath, {.status = 404, .reason = "Not Found"},
                  {"no audio: the download was answered with HTTP status 404"}),
        FaultCase{.name = "NeverReady",
                  .service = Service::LocalServer,
                  .misbehaviour = NeverReady(),
                  .reason = {"no audio: the job was never ready after 21 result requests"}},
        FaultCase{.name = "UnwritableFolder",
                  .unwritableFolder = true,
                  .status = kExitFileError,
                  .reason = {"the file could not be written: ", "; nothing was sent"}}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// The scripted service itself, well behaved: what the fault cases change is all that fails.
TEST(ScriptedServiceWithoutFaults, WritesTheDownloadedMp3) {
    ScriptedService service;
    SetWaitFunction([](int) {});
    TempFolder folder;
    const CommandRun run =
        RunCommand({"--text", "你好", "--output", (folder.path() / "ok").string(),
                    "--service-origin", service.Origin()});
    SetWaitFunction({});
    SetServiceOrigin("");
    ASSERT_EQ(run.status, kExitWritten) << run.err;
    EXPECT_EQ(ReadFile(folder.path() / "ok.mp3"), ToneMp3());
    EXPECT_NE(run.out.find(" ms\n"), std::string::npos) << run.out;
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"ok.mp3"});
}

struct ListingCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string reason;
};

void PrintTo(const ListingCase& c, std::ostream* os) {
    *os << c.name;
}

class ListingFault : public testing::TestWithParam<ListingCase> {
  protected:
    ~ListingFault() override {
        SetServiceOrigin("");
        SetCatalogueAccessToken("");
    }
};

// The listings name the real cause and exit 1; nothing is guessed.
TEST_P(ListingFault, NamesTheCause) {
    ServerOptions options;
    options.quiet = true;
    DubbingServer server(options);
    ASSERT_GT(server.Start(), 0);
    std::vector<std::string> arguments = GetParam().arguments;
    for (std::string& argument : arguments) {
        if (argument == "LOCAL") {
            argument = server.Origin();
        } else if (argument == "NOBODY") {
            argument = "http://127.0.0.1:" + std::to_string(ClosedPort());
        }
    }
    const CommandRun run = RunCommand(arguments);
    EXPECT_EQ(run.status, kExitNoAudio) << run.err;
    EXPECT_NE(run.err.find(GetParam().reason), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("is it running?)\n"), std::string::npos)
        << "a guess instead of the cause\n"
        << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Causes, ListingFault,
    testing::Values(
        ListingCase{"SpeakersFromNobody",
                    {"--list-speakers", "--service-origin", "NOBODY"},
                    "the speakers of voice type 1 推荐 could not be fetched from the service at "
                    "http://127.0.0.1:"},
        ListingCase{"BackgroundsWithTheWrongToken",
                    {"--list-backgrounds", "--service-origin", "LOCAL", "--catalogue-token", "x"},
                    "refused the catalogue token (HTTP 401 for the background tracks of "
                    "background type 1 本地)"}),
    [](const testing::TestParamInfo<ListingCase>& info) { return info.param.name; });

// Every byte below 0x20 but the line break, and DEL.
bool HoldsControlBytes(const std::string& text) {
    return std::ranges::any_of(text, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\n') || byte == 0x7F;
    });
}

TEST(ServiceText, ReachesTheTerminalWithItsControlCharactersEscaped) {
    // A name that would reset the terminal, switch it to line drawing and ring the bell (no
    // brackets: the catalogue is read by its "[" and "]"), and a serial number that would move
    // the cursor.
    ServiceScript script{.speakerName =
                             "晓\x1B"
                             "c晓\x1B(0\x07\x7F",
                         .serial = "42\x1B[1A"};
    script.replaced[kDownloadPath] = {.body = "<html>\x1B[31mnot audio</html>"};
    ScriptedService service(script);
    SetWaitFunction([](int) {});
    TempFolder folder;
    const CommandRun listed =
        RunCommand({"--list-speakers", "--voice-type", "1", "--service-origin", service.Origin()});
    const CommandRun run = RunCommand({"--text", "你好", "--output", (folder.path() / "x").string(),
                                       "--service-origin", service.Origin()});
    SetWaitFunction({});
    SetServiceOrigin("");

    ASSERT_EQ(listed.status, kExitWritten) << listed.err;
    EXPECT_NE(listed.out.find("晓\\x1Bc晓\\x1B(0\\x07\\x7F\n"), std::string::npos) << listed.out;
    EXPECT_FALSE(HoldsControlBytes(listed.out)) << listed.out;
    EXPECT_EQ(run.status, kExitNoAudio);
    EXPECT_NE(run.err.find("speaker 7 晓\\x1Bc晓\\x1B(0\\x07\\x7F,"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("serial 42\\x1B[1A"), std::string::npos) << run.err;
    EXPECT_FALSE(HoldsControlBytes(run.err)) << run.err;
}

struct RefusalCase {
    const char* name;
    // The text file and the output, relative to a fresh folder that holds a folder "dir"; "-"
    // for the text file reads the text "你好" from standard input.
    std::string textFile;
    std::string output;
    int status;
    std::string message;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusedBeforeSending : public testing::TestWithParam<RefusalCase> {
  protected:
    ~RefusedBeforeSending() override { SetServiceOrigin(""); }
};

// Text that cannot be read and outputs that cannot be written are refused with the system's
// reason before the service hears anything, and leave nothing behind.
TEST_P(RefusedBeforeSending, WithTheReason) {
    ScriptedService service;
    TempFolder folder;
    fs::create_directory(folder.path() / "dir");
    const auto inFolder = [&](const std::string& name) {
        return name == "-" ? name : (folder.path() / name).string();
    };
    const CommandRun run =
        RunCommand({"--text-file", inFolder(GetParam().textFile), "--output",
                    inFolder(GetParam().output), "--service-origin", service.Origin()},
                   "你好");
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_TRUE(service.Requests().empty());
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"dir"});
    EXPECT_TRUE(fs::is_empty(folder.path() / "dir"));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RefusedBeforeSending,
    testing::Values(
        RefusalCase{"TextFileIsAFolder", "dir", "a", kExitFileError, ": Is a directory\n"},
        RefusalCase{"TextFileMissing", "none.txt", "a", kExitFileError,
                    ": No such file or directory\n"},
        RefusalCase{"OutputEndsInASlash", "-", "dir/", kExitUsage,
                    "names a folder; give the file's name, such as "},
        RefusalCase{"OutputNamesAFolder", "-", "dir", kExitUsage, "names a folder"},
        RefusalCase{"OutputFolderMissing", "-", "none/a", kExitFileError,
                    "the file could not be written: No such file or directory; nothing was "
                    "sent"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

struct SignalCase {
    const char* name;
    int signal;
    int status;
};

void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.name;
}

class SignalDuringTheJob : public testing::TestWithParam<SignalCase> {};

// The program itself, stopped while the service keeps it waiting for the submit's answer: the
// temporary file it made for the audio goes, the user's file stays, the status tells the signal.
TEST_P(SignalDuringTheJob, RemovesTheTemporaryFileAndExitsWithTheSignalsStatus) {
    ScriptedService service(ServiceScript{.replaced = {{kSubmitPath, {.neverAnswer = true}}}});
    TempFolder folder;
    const fs::path target = folder.Write("take.mp3", "the user's own take\n");
    const TempFolder config;

    const std::vector<std::string> arguments = {
        DUBDESK_EXECUTABLE, "synthesize", "--text",           "你好",          "--output",
        target.string(),    "--force",    "--service-origin", service.Origin()};
    std::vector<std::string> environment = {"XDG_CONFIG_HOME=" + config.path().string(),
                                            "HOME=" + config.path().string(), "LANG=C.UTF-8"};
    const auto pointers = [](std::vector<std::string>& texts) {
        std::vector<char*> list;
        for (std::string& text : texts) {
            list.push_back(text.data());
        }
        list.push_back(nullptr);
        return list;
    };
    std::vector<std::string> argumentTexts = arguments;
    std::vector<char*> argv = pointers(argumentTexts);
    std::vector<char*> envp = pointers(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = (config.path() / "stderr").string();
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);

    // The submit has arrived and hangs: the job is under way and the temporary file waits.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!service.Received(kSubmitPath) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(service.Received(kSubmitPath));
    EXPECT_EQ(Names(folder.path()).size(), 2U) << "the temporary file beside the user's";

    ::kill(pid, GetParam().signal);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(WIFEXITED(status)) << "still running or killed: " << status << "\n"
                                   << ReadFile(log);
    EXPECT_EQ(WEXITSTATUS(status), GetParam().status) << ReadFile(log);
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"take.mp3"});
    EXPECT_EQ(ReadFile(target), "the user's own take\n");
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalDuringTheJob,
                         testing::Values(SignalCase{"Interrupt", SIGINT, 130},
                                         SignalCase{"Terminate", SIGTERM, 143},
                                         SignalCase{"HangUp", SIGHUP, 129}),
                         [](const testing::TestParamInfo<SignalCase>& info) {
                             return info.param.name;
                         });

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

struct EscapeCase {
    const char* name;
    std::string text;
    std::string shown;
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
    *os << c.name;
}

class TerminalSafeTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(TerminalSafeTest, EscapesWhatATerminalWouldObey) {
    EXPECT_EQ(TerminalSafe(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TerminalSafeTest,
    testing::Values(EscapeCase{"PlainAndChinese", "晓晓 Anna-1 ½", "晓晓 Anna-1 ½"},
                    EscapeCase{"C0AndDel", std::string("a\0b\tc\nd\re\x1B[0m\x7F", 14),
                               "a\\x00b\\x09c\\x0Ad\\x0De\\x1B[0m\\x7F"},
                    EscapeCase{"C1ControlAsUtf8",
                               "a\xC2\x9B"
                               "31m",
                               "a\\u009B31m"},
                    EscapeCase{"BidirectionalOverride",
                               "abc\xE2\x80\xAE"
                               "fdp.exe",
                               "abc\\u202Efdp.exe"},
                    EscapeCase{"BytesThatAreNoUtf8", "\xFF\xC3(", "\\xFF\\xC3("}),
    [](const testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });

}  // namespace
