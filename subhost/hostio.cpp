// The host's file and system services (host/hostio.h): the one writer of small
// files that the add-on's settings file and the support library's data file both
// go through, the bounded reader, the local time and the huge-page hint.
#include "host/hostio.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "subhost/safefile.h"

namespace {

// A file descriptor closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now; 0, or the error code of close.
    int j_close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// The error code of the last failed call; EIO when the call left none.
int j_lastError() { return errno != 0 ? errno : EIO; }

// Writes all size bytes of data into fd from offset at; 0, or the error code (a write that takes
// nothing means there is no room left: ENOSPC).
int j_writeAll(int fd, const char* data, std::size_t size, off_t at) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return j_lastError();
        if (n == 0) return ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Reads all of fd from its start into text; 0, or the error code.
int j_readAll(int fd, std::string& text) {
    char block[8192];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, block, sizeof block, at);
        if (n == 0) return 0;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return j_lastError();
        text.append(block, static_cast<std::size_t>(n));
        at += n;
    }
}

// Writes data over the whole of fd and makes it that long, flushed to disk; 0, or the error code.
int j_fileSet(int fd, const char* data, std::size_t size) {
    if (const int code = j_writeAll(fd, data, size, 0)) return code;
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return j_lastError();
    return ::fsync(fd) == 0 ? 0 : j_lastError();
}

// Gives the existing regular file at path exactly data, written into the file itself: for a folder
// where no temporary file can be made. The old content is read first and put back when the write
// fails, so that a failure leaves the file as it was (unless putting it back fails too, as it can
// when the disk goes away). 0, or the error code.
int j_rewriteInPlace(const std::string& path, const char* data, std::size_t size) {
    Descriptor fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0) return j_lastError();
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return j_lastError();
    if (!S_ISREG(info.st_mode)) return EINVAL;
    std::string old;
    if (const int code = j_readAll(fd.get(), old)) return code;
    const int code = j_fileSet(fd.get(), data, size);
    if (code != 0) j_fileSet(fd.get(), old.data(), old.size());
    const int closed = fd.j_close();
    return code != 0 ? code : closed;
}

// Creates a new, empty temporary file beside target under a name no other writer uses (see
// subhost/safefile.h); the open descriptor, or -1 with errno set.
int j_temporaryCreate(const std::string& target, std::string& temporary) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = subhost::safefile::temporaryNameFor(target);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The permission bits a replacement of path gets: those of the regular file there, else the usual
// ones of a new file (0666 less the process's umask).
mode_t n_replacementMode(const struct stat* current) {
    if (current) return current->st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Writes data to a new temporary file beside path, flushes it and renames it over path; the
// temporary is removed when anything fails. 0, or the error code (errno of the temporary's
// creation is kept for the caller in *createError when that is what failed).
int j_replaceThroughTemporary(const std::string& path, const char* data, std::size_t size, const struct stat* current,
                              int* createError) {
    std::string temporary;
    Descriptor fd(j_temporaryCreate(path, temporary));
    if (fd.get() < 0) return *createError = j_lastError();
    int code = ::fchmod(fd.get(), n_replacementMode(current)) == 0 ? 0 : j_lastError();
    if (code == 0) code = j_writeAll(fd.get(), data, size, 0);
    if (code == 0 && ::fsync(fd.get()) != 0) code = j_lastError();
    const int closed = fd.j_close();
    if (code == 0) code = closed;
    if (code == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) code = j_lastError();
    if (code != 0) ::unlink(temporary.c_str());
    return code;
}

// The file a path names for writing: a symbolic link is followed to the file it points at (a
// relative target is taken from the link's folder).
std::string s_writtenPath(const std::string& link) {
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::read_symlink(link, ec);
    if (ec) return link;
    return (std::filesystem::path(link).parent_path() / target).string();  // an absolute target replaces
}

}  // namespace

extern "C" {

int j_hostFileRead(const char* path, HostFileChunkFunc take, void* context) {
    if (!path || !take) return EINVAL;
    Descriptor fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return j_lastError();
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return j_lastError();
    if (!S_ISREG(info.st_mode)) return EINVAL;
    std::vector<char> block(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(fd.get(), block.data(), block.size());
        if (n == 0) return 0;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return j_lastError();
        take(context, block.data(), static_cast<std::size_t>(n));
    }
}

int j_hostFileReplace(const char* link, const void* data, std::size_t size) {
    if (!link || !*link || (!data && size > 0)) return EINVAL;
    const std::string path = s_writtenPath(link);
    const char* bytes = static_cast<const char*>(data);
    struct stat current {};
    const bool regular = ::stat(path.c_str(), &current) == 0 && S_ISREG(current.st_mode);
    // A write-protected file stays as it is, even for a user who could replace it.
    if (regular && ((current.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0)) return EACCES;
    int createError = 0;
    const int code = j_replaceThroughTemporary(path, bytes, size, regular ? &current : nullptr, &createError);
    const bool folderLocked = createError == EACCES || createError == EPERM;
    if (folderLocked && regular) return j_rewriteInPlace(path, bytes, size);
    return code;
}

bool b_hostLocalTime(std::time_t when, std::tm* local) {
    std::tm result{};
    if (!local || ::localtime_r(&when, &result) == nullptr) return false;
    *local = result;
    return true;
}

void v_hostHugePageHint(void* address, std::size_t size) {
    if (address && size > 0) ::madvise(address, size, MADV_HUGEPAGE);
}

}  // extern "C"
