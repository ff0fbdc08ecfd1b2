#pragma once
// What the server may offer, as tables: every speaker with its voice, categories and sample
// text, and every background track with the mood its music is made from.

#include <vector>

#include "server/server_catalogue.h"

namespace dubserver {

// Reads Chinese characters as Mandarin: most speakers' voice and the default voice.
inline constexpr char kMandarinVoice[] = "cmn-latn-pinyin";

// Every speaker, whether or not the installed voice data can speak it.
std::vector<Speaker> SpeakerTable();
std::vector<BackgroundTrack> TrackTable();

}  // namespace dubserver
