#pragma once
// Where the local server keeps its files: the catalogue and the result poll hand these addresses
// out, the routing serves them, and a submit names its background track by one.

namespace dubserver {

inline constexpr char kSpeakerFilesPath[] = "/files/reader/";   // + id + ".svg" or ".mp3"
inline constexpr char kTrackPath[] = "/bgvox/";                 // + id: redirects to the file
inline constexpr char kTrackFilesPath[] = "/files/bgvox/";      // + id + ".mp3"
inline constexpr char kDubbingFilesPath[] = "/files/dubbing/";  // + serial + ".mp3"

}  // namespace dubserver
