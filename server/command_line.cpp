#include "server/command_line.h"

#include <charconv>
#include <optional>

namespace {

bool ReadInteger(const std::string& text, int low, int high, int* value) {
    int parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high) {
        return false;
    }
    *value = parsed;
    return true;
}

}  // namespace

ServerCommandLine ParseServerCommandLine(const std::vector<std::string>& arguments) {
    ServerCommandLine line;
    ServerMisbehaviour& misbehaviour = line.options.misbehaviour;
    for (size_t i = 0; i < arguments.size() && line.error.empty(); ++i) {
        std::string argument = arguments[i];
        // Options with a value take it from the next argument, or after "=" ("--port=0").
        std::optional<std::string> attached;
        if (const size_t equals = argument.find('=');
            argument.starts_with("--") && equals != std::string::npos) {
            attached = argument.substr(equals + 1);
            argument.resize(equals);
        }
        bool attachedTaken = false;
        const auto value = [&]() -> const std::string* {
            if (attached) {
                attachedTaken = true;
                return &*attached;
            }
            if (i + 1 >= arguments.size()) {
                line.error = argument + " needs a value";
                return nullptr;
            }
            return &arguments[++i];
        };
        const auto integer = [&](int low, int high, int* target) {
            if (const std::string* text = value();
                text != nullptr && !ReadInteger(*text, low, high, target)) {
                line.error = argument + ": " + *text + " is not a number from " +
                             std::to_string(low) + " to " + std::to_string(high);
            }
        };
        if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (argument == "--version") {
            line.version = true;
        } else if (argument == "--host") {
            if (const std::string* text = value()) {
                line.host = *text;
            }
        } else if (argument == "--port") {
            integer(0, 65535, &line.port);
        } else if (argument == "--quiet") {
            line.options.quiet = true;
        } else if (argument == "--busy-polls") {
            integer(0, 1000, &line.options.busyPolls);
        } else if (argument == "--refuse-submit") {
            misbehaviour.refuseSubmit = true;
        } else if (argument == "--never-ready") {
            misbehaviour.neverReady = true;
        } else if (argument == "--delay-ms") {
            integer(0, kMaxDelayMs, &misbehaviour.delayMs);
        } else if (argument == "--hang") {
            misbehaviour.hang = true;
        } else if (argument == "--stall-path") {
            if (const std::string* text = value()) {
                misbehaviour.stallPath = *text;
            }
        } else if (argument == "--drop-cookie") {
            misbehaviour.dropCookie = true;
        } else if (argument == "--download-fault") {
            if (const std::string* text = value()) {
                const std::optional<DownloadFault> fault = DownloadFaultFromName(*text);
                if (fault) {
                    misbehaviour.downloadFault = *fault;
                } else {
                    line.error =
                        "--download-fault: " + *text + " is none of none, html, truncated, empty";
                }
            }
        } else if (argument == "--catalogue-garbage") {
            misbehaviour.catalogueGarbage = true;
        } else {
            line.error = "unknown option " + argument;
        }
        if (attached && !attachedTaken && line.error.empty()) {
            line.error = argument + " takes no value";
        }
    }
    return line;
}

std::string ServerVersion() {
    return "dubdesk-server " DUBDESK_VERSION "\n";
}

std::string ServerUsage() {
    return R"(Usage: dubdesk-server [options]
The local dubbing server: speaker and background catalogues, speech synthesis with pauses,
voice and background volume, MP3 downloads, on the dubbing service's API.

  --host HOST             address to listen on (default 127.0.0.1)
  --port PORT             port to listen on, 0 for any free port (default 8017)
  --quiet                 no request log on standard error
  --busy-polls N          result polls that report work in progress first (default 1)
  --help                  this text
  --version               the program's version
Options with a value also take it as --option=VALUE.

Misbehaviour, for tests and demonstrations (also settable at run time from loopback with
POST /__control and a JSON object of the same switches: refuseSubmit, neverReady, delayMs,
hang, stallPath, dropCookie, downloadFault, catalogueGarbage, reset):
  --refuse-submit         the submit answers an error
  --never-ready           result polls report work in progress forever
  --delay-ms MS           stalled requests are answered after MS milliseconds
  --hang                  stalled requests are held until the switch is cleared
  --stall-path TEXT       only requests whose path contains TEXT stall (default: all)
  --drop-cookie           the submit sets no session cookie
  --download-fault KIND   the download serves html (an error page), truncated (half the
                          file), empty (no bytes) or none (the audio)
  --catalogue-garbage     catalogue requests are answered with bytes that are not JSON
)";
}
