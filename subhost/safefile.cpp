// Safe replacement of files: exclusive temporaries, rename over, locks, stale clean-up.
#include "subhost/safefile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

namespace subhost::safefile {
namespace fs = std::filesystem;

namespace {

std::string errnoText(int error) { return std::strerror(error); }

// A number for this process's next temporary: a counter, mixed with a random start so that a
// name left by an earlier process of the same number is not met again at once.
unsigned long nextNumber() {
    static std::atomic<unsigned long> counter{std::random_device{}() & 0xFFFFFu};
    return counter++;
}

// The process number in a working file's name, or 0 when the name is not one of ours.
long ownerOf(const std::string& name) {
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() <= 10 && s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (name.size() < 2 || name[0] != '.') return 0;
    const auto lastDash = name.rfind('-');
    if (lastDash == std::string::npos || !digits(name.substr(lastDash + 1))) return 0;
    const auto pidDash = name.rfind('-', lastDash - 1);
    if (pidDash == std::string::npos || !digits(name.substr(pidDash + 1, lastDash - pidDash - 1))) return 0;
    const std::string head = name.substr(0, pidDash);
    for (const std::string kind : {".pxmtmp", ".undo"})
        if (head.size() > kind.size() + 1 && head.compare(head.size() - kind.size(), kind.size(), kind) == 0)
            return std::stol(name.substr(pidDash + 1, lastDash - pidDash - 1));
    return 0;
}

bool processRuns(long pid) {
    if (pid <= 0) return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

std::string temporaryNameFor(const std::string& target) {
    const fs::path p(target);
    const std::string name =
        "." + p.filename().string() + ".pxmtmp-" + std::to_string(::getpid()) + "-" + std::to_string(nextNumber());
    return (p.parent_path() / name).string();
}

bool isWorkingFileName(const std::string& name) { return ownerOf(name) != 0; }

int countWorkingFiles(const std::string& folder) {
    int count = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec))
        count += ownerOf(it->path().filename().string()) != 0;
    return count;
}

int removeStaleWorkingFiles(const std::string& folder) {
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const long owner = ownerOf(name);
        if (owner == 0 || processRuns(owner)) continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
        if (::unlink(it->path().c_str()) == 0) ++removed;
    }
    return removed;
}

// ---- TempFile ----

std::optional<TempFile> TempFile::create(const std::string& target, std::string* error) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string path = temporaryNameFor(target);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return TempFile(target, path);
        }
        if (errno != EEXIST) {
            if (error)
                *error = "cannot create a temporary file in " + fs::path(target).parent_path().string() + ": " +
                         errnoText(errno);
            return std::nullopt;
        }
    }
    if (error) *error = "cannot find a free temporary file name beside " + target;
    return std::nullopt;
}

TempFile::TempFile(TempFile&& other) noexcept
    : target_(std::move(other.target_)), path_(std::move(other.path_)), committed_(other.committed_) {
    other.committed_ = true;  // the moved-from object owns nothing
}

TempFile::~TempFile() {
    if (committed_) return;
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(path_.c_str());
}

bool TempFile::commit(std::string* error) {
    auto failed = [&](const std::string& what, int code) {
        if (error) {
            *error = what + ": " + errnoText(code);
            if (code == ENOSPC || code == EDQUOT) *error += " (the disk is full)";
        }
        return false;
    };
    // The encoders may have reopened the file by name: it must still be the regular file made here.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return failed("cannot reopen the temporary file " + path_, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int code = errno;
        ::close(fd);
        return failed("the temporary file " + path_ + " is no longer a regular file", code ? code : EINVAL);
    }
    struct stat target {};
    if (::stat(target_.c_str(), &target) == 0 && ::fchmod(fd, target.st_mode & 07777) != 0) {
        const int code = errno;
        ::close(fd);
        return failed("cannot set the permissions of " + path_, code);
    }
    if (::fsync(fd) != 0) {
        const int code = errno;
        ::close(fd);
        return failed("cannot write " + path_ + " to disk", code);
    }
    ::close(fd);
    if (std::rename(path_.c_str(), target_.c_str()) != 0) return failed("cannot replace " + target_, errno);
    committed_ = true;
    return true;
}

// ---- FileLock ----

double lockWaitSeconds() {
    const char* text = std::getenv("PXMEND_LOCK_WAIT");
    if (!text || !*text) return 30.0;
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (*end != 0 || !(seconds >= 0)) return 30.0;
    return std::min(seconds, 3600.0);
}

std::optional<FileLock> FileLock::acquire(const std::string& path, double waitSeconds, std::string* error) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(waitSeconds);
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            if (errno == ENOENT) return FileLock(-1);
            if (error) *error = "cannot open " + path + " to lock it: " + errnoText(errno);
            return std::nullopt;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Another writer may have replaced the file while this one waited: lock the file the
            // name holds now.
            struct stat locked {
            }, named{};
            if (::fstat(fd, &locked) == 0 && ::stat(path.c_str(), &named) == 0 && locked.st_dev == named.st_dev &&
                locked.st_ino == named.st_ino)
                return FileLock(fd);
            ::close(fd);
            continue;
        }
        const int code = errno;
        ::close(fd);
        if (code != EWOULDBLOCK) {
            if (error) *error = "cannot lock " + path + ": " + errnoText(code);
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            if (error) *error = "another program is writing " + path + "; try again when it has finished";
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

}  // namespace subhost::safefile
