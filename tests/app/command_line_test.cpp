// The command line of dubdesk: what each set of arguments asks for, and that the program itself
// refuses bad arguments with status 2 before it starts any window.
#include "app/command_line.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <memory>

namespace {

using Action = CommandLine::Action;

struct ParseCase {
    std::vector<std::string> arguments;
    Action action;
    std::optional<std::string> serviceOrigin = {};
    std::optional<std::string> catalogueToken = {};
    std::string errorPart = {};  // a piece of the refusal message
};

// The arguments as typed, each quoted, with control characters escaped.
void PrintTo(const ParseCase& c, std::ostream* os) {
    if (c.arguments.empty()) {
        *os << "no arguments";
    }
    for (std::size_t i = 0; i < c.arguments.size(); ++i) {
        *os << (i > 0 ? " " : "") << ::testing::PrintToString(c.arguments[i]);
    }
}

class ParseCommandLineTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLineTest, ReadsTheArguments) {
    const ParseCase& c = GetParam();
    const CommandLine line = ParseCommandLine(c.arguments);
    EXPECT_EQ(line.action, c.action);
    if (c.action == Action::Refuse) {
        EXPECT_NE(line.error.find(c.errorPart), std::string::npos) << line.error;
        return;
    }
    EXPECT_TRUE(line.error.empty());
    EXPECT_EQ(line.serviceOrigin, c.serviceOrigin);
    EXPECT_EQ(line.catalogueToken, c.catalogueToken);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ParseCommandLineTest,
    ::testing::Values(
        ParseCase{.arguments = {}, .action = Action::RunWindow},
        ParseCase{.arguments = {"--service-origin", "http://127.0.0.1:9000"},
                  .action = Action::RunWindow,
                  .serviceOrigin = "http://127.0.0.1:9000"},
        ParseCase{.arguments = {"--service-origin=https://dub.example.org/"},
                  .action = Action::RunWindow,
                  .serviceOrigin = "https://dub.example.org/"},
        ParseCase{.arguments = {"--catalogue-token", "eyJ.abc-_.x", "--service-origin",
                                "http://[::1]:80"},
                  .action = Action::RunWindow,
                  .serviceOrigin = "http://[::1]:80",
                  .catalogueToken = "eyJ.abc-_.x"},
        ParseCase{.arguments = {"--service-origin", "http://a:1", "--service-origin", "http://b:2"},
                  .action = Action::RunWindow,
                  .serviceOrigin = "http://b:2"},
        ParseCase{.arguments = {"--help"}, .action = Action::ShowHelp},
        ParseCase{.arguments = {"-h", "--version"}, .action = Action::ShowHelp},
        ParseCase{.arguments = {"--version"}, .action = Action::ShowVersion},
        ParseCase{.arguments = {"--verbose"},
                  .action = Action::Refuse,
                  .errorPart = "unknown option --verbose"},
        ParseCase{
            .arguments = {"--help", "--bogus"}, .action = Action::Refuse, .errorPart = "--bogus"},
        ParseCase{.arguments = {"synthesize", "--bogus"}, .action = Action::Synthesize},
        ParseCase{.arguments = {"--help", "synthesize"},
                  .action = Action::Refuse,
                  .errorPart = "unexpected argument synthesize"},
        ParseCase{.arguments = {"--service-origin"},
                  .action = Action::Refuse,
                  .errorPart = "needs a value"},
        ParseCase{.arguments = {"--service-origin", "127.0.0.1:8017"},
                  .action = Action::Refuse,
                  .errorPart = "malformed"},
        ParseCase{.arguments = {"--service-origin", "ftp://host"},
                  .action = Action::Refuse,
                  .errorPart = "malformed"},
        ParseCase{
            .arguments = {"--service-origin="}, .action = Action::Refuse, .errorPart = "malformed"},
        ParseCase{
            .arguments = {"--catalogue-token", ""}, .action = Action::Refuse, .errorPart = "token"},
        ParseCase{.arguments = {"--catalogue-token", "a\r\nX-Evil: 1"},
                  .action = Action::Refuse,
                  .errorPart = "token"},
        ParseCase{.arguments = {"--version=2"},
                  .action = Action::Refuse,
                  .errorPart = "takes no value"}));

struct OriginCase {
    std::string url;
    bool accepted;
};

void PrintTo(const OriginCase& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.url) << (c.accepted ? " accepted" : " refused");
}

class ServiceOriginTest : public ::testing::TestWithParam<OriginCase> {};

TEST_P(ServiceOriginTest, AcceptsSchemeHostAndPortOnly) {
    EXPECT_EQ(IsServiceOrigin(GetParam().url), GetParam().accepted) << GetParam().url;
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ServiceOriginTest,
    ::testing::Values(OriginCase{"http://127.0.0.1:8017", true},
                      OriginCase{"http://localhost", true}, OriginCase{"https://a-b.c.d/", true},
                      OriginCase{"http://[::1]:8017", true}, OriginCase{"http://host:65535", true},
                      OriginCase{"http://host:65536", false}, OriginCase{"http://host:0", false},
                      OriginCase{"http://host:", false}, OriginCase{"http://host:80x", false},
                      OriginCase{"http://", false}, OriginCase{"http:///x", false},
                      OriginCase{"http://host/path", false}, OriginCase{"http://host?q=1", false},
                      OriginCase{"http://user@host", false}, OriginCase{"http://ho st", false},
                      OriginCase{"http://a..b", false}, OriginCase{"HTTP://host", false},
                      OriginCase{"host:80", false}, OriginCase{"http://[zz]:1", false},
                      OriginCase{"", false}));

struct ProgramRun {
    int status = -1;
    std::string output;  // stdout and stderr
};

// Runs the built program with no display at all: a refusal must come before Qt starts.
ProgramRun RunDubdesk(const std::string& arguments) {
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb " DUBDESK_EXECUTABLE " " +
        arguments + " 2>&1";
    ProgramRun run;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return run;
    }
    std::array<char, 512> buffer{};
    while (std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe.get())) {
        run.output.append(buffer.data(), n);
    }
    const int status = pclose(pipe.release());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

struct RefusedRun {
    std::string arguments;
    std::string message;  // a piece of what the program says
};

void PrintTo(const RefusedRun& c, std::ostream* os) {
    *os << c.arguments;
}

class ProgramRefusalTest : public ::testing::TestWithParam<RefusedRun> {};

TEST_P(ProgramRefusalTest, ExitsWithStatusTwoAndSaysWhy) {
    const ProgramRun run = RunDubdesk(GetParam().arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find(GetParam().message), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    BadArguments, ProgramRefusalTest,
    ::testing::Values(RefusedRun{"--frobnicate", "unknown option --frobnicate"},
                      RefusedRun{"--service-origin not-a-url", "malformed service origin"}));

TEST(DubdeskProgramTest, HelpNamesTheOptionsAndTheDefault) {
    const ProgramRun run = RunDubdesk("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("--service-origin URL"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("--catalogue-token TOKEN"), std::string::npos);
    EXPECT_NE(run.output.find("http://127.0.0.1:8017"), std::string::npos);
}

TEST(DubdeskProgramTest, SynthesizeSubcommandParsesItsOwnOptionsWithoutADisplay) {
    const ProgramRun help = RunDubdesk("synthesize --help");
    EXPECT_EQ(help.status, 0) << help.output;
    EXPECT_NE(help.output.find("--text-file FILE"), std::string::npos) << help.output;
    const ProgramRun refused = RunDubdesk("synthesize --text x --output y --pitch 7");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.output.find("bad --pitch \"7\""), std::string::npos) << refused.output;
}

TEST(DubdeskProgramTest, VersionIsPrinted) {
    const ProgramRun run = RunDubdesk("--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "dubdesk " DUBDESK_VERSION "\n");
}

}  // namespace
