// Narrow-text wrappers around the host's wide-string calls. The add-on's texts
// are UTF-8; the conversion both ways is the one of host/utf8text.h, which keeps
// bytes that are not UTF-8 and replaces wide characters that have no UTF-8 form.
#include "host/hostwrap.h"

#include <cstring>
#include <vector>

#include "host/utf8text.h"

namespace {

// Wide buffer of the given capacity, zero-filled so an untouched buffer reads as empty.
std::vector<WChar> wideBuffer(std::size_t capacity) { return std::vector<WChar>(capacity == 0 ? 1 : capacity, L'\0'); }

// Null when text is null, so that optional host arguments stay optional.
const WChar* optionalWide(const std::wstring& wide, const char* text) { return text ? wide.c_str() : nullptr; }

}  // namespace

std::wstring w_widen(const char* text) { return text ? w_utf8Widen(text) : std::wstring(); }

std::string s_narrow(WCharCP text) { return text ? s_utf8Narrow(text) : std::string(); }

void v_narrowCopy(char* buffer, std::size_t capacity, WCharCP text) {
    if (!buffer || capacity == 0) return;
    // Whole characters only: the narrow form of each is appended while it fits.
    std::size_t length = 0;
    for (WCharCP p = text; p && *p; ++p) {
        const std::string character = s_utf8Narrow(std::wstring_view(p, 1));
        if (length + character.size() > capacity - 1) break;
        std::memcpy(buffer + length, character.data(), character.size());
        length += character.size();
    }
    buffer[length] = '\0';
}

int j_cfgVarGet(char* buffer, std::size_t capacity, const char* name) {
    if (!buffer || capacity == 0 || !name) return ERROR;
    buffer[0] = '\0';
    auto wide = wideBuffer(capacity);
    const int status = mdlSystem_getCfgVar(wide.data(), w_widen(name).c_str(), static_cast<int>(wide.size()));
    wide.back() = L'\0';
    if (status == 0) v_narrowCopy(buffer, capacity, wide.data());
    return status;
}

int j_fileFind(char* found, const char* file, const char* envVar, const char* defaultExt) {
    if (!found || !file) return ERROR;
    found[0] = '\0';
    auto wide = wideBuffer(MAXFILELENGTH);
    const std::wstring wFile = w_widen(file), wEnv = w_widen(envVar), wExt = w_widen(defaultExt);
    const int status =
        mdlFile_find(wide.data(), wFile.c_str(), optionalWide(wEnv, envVar), optionalWide(wExt, defaultExt));
    wide.back() = L'\0';
    if (status == 0) v_narrowCopy(found, MAXFILELENGTH, wide.data());
    return status;
}

void v_fileParseName(const char* path, char* device, char* directory, char* name, char* extension) {
    auto wDevice = wideBuffer(MAXDEVICELENGTH), wDirectory = wideBuffer(MAXDIRLENGTH);
    auto wName = wideBuffer(MAXNAMELENGTH), wExtension = wideBuffer(MAXEXTENSIONLENGTH);
    mdlFile_parseName(w_widen(path).c_str(), wDevice.data(), wDirectory.data(), wName.data(), wExtension.data());
    const std::pair<char*, std::vector<WChar>*> parts[] = {
        {device, &wDevice}, {directory, &wDirectory}, {name, &wName}, {extension, &wExtension}};
    for (const auto& [out, wide] : parts) {
        wide->back() = L'\0';
        if (out) v_narrowCopy(out, MAXFILELENGTH, wide->data());
    }
}

void v_fileBuildName(char* path, const char* device, const char* directory, const char* name, const char* extension) {
    if (!path) return;
    auto wide = wideBuffer(MAXFILELENGTH);
    const std::wstring wDevice = w_widen(device), wDirectory = w_widen(directory);
    const std::wstring wName = w_widen(name), wExtension = w_widen(extension);
    mdlFile_buildName(wide.data(), wDevice.c_str(), wDirectory.c_str(), wName.c_str(), wExtension.c_str());
    wide.back() = L'\0';
    v_narrowCopy(path, MAXFILELENGTH, wide.data());
}

namespace {

using FileDialogCall = int (*)(WCharP, RscFileHandle, int, WCharCP, WCharCP, WCharCP, WCharCP);

// Runs a host file dialog suggesting the current content of path (read within its 256 bytes);
// 0 and the chosen path when chosen.
int j_fileDialog(FileDialogCall call, char* path, const char* filter, const char* defaultDir, const char* title) {
    if (!path) return ERROR;
    auto wide = wideBuffer(MAXFILELENGTH);
    const void* end = std::memchr(path, '\0', MAXFILELENGTH - 1);
    const std::size_t length = end ? static_cast<std::size_t>(static_cast<const char*>(end) - path) : MAXFILELENGTH - 1;
    const std::string current(path, length);
    const std::wstring suggested = w_widen(current.c_str()), wFilter = w_widen(filter);
    const std::wstring wDir = w_widen(defaultDir), wTitle = w_widen(title);
    const int status = call(wide.data(), nullptr, 0, suggested.c_str(), wFilter.c_str(), wDir.c_str(), wTitle.c_str());
    wide.back() = L'\0';
    if (status == 0) v_narrowCopy(path, MAXFILELENGTH, wide.data());
    return status;
}

}  // namespace

int j_fileOpenDialog(char* path, const char* filter, const char* defaultDir, const char* title) {
    return j_fileDialog(&mdlDialog_fileOpen, path, filter, defaultDir, title);
}

int j_fileCreateDialog(char* path, const char* filter, const char* defaultDir, const char* title) {
    return j_fileDialog(&mdlDialog_fileCreate, path, filter, defaultDir, title);
}

void v_outputPrintf(int msgType, const char* text) { mdlOutput_printf(msgType, w_widen(text).c_str()); }

void v_outputMessageCenter(int priority, const char* brief, const char* detail, bool openAlert) {
    mdlOutput_messageCenter(priority, w_widen(brief).c_str(), w_widen(detail).c_str(), openAlert);
}

namespace {

// c in lower case when it is an ASCII capital letter; other bytes are kept.
int n_asciiLower(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
}

}  // namespace

int n_nameCompareN(const char* a, const char* b, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const int difference = n_asciiLower(a[i]) - n_asciiLower(b[i]);
        if (difference != 0 || a[i] == '\0') return difference;
    }
    return 0;
}

int n_nameCompare(const char* a, const char* b) { return n_nameCompareN(a, b, static_cast<std::size_t>(-1)); }
