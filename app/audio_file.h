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
// errorNumber (when given) receives the system's reason: 0 when written.
bool WriteFileAtomically(const std::string& path, const std::string& bytes,
                         int* errorNumber = nullptr);

// The audio file on its way: the hidden temporary file beside path exists from construction,
// so an unwritable folder is known before any work is done, and it is removed again unless
// Commit made it the file at path. Commit writes everything, syncs and renames.
class PendingAudioFile {
  public:
    explicit PendingAudioFile(const std::string& path);
    ~PendingAudioFile();
    PendingAudioFile(const PendingAudioFile&) = delete;
    PendingAudioFile& operator=(const PendingAudioFile&) = delete;

    // The system's reason (errno) for the last failure; 0 while all is well.
    int Error() const { return error_; }
    // Where the bytes wait; empty when it could not be made or once committed.
    const std::string& TemporaryPath() const { return temporary_; }
    // Once only. False (with Error) when anything failed; the file at path is then untouched.
    bool Commit(const std::string& bytes);

  private:
    std::string path_;
    std::string folder_;
    std::string temporary_;
    int fd_ = -1;
    int error_ = 0;
};
