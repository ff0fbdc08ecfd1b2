#pragma once
// The settings file: $XDG_CONFIG_HOME/dubdesk/dubdesk.conf (~/.config/dubdesk/dubdesk.conf), an
// INI file read and written through QSettings. It holds the service to talk to, so that a copy
// started from the desktop menu needs no command line, and the folder the save dialog last
// used. Nothing in it is ever fatal: a value that is unknown or malformed is reported and
// ignored.
//
//   [service]
//   origin=https://dubbing.example.net
//   catalogue-token=TOKEN
//   [save-dialog]
//   folder=/home/user/Music

#include <optional>
#include <string>
#include <vector>

// Where the file lives; it need not exist.
std::string SettingsFilePath();

struct FileSettings {
    std::optional<std::string> serviceOrigin;
    std::optional<std::string> catalogueToken;
    std::optional<std::string> saveFolder;  // file-system encoding
    // One line per value or file problem that was ignored, ready to show the user.
    std::vector<std::string> problems;
};

// Reads the whole file; a missing file gives no values and no problems.
FileSettings ReadSettingsFile();

// Remembers the save dialog's folder for the next run; other settings are kept as they are.
// False when the file could not be written.
bool StoreSaveFolder(const std::string& folder);

// The save dialog's first folder when none is remembered: the user's music folder if it
// exists, else the home folder.
std::string DefaultSaveFolder();

// Sets the service origin and the catalogue token in force, each from the strongest source that
// gives one: the command-line option, then (the token only) the environment variable, then the
// settings file, else the built-in default.
void ConfigureService(const FileSettings& file, const std::optional<std::string>& environmentToken,
                      const std::optional<std::string>& originOption,
                      const std::optional<std::string>& tokenOption);
