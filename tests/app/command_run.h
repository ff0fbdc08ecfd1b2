#pragma once
// dubdesk synthesize run in this process with its streams captured, and whole jobs against the
// local dubbing server, for the command line's tests.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/synthesize_command.h"
#include "server/dubbing_server.h"
#include "service/service_api.h"
#include "service/waiting.h"

struct CommandRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline CommandRun RunCommand(const std::vector<std::string>& arguments,
                             const std::string& input = "", StandardStreams streams = {}) {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    CommandRun run;
    run.status = RunSynthesizeCommand(ParseSynthesizeCommandLine(arguments, streams), in, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// The local dubbing server in this process, with the job's timetable shortened fourfold: the
// server still gets real time to render.
class LocalServerCommandTest : public testing::Test {
  protected:
    void SetUp() override {
        server_ = std::make_unique<DubbingServer>(ServerOptions{.quiet = true, .misbehaviour = {}});
        ASSERT_GT(server_->Start(), 0);
        SetWaitFunction(
            [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 4)); });
    }

    void TearDown() override {
        SetWaitFunction({});
        server_->Stop();
        SetServiceOrigin("");
    }

    // The arguments, pointed at the local server.
    CommandRun Synthesize(std::vector<std::string> arguments, const std::string& input = "",
                          StandardStreams streams = {}) {
        arguments.insert(arguments.end(), {"--service-origin", server_->Origin()});
        return RunCommand(arguments, input, streams);
    }

    std::unique_ptr<DubbingServer> server_;
};
