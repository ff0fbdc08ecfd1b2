// Start-up pieces that need no service: the working folder, folder creation and the window
// thread's wait.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "playback/audio_player.h"
#include "service/catalogue.h"

namespace fs = std::filesystem;

namespace {

class FolderTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(temporary.isValid()); }
    std::string Path(const std::string& relative) const {
        return temporary.path().toStdString() + "/" + relative;
    }
    QTemporaryDir temporary;
};

TEST(WorkingFolderTest, IsTemporaryBesideTheExecutable) {
    const std::string expected =
        QCoreApplication::applicationDirPath().toStdString() + "/temporary";
    EXPECT_EQ(WorkingFolder(), expected);
}

TEST_F(FolderTest, FolderExistsOnlyForFolders) {
    fs::create_directory(Path("folder"));
    std::ofstream(Path("file")) << "x";
    fs::create_directory_symlink(Path("folder"), Path("link"));
    EXPECT_TRUE(FolderExists(Path("folder")));
    EXPECT_TRUE(FolderExists(Path("folder/")));
    EXPECT_TRUE(FolderExists(Path("link")));
    EXPECT_FALSE(FolderExists(Path("file")));
    EXPECT_FALSE(FolderExists(Path("missing")));
    EXPECT_FALSE(FolderExists(""));
}

TEST_F(FolderTest, CreatesEveryMissingLevelWithOrWithoutFinalSlash) {
    EXPECT_TRUE(CreateFolderPath(Path("a/b/c")));
    EXPECT_TRUE(FolderExists(Path("a/b/c")));
    EXPECT_TRUE(CreateFolderPath(Path("d/e/")));
    EXPECT_TRUE(FolderExists(Path("d/e")));
    // The last component is a folder too, also when it looks like a file name.
    EXPECT_TRUE(CreateFolderPath(Path("f/clip.mp3")));
    EXPECT_TRUE(FolderExists(Path("f/clip.mp3")));
}

TEST_F(FolderTest, ExistingFolderIsLeftAsItIs) {
    fs::create_directory(Path("kept"));
    std::ofstream(Path("kept/inside")) << "x";
    EXPECT_TRUE(CreateFolderPath(Path("kept")));
    EXPECT_TRUE(fs::exists(Path("kept/inside")));
}

TEST_F(FolderTest, FileInTheWayFails) {
    std::ofstream(Path("temporary")) << "x";
    EXPECT_FALSE(CreateFolderPath(Path("temporary")));
    EXPECT_FALSE(CreateFolderPath(Path("temporary/deeper")));
    EXPECT_TRUE(fs::is_regular_file(Path("temporary")));
}

TEST(WaitWithWindowEventsTest, SleepsAtLeastTheTimeAndKeepsEventsFlowing) {
    bool delivered = false;
    QTimer::singleShot(5, [&] { delivered = true; });
    QElapsedTimer elapsed;
    elapsed.start();
    WaitWithWindowEvents(60);
    EXPECT_GE(elapsed.elapsed(), 60);
    EXPECT_LT(elapsed.elapsed(), 1000);
    EXPECT_TRUE(delivered);
}

// A loop of event passes would keep a core busy for the whole wait.
TEST(WaitWithWindowEventsTest, SleepsRatherThanSpins) {
    const std::clock_t before = std::clock();
    WaitWithWindowEvents(300);
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    EXPECT_LT(cpuMs, 100.0);
}

TEST(ReleaseGlobalsTest, EmptiesTheCataloguesAndTheAlias) {
    InitGlobals();
    SpeakerCatalogue().Append({SpeakerRecord{.id = "1", .name = "a", .category = 1}});
    BackgroundCatalogue().Append({BackgroundRecord{.id = "2", .name = "b", .category = 1}});
    CurrentPlaybackAlias = "1234";
    ReleaseGlobals();
    EXPECT_EQ(SpeakerCatalogue().Count(), 0u);
    EXPECT_EQ(BackgroundCatalogue().Count(), 0u);
    EXPECT_TRUE(CurrentPlaybackAlias.empty());
}

}  // namespace
