#include "playback/audio_player.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QIODevice>
#include <QMediaDevices>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "playback/mp3_decoder.h"

std::string CurrentPlaybackAlias;

namespace {

// The clip's samples as the sink pulls them, decoded on demand, followed by silence. The sink
// goes idle as soon as this source runs dry, while the sound server still holds up to a whole
// buffer of unplayed audio, and a clip shorter than the server's start threshold would never
// start at all; a buffer's worth of silence after the clip makes sure every real sample has
// been handed over and gets played.
class DecodedPcm final : public QIODevice {
  public:
    explicit DecodedPcm(Mpg123Handle decoder) : decoder_(std::move(decoder)) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    void SetSilenceAfter(qint64 bytes) { silenceLeft_ = bytes; }

    bool isSequential() const override { return true; }
    bool atEnd() const override { return decoded_ && silenceLeft_ == 0; }

  protected:
    qint64 readData(char* data, qint64 maxSize) override {
        while (!decoded_ && maxSize > 0) {
            size_t done = 0;
            const int result =
                mpg123_read(decoder_.get(), data, static_cast<size_t>(maxSize), &done);
            if (done > 0) {
                return static_cast<qint64>(done);
            }
            decoded_ = result != MPG123_NEW_FORMAT;
        }
        const qint64 silence = std::min(maxSize, silenceLeft_);
        std::memset(data, 0, static_cast<size_t>(silence));
        silenceLeft_ -= silence;
        return silence;
    }

    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    Mpg123Handle decoder_;
    bool decoded_ = false;
    qint64 silenceLeft_ = 0;
};

MediaPlayer* installedPlayer = nullptr;

std::unique_ptr<Mp3Player>& OwnPlayer() {
    static std::unique_ptr<Mp3Player> player;
    return player;
}

void ReleaseOwnPlayer() {
    OwnPlayer().reset();
}

}  // namespace

struct Mp3Player::Clip {
    std::unique_ptr<DecodedPcm> pcm;
    QAudioFormat format;
    std::int32_t lengthMs = 0;
    // After pcm, so that it is destroyed first: it reads from pcm until then.
    std::unique_ptr<QAudioSink> sink;
};

Mp3Player::Mp3Player() = default;
Mp3Player::~Mp3Player() = default;

bool Mp3Player::Open(const std::string& path, const std::string& alias) {
    if (clips_.contains(alias)) {
        return false;
    }
    std::optional<OpenedMp3> mp3 = OpenMp3File(path);
    if (!mp3) {
        return false;
    }
    auto clip = std::make_unique<Clip>();
    clip->format.setSampleRate(static_cast<int>(mp3->sampleRate));
    clip->format.setChannelCount(mp3->channels);
    clip->format.setSampleFormat(QAudioFormat::Int16);
    const double lengthMs = std::round(static_cast<double>(mp3->samples) * 1000.0 /
                                       static_cast<double>(mp3->sampleRate));
    clip->lengthMs = static_cast<std::int32_t>(
        std::min(lengthMs, static_cast<double>(std::numeric_limits<std::int32_t>::max())));
    clip->pcm = std::make_unique<DecodedPcm>(std::move(mp3->decoder));
    clips_.emplace(alias, std::move(clip));
    return true;
}

std::optional<std::int32_t> Mp3Player::LengthMs(const std::string& alias) {
    const auto it = clips_.find(alias);
    if (it == clips_.end()) {
        return std::nullopt;
    }
    return it->second->lengthMs;
}

bool Mp3Player::Play(const std::string& alias) {
    const auto it = clips_.find(alias);
    if (it == clips_.end()) {
        return false;
    }
    Clip& clip = *it->second;
    // Like a device already at the end of its clip: nothing more to play, and no error.
    if (clip.sink) {
        return true;
    }
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        return false;
    }
    auto sink = std::make_unique<QAudioSink>(device, clip.format);
    sink->start(clip.pcm.get());
    if (sink->state() == QAudio::StoppedState) {
        return false;
    }
    const qint64 frameBytes = clip.format.bytesPerFrame();
    clip.pcm->SetSilenceAfter((sink->bufferSize() + frameBytes - 1) / frameBytes * frameBytes);
    clip.sink = std::move(sink);
    return true;
}

bool Mp3Player::Close(const std::string& alias) {
    const auto it = clips_.find(alias);
    if (it == clips_.end()) {
        return false;
    }
    // Taken out of the map before it is destroyed: the sink's destructor processes events, and
    // a handler running then must not find the clip half gone.
    auto closing = clips_.extract(it);
    return true;
}

bool Mp3Player::IsOpen(const std::string& alias) const {
    return clips_.contains(alias);
}

bool Mp3Player::IsPlaying(const std::string& alias) const {
    const auto it = clips_.find(alias);
    return it != clips_.end() && it->second->sink != nullptr;
}

MediaPlayer& ActiveMediaPlayer() {
    if (installedPlayer != nullptr) {
        return *installedPlayer;
    }
    std::unique_ptr<Mp3Player>& own = OwnPlayer();
    if (!own) {
        own = std::make_unique<Mp3Player>();
        // Sinks must be gone before the application object and its sound engine.
        qAddPostRoutine(ReleaseOwnPlayer);
    }
    return *own;
}

void InstallMediaPlayer(MediaPlayer* player) {
    installedPlayer = player;
}

bool CloseClip(const std::string& alias) {
    return ActiveMediaPlayer().Close(alias);
}

std::int32_t ProbeClipLength(const std::string& path) {
    MediaPlayer& player = ActiveMediaPlayer();
    // Opened under the path itself, and closed again once the length is known: nothing uses
    // this clip afterwards.
    if (!player.Open(path, path)) {
        return 0;
    }
    const std::int32_t length = player.LengthMs(path).value_or(0);
    player.Close(path);
    return length;
}

bool OpenAndPlayClip(const std::string& path, const std::string& alias) {
    MediaPlayer& player = ActiveMediaPlayer();
    player.Close(alias);
    player.Open(path, alias);
    return player.Play(alias);
}

void OnStopClicked() {
    if (!CurrentPlaybackAlias.empty()) {
        CloseClip(CurrentPlaybackAlias);
    }
}
