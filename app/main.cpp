#include <QApplication>
#include <QCoreApplication>
#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/startup.h"
#include "app/synthesize_command.h"
#include "service/service_api.h"

int main(int argc, char** argv) {
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
        case CommandLine::Action::Synthesize: {
            const SynthesizeCommandLine synthesize =
                ParseSynthesizeCommandLine(std::vector<std::string>(argv + 2, argv + argc));
            // No display needed: the player's sound output only wants an event loop.
            int qtArgc = 1;
            QCoreApplication application(qtArgc, argv);
            return RunSynthesizeCommand(synthesize, std::cin, std::cout, std::cerr);
        }
        case CommandLine::Action::RunWindow:
            break;
    }
    if (line.serviceOrigin) {
        SetServiceOrigin(*line.serviceOrigin);
    }
    if (line.catalogueToken) {
        SetCatalogueAccessToken(*line.catalogueToken);
    }

    // Qt sees no arguments: every option above is ours.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    return RunMainWindow();
}
