// File checks and file replacement shared by the support library's calls; files are
// replaced by the host's writer (host/hostio.h), so that the library and the add-on
// write their files by the same rules.
#include "tovtext.h"

#include <sys/stat.h>

#include "host/hostio.h"

namespace tov {

bool b_regularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool b_fileReplace(const std::string& path, const std::string& text) {
    // The host's writer, the one the add-on's settings file goes through too.
    return j_hostFileReplace(path.c_str(), text.data(), text.size()) == 0;
}

}  // namespace tov
