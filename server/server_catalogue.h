#pragma once
// What the server offers: speakers (espeak-ng voices) in five categories and generated
// background tracks in the custom list and nine categories, with the JSON answers of the
// catalogue endpoints. Categories are the numbers of the request paths (readerInfo/12,
// bgVoxInfo/4, ...). Audio is made on first use and kept for the life of the process.

#include <string>
#include <string_view>
#include <vector>

#include "server/background_music.h"
#include "server/speech_synthesis.h"

namespace dubserver {

struct Speaker {
    int id;
    std::string name;
    std::string voice;            // espeak-ng voice name, lower case
    std::string variant;          // empty: the voice as it is
    std::vector<int> categories;  // readerInfo path numbers that list the speaker
    std::string sampleText;       // what the speaker says in its sample clip
};

struct BackgroundTrack {
    int id;
    std::string name;
    int category;  // bgVoxInfo path number; 0 for the custom list
    MusicMood mood;
};

// The speakers whose voice and variant the installed voice data has.
const std::vector<Speaker>& Speakers();
const Speaker* FindSpeaker(int id);
std::string VoiceOf(const Speaker& speaker);
// The voice of an unknown speaker id (the client sends 8 when none is chosen).
std::string DefaultVoice();

const std::vector<BackgroundTrack>& BackgroundTracks();
const BackgroundTrack* FindBackgroundTrack(int id);

struct TrackAudio {
    Samples samples;  // one seamless loop
    std::string mp3;
};
const TrackAudio& AudioOfTrack(const BackgroundTrack& track);
// The speaker's sample clip as MP3; empty when the voice cannot speak.
const std::string& SampleOfSpeaker(const Speaker& speaker);
// A small SVG picture with the speaker's first character.
std::string PictureOfSpeaker(const Speaker& speaker);

// Addresses handed out, under the origin the request came to ("http://host:port").
std::string TrackAddress(std::string_view origin, int trackId);
std::string TrackFileAddress(std::string_view origin, int trackId);

// Answers of readerInfo/n, bgVoxInfo/n and customBgVoxList. Unknown categories give an empty
// list.
std::string SpeakerListAnswer(int category, std::string_view origin);
std::string TrackListAnswer(int category, std::string_view origin);
std::string CustomTrackListAnswer(int page, int pageCount, std::string_view origin);

}  // namespace dubserver
