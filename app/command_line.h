#pragma once
// The command line of the desktop client. Parsing is a plain function over the arguments so
// that every outcome can be checked without starting Qt.

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    enum class Action {
        RunWindow,    // open the main window
        Synthesize,   // the synthesize subcommand: the arguments after it are its own
        ShowHelp,     // print HelpText, exit 0
        ShowVersion,  // print VersionText, exit 0
        Refuse,       // print error on stderr, exit 2
    };
    Action action = Action::RunWindow;
    std::optional<std::string> serviceOrigin;
    std::optional<std::string> catalogueToken;
    // With Synthesize: the subcommand's arguments, led by the service options given before it,
    // so that those after it win.
    std::vector<std::string> subcommandArguments;
    std::string error;  // why the arguments were refused
};

// arguments: everything after the program name. Options may be written "--name value" or
// "--name=value"; a later repetition wins. --help and --version win over any other option,
// but not over an argument that is refused. "synthesize", after nothing or only service
// options, leaves every later argument to that subcommand.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// What an option name is to a command: unknown, a flag, or an option that takes a value.
enum class OptionKind { Unknown, Flag, Valued };

// Reads arguments in order, as "--name value", "--name=value", "-n value", "-nvalue" or a flag,
// and hands each option to take (with no value for a flag). An argument that is no option ("-"
// counts as one, and so does everything after "--") goes to operand; without operand it is
// refused. Returns the first refusal: an unknown option or argument, a flag given a value, an
// option missing its value, or take's or operand's own non-empty answer. Empty when every
// argument was taken.
std::string ReadOptions(
    const std::vector<std::string>& arguments,
    const std::function<OptionKind(const std::string& name)>& kind,
    const std::function<std::string(const std::string& name,
                                    const std::optional<std::string>& value)>& take,
    const std::function<std::string(const std::string& argument)>& operand = {});

// The service options the window and the subcommands share: --service-origin and
// --catalogue-token.
bool IsServiceOption(const std::string& name);
// Why the value of that service option is refused; empty when it is acceptable.
std::string ServiceOptionError(const std::string& name, const std::string& value);

// The environment variable the catalogue token may come from instead of --catalogue-token, so
// that it need not appear in the process list.
inline constexpr const char* kCatalogueTokenVariable = "DUBDESK_CATALOGUE_TOKEN";

// The token in value, the content of kCatalogueTokenVariable (null when it is unset). Unset or
// empty gives none; a malformed token gives none and sets error to the refusal.
std::optional<std::string> CatalogueTokenFromEnvironment(const char* value, std::string* error);

// "http://" or "https://", a host name, IPv4 address or bracketed IPv6 address, an optional
// port 1 to 65535, an optional final "/"; nothing else.
bool IsServiceOrigin(const std::string& url);

std::string HelpText(const std::string& program);
std::string VersionText();
