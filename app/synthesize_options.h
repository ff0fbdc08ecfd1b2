#pragma once
// The options of dubdesk synthesize: what the command line asks for, how it is read, and the
// help that describes it.

#include <optional>
#include <string>
#include <vector>

struct SynthesizeOptions {
    // Exactly one of the two gives the text (UTF-8); a text file "-" is standard input.
    std::optional<std::string> text;
    std::optional<std::string> textFile;
    // Where the MP3 goes, before ".mp3" is added; "-" is standard output.
    std::string output;
    bool force = false;  // replace an existing file
    bool play = false;
    bool quiet = false;  // no progress lines, only complaints and the result
    // Hear (or, with output, save) the sample of the speaker, or of the background track when
    // only a track is given, instead of synthesizing: no text needed.
    bool preview = false;
    // Speaker category 1 to 5 and background list 1 to 10. Absent: a speaker or track given by
    // id is looked for in every category or list, and the default speaker comes from category 1.
    std::optional<int> voiceType;
    std::optional<std::string> speaker;
    std::optional<int> backgroundType;
    std::optional<std::string> background;  // absent: no background track
    // Indexes 0 to 4 into the window's lists; the defaults are the window's initial selections.
    int speed = 1;
    int pitch = 2;
    int voiceVolume = 3;
    int backgroundVolume = 0;
    std::optional<std::string> serviceOrigin;
    std::optional<std::string> catalogueToken;
};

struct SynthesizeCommandLine {
    enum class Action {
        Synthesize,
        List,         // print the catalogue tables asked for, synthesize nothing
        ShowHelp,     // print SynthesizeHelpText, exit 0
        ShowVersion,  // print VersionText, exit 0
        Refuse,       // print error on stderr, exit 2
    };
    Action action = Action::Synthesize;
    SynthesizeOptions options;
    bool listSpeakers = false;
    bool listBackgrounds = false;
    bool json = false;  // the list as a JSON array instead of a table
    std::string error;  // why the arguments were refused
};

// What the arguments alone cannot tell: whether standard input and output are terminals.
struct StandardStreams {
    bool inputIsTerminal = true;
    bool outputIsTerminal = false;
};

// arguments: everything after "synthesize", written "--name value", "--name=value" or, for the
// common ones, "-n value"; a later repetition wins. The words that are no option are the text,
// joined by blanks ("-" alone: standard input). Without any text the text comes from standard
// input when that is no terminal.
SynthesizeCommandLine ParseSynthesizeCommandLine(const std::vector<std::string>& arguments,
                                                 StandardStreams streams = {});

std::string SynthesizeHelpText(const std::string& program);
