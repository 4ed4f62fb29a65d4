// The journal of batch runs (see batch_journal.h for its records).
#include "cli/batch_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

namespace pixelmend {
namespace {

namespace fs = std::filesystem;

std::string errnoText() { return std::strerror(errno); }

// The whole content of fd from its start; false when it cannot be read.
bool readAll(int fd, std::string& text) {
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        text.append(buffer, std::size_t(n));
        at += n;
    }
}

// Flushes a folder's entries to disk (a new file's name survives a power loss).
void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Takes the lock on fd, waiting a while for a run that is ending (its workers going) to let go.
bool lockJournal(int fd) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

nlohmann::json header(const nlohmann::json& run) { return {{"journal", "pixelmend batch"}, {"run", run}}; }

}  // namespace

Journal::Journal(Journal&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      files_(std::move(other.files_)),
      made_(std::move(other.made_)) {}

Journal::~Journal() {
    if (fd_ >= 0) ::close(fd_);
}

void Journal::apply(const nlohmann::json& r) {
    const bool begin = r.contains("begin");
    const std::string path = r.value(begin ? "begin" : "end", "");
    if (path.empty()) return;
    JournalFile& f = files_[path];
    f.begun = begin;
    f.ended = !begin;
    f.size = r.value("size", std::int64_t(-1));
    f.mtime = r.value("mtime", std::int64_t(-1));
    f.inode = r.value("inode", std::int64_t(-1));
    if (begin) {
        f.result.clear();
        f.names = r.value("names", std::vector<std::string>{});
    } else {
        f.result = r.value("result", "");
    }
}

void Journal::take(const std::string& text, const nlohmann::json& run, bool* lastIsOurs) {
    bool ours = false;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        const nlohmann::json r =
            nlohmann::json::parse(text.begin() + long(start), text.begin() + long(nl), nullptr, false);
        if (!r.is_object()) continue;  // not ours, or damaged: ignored
        if (r.contains("journal")) {
            ours = r.contains("run") && r["run"] == run;
            continue;
        }
        if (r.contains("end")) {
            const fs::path folder = fs::path(r.value("end", "")).parent_path();
            for (const std::string& name : r.value("made", std::vector<std::string>{}))
                made_.insert((folder / name).string());
        }
        if (ours && (r.contains("begin") || r.contains("end"))) apply(r);
    }
    *lastIsOurs = ours;
}

std::optional<Journal> Journal::open(const std::string& path, const nlohmann::json& run, std::string* error) {
    Journal j;
    j.path_ = path;
    const bool existed = fs::exists(path);
    j.fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (j.fd_ < 0) {
        *error = "cannot open the journal " + path + ": " + errnoText();
        return std::nullopt;
    }
    if (!existed) syncFolder(fs::path(path).parent_path());
    struct stat st {};
    if (::fstat(j.fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = "the journal " + path + " is not a regular file";
        return std::nullopt;
    }
    if (!lockJournal(j.fd_)) {
        *error = "the journal " + path + " is in use by another run";
        return std::nullopt;
    }
    std::string text;
    if (!readAll(j.fd_, text)) {
        *error = "cannot read the journal " + path + ": " + errnoText();
        return std::nullopt;
    }
    // A last line without its newline was being written when the power went: it never happened.
    const std::size_t whole = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
    if (whole < text.size()) {
        if (::ftruncate(j.fd_, off_t(whole)) != 0 || ::fsync(j.fd_) != 0) {
            *error = "cannot cut the torn last line of the journal " + path + ": " + errnoText();
            return std::nullopt;
        }
        text.resize(whole);
    }
    bool lastIsOurs = false;
    j.take(text, run, &lastIsOurs);
    if (!lastIsOurs && !j.append(header(run), error)) return std::nullopt;
    return j;
}

Journal Journal::readOnly(const std::string& path, const nlohmann::json& run) {
    Journal j;
    j.path_ = path;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string text;
    if (fd >= 0 && readAll(fd, text)) {
        text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
        bool lastIsOurs = false;
        j.take(text, run, &lastIsOurs);
    }
    if (fd >= 0) ::close(fd);
    return j;
}

const JournalFile* Journal::find(const std::string& path) const {
    const auto it = files_.find(path);
    return it == files_.end() ? nullptr : &it->second;
}

bool Journal::append(const nlohmann::json& record, std::string* error) {
    if (fd_ < 0) return true;  // read only: nothing is written
    const std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    // One write() for the whole line: a crash leaves the line whole or torn at the end, never mixed.
    const ssize_t n = ::write(fd_, line.data(), line.size());
    if (n != ssize_t(line.size()) || ::fsync(fd_) != 0) {
        *error = "cannot write the journal " + path_ + ": " + (n < 0 ? errnoText() : std::string("short write"));
        return false;
    }
    if (record.contains("begin") || record.contains("end")) apply(record);
    return true;
}

bool Journal::begin(const std::string& path, const FileStamp& s, const std::set<std::string>& names,
                    std::string* error) {
    return append({{"begin", path},
                   {"size", std::int64_t(s.size)},
                   {"mtime", s.modifiedNs()},
                   {"inode", std::int64_t(s.inode)},
                   {"names", names}},
                  error);
}

bool Journal::end(const std::string& path, const std::string& result, const FileStamp& s, const Made& made,
                  const std::string& reason, std::string* error) {
    const fs::path folder = fs::path(path).parent_path();
    for (const std::string& name : made.all) made_.insert((folder / name).string());
    return append({{"end", path},
                   {"result", result},
                   {"size", std::int64_t(s.size)},
                   {"mtime", s.modifiedNs()},
                   {"inode", std::int64_t(s.inode)},
                   {"backup", made.backup},
                   {"output", made.output},
                   {"made", made.all},
                   {"reason", reason}},
                  error);
}

}  // namespace pixelmend
