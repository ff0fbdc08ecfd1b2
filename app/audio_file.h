#pragma once
// Where the audio of a synthesis goes and how it gets there, for the window's Play and the
// command line alike: the ".mp3" rule, the existence check and the atomic write. No Qt here.

#include <string>

// True when something (a dangling link included) already has that name.
bool PathExists(const std::string& path);

// The file the audio goes to for a name chosen in the save dialog: the name itself when it ends
// in ".mp3" (any letter case), else the name with ".mp3" appended.
std::string Mp3PathFor(const std::string& chosen);

// Makes bytes the whole content of the file at path, or leaves the file as it was: they go to a
// temporary file in the same folder that replaces the file only once it is complete and on
// disk. A replaced file keeps its permissions; a new one gets those the umask allows. False
// when anything failed.
bool WriteFileAtomically(const std::string& path, const std::string& bytes);
