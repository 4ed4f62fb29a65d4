// Shared set-up of the settings tests: a fresh host, a scratch folder and the
// record at factory values.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "frame/app.h"
#include "settings/settings.h"
#include "subhost/host.h"

namespace settings_test {

namespace fs = std::filesystem;

inline std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void fileWrite(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Transcript events named name.
inline std::vector<nlohmann::json> events(const std::string& name) {
    std::vector<nlohmann::json> found;
    for (const auto& e : subhost::transcript())
        if (e.value("event", "") == name) found.push_back(e);
    return found;
}

// Texts of the message boxes shown.
inline std::vector<std::string> messageTexts() {
    std::vector<std::string> texts;
    for (const auto& e : events("messageBox")) texts.push_back(e.value("text", ""));
    return texts;
}

// Exit codes of the child that writes, beside j_settingsWrite's own result.
inline constexpr int k_childFolderWritable = 90;  // the folder took a new file: the case was not set up
inline constexpr int k_childSetupFailed = 91;

// Runs write in a child process that cannot create files in folder and gives its exit code.
// The folder is made read-only; a test running as root (for whom mode bits do not count)
// first hands file to an unprivileged user and the child becomes that user. The child
// checks that the folder really refuses a new file before it writes.
inline int j_writeInLockedFolder(const fs::path& folder, const fs::path& file, const std::function<int()>& write) {
    constexpr uid_t k_nobody = 65534;
    const bool root = ::geteuid() == 0;
    ::chmod(folder.parent_path().c_str(), 0755);  // the unprivileged user must reach the folder
    ::chmod(folder.c_str(), 0555);
    if (root && ::chown(file.c_str(), k_nobody, k_nobody) != 0) return k_childSetupFailed;
    const pid_t child = ::fork();
    if (child < 0) return k_childSetupFailed;
    if (child == 0) {
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(k_nobody) != 0 || ::setuid(k_nobody) != 0))
            ::_exit(k_childSetupFailed);
        const int probe = ::open((folder / "probe").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (probe >= 0 || errno != EACCES) ::_exit(k_childFolderWritable);
        ::_exit(write());
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    ::chmod(folder.c_str(), 0755);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        subhost::hostReset();
        char pattern[] = "/tmp/pxmend-settings-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        v_addonStateReset();
        v_settingsDefaults();
        setFileName(dir / "Pxmend.ini");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    void setFileName(const fs::path& path) {
        std::snprintf(g_settings.fileName, sizeof g_settings.fileName, "%s", path.c_str());
    }
    fs::path settingsPath() const { return g_settings.fileName; }

    fs::path dir;
};

}  // namespace settings_test
