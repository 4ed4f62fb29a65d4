// Outside libraries loaded at run time (LoadLibraryA, GetProcAddress, FreeLibrary) on dlopen.
//
// A Windows library name maps to a shared object: the name's stem in lower case with ".so"
// ("RECODESKEW.DLL" -> "recodeskew.so"; a name without ".dll" keeps its whole text). It is
// looked for in the folder of the loaded add-on module first, then in each folder of the
// environment's PIXELMEND_LIBRARY_PATH (separated by ':'). A name with a folder part is
// refused: the add-on only names libraries installed beside it. A library that is not found
// or cannot be loaded gives null and a `libraryRefused` event with the name and the reason.
#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "host/winapi.h"
#include "subhost/state.h"

namespace subhost {
namespace {

namespace fs = std::filesystem;

// The module's state: every library handle given out, with its number of loads.
struct LoaderState {
    std::map<void*, int> loads;
};

LoaderState& loader() {
    static LoaderState state;
    return state;
}

// The shared object's file name for a library name; empty for a name that cannot be one.
std::string sharedObjectName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name.find_first_of("/\\:") != std::string::npos) return {};
    std::string stem = name;
    for (char& c : stem) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (stem.size() > 4 && stem.ends_with(".dll")) stem.resize(stem.size() - 4);
    if (stem.empty() || stem == "." || stem == "..") return {};
    return stem + ".so";
}

// The folders a library is looked for in, in order.
std::vector<fs::path> searchFolders() {
    std::vector<fs::path> folders;
    const std::string& module = host().app.modulePath;
    if (!module.empty()) folders.push_back(fs::path(module).parent_path());
    const char* path = std::getenv("PIXELMEND_LIBRARY_PATH");
    std::string list = path ? path : "";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        if (end > start) folders.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

// The first regular file called file in the search folders; empty when there is none.
fs::path findLibrary(const std::string& file, const std::vector<fs::path>& folders) {
    for (const fs::path& folder : folders) {
        std::error_code ec;
        const fs::path candidate = (folder.empty() ? fs::path(".") : folder) / file;
        if (fs::is_regular_file(candidate, ec)) return candidate;
    }
    return {};
}

// Records that the library called name was not loaded, and why.
void refuse(const std::string& name, const std::string& reason) {
    recordEvent({{"event", "libraryRefused"}, {"name", name}, {"reason", reason}});
}

std::string folderList(const std::vector<fs::path>& folders) {
    if (folders.empty()) return "no folder to look in (no add-on loaded, PIXELMEND_LIBRARY_PATH unset)";
    std::string text;
    for (const fs::path& folder : folders) text += (text.empty() ? "" : ", ") + folder.string();
    return text;
}

}  // namespace
}  // namespace subhost

extern "C" {

HMODULE LoadLibraryA(const char* name) {
    using namespace subhost;
    const std::string given = name ? name : "";
    const std::string file = sharedObjectName(given);
    if (file.empty()) {
        refuse(given, "not a library name (empty, too long or with a folder part)");
        return nullptr;
    }
    const std::vector<fs::path> folders = searchFolders();
    const fs::path found = findLibrary(file, folders);
    if (found.empty()) {
        refuse(given, file + " not found in " + folderList(folders));
        return nullptr;
    }
    dlerror();
    void* handle = dlopen(found.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        refuse(given, found.string() + ": " + (why ? why : "cannot be loaded"));
        return nullptr;
    }
    ++loader().loads[handle];
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    using namespace subhost;
    if (!module || !name || !loader().loads.contains(module)) return nullptr;
    dlerror();
    void* entry = dlsym(module, name);
    return entry ? reinterpret_cast<FARPROC>(entry) : nullptr;
}

BOOL FreeLibrary(HMODULE module) {
    using namespace subhost;
    const auto it = loader().loads.find(module);
    if (it == loader().loads.end()) return 0;
    dlclose(module);
    if (--it->second == 0) loader().loads.erase(it);
    return 1;
}

}  // extern "C"
