#include "app/synthesize_command.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <span>
#include <sstream>
#include <utility>
#include <variant>

#include "app/audio_file.h"
#include "app/command_line.h"
#include "app/level_settings.h"
#include "app/play_command.h"
#include "app/startup.h"
#include "playback/audio_player.h"
#include "service/catalogue.h"
#include "service/service_api.h"
#include "service/synthesis_job.h"
#include "text/code_page.h"
#include "text/text_scan.h"
#include "text/utf8.h"
#include "window/list_items.h"

// Narrow literals here are GBK, like the texts of the window and the catalogue; everything that
// reaches the terminal goes through AnsiTextToUtf8 first.

namespace {

using Action = SynthesizeCommandLine::Action;

// Most characters an unrepresentable-character report shows.
constexpr std::size_t kReportedCharacters = 5;
// Played after the clip's length before playback counts as finished: the sound server still
// holds the tail when the player has handed over the last sample.
constexpr int kPlaybackTailMs = 500;

SynthesizeCommandLine Refused(std::string error) {
    SynthesizeCommandLine refused;
    refused.action = Action::Refuse;
    refused.error = std::move(error);
    return refused;
}

struct ChoiceOption {
    const char* name;
    std::span<const char8_t* const> items;
    int first;
};

std::string Utf8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

bool IsWide(long c) {
    static constexpr std::array<std::pair<long, long>, 14> kWide = {{{0x1100, 0x115F},
                                                                     {0x2E80, 0x303E},
                                                                     {0x3041, 0x33FF},
                                                                     {0x3400, 0x4DBF},
                                                                     {0x4E00, 0x9FFF},
                                                                     {0xA000, 0xA4CF},
                                                                     {0xAC00, 0xD7A3},
                                                                     {0xF900, 0xFAFF},
                                                                     {0xFE30, 0xFE4F},
                                                                     {0xFF00, 0xFF60},
                                                                     {0xFFE0, 0xFFE6},
                                                                     {0x1F300, 0x1F64F},
                                                                     {0x1F900, 0x1F9FF},
                                                                     {0x20000, 0x3FFFD}}};
    return std::any_of(kWide.begin(), kWide.end(),
                       [c](const auto& range) { return c >= range.first && c <= range.second; });
}

bool IsZeroWidth(long c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || c == 0xFE0F;
}

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

std::string Pad(const std::string& utf8, std::size_t width) {
    return utf8 + std::string(width - std::min(width, DisplayWidth(utf8)), ' ');
}

// Rows of UTF-8 cells; every column but the last is padded to its widest cell.
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], DisplayWidth(row[i]));
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += i + 1 < row.size() ? Pad(row[i], widths[i]) + "  " : row[i];
        }
        out << line << "\n";
    }
}

std::string CategoryCell(int number, std::span<const char8_t* const> names) {
    const bool known = number >= 1 && static_cast<std::size_t>(number) <= names.size();
    return std::to_string(number) + (known ? " " + Utf8(names[number - 1]) : "");
}

std::vector<int> Numbers(std::optional<int> only, int last) {
    if (only) {
        return {*only};
    }
    std::vector<int> all;
    for (int i = 1; i <= last; ++i) {
        all.push_back(i);
    }
    return all;
}

std::vector<SpeakerRecord> FetchSpeakers(const std::vector<int>& categories) {
    std::vector<SpeakerRecord> all;
    for (const int category : categories) {
        std::vector<SpeakerRecord> records;
        FetchSpeakerCategory(records, category);
        all.insert(all.end(), records.begin(), records.end());
    }
    return all;
}

std::vector<BackgroundRecord> FetchBackgrounds(const std::vector<int>& lists) {
    std::vector<BackgroundRecord> all;
    for (const int list : lists) {
        std::vector<BackgroundRecord> records;
        FetchBackgroundList(records, list);
        all.insert(all.end(), records.begin(), records.end());
    }
    return all;
}

int ListCatalogue(const SynthesizeCommandLine& line, std::ostream& out, std::ostream& err) {
    bool empty = false;
    if (line.listSpeakers) {
        const std::vector<SpeakerRecord> speakers =
            FetchSpeakers(Numbers(line.options.voiceType, 5));
        std::vector<std::vector<std::string>> rows = {{"ID", "VOICE TYPE", "NAME"}};
        for (const SpeakerRecord& record : speakers) {
            rows.push_back({AnsiTextToUtf8(record.id),
                            CategoryCell(record.category, kVoiceTypeItems),
                            AnsiTextToUtf8(record.name)});
        }
        PrintTable(out, rows);
        empty = empty || speakers.empty();
    }
    if (line.listBackgrounds) {
        if (line.listSpeakers) {
            out << "\n";
        }
        const std::vector<BackgroundRecord> tracks =
            FetchBackgrounds(Numbers(line.options.backgroundType, 10));
        std::vector<std::vector<std::string>> rows = {{"ID", "BACKGROUND TYPE", "NAME"}};
        for (const BackgroundRecord& record : tracks) {
            rows.push_back({AnsiTextToUtf8(record.id),
                            CategoryCell(record.category, kBackgroundTypeItems),
                            AnsiTextToUtf8(record.name)});
        }
        PrintTable(out, rows);
        empty = empty || tracks.empty();
    }
    if (empty) {
        err << "dubdesk synthesize: the service at " << ServiceOrigin()
            << " listed nothing (is it running?)\n";
        return 1;
    }
    return 0;
}

// What the exit status and message are when a record cannot be had.
struct Failure {
    int status = 0;
    std::string message;
};

template <typename Record>
const Record* FindById(const std::vector<Record>& records, const std::string& id) {
    const auto it = std::ranges::find(records, id, &Record::id);
    return it == records.end() ? nullptr : &*it;
}

std::variant<SpeakerRecord, Failure> ChooseSpeaker(const SynthesizeOptions& options) {
    if (!options.speaker) {
        const int category = options.voiceType.value_or(1);
        const std::vector<SpeakerRecord> speakers = FetchSpeakers({category});
        if (speakers.empty()) {
            return Failure{1, "the service at " + ServiceOrigin() +
                                  " listed no speakers of voice type " + std::to_string(category) +
                                  " (is it running?)"};
        }
        return speakers.front();
    }
    const std::vector<SpeakerRecord> speakers = FetchSpeakers(Numbers(options.voiceType, 5));
    if (const SpeakerRecord* found = FindById(speakers, Utf8TextToAnsi(*options.speaker))) {
        return *found;
    }
    if (speakers.empty()) {
        return Failure{
            1, "the service at " + ServiceOrigin() + " listed no speakers (is it running?)"};
    }
    return Failure{2,
                   "unknown speaker \"" + *options.speaker + "\"" +
                       (options.voiceType ? " in voice type " + std::to_string(*options.voiceType)
                                          : std::string()) +
                       "; 'dubdesk synthesize --list-speakers' shows the valid ones"};
}

std::variant<std::optional<BackgroundRecord>, Failure> ChooseBackground(
    const SynthesizeOptions& options) {
    if (!options.background) {
        return std::optional<BackgroundRecord>();
    }
    const std::vector<BackgroundRecord> tracks =
        FetchBackgrounds(Numbers(options.backgroundType, 10));
    if (const BackgroundRecord* found = FindById(tracks, Utf8TextToAnsi(*options.background))) {
        return std::optional<BackgroundRecord>(*found);
    }
    if (tracks.empty()) {
        return Failure{1, "the service at " + ServiceOrigin() +
                              " listed no background tracks (is it running?)"};
    }
    return Failure{2, "unknown background track \"" + *options.background + "\"" +
                          (options.backgroundType
                               ? " in background type " + std::to_string(*options.backgroundType)
                               : std::string()) +
                          "; 'dubdesk synthesize --list-backgrounds' shows the valid ones"};
}

std::string GiveUpReason(const SynthesisOutcome& outcome) {
    switch (outcome.gaveUp) {
        case SynthesisGiveUp::NoSuccess:
            return "the service did not accept the job (no success text in its answer)";
        case SynthesisGiveUp::EmptySerial:
            return "the service accepted the job but gave no serial number";
        case SynthesisGiveUp::NoDownloadAddress:
            return "the job was never ready (no download address after " +
                   std::to_string(outcome.resultRequests) + " result requests)";
        case SynthesisGiveUp::NoAudio:
            return "the download failed (status " + std::to_string(outcome.downloadStatus) +
                   " or an empty body)";
        case SynthesisGiveUp::None:
            break;
    }
    return "the service gave no audio";
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

    const auto speaker = ChooseSpeaker(options);
    if (const Failure* failure = std::get_if<Failure>(&speaker)) {
        err << "dubdesk synthesize: " << failure->message << "\n";
        return failure->status;
    }
    const auto background = ChooseBackground(options);
    if (const Failure* failure = std::get_if<Failure>(&background)) {
        err << "dubdesk synthesize: " << failure->message << "\n";
        return failure->status;
    }
    const SpeakerRecord& reader = std::get<SpeakerRecord>(speaker);
    const std::optional<BackgroundRecord>& track =
        std::get<std::optional<BackgroundRecord>>(background);

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
                }
            },
        .outcome = &outcome,
    };
    const std::string audio = RunSynthesisJob(std::move(parameters), observer);
    if (audio.empty()) {
        say("gave up");
        err << "dubdesk synthesize: no audio: " << GiveUpReason(outcome) << "\n";
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

SynthesizeCommandLine ParseSynthesizeCommandLine(const std::vector<std::string>& arguments) {
    const std::array<ChoiceOption, 6> choices = {{
        {"--voice-type", kVoiceTypeItems, 1},
        {"--background-type", kBackgroundTypeItems, 1},
        {"--speed", kSpeedItems, 0},
        {"--pitch", kSpeedItems, 0},
        {"--voice-volume", kVolumeItems, 0},
        {"--background-volume", kVolumeItems, 0},
    }};
    SynthesizeCommandLine line;
    SynthesizeOptions& options = line.options;
    bool help = false;
    bool version = false;
    const auto findChoice = [&](const std::string& name) {
        return std::ranges::find_if(choices, [&](const ChoiceOption& c) { return name == c.name; });
    };
    const auto flagOf = [&](const std::string& name) -> bool* {
        return name == "--help" || name == "-h" ? &help
               : name == "--version"            ? &version
               : name == "--force"              ? &options.force
               : name == "--play"               ? &options.play
               : name == "--list-speakers"      ? &line.listSpeakers
               : name == "--list-backgrounds"   ? &line.listBackgrounds
                                                : nullptr;
    };
    const auto kind = [&](const std::string& name) {
        if (flagOf(name) != nullptr) {
            return OptionKind::Flag;
        }
        const bool valued = findChoice(name) != choices.end() || IsServiceOption(name) ||
                            name == "--text" || name == "--text-file" || name == "--output" ||
                            name == "--speaker" || name == "--background";
        return valued ? OptionKind::Valued : OptionKind::Unknown;
    };
    const auto take = [&](const std::string& name,
                          const std::optional<std::string>& value) -> std::string {
        if (!value) {
            *flagOf(name) = true;
            return {};
        }
        const auto choice = findChoice(name);
        if (choice != choices.end()) {
            std::optional<int> picked;
            for (std::size_t k = 0; k < choice->items.size() && !picked; ++k) {
                if (*value == Utf8(choice->items[k]) ||
                    *value == std::to_string(static_cast<int>(k) + choice->first)) {
                    picked = static_cast<int>(k) + choice->first;
                }
            }
            if (!picked) {
                std::string names;
                for (const char8_t* item : choice->items) {
                    names += " " + Utf8(item);
                }
                return "bad " + name + " \"" + *value + "\": expected " +
                       std::to_string(choice->first) + " to " +
                       std::to_string(choice->first + static_cast<int>(choice->items.size()) - 1) +
                       " or one of" + names;
            }
            const int index = *picked;
            if (name == "--voice-type") {
                options.voiceType = index;
            } else if (name == "--background-type") {
                options.backgroundType = index;
            } else if (name == "--speed") {
                options.speed = index;
            } else if (name == "--pitch") {
                options.pitch = index;
            } else if (name == "--voice-volume") {
                options.voiceVolume = index;
            } else {
                options.backgroundVolume = index;
            }
        } else if (IsServiceOption(name)) {
            if (std::string error = ServiceOptionError(name, *value); !error.empty()) {
                return error;
            }
            (name == "--service-origin" ? options.serviceOrigin : options.catalogueToken) = *value;
        } else if (value->empty()) {
            return "option " + name + " needs a non-empty value";
        } else if (name == "--text") {
            options.text = *value;
        } else if (name == "--text-file") {
            options.textFile = *value;
        } else if (name == "--output") {
            options.output = *value;
        } else if (name == "--speaker") {
            options.speaker = *value;
        } else {
            options.background = *value;
        }
        return {};
    };
    if (std::string error = ReadOptions(arguments, kind, take); !error.empty()) {
        return Refused(std::move(error));
    }
    if (help) {
        line.action = Action::ShowHelp;
    } else if (version) {
        line.action = Action::ShowVersion;
    } else if (line.listSpeakers || line.listBackgrounds) {
        line.action = Action::List;
    } else if (options.text && options.textFile) {
        return Refused("--text and --text-file cannot be combined");
    } else if (!options.text && !options.textFile) {
        return Refused("no text: give --text TEXT or --text-file FILE");
    } else if (options.output.empty()) {
        return Refused("no output file: give --output FILE");
    }
    return line;
}

std::string SynthesizeHelpText(const std::string& program) {
    const std::string help =
        "Usage: " + program +
        " synthesize (--text TEXT | --text-file FILE) --output FILE [options]\n"
        "       " +
        program +
        " synthesize --list-speakers | --list-backgrounds\n"
        "Synthesizes a text into an MP3 file without opening the window, with the same job,\n"
        "catalogue and settings as the window's Play button.\n"
        "\n"
        "Text and file:\n"
        "  --text TEXT              the text to speak (UTF-8); pause markers such as [1秒] work\n"
        "                           as in the window\n"
        "  --text-file FILE         read the text from a UTF-8 file, - for standard input (a\n"
        "                           final line break is dropped)\n"
        "  --output FILE            where the MP3 goes; \".mp3\" is added unless the name ends\n"
        "                           in it (any case). Written atomically; an existing file is\n"
        "                           never replaced unless --force is given\n"
        "  --force                  replace an existing output file\n"
        "  --play                   play the file once written and return when it has finished\n"
        "                           (without a sound output the file is still written)\n"
        "\n"
        "Voice and background (numbers or the window's item texts):\n"
        "  --voice-type N           1 推荐, 2 中文, 3 方言, 4 外语, 5 特色 (default 1)\n"
        "  --speaker ID             a speaker id from --list-speakers (default: the first\n"
        "                           speaker of the voice type); without --voice-type every\n"
        "                           voice type is searched\n"
        "  --background-type N      1 本地, 2 喜庆, 3 古韵, 4 欢乐, 5 浪漫, 6 童真, 7 清新,\n"
        "                           8 大气, 9 柔和, 10 伤感; only narrows --background and\n"
        "                           --list-backgrounds\n"
        "  --background ID          a background track id from --list-backgrounds (default:\n"
        "                           none); without --background-type every type is searched\n"
        "  --speed L, --pitch L     0 很慢, 1 慢, 2 正常, 3 快, 4 很快\n"
        "                           (defaults: speed 1 慢, pitch 2 正常)\n"
        "  --voice-volume L, --background-volume L\n"
        "                           0 很低, 1 低, 2 正常, 3 高, 4 很高\n"
        "                           (defaults: voice 3 高, background 0 很低)\n"
        "\n"
        "Catalogue:\n"
        "  --list-speakers          print the speakers (id, voice type, name) and exit; with\n"
        "                           --voice-type only that type\n"
        "  --list-backgrounds       print the background tracks and exit; with\n"
        "                           --background-type only that type\n"
        "\n"
        "Service:\n"
        "  --service-origin URL     where the dubbing service lives (default " +
        std::string(kDefaultServiceOrigin) +
        ",\n"
        "                           the local dubbing server dubdesk-server)\n"
        "  --catalogue-token TOKEN  access token for the catalogue requests\n"
        "\n"
        "  -h, --help               show this help and exit\n"
        "  --version                show the version and exit\n"
        "\n"
        "Progress goes to standard error; the last line on standard output names the file, its\n"
        "size and its length. Characters code page 936 cannot hold are reported before the job\n"
        "starts (the service would receive \"?\" for them).\n"
        "Exit status: 0 written, 1 no audio (the service gave up or could not be reached) or\n"
        "the file could not be written, 2 bad usage.\n";
    return AnsiTextToUtf8(help);
}

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
    return line.action == Action::List ? ListCatalogue(line, out, err)
                                       : Synthesize(line.options, in, out, err);
}

std::size_t DisplayWidth(const std::string& utf8) {
    std::size_t width = 0;
    for (std::size_t pos = 0; pos < utf8.size();) {
        const auto [value, length] = NextUtf8Character(utf8, pos);
        pos += length;
        width += IsZeroWidth(value) ? 0 : IsWide(value) ? 2 : 1;
    }
    return width;
}
