#pragma once
// Test clips: sine tones encoded to MP3 with the encoder's info tag, so that a decoder knows the
// exact number of samples, and temporary folders whose names need typed paths.

#include <filesystem>
#include <string>

// An MP3 of a 1 kHz sine tone lasting exactly `frames` sample frames, at 0.4 of full scale but
// for its last loudTailFrames, which are twice as loud: how long the loud tail sounds shows
// whether the end of a clip was played.
std::string EncodeToneMp3(int sampleRate, int channels, long frames, long loudTailFrames = 0);

// The first MPEG frame of an MP3 without ID3 tags (a tone above: the encoder's Info tag), and
// the frames after it. Together they are the whole clip; the rest alone is the clip without
// its tag, as an encoder that writes none would have left it.
std::string FirstFrame(const std::string& mp3);
std::string AfterFirstFrame(const std::string& mp3);

// A fresh folder under the system's temporary folder, with blanks and Chinese in its name;
// removed with everything in it when the object goes.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes bytes to a file of that name in the folder; returns its full path.
    std::filesystem::path Write(const std::string& name, const std::string& bytes) const;

  private:
    std::filesystem::path path_;
};
