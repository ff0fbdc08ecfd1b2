#pragma once
// The audio player: plays the MP3 file the Play command has just written and stops it on
// request. The only state is the alias of the clip now open. Every operation goes through a
// media device seam (clips opened under an alias, played in the background, closed by alias);
// the real device decodes with libmpg123 and plays through a Qt audio sink. Failures are never
// reported. Everything here runs on the window's thread.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

// The alias of the clip now open: the decimal length of the clip in milliseconds, "0" when its
// length could not be read; empty when no clip has been opened since the last Play began.
extern std::string CurrentPlaybackAlias;

// The media device seam. Paths are in the file system's encoding, as the save dialog gives them.
class MediaPlayer {
  public:
    virtual ~MediaPlayer() = default;
    // Opens the file as a clip under the alias; false when the file is no readable MP3 or the
    // alias is already in use.
    virtual bool Open(const std::string& path, const std::string& alias) = 0;
    // Length of the clip in milliseconds; nothing when no clip has the alias.
    virtual std::optional<std::int32_t> LengthMs(const std::string& alias) = 0;
    // Starts playing the clip in the background and returns at once; false when there is no such
    // clip or no sound output could be opened.
    virtual bool Play(const std::string& alias) = 0;
    // Stops the clip at once and releases it; false when no clip has the alias.
    virtual bool Close(const std::string& alias) = 0;
};

// The real device: libmpg123 decodes (exact length, gapless), a Qt audio sink plays. Without a
// sound server, clips still open but playing fails quietly.
class Mp3Player final : public MediaPlayer {
  public:
    Mp3Player();
    ~Mp3Player() override;

    bool Open(const std::string& path, const std::string& alias) override;
    std::optional<std::int32_t> LengthMs(const std::string& alias) override;
    bool Play(const std::string& alias) override;
    bool Close(const std::string& alias) override;

    bool IsOpen(const std::string& alias) const;
    // True from a successful Play until Close, also after the sound has ended by itself.
    bool IsPlaying(const std::string& alias) const;

  private:
    struct Clip;
    std::map<std::string, std::unique_ptr<Clip>> clips_;
};

// The device the operations below use: the one installed, else the process's Mp3Player, which
// lives until the application object is destroyed.
MediaPlayer& ActiveMediaPlayer();
// Puts player (not owned) in place of the process's own; null puts the process's own back.
void InstallMediaPlayer(MediaPlayer* player);

// Closes the clip opened under alias; true when there was one.
bool CloseClip(const std::string& alias);
// The length in milliseconds of the MP3 file at path; 0 when it cannot be read.
std::int32_t ProbeClipLength(const std::string& path);
// Closes whatever is open under alias, opens the file under it and starts playing; true when
// playing started.
bool OpenAndPlayClip(const std::string& path, const std::string& alias);
// Stop: closes the clip of CurrentPlaybackAlias, if any; the alias keeps its value.
void OnStopClicked();
