#pragma once
// The command line of dubdesk-server.

#include <string>
#include <vector>

#include "server/dubbing_server.h"

struct ServerCommandLine {
    std::string host = "127.0.0.1";
    int port = 8017;
    ServerOptions options;
    bool help = false;
    bool version = false;
    std::string error;  // not empty: the arguments were not understood
};

ServerCommandLine ParseServerCommandLine(const std::vector<std::string>& arguments);

std::string ServerUsage();
// "dubdesk-server 0.1.0" and a line break.
std::string ServerVersion();
