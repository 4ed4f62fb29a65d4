// Versions of raster files kept for undo. An edit that writes its result in place
// of the source file (remove, then rename) leaves the attachment's path holding
// another file; undo of the edit must show the old file again, and redo the new
// one. Each attach and detach keeps the file it saw through a hidden hard link
// beside it: no copy, whatever the file's size, and the link is removed when the
// undo history forgets the step.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "subhost/host.h"
#include "subhost/raster/raster.h"

namespace subhost::raster {

namespace {

struct KeptFileState {
    unsigned counter = 0;
};

KeptFileState& keptFileState() {
    static KeptFileState state;
    return state;
}

// Drops every open copy of the file at path (written back first when changed), so the next access reads the disk.
void forgetOpenFile(const std::string& path) {
    auto& s = rasterState();
    for (auto& raster : s.rasters) {
        if (raster->file && raster->file->path == path) {
            writeBack(*raster->file);
            raster->file.reset();
        }
    }
    std::erase_if(s.files, [&path](const std::shared_ptr<RasterFile>& f) { return f->path == path; });
    forgetClosedFile(path);
}

}  // namespace

KeptFile::KeptFile(const std::string& path) : path_(path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const std::filesystem::path p(path);
    link_ = (p.parent_path() / ("." + p.filename().string() + ".undo-" + std::to_string(::getpid()) + "-" +
                                std::to_string(++keptFileState().counter)))
                .string();
    ::unlink(link_.c_str());
    if (::link(path.c_str(), link_.c_str()) != 0) {
        link_.clear();  // no links on this file system: undo cannot bring back a replaced file
        return;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
}

KeptFile::~KeptFile() {
    if (!link_.empty()) ::unlink(link_.c_str());
}

void KeptFile::restore() const {
    if (link_.empty()) return;
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) return;
    forgetOpenFile(path_);
    // Link under a temporary name, then rename over the path: the path always holds a whole file.
    const std::string temporary = link_ + ".tmp";
    ::unlink(temporary.c_str());
    if (::link(link_.c_str(), temporary.c_str()) != 0 || ::rename(temporary.c_str(), path_.c_str()) != 0) {
        ::unlink(temporary.c_str());
        recordEvent({{"event", "messageCenter"},
                     {"priority", 10},
                     {"brief", "Cannot put back " + path_ + " as it was at this step"},
                     {"detail", ""}});
        return;
    }
    recordEvent({{"event", "fileRestored"}, {"path", path_}});
}

}  // namespace subhost::raster
