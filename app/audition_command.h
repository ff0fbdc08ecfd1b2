#pragma once
// Audition from the window: the sample of the selected speaker or the selected background track
// is fetched (or found in the cache) and played under the clip alias Stop closes. Runs on the
// window's thread; the fetch keeps the window's events flowing. A Play's job is never disturbed:
// audition is refused while one runs, and Play waits (disabled) while a sample is fetched.

class MainWindow;

// Makes the window's audition requests call OnAuditionRequested, and Stop cancel a fetch under
// way.
void ConnectAuditionCommand(MainWindow& window);

enum class AuditionList { Speakers, Tracks };

// Plays the sample of the list's selected entry. The caption says what is heard, or why
// nothing is: no entry selected, a Play's job running, or why the sample could not be had. A
// second request while a fetch is under way is ignored; Stop or closing the window during the
// fetch abandons it and nothing is played.
void OnAuditionRequested(MainWindow& window, AuditionList list);
