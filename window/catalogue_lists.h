#pragma once
// The speaker and background-track lists of the main window, filled from the catalogues.

class MainWindow;

// Rebuilds the speaker list from the speakers of the category, in catalogue order, and selects
// the first; an empty category leaves nothing selected.
void FillSpeakerList(MainWindow& window, int category);
// Rebuilds the track list: "无" (value -1) first, then the tracks of the list in catalogue
// order; "无" is selected.
void FillBackgroundTrackList(MainWindow& window, int list);

// Item-selected handlers of the two type lists: refill from the catalogues for the picked
// item's number (index + 1), without asking the service.
void OnVoiceTypeSelected(MainWindow& window);
void OnBackgroundTypeSelected(MainWindow& window);
