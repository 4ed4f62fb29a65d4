// The files a batch run works on, and the names the add-on derives from a file.
#include "cli/batch_inputs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iostream>

namespace pixelmend {
namespace {

namespace fs = std::filesystem;

// The words the add-on puts after a file's stem for the files it makes from it.
const char* const kDerivedWords[] = {"backup", "cropped", "copied", "resized", "edited"};

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Whether stem ends with "-WORD" and optional digits; the word found in *word.
bool endsDerived(const std::string& stem, std::string* word = nullptr) {
    std::size_t end = stem.size();
    while (end > 0 && std::isdigit(static_cast<unsigned char>(stem[end - 1]))) --end;
    for (const char* w : kDerivedWords) {
        const std::size_t n = std::strlen(w);
        if (end >= n + 2 && stem.compare(end - n, n, w) == 0 && stem[end - n - 1] == '-') {
            if (word) *word = w;
            return true;
        }
    }
    return false;
}

// Whether the file's first bytes are those of a TIFF, PNG, JPEG, BMP or GIF file.
bool rasterMagic(const fs::path& file) {
    unsigned char b[8] = {};
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(b), sizeof b);
    const std::streamsize n = in.gcount();
    if (n < 4) return false;
    if ((b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
        (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43)))
        return true;
    if (n >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0) return true;
    if (b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return true;
    if (b[0] == 'B' && b[1] == 'M') return true;
    return std::memcmp(b, "GIF8", 4) == 0;
}

// Whether a folder entry is a raster file of a kind the host reads: by its extension, or else
// by its first bytes.
bool supportedRaster(const fs::path& file) {
    static const char* const kExtensions[] = {".tif", ".tiff", ".png", ".jpg", ".jpeg", ".bmp", ".gif"};
    const std::string ext = lower(file.extension().string());
    for (const char* e : kExtensions)
        if (ext == e) return true;
    return rasterMagic(file);
}

// The state of one gathering: the files so far and the paths already taken.
struct Gathering {
    const InputRequest& request;
    Gathered out;
    std::set<std::string> seen;
};

std::string absoluteNormal(const fs::path& p) {
    std::error_code ec;
    return fs::absolute(p, ec).lexically_normal().string();
}

void add(Gathering& g, const std::string& shown, std::string skip, bool fromFolder) {
    const std::string path = absoluteNormal(shown);
    if (!g.seen.insert(path).second) return;
    g.out.files.push_back(InputFile{shown, path, std::move(skip), fromFolder});
}

// Why a folder entry is not taken: silently (nullopt: hidden files, runs' own files), with a
// reason, or taken (an empty text).
std::optional<std::string> folderEntryVerdict(const Gathering& g, const fs::directory_entry& entry) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.') return std::nullopt;  // hidden: our temporaries and links, journals
    const std::string path = absoluteNormal(entry.path());
    if (g.request.ignore.count(path)) return std::nullopt;
    if (endsDerived(fs::path(name).stem().string())) return std::string("named like a backup or an output of a run");
    if (!supportedRaster(entry.path())) return std::string("not a raster file of a supported kind");
    return std::string();
}

// Adds a folder's files in name order (subfolders too when recursive); false with *error when
// the folder cannot be listed.
bool addFolder(Gathering& g, const fs::path& folder, std::string* error) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
    if (ec) {
        *error = "cannot list folder " + folder.string() + ": " + ec.message();
        return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
    for (const fs::directory_entry& entry : entries) {
        const std::string name = entry.path().filename().string();
        std::error_code typeError;
        if (entry.is_directory(typeError)) {
            if (g.request.recursive && name[0] != '.' && !entry.is_symlink(typeError) &&
                !addFolder(g, entry.path(), error))
                return false;
            continue;
        }
        if (!entry.is_regular_file(typeError)) continue;
        if (const auto verdict = folderEntryVerdict(g, entry))
            add(g, (folder / name).lexically_normal().string(), *verdict, true);
    }
    return true;
}

// Adds one argument: a folder's files, or the file itself (whatever it is: its run says what is wrong).
bool addArgument(Gathering& g, const std::string& arg, std::string* error) {
    if (g.out.first.empty()) g.out.first = arg;
    std::error_code ec;
    if (fs::is_directory(arg, ec)) return addFolder(g, arg, error);
    add(g, fs::path(arg).lexically_normal().string(), "", false);
    return true;
}

// Reads the list's lines (empty lines and a carriage return at their end ignored).
bool readList(const std::string& list, std::vector<std::string>& lines, std::string* error) {
    std::ifstream file;
    if (list != "-") {
        file.open(list);
        if (!file) {
            *error = "cannot read --files-from " + list + ": " + std::strerror(errno);
            return false;
        }
    }
    std::istream& in = list == "-" ? std::cin : file;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return true;
}

}  // namespace

FileStamp stampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return FileStamp{true, st.st_ino, st.st_size, st.st_mtim};
}

std::set<std::string> derivedNames(const fs::path& file) {
    // The add-on takes the first free name of "STEM-WORD", "STEM-WORD2", "STEM-WORD3", ...: probing
    // them costs a few look-ups, where listing the folder would cost its size for every file.
    std::set<std::string> names;
    const std::string stem = file.stem().string();
    const std::string ext = file.extension().string();
    const fs::path folder = file.parent_path();
    for (const char* word : kDerivedWords) {
        for (int n = 1;; ++n) {
            const std::string name = stem + "-" + word + (n == 1 ? "" : std::to_string(n)) + ext;
            struct stat st {};
            if (::lstat((folder / name).c_str(), &st) == 0)
                names.insert(name);
            else if (n >= 2)
                break;
        }
    }
    return names;
}

bool isDerivedNameOf(const std::string& name, const fs::path& file) {
    const std::string stem = fs::path(name).stem().string();
    const std::string prefix = file.stem().string() + "-";
    std::string word;
    if (fs::path(name).extension() != file.extension() || stem.compare(0, prefix.size(), prefix) != 0 ||
        !endsDerived(stem, &word))
        return false;
    std::size_t end = stem.size();
    while (end > prefix.size() && std::isdigit(static_cast<unsigned char>(stem[end - 1]))) --end;
    return end == prefix.size() + word.size();
}

bool looksDerived(const std::string& name) { return endsDerived(fs::path(name).stem().string()); }

bool isBackupName(const std::string& name) {
    std::string word;
    return endsDerived(fs::path(name).stem().string(), &word) && word == "backup";
}

std::optional<Gathered> gatherInputs(const InputRequest& request, std::string* error) {
    Gathering g{request, {}, {}};
    for (const std::string& arg : request.args)
        if (!addArgument(g, arg, error)) return std::nullopt;
    if (!request.filesFrom.empty()) {
        std::vector<std::string> lines;
        if (!readList(request.filesFrom, lines, error)) return std::nullopt;
        // The first file of a list on standard input is no place for the journal: the current folder is.
        if (request.filesFrom == "-" && g.out.first.empty()) g.out.first = "-";
        for (const std::string& line : lines)
            if (!addArgument(g, line, error)) return std::nullopt;
    }
    return std::move(g.out);
}

int shardOf(const std::string& shown, int count) {
    const std::string key = fs::path(shown).lexically_normal().generic_string();
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return int(hash % std::uint64_t(count)) + 1;
}

}  // namespace pixelmend
