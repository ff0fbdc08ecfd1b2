#pragma once
// Pause markers: the insert-pause button opens the drop-down of the hidden pause-time list, and
// the entry picked there goes into the content box as "[" + entry + "]" at the caret, replacing
// any selection, as one undoable edit. Everything here runs on the window's thread.

#include <string>

class MainWindow;
class QWidget;

// Makes the insert-pause button and the pause-time list call the two handlers below.
void ConnectPauseMarkers(MainWindow& window);

// The insert-pause button: opens the pause-time list's drop-down below the button.
void OnInsertPauseClicked(MainWindow& window);
// An entry was picked from the opened list (also the one already selected).
void OnPauseTimeSelected(MainWindow& window);

// Gives the content box the keyboard focus and replaces its selection with the text (GBK).
void InsertAtCaret(MainWindow& window, const std::string& text);
// Gives control the keyboard focus; returns the widget that had it before (null when none).
QWidget* FocusControl(QWidget* control);
