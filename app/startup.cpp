#include "app/startup.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "app/audition_command.h"
#include "app/play_command.h"
#include "app/settings.h"
#include "http/request_object.h"
#include "playback/audio_player.h"
#include "service/catalogue.h"
#include "service/catalogue_loader.h"
#include "service/waiting.h"
#include "window/catalogue_lists.h"
#include "window/main_window.h"
#include "window/pause_markers.h"

namespace {

// The catalogue loader thread and its way back to the window's thread. The final fill is
// handed over through an eventfd that a socket notifier of the window's thread watches: the
// write and the read order the loader's catalogue appends before the fill in a way thread
// checkers can see, which a posted Qt event (synchronised inside Qt) does not.
class CatalogueLoaderThread {
  public:
    explicit CatalogueLoaderThread(MainWindow& window)
        : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (wake_ < 0) {
            return;
        }
        notifier_ = std::make_unique<QSocketNotifier>(wake_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, &window] {
            std::uint64_t count = 0;
            if (::read(wake_, &count, sizeof count) != sizeof count) {
                return;
            }
            notifier_->setEnabled(false);
            FillSpeakerList(window, 1);
            FillBackgroundTrackList(window, 1);
        });
        try {
            thread_ = std::thread([this] {
                LoadCatalogues(
                    [this] {
                        const std::uint64_t one = 1;
                        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
                    },
                    &abort_);
            });
        } catch (const std::system_error&) {
            // Without a loader the lists simply stay empty.
        }
    }

    // Aborts a load still at work, its request in flight included, and waits for the thread.
    ~CatalogueLoaderThread() {
        abort_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        notifier_.reset();
        if (wake_ >= 0) {
            ::close(wake_);
        }
    }

    CatalogueLoaderThread(const CatalogueLoaderThread&) = delete;
    CatalogueLoaderThread& operator=(const CatalogueLoaderThread&) = delete;

  private:
    std::atomic<bool> abort_{false};
    const int wake_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::thread thread_;
};

std::unique_ptr<CatalogueLoaderThread>& Loader() {
    static std::unique_ptr<CatalogueLoaderThread> loader;
    return loader;
}

}  // namespace

void SetApplicationIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("dubdesk"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DUBDESK_VERSION));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
}

bool InstallChineseQtTranslations() {
    // Numbers, dates and sizes in the file dialog follow the same language.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    static QTranslator translator;
    if (!translator.isEmpty()) {
        return true;
    }
    return translator.load(QStringLiteral("qtbase_zh_CN"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
           QCoreApplication::installTranslator(&translator);
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/%2.png").arg(size).arg(kDesktopId),
                     QSize(size, size));
    }
    return icon;
}

std::string SaveDialogStartFolder(const std::optional<std::string>& savedFolder) {
    return savedFolder && FolderExists(*savedFolder) ? *savedFolder : DefaultSaveFolder();
}

void InitGlobals() {
    SpeakerCatalogue().Clear();
    BackgroundCatalogue().Clear();
}

std::string WorkingFolder() {
    std::error_code error;
    std::string folder =
        std::filesystem::read_symlink("/proc/self/exe", error).parent_path().string();
    while (!folder.empty() && folder.back() == '/') {
        folder.pop_back();
    }
    return folder + "/temporary";
}

bool FolderExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

bool CreateFolderPath(const std::string& path) {
    std::string folder = path;
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return !error && FolderExists(folder);
}

void OnMainWindowCreated(MainWindow& window) {
    const std::string folder = WorkingFolder();
    if (!FolderExists(folder)) {
        CreateFolderPath(folder);
    }

    Loader() = std::make_unique<CatalogueLoaderThread>(window);
}

void ReleaseGlobals() {
    Loader().reset();
    SpeakerCatalogue().Clear();
    BackgroundCatalogue().Clear();
    CurrentPlaybackAlias.clear();
}

namespace {

// The window thread's wait under way; only the window thread touches it.
QEventLoop* windowWait = nullptr;

}  // namespace

void WaitWithWindowEvents(int milliseconds) {
    // A nested event loop sleeps until the timer or an event wakes it; it ends early when the
    // application is quitting or the job is abandoned.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(milliseconds);
    QEventLoop* const outer = std::exchange(windowWait, &loop);
    loop.exec();
    windowWait = outer;
}

void InterruptWindowWait() {
    if (windowWait != nullptr) {
        windowWait->quit();
    }
}

void RunExchangeBesideWindowEvents(const std::function<void()>& exchange) {
    QEventLoop loop;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        exchange();
        finished = true;
        // Queued to the window thread: delivered by the loop below, which outlives the worker.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // The application quitting ends every loop of the thread; the exchange still has to end
    // before its variables go away (an abandoned one is aborted within milliseconds).
    while (!finished) {
        loop.exec();
    }
    worker.join();
}

int RunMainWindow(const std::optional<std::string>& savedFolder) {
    InitGlobals();
    SetWaitFunction(WaitWithWindowEvents);
    SetHttpExchangeRunner(RunExchangeBesideWindowEvents);
    QApplication::setWindowIcon(ApplicationIcon());
    int exitCode = 0;
    {
        MainWindow window;
        window.通用对话框1->SetStartFolder(SaveDialogStartFolder(savedFolder));
        QObject::connect(&window, &MainWindow::voiceTypeSelected, &window,
                         [&window] { OnVoiceTypeSelected(window); });
        QObject::connect(&window, &MainWindow::backgroundTypeSelected, &window,
                         [&window] { OnBackgroundTypeSelected(window); });
        ConnectPlayCommand(window);
        ConnectAuditionCommand(window);
        ConnectPauseMarkers(window);
        OnMainWindowCreated(window);
        window.show();
        exitCode = QApplication::exec();
        ReleaseGlobals();
        if (const std::string chosen = window.通用对话框1->ChosenFolder(); !chosen.empty()) {
            StoreSaveFolder(chosen);
        }
    }
    SetHttpExchangeRunner({});
    SetWaitFunction({});
    return exitCode;
}
