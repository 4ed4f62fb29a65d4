// Safe replacement of files: temporary files created exclusively under names no
// other writer uses, renamed over their target only when whole; an exclusive lock
// that two processes writing one file respect; and the clean-up of temporaries
// that a killed process left behind.
#pragma once

#include <optional>
#include <string>

namespace subhost::safefile {

// Hidden name of a temporary beside target for this process: ".NAME.pxmtmp-PID-N".
std::string temporaryNameFor(const std::string& target);

// True when a file name (without folder) has the form of a temporary or of a hidden undo link
// this program makes, so that folder scans never take it for a user's file.
bool isWorkingFileName(const std::string& name);

// Gives how many temporaries and hidden undo links folder holds, whoever made them.
int countWorkingFiles(const std::string& folder);

// Removes, in folder, the temporaries and hidden undo links whose process no longer runs;
// gives how many went. Files of living processes and other files are never touched.
int removeStaleWorkingFiles(const std::string& folder);

// A temporary file beside a target: created empty with O_EXCL and O_NOFOLLOW (so that nothing
// planted at its name is followed or reused), removed on destruction unless committed.
class TempFile {
public:
    // Creates the temporary for target; nullopt with *error (naming the folder and the reason).
    static std::optional<TempFile> create(const std::string& target, std::string* error);
    TempFile(TempFile&& other) noexcept;
    TempFile& operator=(TempFile&&) = delete;
    TempFile(const TempFile&) = delete;
    ~TempFile();

    const std::string& path() const { return path_; }
    // Flushes the temporary to disk and renames it over target (keeping target's permission bits
    // when it exists); false with *error, the target untouched and the temporary removed.
    bool commit(std::string* error);

private:
    TempFile(std::string target, std::string path) : target_(std::move(target)), path_(std::move(path)) {}
    std::string target_, path_;
    bool committed_ = false;
};

// An exclusive advisory lock on an existing file (flock), held while the file is replaced; a
// second writer of the same file waits for it. The lock follows the file's name: after another
// writer replaced the file, the new file is locked.
class FileLock {
public:
    // Locks path, waiting up to waitSeconds; nullopt with *error when another process keeps it
    // locked longer, or the file cannot be opened. A missing file needs no lock: an empty lock.
    static std::optional<FileLock> acquire(const std::string& path, double waitSeconds, std::string* error);
    FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileLock& operator=(FileLock&&) = delete;
    FileLock(const FileLock&) = delete;
    ~FileLock();

private:
    explicit FileLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// Seconds a writer waits for another process's lock on the same file before it gives up: the
// environment variable PXMEND_LOCK_WAIT (0 to 3600), else 30.
double lockWaitSeconds();

}  // namespace subhost::safefile
