#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/synthesize_command.h"

namespace {

// Settles the service from the settings file, the token variable and the options, and reports
// every ignored value of the file once. False when the token variable is malformed.
bool ConfigureServiceFrom(const FileSettings& settings,
                          const std::optional<std::string>& originOption,
                          const std::optional<std::string>& tokenOption) {
    for (const std::string& problem : settings.problems) {
        std::cerr << "dubdesk: " << SettingsFilePath() << ": " << problem << "\n";
    }
    std::string tokenError;
    const std::optional<std::string> environmentToken =
        CatalogueTokenFromEnvironment(std::getenv(kCatalogueTokenVariable), &tokenError);
    if (!tokenError.empty()) {
        std::cerr << "dubdesk: " << tokenError << "\n";
        return false;
    }
    ConfigureService(settings, environmentToken, originOption, tokenOption);
    return true;
}

int RunDubdesk(int argc, char** argv) {
    // The command line is settled before Qt starts, so --help and refusals need no display.
    const CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.action) {
        case CommandLine::Action::Refuse:
            std::cerr << "dubdesk: " << line.error << "\nTry 'dubdesk --help'.\n";
            return 2;
        case CommandLine::Action::ShowHelp:
            std::cout << HelpText("dubdesk");
            return 0;
        case CommandLine::Action::ShowVersion:
            std::cout << VersionText();
            return 0;
        case CommandLine::Action::Synthesize:
        case CommandLine::Action::RunWindow:
            break;
    }
    SetApplicationIdentity();

    if (line.action == CommandLine::Action::Synthesize) {
        const SynthesizeCommandLine synthesize = ParseSynthesizeCommandLine(
            line.subcommandArguments,
            {.inputIsTerminal = ::isatty(0) == 1, .outputIsTerminal = ::isatty(1) == 1});
        const bool usesService = synthesize.action == SynthesizeCommandLine::Action::Synthesize ||
                                 synthesize.action == SynthesizeCommandLine::Action::List;
        if (usesService &&
            !ConfigureServiceFrom(ReadSettingsFile(), synthesize.options.serviceOrigin,
                                  synthesize.options.catalogueToken)) {
            return 2;
        }
        // No display needed: the player's sound output only wants an event loop.
        int qtArgc = 1;
        QCoreApplication application(qtArgc, argv);
        return RunSynthesizeCommand(synthesize, std::cin, std::cout, std::cerr);
    }

    const FileSettings settings = ReadSettingsFile();
    if (!ConfigureServiceFrom(settings, line.serviceOrigin, line.catalogueToken)) {
        return 2;
    }

    // Qt sees no arguments: every option above is ours.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    InstallChineseQtTranslations();
    return RunMainWindow(settings.saveFolder);
}

}  // namespace

// Nothing escapes: an uncaught exception would end the program without unwinding, leaving a
// temporary file behind and saying nothing useful.
int main(int argc, char** argv) {
    try {
        return RunDubdesk(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "dubdesk: out of memory\n";
    } catch (const std::exception& error) {
        std::cerr << "dubdesk: stopped by an unexpected error: " << error.what() << "\n";
    } catch (...) {
        std::cerr << "dubdesk: stopped by an unexpected error\n";
    }
    return kExitNoAudio;
}
