#include "server/command_line.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>

#include "server/dubbing_server.h"

namespace {

TEST(ServerCommandLine, DefaultsServeLoopbackOnTheClientsDefaultPort) {
    const ServerCommandLine line = ParseServerCommandLine({});
    EXPECT_EQ(line.host, "127.0.0.1");
    EXPECT_EQ(line.port, 8017);
    EXPECT_FALSE(line.options.quiet);
    EXPECT_EQ(line.options.busyPolls, 1);
    EXPECT_TRUE(line.error.empty());
    EXPECT_FALSE(line.help);
}

TEST(ServerCommandLine, ReadsEverySwitch) {
    const ServerCommandLine line = ParseServerCommandLine(
        {"--host", "0.0.0.0", "--port", "0", "--quiet", "--busy-polls", "3", "--refuse-submit",
         "--never-ready", "--delay-ms", "250", "--hang", "--stall-path", "speechSynth",
         "--drop-cookie", "--download-fault", "truncated", "--catalogue-garbage"});
    ASSERT_EQ(line.error, "");
    EXPECT_EQ(line.host, "0.0.0.0");
    EXPECT_EQ(line.port, 0);
    EXPECT_TRUE(line.options.quiet);
    EXPECT_EQ(line.options.busyPolls, 3);
    const ServerMisbehaviour& m = line.options.misbehaviour;
    EXPECT_TRUE(m.refuseSubmit);
    EXPECT_TRUE(m.neverReady);
    EXPECT_EQ(m.delayMs, 250);
    EXPECT_TRUE(m.hang);
    EXPECT_EQ(m.stallPath, "speechSynth");
    EXPECT_TRUE(m.dropCookie);
    EXPECT_EQ(m.downloadFault, DownloadFault::kTruncated);
    EXPECT_TRUE(m.catalogueGarbage);
}

// "--option=value" reads like "--option value"; a bare switch takes no value.
TEST(ServerCommandLine, AttachedValuesAndVersion) {
    const ServerCommandLine line = ParseServerCommandLine(
        {"--port=0", "--host=::1", "--stall-path=a=b", "--download-fault=html", "--version"});
    ASSERT_EQ(line.error, "");
    EXPECT_EQ(line.port, 0);
    EXPECT_EQ(line.host, "::1");
    EXPECT_EQ(line.options.misbehaviour.stallPath, "a=b");
    EXPECT_EQ(line.options.misbehaviour.downloadFault, DownloadFault::kHtmlErrorPage);
    EXPECT_TRUE(line.version);
    EXPECT_TRUE(std::regex_match(ServerVersion(), std::regex(R"(dubdesk-server \d+\.\d+\.\d+\n)")))
        << ServerVersion();
}

struct BadArguments {
    std::vector<std::string> arguments;
    std::string errorPart;
};

void PrintTo(const BadArguments& c, std::ostream* os) {
    for (const std::string& argument : c.arguments) {
        *os << argument << ' ';
    }
}

class ServerCommandLineErrors : public testing::TestWithParam<BadArguments> {};

TEST_P(ServerCommandLineErrors, AreReported) {
    const ServerCommandLine line = ParseServerCommandLine(GetParam().arguments);
    EXPECT_NE(line.error.find(GetParam().errorPart), std::string::npos) << line.error;
}

INSTANTIATE_TEST_SUITE_P(Cases, ServerCommandLineErrors,
                         testing::Values(BadArguments{{"--port"}, "needs a value"},
                                         BadArguments{{"--port", "70000"}, "is not a number"},
                                         BadArguments{{"--port", "80x"}, "is not a number"},
                                         BadArguments{{"--delay-ms", "-1"}, "is not a number"},
                                         BadArguments{{"--download-fault", "broken"}, "none of"},
                                         BadArguments{{"--port="}, "is not a number"},
                                         BadArguments{{"--quiet=yes"}, "--quiet takes no value"},
                                         BadArguments{{"--verbose"}, "unknown option --verbose"}));

TEST(ServerCommandLine, UsageNamesEverySwitch) {
    const std::string usage = ServerUsage();
    for (const char* option :
         {"--host", "--port", "--quiet", "--busy-polls", "--refuse-submit", "--never-ready",
          "--delay-ms", "--hang", "--stall-path", "--drop-cookie", "--download-fault",
          "--catalogue-garbage", "/__control"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

// The executable itself: says where it listens, serves, and ends cleanly on SIGTERM.
TEST(ServerExecutable, ServesUntilTerminated) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const char* argv[] = {DUBDESK_SERVER_EXECUTABLE, "--port", "0", nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);

    // The first line names the bound port.
    std::string output;
    char c = 0;
    while (output.find('\n') == std::string::npos && read(pipeFds[0], &c, 1) == 1) {
        output.push_back(c);
    }
    std::smatch match;
    ASSERT_TRUE(
        std::regex_search(output, match, std::regex(R"(listening on http://127\.0\.0\.1:(\d+))")))
        << output;
    httplib::Client client("127.0.0.1", std::stoi(match[1]));
    const auto answer = client.Get("/pc/api/reader/readerInfo/1?T=1700000000000");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // One log line per request: method, path, status, time.
    std::string log;
    while (read(pipeFds[0], &c, 1) == 1) {
        log.push_back(c);
    }
    close(pipeFds[0]);
    EXPECT_TRUE(std::regex_search(
        log,
        std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d GET /pc/api/reader/readerInfo/1 200 \d+ ms)")))
        << log;
}

// A busy port: the program says why and how to get a free one, and fails.
TEST(ServerExecutable, PortInUseIsReportedWithTheReason) {
    DubbingServer holder;
    const int port = holder.Start();
    ASSERT_GT(port, 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const std::string portArgument = "--port=" + std::to_string(port);
    const char* argv[] = {DUBDESK_SERVER_EXECUTABLE, portArgument.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string output;
    char c = 0;
    while (read(pipeFds[0], &c, 1) == 1) {
        output.push_back(c);
    }
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(output.find("port " + std::to_string(port) + ": Address already in use"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("--port 0"), std::string::npos) << output;
}

}  // namespace
