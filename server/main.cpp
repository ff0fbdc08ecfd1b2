// dubdesk-server: runs the local dubbing server until SIGINT or SIGTERM.

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "server/command_line.h"
#include "server/dubbing_server.h"

int main(int argc, char** argv) {
    const ServerCommandLine line =
        ParseServerCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (line.help) {
        std::fputs(ServerUsage().c_str(), stdout);
        return 0;
    }
    if (line.version) {
        std::fputs(ServerVersion().c_str(), stdout);
        return 0;
    }
    if (!line.error.empty()) {
        std::fprintf(stderr, "dubdesk-server: %s\n%s", line.error.c_str(), ServerUsage().c_str());
        return 2;
    }

    // The signals are taken by sigwait below, not by a handler; the server's threads inherit
    // the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    DubbingServer server(line.options);
    if (server.Start(line.host, line.port) < 0) {
        std::fprintf(stderr,
                     "dubdesk-server: cannot listen on %s port %d: %s (--port 0 picks a free "
                     "port and prints it)\n",
                     line.host.c_str(), line.port, server.BindError().c_str());
        return 1;
    }
    std::fprintf(stderr, "dubdesk-server: listening on %s\n", server.Origin().c_str());
    int received = 0;
    sigwait(&signals, &received);
    server.Stop();
    return 0;
}
