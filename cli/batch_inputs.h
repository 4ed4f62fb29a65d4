// The files a batch run works on: files, folders and lists as given, the names the add-on derives
// from a file (backups and outputs), and a file's state on disk.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace pixelmend {

// A file's identity and state on disk, to tell whether a run changed it.
struct FileStamp {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const FileStamp& o) const {
        return exists == o.exists && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec;
    }
    // Modification time in nanoseconds since the epoch.
    std::int64_t modifiedNs() const { return std::int64_t(modified.tv_sec) * 1'000'000'000 + modified.tv_nsec; }
};

// Takes a path, gives its stamp (exists false when it cannot be stat'ed).
FileStamp stampOf(const std::string& path);

// Takes a file, gives the names in its folder that the add-on derives from it: "scan-backup.tif",
// "scan-cropped2.tif" for scan.tif (its stem, a dash, backup/cropped/copied/resized/edited, an
// optional number, its extension).
std::set<std::string> derivedNames(const std::filesystem::path& file);
// Takes a file name (no folder), gives whether it has the form of such a derived name of any file.
bool looksDerived(const std::string& name);
// Takes a file name (no folder) and a file, gives whether the name is one the add-on derives from that file.
bool isDerivedNameOf(const std::string& name, const std::filesystem::path& file);
// Takes a derived name, gives whether it is a backup ("-backup", "-backup2", ...).
bool isBackupName(const std::string& name);

// One file of the run, in the order given.
struct InputFile {
    std::string shown;        // as listed (a folder's files: the folder as given joined with the name)
    std::string path;         // absolute and normalised: the file's key in the journal
    std::string skip;         // why it is not worked on; empty when it is
    bool fromFolder = false;  // found in a folder (not named on its own)
};

// The files gathered and the first input named (a file or folder; empty: none).
struct Gathered {
    std::vector<InputFile> files;
    std::string first;
};

// What the inputs are and where they come from.
struct InputRequest {
    std::vector<std::string> args;  // files and folders from the command line
    std::string filesFrom;          // --files-from LIST ("-": standard input); empty: none
    bool recursive = false;         // --recursive: folders' subfolders too
    std::set<std::string> ignore;   // absolute paths never taken from a folder (journals, reports)
};

// Takes the request, gives every file in order, duplicates (the same path twice) dropped and
// folder entries that are not supported raster files marked skipped; nullopt with *error when a
// list cannot be read or a named folder cannot be listed.
std::optional<Gathered> gatherInputs(const InputRequest& request, std::string* error);

// Takes a path as listed and a shard count, gives the shard (1..count) it belongs to: FNV-1a of the
// lexically normalised path as listed, so every machine given the same list agrees.
int shardOf(const std::string& shown, int count);

}  // namespace pixelmend
