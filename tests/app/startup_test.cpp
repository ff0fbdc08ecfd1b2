// Start-up pieces that need no service: the working folder, folder creation, the window
// thread's wait, Qt's Chinese texts and the save dialog's folder kept between runs.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "app/settings.h"
#include "playback/audio_player.h"
#include "service/catalogue.h"
#include "service/service_api.h"
#include "window/main_window.h"

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

// Texts Qt draws itself, once the translations are installed: the save dialog's buttons, a
// yes/no question like the replace question, the content box's context menu.
TEST(ChineseQtTextsTest, DialogsButtonsAndMenusAreChinese) {
    ASSERT_TRUE(InstallChineseQtTranslations());
    MainWindow window;
    window.通用对话框1->SetFilter("声音文件（*.mp3）|*.mp3");
    QString save;
    QString cancel;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        const auto* buttons = dialog->findChild<QDialogButtonBox*>();
        save = buttons->button(QDialogButtonBox::Save)->text();
        cancel = buttons->button(QDialogButtonBox::Cancel)->text();
        dialog->reject();
    });
    EXPECT_FALSE(window.通用对话框1->Show());
    EXPECT_TRUE(save.startsWith(u"保存"_qs)) << save.toStdString();
    EXPECT_TRUE(cancel.startsWith(u"取消"_qs)) << cancel.toStdString();

    QMessageBox question(QMessageBox::Question, u"确认另存为"_qs, u"要替换它吗？"_qs,
                         QMessageBox::Yes | QMessageBox::No, &window);
    EXPECT_TRUE(question.button(QMessageBox::Yes)->text().startsWith(u"是"_qs))
        << question.button(QMessageBox::Yes)->text().toStdString();
    EXPECT_TRUE(question.button(QMessageBox::No)->text().startsWith(u"否"_qs))
        << question.button(QMessageBox::No)->text().toStdString();

    const std::unique_ptr<QMenu> menu(window.编辑框_即时广播_广播内容->createStandardContextMenu());
    QStringList actions;
    for (const QAction* action : menu->actions()) {
        actions << action->text();
    }
    EXPECT_TRUE(actions.join(u'|').contains(u"复制"_qs)) << actions.join(u'|').toStdString();
}

// A temporary home and config folder for the settings file, restored afterwards.
class SaveFolderTest : public FolderTest {
  protected:
    void SetUp() override {
        FolderTest::SetUp();
        home_ = qgetenv("HOME");
        config_ = qgetenv("XDG_CONFIG_HOME");
        fs::create_directory(Path("home"));
        qputenv("HOME", QByteArray::fromStdString(Path("home")));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Path("config")));
        SetServiceOrigin("http://127.0.0.1:9");  // nothing listens: the loader gives up at once
    }
    void TearDown() override {
        qputenv("HOME", home_);
        qputenv("XDG_CONFIG_HOME", config_);
        SetServiceOrigin("");
    }

  private:
    QByteArray home_;
    QByteArray config_;
};

TEST_F(SaveFolderTest, FirstRunStartsInTheMusicFolderElseHome) {
    EXPECT_EQ(SaveDialogStartFolder(std::nullopt), Path("home"));
    fs::create_directory(Path("home/Music"));
    EXPECT_EQ(SaveDialogStartFolder(std::nullopt), Path("home/Music"));
    // A remembered folder that has gone since counts as none.
    EXPECT_EQ(SaveDialogStartFolder(Path("gone")), Path("home/Music"));
    EXPECT_EQ(SaveDialogStartFolder(Path("home")), Path("home"));
}

// Two runs of the window: the first starts in the remembered folder and the user saves into
// another; the settings file then names that one, next to the values it already held.
TEST_F(SaveFolderTest, TheFolderChosenIsRememberedForTheNextRun) {
    fs::create_directories(Path("config/dubdesk"));
    std::ofstream(Path("config/dubdesk/dubdesk.conf"))
        << "[service]\norigin=http://127.0.0.1:9\n[save-dialog]\nfolder=" << Path("first") << "\n";
    fs::create_directory(Path("first"));
    fs::create_directory(Path("second"));
    const FileSettings before = ReadSettingsFile();
    ASSERT_EQ(before.saveFolder, Path("first"));

    QString startedIn;
    QTimer::singleShot(0, [&] {
        MainWindow* window = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            window = window != nullptr ? window : qobject_cast<MainWindow*>(widget);
        }
        ASSERT_NE(window, nullptr);
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            startedIn = dialog->directory().absolutePath();
            dialog->selectFile(QString::fromStdString(Path("second/clip")));
            static_cast<QDialog*>(dialog)->accept();
        });
        window->通用对话框1->Show();
        window->close();
    });
    RunMainWindow(before.saveFolder);

    EXPECT_EQ(startedIn.toStdString(), Path("first"));
    const FileSettings after = ReadSettingsFile();
    EXPECT_EQ(after.saveFolder, Path("second"));
    EXPECT_EQ(after.serviceOrigin, "http://127.0.0.1:9");
    EXPECT_TRUE(after.problems.empty());
}

}  // namespace
