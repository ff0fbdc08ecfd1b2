#pragma once
// The Play command: asks where to save, runs one synthesis job with the window's settings,
// writes the audio it yields to the file and plays that file. Everything here runs on the
// window's thread, inside the click handler; the job keeps the window's events flowing while it
// waits, so the window may be closed or destroyed before the job returns, and then the job is
// abandoned without touching the window again.

#include <functional>
#include <string>

class MainWindow;

// Makes the Play button call OnPlayClicked and the Stop button OnStopCommand.
void ConnectPlayCommand(MainWindow& window);

// Stop: while a Play's job runs, cancels it at once (the exchange in flight is aborted, nothing
// more is sent, written or played; the caption says the synthesis was cancelled); otherwise
// closes the clip that plays.
void OnStopCommand();

// True while a Play's job runs (from its start until it returns).
bool PlayJobRunning();

// Play: with content in the box, asks for the file, confirms replacing an existing file the
// dialog did not confirm itself, disables Play and runs SynthesizeAndPlay.
void OnPlayClicked(MainWindow& window);

// One synthesis from the window's current settings into the file at path (file system
// encoding): the open clip is closed, the job runs, and only audio that came back is written
// (atomically) and played. The caption tells "语音合成完毕" or "语音合成失败"; Play is enabled
// again at the end. Returns early without touching the window if it went away during the job.
void SynthesizeAndPlay(MainWindow& window, const std::string& path);

// 1-based position of the first background record whose id equals the text byte for byte; 0
// when there is none.
int FindBackgroundRecord(const std::string& id);

// Asked before the audio replaces an existing file whose name the save dialog did not confirm
// (the suffix was appended after it): true to replace. The real one is a message box.
using ReplaceQuestion = std::function<bool(MainWindow& window, const std::string& path)>;
// Tests put their own in place; an empty function restores the message box.
void SetReplaceQuestion(ReplaceQuestion question);
