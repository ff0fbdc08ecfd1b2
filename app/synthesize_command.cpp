#include "app/synthesize_command.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <utility>

#include "app/audio_file.h"
#include "app/audition.h"
#include "app/catalogue_choice.h"
#include "app/command_line.h"
#include "app/failure_reason.h"
#include "app/level_settings.h"
#include "app/startup.h"
#include "playback/audio_player.h"
#include "playback/mp3_decoder.h"
#include "service/service_api.h"
#include "service/synthesis_job.h"
#include "text/code_page.h"
#include "text/text_scan.h"
#include "text/utf8.h"

// Narrow literals here are GBK, like the texts of the window and the catalogue; everything that
// reaches the terminal goes through AnsiTextToUtf8 first.

namespace {

using Action = SynthesizeCommandLine::Action;

// Most characters an unrepresentable-character report shows.
constexpr std::size_t kReportedCharacters = 5;
// Played after the clip's length before playback counts as finished: the sound server still
// holds the tail when the player has handed over the last sample.
constexpr int kPlaybackTailMs = 500;

// Characters of the UTF-8 text that code page 936 cannot hold, each shown with its code point,
// and how many there are in all.
struct Unrepresentable {
    std::size_t count = 0;
    std::vector<std::string> first;
};

Unrepresentable FindUnrepresentable(const std::string& utf8) {
    Unrepresentable found;
    // Most texts convert whole without a new "?": only then is the slow look worth it.
    if (std::count(utf8.begin(), utf8.end(), '?') ==
        static_cast<std::ptrdiff_t>(std::ranges::count(Utf8TextToAnsi(utf8), '?'))) {
        return found;
    }
    for (std::size_t pos = 0; pos < utf8.size();) {
        const auto [value, length] = NextUtf8Character(utf8, pos);
        const std::string character = utf8.substr(pos, length);
        pos += length;
        if (character == "?" || Utf8TextToAnsi(character) != "?") {
            continue;
        }
        if (++found.count <= kReportedCharacters) {
            std::ostringstream shown;
            if (value < 0) {
                shown << "byte 0x" << std::hex << std::uppercase << std::setw(2)
                      << std::setfill('0')
                      << static_cast<int>(static_cast<unsigned char>(character[0]));
            } else {
                shown << "\"" << character << "\" (U+" << std::hex << std::uppercase << std::setw(4)
                      << std::setfill('0') << value << ")";
            }
            found.first.push_back(shown.str());
        }
    }
    return found;
}

// The text as the window's content box would hand it over: line breaks CR LF, without a byte
// order mark or the final line break a file usually ends with.
std::string AsContent(std::string text, bool fromFile) {
    if (fromFile && text.starts_with("\xEF\xBB\xBF")) {
        text.erase(0, 3);
    }
    if (fromFile && text.ends_with('\n')) {
        text.pop_back();
        if (text.ends_with('\r')) {
            text.pop_back();
        }
    }
    std::string content;
    content.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            content += '\r';
        }
        content += text[i];
    }
    return content;
}

// The text, or the system's reason (errno) why it could not be read.
struct TextRead {
    std::string text{};
    int error = 0;
};

TextRead ReadText(const SynthesizeOptions& options, std::istream& in) {
    if (options.text) {
        return {.text = AsContent(*options.text, false)};
    }
    if (*options.textFile == "-") {
        std::string text(std::istreambuf_iterator<char>(in), {});
        if (in.bad()) {
            return {.error = EIO};
        }
        return {.text = AsContent(std::move(text), true)};
    }
    // Read by the C library, which reports a folder or a read error by errno rather than by
    // throwing from deep inside a stream.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen(options.textFile->c_str(), "rbe"), &std::fclose);
    if (!file) {
        return {.error = errno};
    }
    std::string text;
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, got);
    }
    if (std::ferror(file.get())) {
        return {.error = errno != 0 ? errno : EIO};
    }
    return {.text = AsContent(std::move(text), true)};
}

// Where a signal that ends the command finds the temporary file to remove: copied in before the
// handlers are installed, read only by them.
char gTemporaryPath[PATH_MAX];
volatile sig_atomic_t gTemporaryArmed = 0;

extern "C" void RemoveTemporaryAndExit(int signal) {
    if (gTemporaryArmed != 0) {
        ::unlink(gTemporaryPath);
    }
    ::_exit(128 + signal);
}

constexpr int kCleanedUpSignals[] = {SIGHUP, SIGINT, SIGTERM};

// While it lives, a SIGHUP, SIGINT or SIGTERM removes the temporary file and ends the process
// with 128 + the signal's number, whatever the command is doing: waiting for the service or
// writing a large file. A signal the process was started ignoring stays ignored.
class TemporaryFileSignalGuard {
  public:
    explicit TemporaryFileSignalGuard(const std::string& temporary) {
        // A path the system let us create is shorter than PATH_MAX.
        temporary.copy(gTemporaryPath, sizeof gTemporaryPath - 1);
        gTemporaryPath[std::min(temporary.size(), sizeof gTemporaryPath - 1)] = '\0';
        gTemporaryArmed = 1;
        struct sigaction action {};
        action.sa_handler = RemoveTemporaryAndExit;
        sigfillset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kCleanedUpSignals); ++i) {
            ::sigaction(kCleanedUpSignals[i], nullptr, &previous_[i]);
            if (previous_[i].sa_handler != SIG_IGN) {
                ::sigaction(kCleanedUpSignals[i], &action, nullptr);
            }
        }
    }
    ~TemporaryFileSignalGuard() {
        for (std::size_t i = 0; i < std::size(kCleanedUpSignals); ++i) {
            ::sigaction(kCleanedUpSignals[i], &previous_[i], nullptr);
        }
        gTemporaryArmed = 0;
    }
    TemporaryFileSignalGuard(const TemporaryFileSignalGuard&) = delete;
    TemporaryFileSignalGuard& operator=(const TemporaryFileSignalGuard&) = delete;

  private:
    struct sigaction previous_[std::size(kCleanedUpSignals)]{};
};

// The tables asked for, one after the other; 1 when the service could not be asked or listed
// nothing for one of them.
int ListCatalogues(const SynthesizeCommandLine& line, std::ostream& out, std::ostream& err) {
    std::vector<std::string> problems;
    const CatalogueFormat format = line.json ? CatalogueFormat::Json : CatalogueFormat::Table;
    if (line.listSpeakers) {
        problems.push_back(PrintCatalogue(out, kSpeakerKind, line.options.voiceType, format));
    }
    if (line.listBackgrounds) {
        if (line.listSpeakers) {
            out << "\n";
        }
        problems.push_back(
            PrintCatalogue(out, kBackgroundKind, line.options.backgroundType, format));
    }
    int status = kExitWritten;
    for (const std::string& problem : problems) {
        if (!problem.empty()) {
            err << "dubdesk synthesize: " << TerminalSafe(problem) << "\n";
            status = kExitNoAudio;
        }
    }
    return status;
}

// Why the output names no file that can be written, before anything is sent; empty when it does.
std::string RefuseOutput(const SynthesizeOptions& options, const std::string& path) {
    std::error_code error;
    if (options.output.ends_with('/') || std::filesystem::is_directory(options.output, error) ||
        std::filesystem::is_directory(path, error)) {
        return "--output " + options.output + " names a folder; give the file's name, such as " +
               (std::filesystem::path(options.output) / "speech.mp3").lexically_normal().string();
    }
    if (!options.force && PathExists(path)) {
        return path + " already exists; --force replaces it";
    }
    return {};
}

// Plays the file to its end and the sound server's tail; false when no sound output opened.
bool PlayToTheEnd(const std::string& path, long long lengthMs) {
    const std::string alias = "synthesize";
    if (!OpenAndPlayClip(path, alias)) {
        CloseClip(alias);
        return false;
    }
    WaitWithWindowEvents(static_cast<int>(lengthMs) + kPlaybackTailMs);
    CloseClip(alias);
    return true;
}

int Synthesize(const SynthesizeOptions& options, std::istream& in, std::ostream& out,
               std::ostream& err) {
    const TextRead text = ReadText(options, in);
    if (text.error != 0) {
        err << "dubdesk synthesize: cannot read the text "
            << (*options.textFile == "-" ? "from standard input" : "file " + *options.textFile)
            << ": " << std::strerror(text.error) << "\n";
        return kExitFileError;
    }
    if (text.text.empty()) {
        err << "dubdesk synthesize: the text is empty\n";
        return kExitUsage;
    }
    const bool toStandardOutput = options.output == "-";
    const std::string path = toStandardOutput ? std::string() : Mp3PathFor(options.output);
    std::optional<PendingAudioFile> file;
    std::optional<TemporaryFileSignalGuard> signalGuard;
    if (!toStandardOutput) {
        if (const std::string refusal = RefuseOutput(options, path); !refusal.empty()) {
            err << "dubdesk synthesize: " << refusal << "\n";
            return kExitUsage;
        }
        // The file waits as a temporary from here on, so an unusable folder is known before the
        // service is asked for anything.
        file.emplace(path);
        if (file->TemporaryPath().empty()) {
            err << "dubdesk synthesize: " << path << ": " << DescribeWriteFailure(file->Error())
                << "; nothing was sent\n";
            return kExitFileError;
        }
        signalGuard.emplace(file->TemporaryPath());
    }

    const Unrepresentable unrepresentable = FindUnrepresentable(text.text);
    if (unrepresentable.count > 0) {
        err << "dubdesk synthesize: " << unrepresentable.count
            << " character(s) of the text cannot be written in code page 936 and reach the "
               "service as \"?\":";
        for (const std::string& shown : unrepresentable.first) {
            err << " " << shown;
        }
        err << (unrepresentable.count > unrepresentable.first.size() ? " ...\n" : "\n");
    }

    const CatalogueChoice<SpeakerRecord> speaker =
        ChooseFromCatalogue(kSpeakerKind, options.speaker, options.voiceType);
    if (speaker.status != 0) {
        err << "dubdesk synthesize: " << TerminalSafe(speaker.error) << "\n";
        return speaker.status;
    }
    const CatalogueChoice<BackgroundRecord> background =
        ChooseFromCatalogue(kBackgroundKind, options.background, options.backgroundType);
    if (background.status != 0) {
        err << "dubdesk synthesize: " << TerminalSafe(background.error) << "\n";
        return background.status;
    }
    const SpeakerRecord& reader = *speaker.record;
    const std::optional<BackgroundRecord>& track = background.record;

    SynthesisParameters parameters{
        .content = Utf8TextToAnsi(text.text),
        // The window's speaker list holds the id as a number.
        .readerId = std::to_string(ReadLeadingInteger(reader.id)),
        .backgroundPath = track ? track->voxUrl : std::string(),
        .backgroundId = track ? track->id : std::string(),
        .speed = SpeedSetting(options.speed),
        .readerVolume = VolumeSetting(options.voiceVolume),
        .backgroundVolume = VolumeSetting(options.backgroundVolume),
        .pitch = PitchSetting(options.pitch),
    };
    if (!options.quiet) {
        err << "dubdesk synthesize: speaker "
            << TerminalSafe(AnsiTextToUtf8(reader.id) + " " + AnsiTextToUtf8(reader.name))
            << ", background "
            << (track ? TerminalSafe(AnsiTextToUtf8(track->id) + " " + AnsiTextToUtf8(track->name))
                      : "none")
            << ", service " << ServiceOrigin() << "\n";
    }

    const auto start = std::chrono::steady_clock::now();
    SynthesisOutcome outcome;
    auto say = [&](const std::string& what) {
        if (options.quiet) {
            return;
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        err << "[" << std::fixed << std::setprecision(1) << std::setw(5) << elapsed.count()
            << " s] " << what << std::endl;
    };
    bool submitted = false;
    std::optional<long long> lengthMs;
    const SynthesisObserver observer{
        .progress =
            [&](SynthesisStage stage, int resultRequest) {
                switch (stage) {
                    case SynthesisStage::BackgroundTrack:
                        say("fetching the background track");
                        break;
                    case SynthesisStage::Submit:
                        say("submitting the job");
                        break;
                    case SynthesisStage::FollowUp:
                        if (!std::exchange(submitted, true)) {
                            say("submitted, serial " +
                                TerminalSafe(AnsiTextToUtf8(outcome.serial)));
                        }
                        break;
                    case SynthesisStage::ResultPoll:
                        say("asking for the result (" + std::to_string(resultRequest) +
                            " of at most 21)");
                        break;
                    case SynthesisStage::Download:
                        say("downloading the audio");
                        break;
                    case SynthesisStage::None:
                        break;
                }
            },
        .outcome = &outcome,
        // Only what decodes as MP3 is written: an error page answered with 200 is no audio.
        .isAudio =
            [&](const std::string& bytes) {
                lengthMs = Mp3BytesLengthMs(bytes);
                return lengthMs.has_value();
            },
    };
    const std::string audio = RunSynthesisJob(std::move(parameters), observer);
    if (audio.empty()) {
        say("gave up");
        err << "dubdesk synthesize: no audio: " << TerminalSafe(DescribeFailure(outcome)) << "\n";
        return kExitNoAudio;
    }
    say("done, " + std::to_string(audio.size()) + " bytes");

    if (toStandardOutput) {
        out.write(audio.data(), static_cast<std::streamsize>(audio.size()));
        out.flush();
        if (!out) {
            err << "dubdesk synthesize: the MP3 could not be written to standard output\n";
            return kExitFileError;
        }
        if (!options.quiet) {
            err << "standard output: " << audio.size() << " bytes, " << *lengthMs << " ms\n";
        }
        return kExitWritten;
    }
    // Checked again: the job took seconds, and the file may have appeared meanwhile.
    if (!options.force && PathExists(path)) {
        err << "dubdesk synthesize: " << path
            << " appeared while the job ran and was left as it is; --force replaces it\n";
        return kExitFileError;
    }
    if (!file->Commit(audio)) {
        err << "dubdesk synthesize: " << path << ": " << DescribeWriteFailure(file->Error())
            << "\n";
        return kExitFileError;
    }
    out << path << ": " << audio.size() << " bytes, " << *lengthMs << " ms" << std::endl;

    if (options.play) {
        say("playing");
        if (!PlayToTheEnd(path, *lengthMs)) {
            err << "dubdesk synthesize: no sound output could be opened; " << path
                << " was written but not played\n";
            return kExitWritten;
        }
        say("played");
    }
    return kExitWritten;
}

// The sample of the chosen speaker, or of the track when only --background is given: saved
// with --output, played without it (or with --play).
int Preview(const SynthesizeOptions& options, std::ostream& out, std::ostream& err) {
    std::string address;
    std::string what;
    if (options.background && !options.speaker) {
        const CatalogueChoice<BackgroundRecord> track =
            ChooseFromCatalogue(kBackgroundKind, options.background, options.backgroundType);
        if (track.status != 0) {
            err << "dubdesk synthesize: " << TerminalSafe(track.error) << "\n";
            return track.status;
        }
        address = track.record->voxUrl;
        what = "background track " + AnsiTextToUtf8(track.record->id) + " " +
               AnsiTextToUtf8(track.record->name);
    } else {
        const CatalogueChoice<SpeakerRecord> speaker =
            ChooseFromCatalogue(kSpeakerKind, options.speaker, options.voiceType);
        if (speaker.status != 0) {
            err << "dubdesk synthesize: " << TerminalSafe(speaker.error) << "\n";
            return speaker.status;
        }
        address = speaker.record->voxUrl;
        what = "speaker " + AnsiTextToUtf8(speaker.record->id) + " " +
               AnsiTextToUtf8(speaker.record->name);
    }
    const bool toStandardOutput = options.output == "-";
    const std::string path =
        options.output.empty() || toStandardOutput ? std::string() : Mp3PathFor(options.output);
    if (!path.empty()) {
        if (const std::string refusal = RefuseOutput(options, path); !refusal.empty()) {
            err << "dubdesk synthesize: " << refusal << "\n";
            return kExitUsage;
        }
    }

    SampleOutcome outcome;
    const std::string sample = FetchSample(address, &outcome);
    if (sample.empty()) {
        err << "dubdesk synthesize: no sample of the " << TerminalSafe(what) << ": "
            << TerminalSafe(DescribeSampleFailure(outcome)) << "\n";
        return outcome.failure == SampleFailure::CacheWrite ? kExitFileError : kExitNoAudio;
    }
    if (!options.quiet) {
        err << "dubdesk synthesize: sample of the " << TerminalSafe(what)
            << (outcome.fromCache ? " (from the cache)" : "") << "\n";
    }
    const int lengthMs = ProbeClipLength(sample);

    if (toStandardOutput) {
        std::ifstream in(sample, std::ios::binary);
        out << in.rdbuf();
        out.flush();
        if (!in || !out) {
            err << "dubdesk synthesize: the sample could not be written to standard output\n";
            return kExitFileError;
        }
        return kExitWritten;
    }

    if (!path.empty()) {
        std::ifstream in(sample, std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(in), {});
        int error = 0;
        if (!WriteFileAtomically(path, bytes, &error)) {
            err << "dubdesk synthesize: " << path << ": " << DescribeWriteFailure(error) << "\n";
            return kExitFileError;
        }
        out << path << ": " << bytes.size() << " bytes, " << lengthMs << " ms" << std::endl;
        if (!options.play) {
            return kExitWritten;
        }
    }
    if (!PlayToTheEnd(sample, lengthMs)) {
        err << "dubdesk synthesize: no sound output could be opened; the sample was not played\n";
        return path.empty() ? kExitNoAudio : kExitWritten;
    }
    return kExitWritten;
}

}  // namespace

int RunSynthesizeCommand(const SynthesizeCommandLine& line, std::istream& in, std::ostream& out,
                         std::ostream& err) {
    switch (line.action) {
        case Action::Refuse:
            err << "dubdesk synthesize: " << line.error << "\nTry 'dubdesk synthesize --help'.\n";
            return kExitUsage;
        case Action::ShowHelp:
            out << SynthesizeHelpText("dubdesk");
            return kExitWritten;
        case Action::ShowVersion:
            out << VersionText();
            return kExitWritten;
        case Action::List:
        case Action::Synthesize:
            break;
    }
    if (line.options.serviceOrigin) {
        SetServiceOrigin(*line.options.serviceOrigin);
    }
    if (line.options.catalogueToken) {
        SetCatalogueAccessToken(*line.options.catalogueToken);
    }
    if (line.action == Action::List) {
        return ListCatalogues(line, out, err);
    }
    return line.options.preview ? Preview(line.options, out, err)
                                : Synthesize(line.options, in, out, err);
}
