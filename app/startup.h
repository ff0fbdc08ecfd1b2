#pragma once
// Start-up and shutdown of the desktop client: the process-wide catalogues, the working
// folder, the catalogue loader thread and the wait the window's thread uses between requests.

#include <functional>
#include <optional>
#include <string>

class MainWindow;
class QIcon;

// The name the desktop knows the program by: its desktop entry, AppStream component and icon.
inline constexpr const char* kDesktopId = "org.dubdesk.Dubdesk";

// Names the application before its QApplication exists: "dubdesk" is the window class the
// desktop entry's StartupWMClass names, kDesktopId the entry that launched it.
void SetApplicationIdentity();

// Qt's own texts (file dialog, message boxes, standard buttons, context menus) in Chinese like
// the rest of the window, whatever the user's locale. Needs the application object; false when
// Qt's Chinese translations are not installed (Qt then stays English).
bool InstallChineseQtTranslations();

// The program's icon in every size it is built in.
QIcon ApplicationIcon();

// Empties both catalogues. Runs before any window exists.
void InitGlobals();

// The folder "temporary" beside the executable: "<folder of the executable>/temporary".
std::string WorkingFolder();
// True when the path names a folder (a link to a folder counts).
bool FolderExists(const std::string& path);
// Creates every missing level of the path; a "/" is appended first unless the path already ends
// in one. True when the folder exists afterwards.
bool CreateFolderPath(const std::string& path);

// The window's created event: makes sure WorkingFolder exists (failure is ignored) and starts
// the loader thread, which fills the window's speaker and track lists for number 1 when it has
// loaded everything. The window must outlive the next ReleaseGlobals.
void OnMainWindowCreated(MainWindow& window);

// The exit routine, once after the event loop: aborts a loader still at work (its request in
// flight included) and waits for it, then empties the catalogues and the playback alias.
void ReleaseGlobals();

// The wait of the window's thread: keeps processing the window's events while it sleeps.
void WaitWithWindowEvents(int milliseconds);
// Ends the window thread's wait under way, if any, at once (the job it belongs to was
// abandoned).
void InterruptWindowWait();
// Where the window thread's exchanges run: on a worker thread while the window keeps
// processing its events; returns once the exchange has finished.
void RunExchangeBesideWindowEvents(const std::function<void()>& exchange);

// The whole life of the main window under an existing QApplication: InitGlobals, the window
// and its handlers, the created event, the event loop, ReleaseGlobals. The save dialog starts
// in savedFolder (absent or gone: DefaultSaveFolder); the folder chosen in it is remembered in
// the settings file at the end. Returns the event loop's exit code.
int RunMainWindow(const std::optional<std::string>& savedFolder = std::nullopt);

// The folder the save dialog starts in: savedFolder while it still exists, else
// DefaultSaveFolder.
std::string SaveDialogStartFolder(const std::optional<std::string>& savedFolder);
