#include "app/synthesize_command.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <sstream>
#include <utility>

#include "app/audio_file.h"
#include "app/catalogue_choice.h"
#include "app/command_line.h"
#include "app/failure_reason.h"
#include "app/level_settings.h"
#include "app/startup.h"
#include "playback/audio_player.h"
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

std::optional<std::string> ReadText(const SynthesizeOptions& options, std::istream& in) {
    if (options.text) {
        return AsContent(*options.text, false);
    }
    if (*options.textFile == "-") {
        return AsContent(std::string(std::istreambuf_iterator<char>(in), {}), true);
    }
    std::ifstream file(*options.textFile, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string text(std::istreambuf_iterator<char>(file), {});
    if (file.bad()) {
        return std::nullopt;
    }
    return AsContent(std::move(text), true);
}

// The tables asked for, one after the other; 1 when the service listed nothing for one of them.
int ListCatalogues(const SynthesizeCommandLine& line, std::ostream& out, std::ostream& err) {
    bool listedAll = true;
    if (line.listSpeakers) {
        listedAll = PrintCatalogue(out, kSpeakerKind, line.options.voiceType) && listedAll;
    }
    if (line.listBackgrounds) {
        if (line.listSpeakers) {
            out << "\n";
        }
        listedAll = PrintCatalogue(out, kBackgroundKind, line.options.backgroundType) && listedAll;
    }
    if (!listedAll) {
        err << "dubdesk synthesize: the service at " << ServiceOrigin()
            << " listed nothing (is it running?)\n";
        return 1;
    }
    return 0;
}

int Synthesize(const SynthesizeOptions& options, std::istream& in, std::ostream& out,
               std::ostream& err) {
    const std::optional<std::string> text = ReadText(options, in);
    if (!text) {
        err << "dubdesk synthesize: cannot read the text file " << *options.textFile << "\n";
        return 2;
    }
    if (text->empty()) {
        err << "dubdesk synthesize: the text is empty\n";
        return 2;
    }
    const std::string path = Mp3PathFor(options.output);
    if (!options.force && PathExists(path)) {
        err << "dubdesk synthesize: " << path << " already exists; --force replaces it\n";
        return 2;
    }
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (std::error_code error;
        !std::filesystem::is_directory(folder.empty() ? "." : folder, error)) {
        err << "dubdesk synthesize: there is no folder " << folder.string() << " to write into\n";
        return 2;
    }

    const Unrepresentable unrepresentable = FindUnrepresentable(*text);
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
        err << "dubdesk synthesize: " << speaker.error << "\n";
        return speaker.status;
    }
    const CatalogueChoice<BackgroundRecord> background =
        ChooseFromCatalogue(kBackgroundKind, options.background, options.backgroundType);
    if (background.status != 0) {
        err << "dubdesk synthesize: " << background.error << "\n";
        return background.status;
    }
    const SpeakerRecord& reader = *speaker.record;
    const std::optional<BackgroundRecord>& track = background.record;

    SynthesisParameters parameters{
        .content = Utf8TextToAnsi(*text),
        // The window's speaker list holds the id as a number.
        .readerId = std::to_string(ReadLeadingInteger(reader.id)),
        .backgroundPath = track ? track->voxUrl : std::string(),
        .backgroundId = track ? track->id : std::string(),
        .speed = SpeedSetting(options.speed),
        .readerVolume = VolumeSetting(options.voiceVolume),
        .backgroundVolume = VolumeSetting(options.backgroundVolume),
        .pitch = PitchSetting(options.pitch),
    };
    err << "dubdesk synthesize: speaker " << AnsiTextToUtf8(reader.id) << " "
        << AnsiTextToUtf8(reader.name) << ", background "
        << (track ? AnsiTextToUtf8(track->id) + " " + AnsiTextToUtf8(track->name) : "none")
        << ", service " << ServiceOrigin() << "\n";

    const auto start = std::chrono::steady_clock::now();
    SynthesisOutcome outcome;
    auto say = [&](const std::string& what) {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        err << "[" << std::fixed << std::setprecision(1) << std::setw(5) << elapsed.count()
            << " s] " << what << std::endl;
    };
    bool submitted = false;
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
                            say("submitted, serial " + AnsiTextToUtf8(outcome.serial));
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
    };
    const std::string audio = RunSynthesisJob(std::move(parameters), observer);
    if (audio.empty()) {
        say("gave up");
        err << "dubdesk synthesize: no audio: " << DescribeFailure(outcome) << "\n";
        return 1;
    }
    say("done, " + std::to_string(audio.size()) + " bytes");

    // Checked again: the job took seconds, and the file may have appeared meanwhile.
    if (!options.force && PathExists(path)) {
        err << "dubdesk synthesize: " << path
            << " appeared while the job ran and was left as it is; --force replaces it\n";
        return 1;
    }
    if (!WriteFileAtomically(path, audio)) {
        err << "dubdesk synthesize: cannot write " << path << "\n";
        return 1;
    }
    const std::int32_t length = ProbeClipLength(path);
    out << path << ": " << audio.size() << " bytes, " << length << " ms" << std::endl;

    if (options.play) {
        const std::string alias = "synthesize";
        if (!OpenAndPlayClip(path, alias)) {
            CloseClip(alias);
            err << "dubdesk synthesize: no sound output could be opened; " << path
                << " was written but not played\n";
            return 0;
        }
        say("playing");
        WaitWithWindowEvents(length + kPlaybackTailMs);
        CloseClip(alias);
        say("played");
    }
    return 0;
}

}  // namespace

int RunSynthesizeCommand(const SynthesizeCommandLine& line, std::istream& in, std::ostream& out,
                         std::ostream& err) {
    switch (line.action) {
        case Action::Refuse:
            err << "dubdesk synthesize: " << line.error << "\nTry 'dubdesk synthesize --help'.\n";
            return 2;
        case Action::ShowHelp:
            out << SynthesizeHelpText("dubdesk");
            return 0;
        case Action::ShowVersion:
            out << VersionText();
            return 0;
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
    return line.action == Action::List ? ListCatalogues(line, out, err)
                                       : Synthesize(line.options, in, out, err);
}
