#pragma once
// dubdesk synthesize: one synthesis from the command line, without a window. It runs the same
// job, catalogue fetches and player as the window and writes the audio the way the Play command
// does. The core takes parsed options and streams, so it runs the same in tests as in main.

#include <iosfwd>

#include "app/synthesize_options.h"

// The exit statuses. A SIGHUP, SIGINT or SIGTERM while the file waits to be written removes it
// and ends the process with 128 + the signal's number (129, 130, 143).
inline constexpr int kExitWritten = 0;    // written (or listed, helped)
inline constexpr int kExitNoAudio = 1;    // the service gave no audio or could not be asked
inline constexpr int kExitUsage = 2;      // the command line cannot be carried out as given
inline constexpr int kExitFileError = 3;  // the text file could not be read or the MP3 written

// Carries out a parsed command line: progress and complaints go to err, tables and the final
// line to out; in is read for "--text-file -". Returns one of the exit statuses above; text
// from the service reaches out and err with its control characters escaped. Runs on the
// thread that may wait between requests; --play needs a Qt application object.
int RunSynthesizeCommand(const SynthesizeCommandLine& line, std::istream& in, std::ostream& out,
                         std::ostream& err);
