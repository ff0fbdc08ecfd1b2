#include "app/audio_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <utility>

namespace {

class UniqueFd {
  public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    // Closes now; false when closing reported an error (a delayed write error included).
    bool Close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// The process's umask, read without changing it (umask() itself can only be read by setting).
mode_t ProcessUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
        }
    }
    return 022;
}

// What a file the user asked for is created with, or keeps when it is replaced.
mode_t ModeFor(const std::string& path) {
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        return existing.st_mode & 07777;
    }
    return 0666 & ~ProcessUmask();
}

}  // namespace

bool PathExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

std::string Mp3PathFor(const std::string& chosen) {
    const std::string suffix = ".mp3";
    if (chosen.size() >= suffix.size()) {
        std::string ending = chosen.substr(chosen.size() - suffix.size());
        for (char& c : ending) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        if (ending == suffix) {
            return chosen;
        }
    }
    return chosen + suffix;
}

PendingAudioFile::PendingAudioFile(const std::string& path) : path_(path) {
    const std::filesystem::path target(path);
    folder_ = target.parent_path().string();
    if (folder_.empty()) {
        folder_ = ".";
    }
    // Hidden, so that a save dialog open meanwhile does not offer it.
    temporary_ =
        (std::filesystem::path(folder_) / ("." + target.filename().string() + ".XXXXXX")).string();
    fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        temporary_.clear();
    }
}

PendingAudioFile::~PendingAudioFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
    }
}

bool PendingAudioFile::Commit(const std::string& bytes) {
    if (fd_ < 0) {
        error_ = error_ != 0 ? error_ : EBADF;
        return false;
    }
    UniqueFd file(std::exchange(fd_, -1));
    const auto failed = [this] {
        error_ = errno != 0 ? errno : EIO;
        return false;
    };
    errno = 0;
    if (::fchmod(file.get(), ModeFor(path_)) != 0 || !WriteAll(file.get(), bytes) ||
        ::fsync(file.get()) != 0 || !file.Close()) {
        return failed();
    }
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
        return failed();
    }
    temporary_.clear();
    // The new name itself is on disk only once the folder is.
    const UniqueFd folderFd(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() >= 0) {
        ::fsync(folderFd.get());
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, int* errorNumber) {
    PendingAudioFile file(path);
    const bool written = file.Commit(bytes);
    if (errorNumber != nullptr) {
        *errorNumber = written ? 0 : file.Error();
    }
    return written;
}
