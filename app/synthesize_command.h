#pragma once
// dubdesk synthesize: one synthesis from the command line, without a window. It runs the same
// job, catalogue fetches and player as the window and writes the audio the way the Play command
// does. The core takes parsed options and streams, so it runs the same in tests as in main.

#include <iosfwd>

#include "app/synthesize_options.h"

// Carries out a parsed command line: progress and complaints go to err, tables and the final
// line to out; in is read for "--text-file -". Returns the exit status: 0 done, 1 no audio (or
// it could not be written), 2 bad usage. Runs on the thread that may wait between requests;
// --play needs a Qt application object.
int RunSynthesizeCommand(const SynthesizeCommandLine& line, std::istream& in, std::ostream& out,
                         std::ostream& err);
