// The settings file and where each service value comes from: the file's values and the ones it
// ignores, the token variable, the order of precedence, and the program itself started with a
// settings file against the local dubbing server.
#include "app/settings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QtGlobal>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/command_line.h"
#include "protocol/development_token.h"
#include "server/dubbing_server.h"
#include "service/service_api.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// XDG_CONFIG_HOME points at a fresh folder for each test and is restored afterwards.
class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(config_.isValid());
        saved_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    }
    void TearDown() override {
        qputenv("XDG_CONFIG_HOME", saved_);
        SetServiceOrigin("");
        SetCatalogueAccessToken("");
    }
    void Write(const std::string& content) const {
        fs::create_directories(ConfigFolder() + "/dubdesk");
        std::ofstream(ConfigFolder() + "/dubdesk/dubdesk.conf", std::ios::binary) << content;
    }
    std::string ConfigFolder() const { return config_.path().toStdString(); }

  private:
    QTemporaryDir config_;
    QByteArray saved_;
};

TEST_F(SettingsFileTest, LivesInTheConfigFolder) {
    EXPECT_EQ(SettingsFilePath(), ConfigFolder() + "/dubdesk/dubdesk.conf");
    const FileSettings none = ReadSettingsFile();
    EXPECT_FALSE(none.serviceOrigin || none.catalogueToken || none.saveFolder);
    EXPECT_TRUE(none.problems.empty());
}

struct FileCase {
    const char* name;
    std::string content;
    std::optional<std::string> origin;
    std::optional<std::string> token;
    std::vector<std::string> problemParts;  // one piece of each problem reported, in order
};

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.name;
}

class FileValuesTest : public SettingsFileTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(FileValuesTest, ReadsGoodValuesAndReportsEveryOtherOnce) {
    const FileCase& c = GetParam();
    Write(c.content);
    const FileSettings read = ReadSettingsFile();
    EXPECT_EQ(read.serviceOrigin, c.origin);
    EXPECT_EQ(read.catalogueToken, c.token);
    ASSERT_EQ(read.problems.size(), c.problemParts.size())
        << ::testing::PrintToString(read.problems);
    for (std::size_t i = 0; i < c.problemParts.size(); ++i) {
        EXPECT_NE(read.problems[i].find(c.problemParts[i]), std::string::npos) << read.problems[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileValuesTest,
    ::testing::Values(
        FileCase{"Good",
                 "[service]\norigin=https://dub.example.org:8443\ncatalogue-token=abc.def\n",
                 "https://dub.example.org:8443",
                 "abc.def",
                 {}},
        FileCase{"MalformedOriginKeepsTheToken",
                 "[service]\norigin=ftp://dub.example.org\ncatalogue-token=abc\n",
                 std::nullopt,
                 "abc",
                 {"service/origin: malformed service origin"}},
        FileCase{"TokenWithABlank",
                 "[service]\ncatalogue-token=\"ab cd\"\n",
                 std::nullopt,
                 std::nullopt,
                 {"service/catalogue-token: malformed catalogue token"}},
        FileCase{"EmptyToken",
                 "[service]\ncatalogue-token=\n",
                 std::nullopt,
                 std::nullopt,
                 {"service/catalogue-token: malformed"}},
        FileCase{"ListIsNotOneValue",
                 "[service]\norigin=http://a, http://b\n",
                 std::nullopt,
                 std::nullopt,
                 {"service/origin: not a single text value"}},
        FileCase{"UnknownKeysAndGroups",
                 "[service]\norign=http://127.0.0.1:9\n[colours]\nback=red\n",
                 std::nullopt,
                 std::nullopt,
                 {"colours/back: unknown setting", "service/orign: unknown setting"}},
        FileCase{"LinesThatAreNoSettings",
                 "; a comment\n[service]\norigin http://127.0.0.1:9\n\n\x89PNG\n"
                 "catalogue-token=abc\n",
                 std::nullopt,
                 "abc",
                 {"line 3: not a setting", "line 5: not a setting"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsFileTest, StoringTheFolderKeepsTheOtherValues) {
    Write("[service]\norigin=http://127.0.0.1:9\n");
    ASSERT_TRUE(StoreSaveFolder("/srv/audio"));
    const FileSettings read = ReadSettingsFile();
    EXPECT_EQ(read.saveFolder, "/srv/audio");
    EXPECT_EQ(read.serviceOrigin, "http://127.0.0.1:9");
}

struct PrecedenceCase {
    const char* name;
    FileSettings file;
    std::optional<std::string> environmentToken;
    std::optional<std::string> originOption;
    std::optional<std::string> tokenOption;
    std::string origin;
    std::string token;
};

void PrintTo(const PrecedenceCase& c, std::ostream* os) {
    *os << c.name;
}

class PrecedenceTest : public ::testing::TestWithParam<PrecedenceCase> {
  protected:
    void TearDown() override {
        SetServiceOrigin("");
        SetCatalogueAccessToken("");
    }
};

TEST_P(PrecedenceTest, StrongestSourceWins) {
    const PrecedenceCase& c = GetParam();
    ConfigureService(c.file, c.environmentToken, c.originOption, c.tokenOption);
    EXPECT_EQ(ServiceOrigin(), c.origin);
    EXPECT_EQ(CatalogueAccessToken(), c.token);
}

FileSettings FileWithBoth() {
    FileSettings file;
    file.serviceOrigin = "http://file.example:1";
    file.catalogueToken = "file";
    return file;
}
const FileSettings kFile = FileWithBoth();

INSTANTIATE_TEST_SUITE_P(
    Sources, PrecedenceTest,
    ::testing::Values(
        PrecedenceCase{
            "Defaults", {}, {}, {}, {}, kDefaultServiceOrigin, kDevelopmentCatalogueToken},
        PrecedenceCase{"File", kFile, {}, {}, {}, "http://file.example:1", "file"},
        PrecedenceCase{"EnvironmentOverFile", kFile, "env", {}, {}, "http://file.example:1", "env"},
        PrecedenceCase{"OptionsOverEverything", kFile, "env", "http://option.example:2", "option",
                       "http://option.example:2", "option"},
        PrecedenceCase{"EnvironmentOverDefault", {}, "env", {}, {}, kDefaultServiceOrigin, "env"}),
    [](const auto& info) { return std::string(info.param.name); });

struct EnvironmentCase {
    const char* name;
    const char* value;
    std::optional<std::string> token;
    bool refused;
};

void PrintTo(const EnvironmentCase& c, std::ostream* os) {
    *os << c.name;
}

class EnvironmentTokenTest : public ::testing::TestWithParam<EnvironmentCase> {};

TEST_P(EnvironmentTokenTest, ReadsTheVariable) {
    const EnvironmentCase& c = GetParam();
    std::string error;
    EXPECT_EQ(CatalogueTokenFromEnvironment(c.value, &error), c.token);
    EXPECT_EQ(!error.empty(), c.refused) << error;
    if (c.refused) {
        EXPECT_NE(error.find(kCatalogueTokenVariable), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, EnvironmentTokenTest,
    ::testing::Values(EnvironmentCase{"Unset", nullptr, std::nullopt, false},
                      EnvironmentCase{"Empty", "", std::nullopt, false},
                      EnvironmentCase{"Token", "eyJ.a-b_c", "eyJ.a-b_c", false},
                      EnvironmentCase{"Blank", "a b", std::nullopt, true},
                      EnvironmentCase{"LineBreak", "a\r\nX: y", std::nullopt, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct ProgramRun {
    int status = -1;
    std::string err;
};

// The program itself, with the test's XDG_CONFIG_HOME and the extra environment; it lists the
// custom background tracks, the one catalogue request the local server checks the token of.
ProgramRun ListCustomTracks(const std::vector<std::string>& options,
                            const std::vector<std::string>& extraEnvironment,
                            const std::string& folder) {
    std::vector<std::string> arguments = {DUBDESK_EXECUTABLE, "synthesize", "--list-backgrounds",
                                          "--background-type", "1"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (!text.starts_with("DUBDESK_CATALOGUE_TOKEN=")) {
            environment.push_back(text);
        }
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> argv;
    for (std::string& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const std::string errPath = folder + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    ProgramRun run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream err(errPath);
    run.err = std::string(std::istreambuf_iterator<char>(err), {});
    return run;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class ProgramSettingsTest : public SettingsFileTest {
  protected:
    void SetUp() override {
        SettingsFileTest::SetUp();
        ServerOptions options;
        options.quiet = true;
        server_ = std::make_unique<DubbingServer>(options);
        ASSERT_GT(server_->Start(), 0);
    }
    void TearDown() override {
        server_->Stop();
        SettingsFileTest::TearDown();
    }
    ProgramRun Run(const std::vector<std::string>& options,
                   const std::vector<std::string>& environment = {}) const {
        std::vector<std::string> withConfig = environment;
        withConfig.push_back("XDG_CONFIG_HOME=" + ConfigFolder());
        return ListCustomTracks(options, withConfig, ConfigFolder());
    }
    std::unique_ptr<DubbingServer> server_;
};

TEST_F(ProgramSettingsTest, FileEnvironmentAndOptionsInThatOrder) {
    // The file names the server and a token it refuses.
    Write("[service]\norigin=" + server_->Origin() + "\ncatalogue-token=refused\n");
    const ProgramRun fileOnly = Run({});
    EXPECT_NE(fileOnly.status, 0) << fileOnly.err;
    EXPECT_NE(fileOnly.err.find(server_->Origin()), std::string::npos) << fileOnly.err;

    const std::string good =
        std::string(kCatalogueTokenVariable) + "=" + kDevelopmentCatalogueToken;
    const ProgramRun environment = Run({}, {good});
    EXPECT_EQ(environment.status, 0) << environment.err;

    const ProgramRun option = Run({"--catalogue-token", "refused-too"}, {good});
    EXPECT_NE(option.status, 0) << option.err;

    const ProgramRun malformedVariable = Run({}, {std::string(kCatalogueTokenVariable) + "=a b"});
    EXPECT_EQ(malformedVariable.status, 2) << malformedVariable.err;
}

TEST_F(ProgramSettingsTest, MalformedValuesAreReportedOnceAndIgnored) {
    Write("[service]\norigin=" + server_->Origin() +
          "\ncatalogue-token=not a token\ncolour=blue\n");
    const ProgramRun run = Run({});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Count(run.err, "service/catalogue-token: malformed"), 1u) << run.err;
    EXPECT_EQ(Count(run.err, "service/colour: unknown setting"), 1u) << run.err;
    EXPECT_NE(run.err.find(SettingsFilePath()), std::string::npos) << run.err;
}

TEST_F(ProgramSettingsTest, UnreadableFileDoesNotStopStartUp) {
    Write(std::string("\0\0\0[service\n\xff\xfe", 14));
    const ProgramRun run = Run({"--service-origin", server_->Origin()});
    EXPECT_EQ(run.status, 0) << run.err;
}

}  // namespace
