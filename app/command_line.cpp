#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

#include "service/service_api.h"

namespace {

bool IsHostName(const std::string& host) {
    if (host.empty() || host.front() == '.' || host.back() == '.' ||
        host.find("..") != std::string::npos) {
        return false;
    }
    for (const char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

bool IsBracketedIpv6(const std::string& host) {
    if (host.size() < 4 || host.front() != '[' || host.back() != ']') {
        return false;
    }
    for (std::size_t i = 1; i + 1 < host.size(); ++i) {
        const char c = host[i];
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') {
            return false;
        }
    }
    return host.find(':') != std::string::npos;
}

bool IsPort(const std::string& port) {
    if (port.empty() || port.size() > 5) {
        return false;
    }
    for (const char c : port) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    const int value = std::stoi(port);
    return value >= 1 && value <= 65535;
}

// The token travels in a header line: visible ASCII only, so it can never break the line.
bool IsToken(const std::string& token) {
    if (token.empty()) {
        return false;
    }
    for (const char c : token) {
        if (c < 0x21 || c > 0x7e) {
            return false;
        }
    }
    return true;
}

CommandLine Refused(std::string error) {
    CommandLine refused;
    refused.action = CommandLine::Action::Refuse;
    refused.error = std::move(error);
    return refused;
}

}  // namespace

bool IsServiceOrigin(const std::string& url) {
    std::string rest;
    for (const std::string scheme : {"http://", "https://"}) {
        if (url.starts_with(scheme)) {
            rest = url.substr(scheme.size());
            break;
        }
    }
    if (rest.empty()) {
        return false;
    }
    if (rest.back() == '/') {
        rest.pop_back();
    }
    std::string host = rest;
    const std::size_t colon = rest.rfind(':');
    if (colon != std::string::npos && rest.find(']', colon) == std::string::npos) {
        if (!IsPort(rest.substr(colon + 1))) {
            return false;
        }
        host = rest.substr(0, colon);
    }
    return IsHostName(host) || IsBracketedIpv6(host);
}

std::string ReadOptions(
    const std::vector<std::string>& arguments,
    const std::function<OptionKind(const std::string& name)>& kind,
    const std::function<std::string(const std::string& name,
                                    const std::optional<std::string>& value)>& take,
    const std::function<std::string(const std::string& argument)>& operand) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || argument == "-" || !argument.starts_with("-")) {
            if (!operand) {
                return "unexpected argument " + argument;
            }
            if (std::string error = operand(argument); !error.empty()) {
                return error;
            }
            continue;
        }
        std::string name = argument;
        std::optional<std::string> value;
        if (const std::size_t equals = argument.find('=');
            argument.starts_with("--") && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        } else if (!argument.starts_with("--") && argument.size() > 2 &&
                   kind(argument.substr(0, 2)) == OptionKind::Valued) {
            name = argument.substr(0, 2);
            value = argument.substr(2);
        }
        const OptionKind option = kind(name);
        if (option == OptionKind::Unknown) {
            return "unknown option " + argument;
        }
        if (option == OptionKind::Flag && value) {
            return "option " + name + " takes no value";
        }
        if (option == OptionKind::Valued && !value) {
            if (i + 1 == arguments.size()) {
                return "option " + name + " needs a value";
            }
            value = arguments[++i];
        }
        if (std::string error = take(name, value); !error.empty()) {
            return error;
        }
    }
    return {};
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    // The subcommand may follow service options; everything before it is the program's.
    std::size_t subcommand = 0;
    while (subcommand < arguments.size() && arguments[subcommand] != "synthesize") {
        subcommand += IsServiceOption(arguments[subcommand]) ? 2 : 1;
    }
    const std::vector<std::string> own(
        arguments.begin(),
        arguments.begin() + static_cast<std::ptrdiff_t>(std::min(subcommand, arguments.size())));
    bool help = false;
    bool version = false;
    const auto kind = [](const std::string& name) {
        return name == "--help" || name == "-h" || name == "--version" ? OptionKind::Flag
               : IsServiceOption(name)                                 ? OptionKind::Valued
                                                                       : OptionKind::Unknown;
    };
    const auto take = [&](const std::string& name, const std::optional<std::string>& value) {
        if (!value) {
            (name == "--version" ? version : help) = true;
            return std::string();
        }
        std::string error = ServiceOptionError(name, *value);
        if (error.empty()) {
            (name == "--service-origin" ? line.serviceOrigin : line.catalogueToken) = *value;
        }
        return error;
    };
    if (std::string error = ReadOptions(own, kind, take); !error.empty()) {
        return Refused(std::move(error));
    }
    if (subcommand < arguments.size()) {
        if (help || version) {
            return Refused("unexpected argument synthesize");
        }
        line.action = CommandLine::Action::Synthesize;
        line.subcommandArguments = own;
        line.subcommandArguments.insert(
            line.subcommandArguments.end(),
            arguments.begin() + static_cast<std::ptrdiff_t>(subcommand) + 1, arguments.end());
    } else if (help) {
        line.action = CommandLine::Action::ShowHelp;
    } else if (version) {
        line.action = CommandLine::Action::ShowVersion;
    }
    return line;
}

bool IsServiceOption(const std::string& name) {
    return name == "--service-origin" || name == "--catalogue-token";
}

std::string ServiceOptionError(const std::string& name, const std::string& value) {
    if (name == "--service-origin" && !IsServiceOrigin(value)) {
        return "malformed service origin \"" + value +
               "\": expected http://host[:port] or https://host[:port]";
    }
    if (name == "--catalogue-token" && !IsToken(value)) {
        return "malformed catalogue token: it must be non-empty visible ASCII without blanks";
    }
    return {};
}

std::optional<std::string> CatalogueTokenFromEnvironment(const char* value, std::string* error) {
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    if (!IsToken(value)) {
        *error = std::string("malformed catalogue token in ") + kCatalogueTokenVariable +
                 ": it must be visible ASCII without blanks";
        return std::nullopt;
    }
    return value;
}

std::string HelpText(const std::string& program) {
    return "Usage: " + program +
           " [options]\n"
           "       " +
           program + " synthesize [options]   (no window; see '" + program +
           " synthesize --help')\n"
           "Desktop client of the dubbing service: type a text, choose a voice and background\n"
           "music, and Play saves the spoken text as an MP3 file and plays it.\n"
           "\n"
           "Options:\n"
           "  --service-origin URL     where the dubbing service lives, http://host[:port] or\n"
           "                           https://host[:port] (default " +
           std::string(kDefaultServiceOrigin) +
           ",\n"
           "                           the local dubbing server dubdesk-server)\n"
           "  --catalogue-token TOKEN  access token for the catalogue requests (default: the\n"
           "                           local dubbing server's development token); the\n"
           "                           environment variable " +
           std::string(kCatalogueTokenVariable) +
           " gives it\n"
           "                           without showing it in the process list\n"
           "  -h, --help               show this help and exit\n"
           "  --version                show the version and exit\n"
           "\n"
           "Settings file: ~/.config/dubdesk/dubdesk.conf "
           "($XDG_CONFIG_HOME/dubdesk/dubdesk.conf),\n"
           "keys origin and catalogue-token in its [service] group. The environment variable\n"
           "overrides the file, and the options override both.\n";
}

std::string VersionText() {
    return std::string("dubdesk ") + DUBDESK_VERSION + "\n";
}
