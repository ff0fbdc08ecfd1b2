#include "app/synthesize_options.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

#include "app/command_line.h"
#include "service/service_api.h"
#include "text/code_page.h"
#include "window/list_items.h"

// Narrow literals here are GBK, like the window's item texts; the help reaches the terminal
// through AnsiTextToUtf8.

namespace {

using Action = SynthesizeCommandLine::Action;

SynthesizeCommandLine Refused(std::string error) {
    SynthesizeCommandLine refused;
    refused.action = Action::Refuse;
    refused.error = std::move(error);
    return refused;
}

std::string Utf8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

// An option that picks one item of a window list, by its number or its text.
struct ChoiceOption {
    const char* name;
    std::span<const char8_t* const> items;
    int first;  // the number of items[0]
    void (*set)(SynthesizeOptions& options, int number);
};

constexpr std::array<ChoiceOption, 6> kChoiceOptions = {{
    {"--voice-type", kVoiceTypeItems, 1, [](SynthesizeOptions& o, int n) { o.voiceType = n; }},
    {"--background-type", kBackgroundTypeItems, 1,
     [](SynthesizeOptions& o, int n) { o.backgroundType = n; }},
    {"--speed", kSpeedItems, 0, [](SynthesizeOptions& o, int n) { o.speed = n; }},
    {"--pitch", kSpeedItems, 0, [](SynthesizeOptions& o, int n) { o.pitch = n; }},
    {"--voice-volume", kVolumeItems, 0, [](SynthesizeOptions& o, int n) { o.voiceVolume = n; }},
    {"--background-volume", kVolumeItems, 0,
     [](SynthesizeOptions& o, int n) { o.backgroundVolume = n; }},
}};

const ChoiceOption* FindChoiceOption(const std::string& name) {
    const auto it =
        std::ranges::find_if(kChoiceOptions, [&](const ChoiceOption& c) { return name == c.name; });
    return it == kChoiceOptions.end() ? nullptr : &*it;
}

// Sets the option to the item the value names; the refusal message when it names none.
std::string TakeChoice(const ChoiceOption& choice, const std::string& value,
                       SynthesizeOptions& options) {
    for (std::size_t k = 0; k < choice.items.size(); ++k) {
        const int number = static_cast<int>(k) + choice.first;
        if (value == Utf8(choice.items[k]) || value == std::to_string(number)) {
            choice.set(options, number);
            return {};
        }
    }
    std::string names;
    for (const char8_t* item : choice.items) {
        names += " " + Utf8(item);
    }
    return "bad " + std::string(choice.name) + " \"" + value + "\": expected " +
           std::to_string(choice.first) + " to " +
           std::to_string(choice.first + static_cast<int>(choice.items.size()) - 1) + " or one of" +
           names;
}

// The long name of a short option; any other name as it is.
std::string LongName(const std::string& name) {
    static constexpr std::array<std::pair<const char*, const char*>, 4> kShort = {{
        {"-t", "--text"},
        {"-f", "--text-file"},
        {"-o", "--output"},
        {"-q", "--quiet"},
    }};
    const auto it = std::ranges::find(kShort, name, &std::pair<const char*, const char*>::first);
    return it == kShort.end() ? name : it->second;
}

}  // namespace

SynthesizeCommandLine ParseSynthesizeCommandLine(const std::vector<std::string>& arguments,
                                                 StandardStreams streams) {
    SynthesizeCommandLine line;
    SynthesizeOptions& options = line.options;
    bool help = false;
    bool version = false;
    std::vector<std::string> words;
    const auto flagOf = [&](const std::string& name) -> bool* {
        return name == "--help" || name == "-h" ? &help
               : name == "--version"            ? &version
               : name == "--force"              ? &options.force
               : name == "--play"               ? &options.play
               : name == "--preview"            ? &options.preview
               : name == "--quiet"              ? &options.quiet
               : name == "--list-speakers"      ? &line.listSpeakers
               : name == "--list-backgrounds"   ? &line.listBackgrounds
               : name == "--json"               ? &line.json
                                                : nullptr;
    };
    const auto textOf = [&](const std::string& name) -> std::optional<std::string>* {
        return name == "--text"         ? &options.text
               : name == "--text-file"  ? &options.textFile
               : name == "--speaker"    ? &options.speaker
               : name == "--background" ? &options.background
                                        : nullptr;
    };
    const auto kind = [&](const std::string& shortOrLong) {
        const std::string name = LongName(shortOrLong);
        if (flagOf(name) != nullptr) {
            return OptionKind::Flag;
        }
        const bool valued = FindChoiceOption(name) != nullptr || IsServiceOption(name) ||
                            textOf(name) != nullptr || name == "--output";
        return valued ? OptionKind::Valued : OptionKind::Unknown;
    };
    const auto take = [&](const std::string& shortOrLong,
                          const std::optional<std::string>& value) -> std::string {
        const std::string name = LongName(shortOrLong);
        if (!value) {
            *flagOf(name) = true;
            return {};
        }
        if (const ChoiceOption* choice = FindChoiceOption(name)) {
            return TakeChoice(*choice, *value, options);
        }
        if (IsServiceOption(name)) {
            if (std::string error = ServiceOptionError(name, *value); !error.empty()) {
                return error;
            }
            (name == "--service-origin" ? options.serviceOrigin : options.catalogueToken) = *value;
            return {};
        }
        if (value->empty()) {
            return "option " + name + " needs a non-empty value";
        }
        if (name == "--output") {
            options.output = *value;
        } else {
            *textOf(name) = *value;
        }
        return {};
    };
    const auto operand = [&](const std::string& word) {
        words.push_back(word);
        return std::string();
    };
    if (std::string error = ReadOptions(arguments, kind, take, operand); !error.empty()) {
        return Refused(std::move(error));
    }
    if (help) {
        line.action = Action::ShowHelp;
        return line;
    }
    if (version) {
        line.action = Action::ShowVersion;
        return line;
    }
    if (line.listSpeakers || line.listBackgrounds) {
        if (line.json && line.listSpeakers && line.listBackgrounds) {
            return Refused("--json lists one catalogue at a time");
        }
        if (!words.empty()) {
            return Refused("unexpected argument " + words.front());
        }
        line.action = Action::List;
        return line;
    }
    if (line.json) {
        return Refused("--json goes with --list-speakers or --list-backgrounds");
    }
    if (options.output == "-" && streams.outputIsTerminal) {
        return Refused(
            "--output - would write MP3 bytes to a terminal; redirect standard output or name a "
            "file");
    }
    if (options.output == "-" && options.play) {
        return Refused("--play needs a file: it cannot be combined with --output -");
    }
    if (options.preview) {
        if (options.speaker && options.background) {
            return Refused("--preview hears a speaker or a background track, not both");
        }
        if (!words.empty()) {
            return Refused("unexpected argument " + words.front() + ": --preview takes no text");
        }
        if (options.text || options.textFile) {
            return Refused("--preview takes no text: --text and --text-file have nothing to do");
        }
        return line;
    }
    if (!words.empty()) {
        if (options.text || options.textFile) {
            return Refused("unexpected argument " + words.front() +
                           ": the text is given by --text or --text-file already");
        }
        if (words == std::vector<std::string>{"-"}) {
            options.textFile = "-";
        } else {
            std::string joined;
            for (const std::string& word : words) {
                joined += (joined.empty() ? "" : " ") + word;
            }
            options.text = joined;
        }
    }
    if (options.text && options.textFile) {
        return Refused("--text and --text-file cannot be combined");
    }
    if (!options.text && !options.textFile) {
        if (streams.inputIsTerminal) {
            return Refused(
                "no text: give --text TEXT or --text-file FILE, the text itself, or pipe it in");
        }
        options.textFile = "-";
    }
    if (options.output.empty()) {
        return Refused("no output file: give --output FILE (- for standard output)");
    }
    return line;
}

std::string SynthesizeHelpText(const std::string& program) {
    const std::string help =
        "Usage: " + program +
        " synthesize [options] -o FILE [TEXT...]\n"
        "       " +
        program +
        " synthesize [options] -o FILE (-t TEXT | -f FILE)\n"
        "       " +
        program +
        " synthesize --list-speakers | --list-backgrounds [--json]\n"
        "       " +
        program +
        " synthesize --preview [--speaker ID | --background ID] [--output FILE]\n"
        "Synthesizes a text into an MP3 file without opening the window, with the same job,\n"
        "catalogue and settings as the window's Play button.\n"
        "\n"
        "Text and file:\n"
        "  TEXT...                  the text to speak, the words joined by blanks; - alone reads\n"
        "                           standard input. Without any text, standard input is read\n"
        "                           when it is no terminal (a pipe or a file). Put -- before a\n"
        "                           text that starts with -\n"
        "  -t, --text TEXT          the text to speak (UTF-8); pause markers such as [1秒] work\n"
        "                           as in the window\n"
        "  -f, --text-file FILE     read the text from a UTF-8 file, - for standard input (a\n"
        "                           final line break is dropped)\n"
        "  -o, --output FILE        where the MP3 goes; \".mp3\" is added unless the name ends\n"
        "                           in it (any case). Written atomically; an existing file is\n"
        "                           never replaced unless --force is given. - writes the MP3\n"
        "                           to standard output (never to a terminal) and the summary\n"
        "                           line to standard error\n"
        "  --force                  replace an existing output file\n"
        "  -q, --quiet              no progress lines: only complaints and the result\n"
        "  --play                   play the file once written and return when it has finished\n"
        "                           (without a sound output the file is still written)\n"
        "  --preview                hear the speaker's sample (a short sentence in its voice),\n"
        "                           or the track's with --background alone, instead of\n"
        "                           synthesizing; with --output it is saved (and played only\n"
        "                           with --play). Samples are kept in the cache folder\n"
        "                           ($XDG_CACHE_HOME/dubdesk/samples) after the first time\n"
        "\n"
        "Voice and background (numbers or the window's item texts):\n"
        "  --voice-type N           1 推荐, 2 中文, 3 方言, 4 外语, 5 特色 (default 1)\n"
        "  --speaker ID|NAME        a speaker's id or name from --list-speakers (default: the\n"
        "                           first speaker of the voice type); without --voice-type\n"
        "                           every voice type is searched. A name several speakers\n"
        "                           bear is refused with their ids\n"
        "  --background-type N      1 本地, 2 喜庆, 3 古韵, 4 欢乐, 5 浪漫, 6 童真, 7 清新,\n"
        "                           8 大气, 9 柔和, 10 伤感; only narrows --background and\n"
        "                           --list-backgrounds\n"
        "  --background ID|NAME     a background track's id or name from --list-backgrounds\n"
        "                           (default: none); without --background-type every type is\n"
        "                           searched\n"
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
        "  --json                   list as a JSON array for scripts: objects with id, name,\n"
        "                           voiceType or backgroundType (number), its typeName, and\n"
        "                           the sample or track address\n"
        "\n"
        "Service:\n"
        "  --service-origin URL     where the dubbing service lives (default " +
        std::string(kDefaultServiceOrigin) +
        ",\n"
        "                           the local dubbing server dubdesk-server)\n"
        "  --catalogue-token TOKEN  access token for the catalogue requests\n"
        "                           (both may also come before the word synthesize)\n"
        "\n"
        "  -h, --help               show this help and exit\n"
        "  --version                show the version and exit\n"
        "\n"
        "Progress goes to standard error; the last line on standard output names the file, its\n"
        "size and its length. Characters code page 936 cannot hold are reported before the job\n"
        "starts (the service would receive \"?\" for them). The output is checked before\n"
        "anything is sent: it must name a file, not a folder, in a folder that can be written.\n"
        "The audio waits in a hidden temporary file beside it and replaces it only when\n"
        "complete; an interrupted run removes the temporary file and leaves the output as it\n"
        "was. Only a download that decodes as MP3 is written.\n"
        "\n"
        "When no audio comes, the last line says why: the service could not be reached\n"
        "(connection refused, host name not found, TLS refused), an exchange timed out or was\n"
        "too slow (which one: the submit, result request N, the download...), an exchange was\n"
        "answered with an HTTP error status (which one, which status), the catalogue token was\n"
        "refused (HTTP 401), the submit answer was not understood, the session was rejected,\n"
        "the job was never ready after 21 result requests, the answer was too large, or the\n"
        "download is not audio. Text from the service is shown with control characters\n"
        "escaped (\\x1B).\n"
        "\n"
        "Exit status:\n"
        "  0    written (or listed)\n"
        "  1    no audio: the service gave up, could not be reached or listed nothing, or a\n"
        "       --preview could not be played (also an unexpected error, which is named)\n"
        "  2    bad usage: unknown option or value, an output that names a folder or exists\n"
        "       without --force, an unknown speaker or track or an ambiguous name, an empty\n"
        "       text, MP3 bytes for a terminal\n"
        "  3    file error: the text file could not be read, or the output folder or file\n"
        "       (or standard output) could not be written (the system's reason is given)\n"
        "  129, 130, 143  stopped by SIGHUP, SIGINT or SIGTERM; the temporary file is removed\n";
    return AnsiTextToUtf8(help);
}
