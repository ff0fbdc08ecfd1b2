// What `cmake --install` and the Debian package put on a machine: the programs, the desktop
// entry and metainfo (checked by their validators), the icons and the man pages.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

struct ShellRun {
    int status = -1;
    std::string output;  // standard output and standard error
};

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

ShellRun Shell(const std::string& command) {
    ShellRun run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.output.append(buffer.data(), got);
    }
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

const std::set<std::string> kInstalledFiles = {
    "usr/bin/dubdesk",
    "usr/bin/dubdesk-server",
    "usr/share/applications/org.dubdesk.Dubdesk.desktop",
    "usr/share/metainfo/org.dubdesk.Dubdesk.metainfo.xml",
    "usr/share/icons/hicolor/scalable/apps/org.dubdesk.Dubdesk.svg",
    "usr/share/icons/hicolor/16x16/apps/org.dubdesk.Dubdesk.png",
    "usr/share/icons/hicolor/24x24/apps/org.dubdesk.Dubdesk.png",
    "usr/share/icons/hicolor/32x32/apps/org.dubdesk.Dubdesk.png",
    "usr/share/icons/hicolor/48x48/apps/org.dubdesk.Dubdesk.png",
    "usr/share/icons/hicolor/64x64/apps/org.dubdesk.Dubdesk.png",
    "usr/share/icons/hicolor/128x128/apps/org.dubdesk.Dubdesk.png",
    "usr/share/icons/hicolor/256x256/apps/org.dubdesk.Dubdesk.png",
    "usr/share/man/man1/dubdesk.1",
    "usr/share/man/man1/dubdesk-server.1",
    "usr/share/bash-completion/completions/dubdesk",
};

class InstallTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }
    std::string Folder() const { return folder_.path().toStdString(); }

  private:
    QTemporaryDir folder_;
};

TEST_F(InstallTest, InstallsProgramsDesktopEntryMetainfoIconsAndManPages) {
    const std::string root = Folder() + "/root";
    const ShellRun install = Shell("DESTDIR=" + Quoted(root) + " cmake --install " +
                                   Quoted(DUBDESK_BUILD_DIR) + " --prefix /usr");
    ASSERT_EQ(install.status, 0) << install.output;

    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files.insert(fs::relative(entry.path(), root).string());
        }
    }
    EXPECT_EQ(files, kInstalledFiles);

    const ShellRun version = Shell(Quoted(root + "/usr/bin/dubdesk") + " --version");
    EXPECT_EQ(version.output, std::string("dubdesk ") + DUBDESK_VERSION + "\n");

    const std::string desktop = root + "/usr/share/applications/org.dubdesk.Dubdesk.desktop";
    const ShellRun desktopCheck = Shell("desktop-file-validate " + Quoted(desktop));
    EXPECT_EQ(desktopCheck.status, 0) << desktopCheck.output;
    EXPECT_EQ(desktopCheck.output, "") << "warnings or hints";
    const std::string entry = ReadFile(desktop);
    for (const char* line :
         {"Name=dubdesk\n", "Name[zh_CN]=", "Comment=", "Comment[zh_CN]=", "Exec=dubdesk\n",
          "Icon=org.dubdesk.Dubdesk\n", "Categories=AudioVideo;Audio;\n",
          // the window class: the program's name, set at start-up
          "StartupWMClass=dubdesk\n"}) {
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    }

    const std::string metainfo = root + "/usr/share/metainfo/org.dubdesk.Dubdesk.metainfo.xml";
    const ShellRun metainfoCheck = Shell("appstreamcli validate --no-net " + Quoted(metainfo));
    EXPECT_EQ(metainfoCheck.status, 0) << metainfoCheck.output;
    const std::string component = ReadFile(metainfo);
    EXPECT_NE(component.find(std::string("<release version=\"") + DUBDESK_VERSION + "\""),
              std::string::npos);
    EXPECT_NE(component.find("docs/window.png</image>"), std::string::npos);
    EXPECT_NE(component.find("<launchable type=\"desktop-id\">org.dubdesk.Dubdesk.desktop<"),
              std::string::npos);

    for (const char* page : {"dubdesk.1", "dubdesk-server.1"}) {
        const ShellRun man = Shell("man --warnings -l " +
                                   Quoted(root + "/usr/share/man/man1/" + page) + " >/dev/null");
        EXPECT_EQ(man.status, 0) << page << ": " << man.output;
        EXPECT_EQ(man.output, "") << page;
    }
}

TEST_F(InstallTest, DebianPackageHoldsTheSameFilesAndItsDependencies) {
    const ShellRun package = Shell("cpack -G DEB -B " + Quoted(Folder()) + " --config " +
                                   Quoted(std::string(DUBDESK_BUILD_DIR) + "/CPackConfig.cmake"));
    ASSERT_EQ(package.status, 0) << package.output;
    const std::string deb =
        Folder() + "/dubdesk_" + DUBDESK_VERSION + "_" +
        Shell("dpkg --print-architecture").output.substr(0, std::string("amd64").size()) + ".deb";
    ASSERT_TRUE(fs::exists(deb)) << package.output;

    const ShellRun contents = Shell("dpkg-deb -c " + Quoted(deb));
    ASSERT_EQ(contents.status, 0) << contents.output;
    for (const std::string& file : kInstalledFiles) {
        EXPECT_NE(contents.output.find(" ./" + file + "\n"), std::string::npos) << file;
    }

    const ShellRun depends = Shell("dpkg-deb -f " + Quoted(deb) + " Depends");
    ASSERT_EQ(depends.status, 0) << depends.output;
    // Computed from the programs' libraries, and the data they load at run time.
    for (const char* dependency : {"libqt6widgets6", "libqt6multimedia6", "libcurl4", "libmpg123-0",
                                   "libespeak-ng1", "libmp3lame0", "libc6", "espeak-ng-data",
                                   "fonts-wqy-microhei", "qt6-translations-l10n"}) {
        EXPECT_NE(depends.output.find(dependency), std::string::npos)
            << dependency << " in " << depends.output;
    }
}

}  // namespace
