// The shell calls of host/winapi.h: ShellExecuteA on the desktop association (subhost/shell.h), the
// Open With dialog answered from its own queue, and the busy test of CreateFileA.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "host/winapi.h"
#include "subhost/shell.h"
#include "subhost/state.h"

namespace subhost::shell {
namespace {

// Module state: the queued Open With answers and the files CreateFileA opened.
struct ShellExecState {
    std::mutex lock;
    std::deque<std::optional<std::string>> openWith;  // command line, or nullopt for cancel
    std::map<std::intptr_t, int> files;               // handle number -> descriptor
    std::intptr_t nextHandle = 0x5000;
};

ShellExecState& execState() {
    static ShellExecState state;
    return state;
}

HINSTANCE result(std::intptr_t value) { return reinterpret_cast<HINSTANCE>(value); }

nlohmann::json words(const std::vector<std::string>& argv) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& a : argv) list.push_back(utf8Narrow(a.c_str()));
    return list;
}

void startFailure(const std::vector<std::string>& argv, int error) {
    const std::string brief =
        "cannot start " + (argv.empty() ? std::string("an empty command") : argv[0]) + ": " + std::strerror(error);
    recordEvent({{"event", "messageCenter"}, {"priority", 10}, {"brief", utf8Narrow(brief.c_str())}});
}

// The Open With dialog: the next queued answer chooses the program (the file appended to its command
// line), a cancel or no answer chooses none.
void openWithDialog(const std::string& path) {
    std::optional<std::string> answer;
    {
        std::lock_guard<std::mutex> guard(execState().lock);
        if (!execState().openWith.empty()) {
            answer = execState().openWith.front();
            execState().openWith.pop_front();
        }
    }
    recordEvent({{"event", "openWith"},
                 {"path", utf8Narrow(path.c_str())},
                 {"answer", answer ? utf8Narrow(answer->c_str()) : std::string("cancel")}});
    if (!answer) return;
    std::vector<std::string> argv = splitCommandLine(*answer);
    argv.push_back(path);
    if (const int error = startDetached(argv); error != 0) startFailure(argv, error);
}

// The file's own check before any program is looked for: 0 when it can be read.
std::intptr_t fileProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == EACCES ? SE_ERR_ACCESSDENIED : SE_ERR_FNF;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOMEM ? SE_ERR_OOM : SE_ERR_ACCESSDENIED;
    ::close(fd);
    return 0;
}

std::intptr_t associatedStart(const std::string& verb, const std::string& path) {
    if (const std::intptr_t problem = fileProblem(path); problem != 0) return problem;
    const std::vector<std::string> argv = associatedCommand(path);
    if (argv.empty()) return SE_ERR_NOASSOC;
    const int error = startDetached(argv);
    recordEvent({{"event", "shellExecute"},
                 {"verb", verb},
                 {"path", utf8Narrow(path.c_str())},
                 {"command", words(argv)},
                 {"error", error == 0 ? std::string() : std::string(std::strerror(error))}});
    if (error == ENOMEM) return SE_ERR_OOM;
    return error == 0 ? 42 : SE_ERR_BADFORMAT;
}

// True when another process holds a write lock on the open file (fcntl record lock or flock).
bool lockedByOther(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK;
    ::flock(fd, LOCK_UN);
    return false;
}

}  // namespace

void queueOpenWithAnswer(std::optional<std::string> command) {
    std::lock_guard<std::mutex> guard(execState().lock);
    execState().openWith.push_back(std::move(command));
}

std::size_t clearOpenWithAnswers() {
    std::lock_guard<std::mutex> guard(execState().lock);
    const std::size_t left = execState().openWith.size();
    execState().openWith.clear();
    return left;
}

}  // namespace subhost::shell

extern "C" {

HINSTANCE ShellExecuteA(HWND, const char* verb, const char* file, const char*, const char*, int) {
    using namespace subhost::shell;
    if (!file || !*file) return result(SE_ERR_FNF);
    const std::string how = verb ? verb : "open";
    if (how == "openas") {
        openWithDialog(file);
        return result(42);
    }
    return result(associatedStart(how, file));
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD, void*, DWORD creation, DWORD, HANDLE) {
    using namespace subhost::shell;
    if (!name || creation != OPEN_EXISTING) return INVALID_HANDLE_VALUE;
    const int flags = (access & GENERIC_WRITE) ? O_WRONLY | O_APPEND : O_RDONLY;
    const int fd = ::open(name, flags | O_CLOEXEC);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    if (lockedByOther(fd)) {
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> guard(execState().lock);
    const std::intptr_t handle = execState().nextHandle++;
    execState().files[handle] = fd;
    return reinterpret_cast<HANDLE>(handle);
}

BOOL CloseHandle(HANDLE handle) {
    using namespace subhost::shell;
    std::lock_guard<std::mutex> guard(execState().lock);
    auto it = execState().files.find(reinterpret_cast<std::intptr_t>(handle));
    if (it == execState().files.end()) return 0;
    ::close(it->second);
    execState().files.erase(it);
    return 1;
}

}  // extern "C"
