// The freedesktop association of a file with a program, and starting that program.
#include "subhost/shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

extern char** environ;

namespace subhost::shell {
namespace {

namespace fs = std::filesystem;

// The processes started and not yet collected.
struct ShellState {
    std::mutex lock;
    std::vector<pid_t> started;
};

ShellState& shellState() {
    static ShellState state;
    return state;
}

// Configuration files larger than this are not the user's hand-made lists: they are left unread.
constexpr std::uintmax_t kMaxConfigBytes = 1 << 20;

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// One key file (mimeapps.list, a .desktop file): section name -> key -> value, first value wins.
using KeyFile = std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>;

std::optional<KeyFile> readKeyFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec) || fs::file_size(path, ec) > kMaxConfigBytes || ec) return std::nullopt;
    std::ifstream in(path);
    if (!in) return std::nullopt;
    KeyFile file;
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            file.push_back({line.substr(1, line.size() - 2), {}});
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || file.empty()) continue;
        file.back().second.push_back({trim(line.substr(0, eq)), trim(line.substr(eq + 1))});
    }
    return file;
}

std::optional<std::string> keyValue(const KeyFile& file, const std::string& section, const std::string& key) {
    for (const auto& [name, entries] : file) {
        if (name != section) continue;
        for (const auto& [k, v] : entries)
            if (k == key) return v;
    }
    return std::nullopt;
}

std::vector<std::string> splitList(const std::string& value) {
    std::vector<std::string> items;
    std::string item;
    for (char c : value + ";") {
        if (c != ';') {
            item += c;
            continue;
        }
        if (!trim(item).empty()) items.push_back(trim(item));
        item.clear();
    }
    return items;
}

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::vector<fs::path> dirList(const char* name, const char* fallback) {
    std::string value = env(name);
    if (value.empty()) value = fallback;
    std::vector<fs::path> dirs;
    std::string part;
    for (char c : value + ":") {
        if (c != ':') {
            part += c;
            continue;
        }
        if (!part.empty() && part[0] == '/') dirs.emplace_back(part);
        part.clear();
    }
    return dirs;
}

fs::path homeDir(const char* name, const char* relative) {
    const std::string value = env(name);
    if (!value.empty() && value[0] == '/') return value;
    return fs::path(env("HOME")) / relative;
}

// The folders that hold applications (.desktop files), most important first.
std::vector<fs::path> applicationDirs() {
    std::vector<fs::path> dirs{homeDir("XDG_DATA_HOME", ".local/share") / "applications"};
    for (const auto& d : dirList("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) dirs.push_back(d / "applications");
    return dirs;
}

// The mimeapps.list files, most important first.
std::vector<fs::path> mimeappsLists() {
    std::vector<fs::path> lists{homeDir("XDG_CONFIG_HOME", ".config") / "mimeapps.list"};
    for (const auto& d : dirList("XDG_CONFIG_DIRS", "/etc/xdg")) lists.push_back(d / "mimeapps.list");
    for (const auto& d : applicationDirs()) lists.push_back(d / "mimeapps.list");
    return lists;
}

// The desktop file of an application id; nullopt when none is installed (or it is hidden).
std::optional<std::pair<fs::path, KeyFile>> findDesktopFile(const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos || id.find("..") != std::string::npos) return std::nullopt;
    for (const auto& dir : applicationDirs()) {
        auto file = readKeyFile(dir / id);
        if (!file) continue;
        const std::string group = "Desktop Entry";
        if (keyValue(*file, group, "Hidden").value_or("") == "true") return std::nullopt;
        if (!keyValue(*file, group, "Exec")) return std::nullopt;
        return std::make_pair(dir / id, std::move(*file));
    }
    return std::nullopt;
}

// Removes the general escapes of a key file value (\s \n \t \r \\).
std::string unescapeValue(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char c = value[++i];
        out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

// The Exec line's words with the field codes put in: %f %F %u %U the file, %c the name, %k the desktop
// file, %% a percent sign; the deprecated and unknown codes dropped. The file is appended when no code
// names it.
std::vector<std::string> expandExec(const KeyFile& desktop, const fs::path& desktopPath, const std::string& file) {
    const std::string group = "Desktop Entry";
    std::vector<std::string> words = splitCommandLine(unescapeValue(keyValue(desktop, group, "Exec").value_or("")));
    std::vector<std::string> argv;
    bool filePut = false;
    for (const std::string& word : words) {
        if (word == "%f" || word == "%F" || word == "%u" || word == "%U") {
            argv.push_back(file);
            filePut = true;
            continue;
        }
        if (word == "%i") {
            const auto icon = keyValue(desktop, group, "Icon");
            if (icon) argv.insert(argv.end(), {"--icon", *icon});
            continue;
        }
        std::string expanded;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] != '%' || i + 1 == word.size()) {
                expanded += word[i];
                continue;
            }
            const char code = word[++i];
            if (code == '%') expanded += '%';
            if (code == 'c') expanded += keyValue(desktop, group, "Name").value_or("");
            if (code == 'k') expanded += desktopPath.string();
            if (code == 'f' || code == 'u') {
                expanded += file;
                filePut = true;
            }
        }
        if (!expanded.empty() || word.empty()) argv.push_back(expanded);
    }
    if (argv.empty()) return argv;
    if (!filePut) argv.push_back(file);
    return argv;
}

// The applications that any mimeapps.list file removes from type's associations.
std::vector<std::string> removedApplications(const std::string& type) {
    std::vector<std::string> removed;
    for (const auto& path : mimeappsLists()) {
        const auto file = readKeyFile(path);
        if (!file) continue;
        for (const auto& id : splitList(keyValue(*file, "Removed Associations", type).value_or("")))
            removed.push_back(id);
    }
    return removed;
}

// The applications listed for type under a group of the mimeapps.list files, most important first,
// leaving out those a more important (or the same) file removes.
std::vector<std::string> listedApplications(const std::string& type, const std::string& group) {
    std::vector<std::string> ids, removed;
    for (const auto& path : mimeappsLists()) {
        const auto file = readKeyFile(path);
        if (!file) continue;
        for (const auto& id : splitList(keyValue(*file, "Removed Associations", type).value_or("")))
            removed.push_back(id);
        for (const auto& id : splitList(keyValue(*file, group, type).value_or("")))
            if (std::find(removed.begin(), removed.end(), id) == removed.end()) ids.push_back(id);
    }
    return ids;
}

// The installed applications whose desktop file lists type in MimeType, in folder order.
std::vector<std::string> declaringApplications(const std::string& type) {
    std::vector<std::string> ids;
    for (const auto& dir : applicationDirs()) {
        std::error_code ec;
        std::vector<fs::path> entries;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().extension() == ".desktop") entries.push_back(it->path());
        std::sort(entries.begin(), entries.end());
        for (const auto& entry : entries) {
            const auto file = readKeyFile(entry);
            if (!file) continue;
            const auto types = splitList(keyValue(*file, "Desktop Entry", "MimeType").value_or(""));
            if (std::find(types.begin(), types.end(), type) != types.end()) ids.push_back(entry.filename().string());
        }
    }
    return ids;
}

std::optional<std::string> typeFromContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    char bytes[8] = {};
    in.read(bytes, sizeof bytes);
    const std::string head(bytes, static_cast<std::size_t>(in.gcount()));
    auto starts = [&](const std::string& sig) { return head.compare(0, sig.size(), sig) == 0; };
    if (starts(std::string("II*\0", 4)) || starts(std::string("MM\0*", 4)) || starts(std::string("II+\0", 4)) ||
        starts(std::string("MM\0+", 4)))
        return "image/tiff";
    if (starts("\x89PNG\r\n\x1a\n")) return "image/png";
    if (starts("\xff\xd8\xff")) return "image/jpeg";
    if (starts("GIF87a") || starts("GIF89a")) return "image/gif";
    if (starts("%PDF-")) return "application/pdf";
    if (starts("BM")) return "image/bmp";
    return std::nullopt;
}

std::optional<std::string> typeFromExtension(const std::string& path) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {".tif", "image/tiff"},      {".tiff", "image/tiff"}, {".png", "image/png"},  {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},     {".jpe", "image/jpeg"},  {".gif", "image/gif"},  {".bmp", "image/bmp"},
        {".pdf", "application/pdf"}, {".txt", "text/plain"},  {".html", "text/html"}, {".htm", "text/html"},
    };
    const std::string ext = lower(fs::path(path).extension().string());
    for (const auto& [e, type] : kTypes)
        if (ext == e) return type;
    return std::nullopt;
}

}  // namespace

std::string fileMimeType(const std::string& path) {
    if (auto type = typeFromContent(path)) return *type;
    return typeFromExtension(path).value_or("");
}

std::vector<std::string> associatedCommand(const std::string& path) {
    const std::string type = fileMimeType(path);
    if (type.empty()) return {};
    std::vector<std::string> candidates = listedApplications(type, "Default Applications");
    for (const auto& id : listedApplications(type, "Added Associations")) candidates.push_back(id);
    const auto removed = removedApplications(type);
    for (const auto& id : declaringApplications(type))
        if (std::find(removed.begin(), removed.end(), id) == removed.end()) candidates.push_back(id);
    for (const auto& id : candidates) {
        const auto desktop = findDesktopFile(id);
        if (!desktop) continue;
        auto argv = expandExec(desktop->second, desktop->first, path);
        if (!argv.empty()) return argv;
    }
    return {};
}

std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < line.size()) {
                word += line[++i];
            } else {
                word += c;
            }
            continue;
        }
        if (c == ' ' || c == '\t') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '"') {
            quoted = true;
        } else {
            word += c;
        }
    }
    if (quoted) return {};
    if (inWord) words.push_back(word);
    return words;
}

int startDetached(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return EINVAL;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return rc;
    std::lock_guard<std::mutex> guard(shellState().lock);
    shellState().started.push_back(pid);
    return 0;
}

bool waitForStarted(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(shellState().lock);
            auto& started = shellState().started;
            std::erase_if(started, [](pid_t pid) {
                int status = 0;
                return waitpid(pid, &status, WNOHANG) != 0;
            });
            if (started.empty()) return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace subhost::shell
