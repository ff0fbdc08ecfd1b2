#include "app/audition_command.h"

#include <QComboBox>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <atomic>
#include <optional>
#include <string>

#include "app/audition.h"
#include "app/failure_reason.h"
#include "app/play_command.h"
#include "playback/audio_player.h"
#include "service/catalogue.h"
#include "window/main_window.h"

namespace {

// The selected entry of a list: its text (GBK) and its sample's address (empty when the
// catalogue lists none).
struct Selection {
    std::string name;
    std::string address;
};

std::optional<Selection> SelectedSpeaker(const MainWindow& window) {
    const QComboBox* list = window.组合框_即时广播_发音人;
    const int index = ReadSelectedIndex(list);
    if (index < 0) {
        return std::nullopt;
    }
    Selection selection{.name = ReadListText(list), .address = {}};
    const std::string id = std::to_string(ReadItemValue(list, index));
    for (const SpeakerRecord& record : SpeakerCatalogue().Snapshot()) {
        if (record.id == id) {
            selection.address = record.voxUrl;
            break;
        }
    }
    return selection;
}

// "无" (value -1) selects no track.
std::optional<Selection> SelectedTrack(const MainWindow& window) {
    const QComboBox* list = window.组合框_即时广播_背景音乐;
    const int value = ReadItemValue(list, ReadSelectedIndex(list));
    if (value < 0) {
        return std::nullopt;
    }
    Selection selection{.name = ReadListText(list), .address = {}};
    const int position = FindBackgroundRecord(std::to_string(value));
    if (const std::optional<BackgroundRecord> record =
            position > 0 ? BackgroundCatalogue().At(static_cast<std::size_t>(position))
                         : std::nullopt) {
        selection.address = record->voxUrl;
    }
    return selection;
}

// Watches the window for the length of one fetch, which processes the window's events: Stop, a
// close or the window's destruction abandons it (the exchange in flight is aborted), and the
// guarded pointer tells whether the window still exists.
class FetchWatch final : public QObject {
  public:
    explicit FetchWatch(MainWindow& window) : window_(&window) {
        window.installEventFilter(this);
        QObject::connect(&window, &QObject::destroyed, this, [this] { abandoned_ = true; });
    }

    ~FetchWatch() override {
        if (window_) {
            window_->removeEventFilter(this);
        }
    }

    const std::atomic<bool>& Abandoned() const { return abandoned_; }
    void Cancel() { abandoned_ = true; }
    MainWindow* Window() const { return window_.data(); }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            abandoned_ = true;
        }
        return false;
    }

  private:
    QPointer<MainWindow> window_;
    std::atomic<bool> abandoned_{false};
};

// The fetch under way on the window's thread, if any.
FetchWatch* runningFetch = nullptr;

class RunningFetch {
  public:
    explicit RunningFetch(FetchWatch& fetch) { runningFetch = &fetch; }
    ~RunningFetch() { runningFetch = nullptr; }
    RunningFetch(const RunningFetch&) = delete;
    RunningFetch& operator=(const RunningFetch&) = delete;
};

}  // namespace

void ConnectAuditionCommand(MainWindow& window) {
    QObject::connect(&window, &MainWindow::speakerAuditionRequested, &window,
                     [&window] { OnAuditionRequested(window, AuditionList::Speakers); });
    QObject::connect(&window, &MainWindow::trackAuditionRequested, &window,
                     [&window] { OnAuditionRequested(window, AuditionList::Tracks); });
    QObject::connect(&window, &MainWindow::stopClicked, &window, [] {
        if (runningFetch != nullptr) {
            runningFetch->Cancel();
        }
    });
}

void OnAuditionRequested(MainWindow& window, AuditionList list) {
    if (runningFetch != nullptr) {
        return;
    }
    if (PlayJobRunning()) {
        SetStatusCaption(window, "正在合成语音，暂不能试听");
        return;
    }
    const bool speakers = list == AuditionList::Speakers;
    const std::optional<Selection> selected =
        speakers ? SelectedSpeaker(window) : SelectedTrack(window);
    if (!selected) {
        SetStatusCaption(window, speakers ? "试听失败：未选择发音人" : "试听失败：未选择背景音乐");
        return;
    }

    SampleOutcome outcome;
    std::string path;
    if (SampleIsCached(selected->address)) {
        path = FetchSample(selected->address, &outcome);
    } else {
        SetStatusCaption(window, "正在获取试听音频，请稍候...");
        // A Play started now would run inside this fetch and be played over when it returns.
        QPushButton* play = window.超级按钮_即时广播_播放;
        const bool playWasEnabled = play->isEnabled();
        EnableControl(play, false);
        FetchWatch watch(window);
        const RunningFetch running(watch);
        path = FetchSample(selected->address, &outcome, &watch.Abandoned());
        if (watch.Window() == nullptr) {
            return;
        }
        EnableControl(play, playWasEnabled);
        if (watch.Abandoned()) {
            SetStatusCaption(window, "试听已取消");
            return;
        }
    }
    if (path.empty()) {
        SetStatusCaption(window, AuditionFailureCaption(outcome));
        return;
    }
    if (!CurrentPlaybackAlias.empty()) {
        CloseClip(CurrentPlaybackAlias);
    }
    CurrentPlaybackAlias = std::to_string(ProbeClipLength(path));
    OpenAndPlayClip(path, CurrentPlaybackAlias);
    SetStatusCaption(window, "正在试听：" + selected->name);
}
