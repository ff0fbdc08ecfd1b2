#include "app/play_command.h"

#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/audio_file.h"
#include "app/failure_reason.h"
#include "app/level_settings.h"
#include "app/startup.h"
#include "playback/audio_player.h"
#include "playback/mp3_decoder.h"
#include "service/catalogue.h"
#include "service/synthesis_job.h"
#include "window/main_window.h"

namespace {

bool AskWithMessageBox(MainWindow& window, const std::string& path) {
    const QString text = QStringLiteral(u"%1 已存在。\n要替换它吗？")
                             .arg(QFile::decodeName(QByteArray::fromStdString(path)));
    return QMessageBox::question(&window, QStringLiteral(u"确认另存为"), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

ReplaceQuestion& InstalledReplaceQuestion() {
    static ReplaceQuestion question;
    return question;
}

bool AskReplace(MainWindow& window, const std::string& path) {
    const ReplaceQuestion& installed = InstalledReplaceQuestion();
    return installed ? installed(window, path) : AskWithMessageBox(window, path);
}

SynthesisParameters ReadSettings(const MainWindow& window) {
    SynthesisParameters parameters;
    parameters.speed = SpeedSetting(ReadSelectedIndex(window.组合框_即时广播_语速));
    parameters.readerVolume = VolumeSetting(ReadSelectedIndex(window.组合框_即时广播_语音));
    parameters.backgroundVolume = VolumeSetting(ReadSelectedIndex(window.组合框_即时广播_背音));
    parameters.pitch = PitchSetting(ReadSelectedIndex(window.组合框_即时广播_语调));

    const QComboBox* speakers = window.组合框_即时广播_发音人;
    parameters.readerId = std::to_string(ReadItemValue(speakers, ReadSelectedIndex(speakers)));

    const QComboBox* tracks = window.组合框_即时广播_背景音乐;
    const int track =
        FindBackgroundRecord(std::to_string(ReadItemValue(tracks, ReadSelectedIndex(tracks))));
    if (const std::optional<BackgroundRecord> record =
            track > 0 ? BackgroundCatalogue().At(static_cast<std::size_t>(track)) : std::nullopt) {
        parameters.backgroundPath = record->voxUrl;
        parameters.backgroundId = record->id;
    }

    parameters.content = ReadContent(window);
    return parameters;
}

// Watches the window for the length of one job. The job processes the window's events while it
// waits and while its exchanges run, so a close or the window's destruction can happen in the
// middle of it; either one abandons the job: the flag aborts the exchange in flight and sends
// nothing more, a wait under way is cut short, and the guarded pointer tells whether the window
// still exists.
class JobWatch final : public QObject {
  public:
    explicit JobWatch(MainWindow& window) : window_(&window) {
        window.installEventFilter(this);
        QObject::connect(&window, &QObject::destroyed, this, [this] { Abandon(); });
    }

    ~JobWatch() override {
        if (window_) {
            window_->removeEventFilter(this);
        }
    }

    const std::atomic<bool>& Abandoned() const { return abandoned_; }
    // Closed, destroyed or Stop pressed: the job ends at once.
    void Abandon() {
        abandoned_ = true;
        InterruptWindowWait();
    }
    // Null once the window has been destroyed.
    MainWindow* Window() const { return window_.data(); }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            Abandon();
        }
        return false;
    }

  private:
    QPointer<MainWindow> window_;
    std::atomic<bool> abandoned_{false};
};

// The job under way on the window's thread, if any: Stop cancels it.
JobWatch* runningJob = nullptr;

// Makes a job the running one for its lifetime.
class RunningJob {
  public:
    explicit RunningJob(JobWatch& job) : outer_(std::exchange(runningJob, &job)) {}
    ~RunningJob() { runningJob = outer_; }
    RunningJob(const RunningJob&) = delete;
    RunningJob& operator=(const RunningJob&) = delete;

  private:
    JobWatch* outer_;
};

}  // namespace

void ConnectPlayCommand(MainWindow& window) {
    QObject::connect(&window, &MainWindow::playClicked, &window,
                     [&window] { OnPlayClicked(window); });
    QObject::connect(&window, &MainWindow::stopClicked, &window, [] { OnStopCommand(); });
}

void OnStopCommand() {
    if (runningJob != nullptr) {
        runningJob->Abandon();
    } else {
        OnStopClicked();
    }
}

bool PlayJobRunning() {
    return runningJob != nullptr;
}

void OnPlayClicked(MainWindow& window) {
    if (ReadContent(window).empty()) {
        return;
    }
    SaveDialog& dialog = *window.通用对话框1;
    dialog.SetFilter("声音文件（*.mp3）|*.mp3");
    if (!dialog.Show()) {
        return;
    }
    const std::string chosen = dialog.FileName();
    const std::string path = Mp3PathFor(chosen);
    // A name that ends in ".mp3" is the one the dialog confirmed replacing; an appended suffix
    // names a file nobody has been asked about.
    if (path != chosen && PathExists(path) && !AskReplace(window, path)) {
        return;
    }
    EnableControl(window.超级按钮_即时广播_播放, false);
    SynthesizeAndPlay(window, path);
}

void SynthesizeAndPlay(MainWindow& window, const std::string& path) {
    SetStatusCaption(window, "正在合成语音，请稍候...");
    if (!CurrentPlaybackAlias.empty()) {
        CloseClip(CurrentPlaybackAlias);
        CurrentPlaybackAlias.clear();
    }
    SynthesisParameters parameters = ReadSettings(window);

    // The file waits as a hidden temporary from here on: a folder that cannot take it is known
    // before the service is asked for anything.
    PendingAudioFile file(path);
    if (file.Error() != 0) {
        SetStatusCaption(window, WriteFailureCaption(file.Error()));
        EnableControl(window.超级按钮_即时广播_播放, true);
        return;
    }

    JobWatch watch(window);
    const RunningJob running(watch);
    SynthesisOutcome outcome;
    const std::string audio = RunSynthesisJob(
        std::move(parameters),
        {.outcome = &outcome,
         .cancel = &watch.Abandoned(),
         .isAudio = [](const std::string& bytes) { return Mp3BytesLengthMs(bytes).has_value(); }});
    MainWindow* const alive = watch.Window();
    if (alive == nullptr) {
        return;
    }
    // An abandoned job writes and plays nothing, even when its audio had already come back.
    std::string caption;
    if (watch.Abandoned() || audio.empty()) {
        caption = FailureCaption(outcome);
    } else if (!file.Commit(audio)) {
        caption = WriteFailureCaption(file.Error());
    } else {
        CurrentPlaybackAlias = std::to_string(ProbeClipLength(path));
        OpenAndPlayClip(path, CurrentPlaybackAlias);
        caption = "语音合成完毕";
    }
    SetStatusCaption(*alive, caption);
    EnableControl(alive->超级按钮_即时广播_播放, true);
}

int FindBackgroundRecord(const std::string& id) {
    const std::vector<BackgroundRecord> records = BackgroundCatalogue().Snapshot();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].id == id) {
            return static_cast<int>(i + 1);
        }
    }
    return 0;
}

void SetReplaceQuestion(ReplaceQuestion question) {
    InstalledReplaceQuestion() = std::move(question);
}
