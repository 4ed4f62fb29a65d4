// The scratch folder of the fuzz targets: laid anew before every case, so that a
// case that edits or removes its files cannot change what the next case sees.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <unistd.h>

#include "fuzz/fuzz_targets.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"

namespace pxfuzz {
namespace {

namespace fs = std::filesystem;
namespace img = subhost::imagefile;

// The design every script and design case starts from: both rasters attached, one view.
constexpr const char* kSiteDesign =
    R"({"name": "site.dgn", "views": [{"rotation": 0, "origin": [0, 0, 0], "extent": [96, 72, 0], "fill": true}],)"
    R"( "rasters": [{"file": "scan.tif", "origin": [0, 0, 0]},)"
    R"( {"file": "photo.png", "origin": [64, 0, 0], "clipMasks": [[[66, 2], [80, 2], [80, 12]]]}],)"
    R"( "elements": [{"id": 1, "type": "line", "points": [[0, 0], [90, 60]], "color": 3}]})";

// The files of a fresh scratch folder, made once with the host's own writers.
struct ScratchState {
    std::string folder;
    std::vector<std::pair<std::string, std::vector<char>>> files;
};

ScratchState& scratchState() {
    static ScratchState state;
    return state;
}

std::vector<char> bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Writes the two rasters with the codecs and keeps their bytes.
void makeFiles(ScratchState& s) {
    img::ImageResult scan = img::makeImage(64, 48, img::ColorMode::Mono);
    if (!scan.ok) throw std::runtime_error(scan.error);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            if ((x + y) % 7 == 0 || y == 20) scan.image.pixels[y * scan.image.stride + x / 8] |= 0x80 >> (x % 8);
    img::ImageResult photo = img::makeImage(32, 24, img::ColorMode::Rgb);
    if (!photo.ok) throw std::runtime_error(photo.error);
    for (std::size_t i = 0; i < photo.image.pixels.size(); ++i)
        photo.image.pixels[i] = static_cast<std::uint8_t>(i * 37);
    const fs::path dir = s.folder;
    img::WriteStatus w = img::createImageFile((dir / "scan.tif").string(), img::FileFormat::Tiff, scan.image);
    if (w.status != 0) throw std::runtime_error(w.error);
    w = img::createImageFile((dir / "photo.png").string(), img::FileFormat::Png, photo.image);
    if (w.status != 0) throw std::runtime_error(w.error);
    s.files.emplace_back("scan.tif", bytesOf(dir / "scan.tif"));
    s.files.emplace_back("photo.png", bytesOf(dir / "photo.png"));
    const std::string design = kSiteDesign;
    s.files.emplace_back("site.json", std::vector<char>(design.begin(), design.end()));
}

}  // namespace

void checkTranscriptWords() {
    for (const auto& event : subhost::transcript()) {
        const std::string text = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        if (text.find("json.exception") != std::string::npos)
            throw std::logic_error("the JSON library's own words reached the user: " + text);
    }
}

const std::string& scratchFolder() {
    ScratchState& s = scratchState();
    if (!s.folder.empty()) return s.folder;
    const fs::path dir = fs::temp_directory_path() / ("pxmend-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(dir / "config");
    // The add-on writes its settings file where the user's lives when it finds none there.
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("HOME", dir.c_str(), 1);
    s.folder = dir.string();
    std::atexit([] {
        std::error_code ignored;  // nothing more can be done about a folder that will not go
        fs::remove_all(scratchState().folder, ignored);
    });
    return s.folder;
}

const std::string& freshScratch() {
    ScratchState& s = scratchState();
    const fs::path dir = scratchFolder();
    for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
    fs::create_directories(dir / "config");
    if (s.files.empty()) makeFiles(s);
    for (const auto& [name, bytes] : s.files) writeBytes(dir / name, bytes);
    return s.folder;
}

}  // namespace pxfuzz
