// Where the add-on keeps its settings file: the path named by the host
// configuration variable PXMEND_SETTINGS, otherwise the user's configuration
// folder ($XDG_CONFIG_HOME/pixelmend, or ~/.config/pixelmend). The name handed
// back is always a full path, so that it is shown and used the same wherever
// the current folder is later.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/mdlsystem.h"
#include "host/tovlib.h"
#include "tovtext.h"

namespace {

constexpr std::size_t k_settingsNameBytes = 256;
constexpr std::size_t k_datNameBytes = 320;

// The value of a host configuration variable; empty when it is undefined.
std::string s_cfgVar(const wchar_t* name) {
    wchar_t value[MAX_CFGVAR_LENGTH] = L"";
    if (mdlSystem_getCfgVar(value, name, MAX_CFGVAR_LENGTH) != SUCCESS) return {};
    return tov::s_narrow(value);
}

// The value of an environment variable; empty when unset.
std::string s_env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The folder part of path including its last '/'; empty when there is none.
std::string s_folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Creates folder and the folders above it that are missing; true when it exists afterwards.
bool b_folderCreate(const std::string& folder) {
    if (folder.empty()) return true;
    for (std::size_t at = folder.find('/', 1); at != std::string::npos; at = folder.find('/', at + 1))
        if (::mkdir(folder.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST) break;
    ::mkdir(folder.c_str(), 0700);
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Reports a problem with the settings location in the host's message centre.
void v_locationWarn(const std::string& brief);

// The full form of path: a relative path is taken from the current folder, and "." and ".."
// steps are resolved by name. A path that cannot be made full (no current folder) is kept
// as it is, with a warning.
std::string s_fullPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    if (error) {
        v_locationWarn("Unable to find the full path of the settings file " + path + ": " + error.message() + ".");
        return path;
    }
    return full.lexically_normal().string();
}

// Reports a problem with the settings location in the host's message centre.
void v_locationWarn(const std::string& brief) {
    mdlOutput_messageCenter(OutputMessagePriority_Warning, tov::w_wide(brief.c_str()).c_str(), L"", false);
}

// Copies text into a buffer of capacity bytes; false (and an empty buffer) when it does not fit.
bool b_fits(char* buffer, std::size_t capacity, const std::string& text) {
    if (text.size() >= capacity) {
        buffer[0] = '\0';
        return false;
    }
    std::snprintf(buffer, capacity, "%s", text.c_str());
    return true;
}

// The default settings folder: the user's configuration folder, else the add-on's own folder.
std::string s_defaultFolder(const char* appDirectory) {
    const std::string xdg = s_env("XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg[0] == '/') return xdg + "/pixelmend/";
    const std::string home = s_env("HOME");
    if (!home.empty()) return home + "/.config/pixelmend/";
    return appDirectory ? appDirectory : "";
}

}  // namespace

extern "C" {

void v_settingDllIniFileName(char* settingsFileName, char* settingsDatName, int* unusedFlag, int* updateSettingsDat,
                             const char* moduleName, const char* appDirectory) {
    const std::string module = (moduleName && *moduleName) ? moduleName : "Pxmend";
    // The settings path is worked out again at every start, so the data file never
    // needs updating at unload.
    if (unusedFlag) *unusedFlag = 0;
    if (updateSettingsDat) *updateSettingsDat = 0;
    if (!settingsFileName) return;

    std::string path = s_cfgVar(L"PXMEND_SETTINGS");
    if (!path.empty()) path = s_fullPath(path);
    if (path.size() >= k_settingsNameBytes) {
        v_locationWarn(
            "The full path of PXMEND_SETTINGS is longer than 255 characters; the default settings file is used.");
        path.clear();
    }
    if (path.empty()) path = s_fullPath(s_defaultFolder(appDirectory) + module + ".ini");
    if (!b_fits(settingsFileName, k_settingsNameBytes, path))
        v_locationWarn("The settings file path " + path + " is longer than 255 characters.");

    const std::string folder = s_folderOf(path);
    if (!b_folderCreate(folder)) v_locationWarn("Unable to create the settings folder " + folder + ".");
    if (settingsDatName) b_fits(settingsDatName, k_datNameBytes, folder + module + ".dat");
}

bool b_settingDllUpdateSettingsDatFile(const char* settingsFileName, const char* settingsDatName) {
    if (!settingsFileName || !settingsDatName || !*settingsDatName) return false;
    return tov::b_fileReplace(settingsDatName, std::string(settingsFileName) + "\n");
}

}  // extern "C"
