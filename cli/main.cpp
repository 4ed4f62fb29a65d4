// The pixelmend command: runs session scripts in the substitute host with the
// PixelMend add-on, and a demo session on generated sample data.
#include <dlfcn.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/account.h"
#include "cli/commands.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"

namespace pixelmend {

namespace fs = std::filesystem;

struct Subcommand {
    const char* name;
    const char* usage;
    const char* summary;
    int (*run)(Args args);
};

fs::path exeFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return fs::current_path();
    buffer[n] = 0;
    return fs::path(buffer).parent_path();
}

std::string defaultApp() {
    const char* env = std::getenv("PIXELMEND_APP");
    if (env && *env) return env;
    return (exeFolder() / "pxmend.so").string();
}

int usageError(const std::string& message) {
    std::cerr << "pixelmend: " << message << "\n(see pixelmend --help)\n";
    return 2;
}

namespace {

int runSessionCommand(Args args) {
    subhost::SessionOptions options;
    options.appPath = defaultApp();
    std::string script;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--answers" && i + 1 < args.size()) {
            const std::string v = args[++i];
            if (v == "yes")
                options.defaultAnswer = 6;
            else if (v == "no")
                options.defaultAnswer = 7;
            else
                return usageError("--answers takes yes or no");
        } else if (a == "--app" && i + 1 < args.size()) {
            options.appPath = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            return usageError("unknown option " + a);
        } else if (script.empty()) {
            script = a;
        } else {
            return usageError("one script only");
        }
    }
    if (script.empty()) return usageError("session needs a SCRIPT");
    subhost::hostReset();
    return subhost::runSession(script, options, std::cout, std::cerr);
}

// Writes text to path; false with a message on stderr.
bool writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "pixelmend: cannot write " << path.string() << "\n";
        return false;
    }
    return true;
}

// A stream buffer writing to two others (the terminal and the transcript file).
class TeeBuf : public std::streambuf {
public:
    TeeBuf(std::streambuf* a, std::streambuf* b) : a_(a), b_(b) {}

protected:
    int overflow(int c) override {
        if (c == EOF) return !EOF;
        const int r1 = a_->sputc(static_cast<char>(c));
        const int r2 = b_->sputc(static_cast<char>(c));
        return r1 == EOF || r2 == EOF ? EOF : c;
    }
    int sync() override { return a_->pubsync() | b_->pubsync(); }

private:
    std::streambuf* a_;
    std::streambuf* b_;
};

const char* kDemoDesign = R"({
  "name": "demo-site.dgn",
  "readOnly": false,
  "views": [
    {"rotation": 0, "origin": [0, 0, 0], "extent": [2400, 1200, 0], "fill": true}
  ],
  "rasters": [
    {"file": "scan.tif", "origin": [0, 0, 0]},
    {"file": "photo.png", "origin": [1700, 0, 0]}
  ],
  "elements": [
    {"id": 1, "type": "shape", "points": [[1090, 30], [1570, 30], [1570, 160], [1090, 160]], "color": 3, "weight": 2},
    {"id": 2, "type": "line", "points": [[0, 1150], [2300, 1150]], "color": 4, "weight": 1, "style": 2},
    {"id": 3, "type": "ellipse", "center": [1950, 800], "axes": [220, 150], "color": 2, "weight": 3,
     "filled": true, "fillColor": 2},
    {"id": 4, "type": "lineString", "points": [[1700, 500], [1800, 600], [1900, 520], [2050, 650]], "color": 7,
     "weight": 1, "style": 1},
    {"id": 5, "type": "cell", "name": "TITLE", "color": 0, "components": [
      {"type": "shape", "points": [[1110, 45], [1550, 45], [1550, 145], [1110, 145]], "weight": 2},
      {"type": "line", "points": [[1110, 95], [1550, 95]]},
      {"type": "text", "origin": [1125, 108], "text": "DEMO SITE", "height": 28, "color": 4},
      {"type": "text", "origin": [1125, 60], "text": "Sheet 1 of 1   Scale 1:100", "height": 18}
    ]},
    {"id": 6, "type": "dimension", "points": [[200, 960], [1400, 960]], "offset": 40, "height": 24,
     "arrow": 20, "precision": 0, "color": 7},
    {"id": 7, "type": "shape", "points": [[2200, 480], [2380, 480], [2380, 640], [2200, 640]], "color": 5,
     "pattern": {"angle": 45, "spacing": 16, "color": 5}},
    {"id": 8, "type": "multiLine", "points": [[2200, 700], [2360, 700], [2360, 930]], "color": 1, "endCap": true,
     "lines": [{"offset": -10, "color": 1}, {"offset": 0, "color": 3, "style": 2}, {"offset": 10, "color": 1}]}
  ]
}
)";

namespace img = subhost::imagefile;

// Sets pixels [x0, x1) x [y0, y1) of a monochrome image (rows from the top).
void inkBox(img::Image& image, int x0, int y0, int x1, int y1) {
    for (int y = std::max(y0, 0); y < std::min(y1, image.height); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, image.width); ++x)
            image.pixels[std::size_t(y) * image.stride + std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
}

// The straight drawing as the scanner saw it: fed in turned counter-clockwise by degrees (its lines rise
// to the right; what comes in from outside the sheet is paper) and with count specks of dust.
img::Image scannedAskew(const img::Image& straight, double degrees, int count) {
    img::Image scan = straight;
    std::fill(scan.pixels.begin(), scan.pixels.end(), std::uint8_t(0));
    const double c = std::cos(degrees * 3.14159265358979323846 / 180.0);
    const double s = std::sin(degrees * 3.14159265358979323846 / 180.0);
    const double cx = scan.width / 2.0, cy = scan.height / 2.0;
    auto ink = [&](const img::Image& image, int x, int y) {
        return (image.pixels[std::size_t(y) * image.stride + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
    };
    for (int y = 0; y < scan.height; ++y)
        for (int x = 0; x < scan.width; ++x) {
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            const auto sx = static_cast<int>(std::floor(cx + dx * c - dy * s));
            const auto sy = static_cast<int>(std::floor(cy + dx * s + dy * c));
            if (sx >= 0 && sy >= 0 && sx < scan.width && sy < scan.height && ink(straight, sx, sy))
                inkBox(scan, x, y, x + 1, y + 1);
        }
    std::uint32_t seed = 12345;  // the same dust on every run
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int x = 40 + int(seed >> 8) % (scan.width - 80);
        seed = seed * 1664525u + 1013904223u;
        const int y = 40 + int(seed >> 8) % (scan.height - 80);
        inkBox(scan, x, y, x + 1, y + 1);
    }
    return scan;
}

// The demo's sample data: a monochrome scan of a small drawing (CCITT G4 TIFF), scanned at a slant
// with dust on it, and a colour picture (PNG).
bool writeSampleRasters(const fs::path& dir) {
    img::Image scan = img::makeImage(1600, 1100, img::ColorMode::Mono).image;
    scan.palette[0] = {255, 255, 255};
    scan.palette[1] = {0, 0, 0};
    scan.paletteCount = 2;
    scan.photometric = img::Photometric::MinIsWhite;
    scan.compression = img::Compression::CcittG4;
    scan.resolution = {200, 200, img::ResolutionUnit::Inch};
    inkBox(scan, 20, 20, 1580, 26);  // border
    inkBox(scan, 20, 1074, 1580, 1080);
    inkBox(scan, 20, 20, 26, 1080);
    inkBox(scan, 1574, 20, 1580, 1080);
    for (int x = 200; x < 1500; x += 150) inkBox(scan, x, 200, x + 3, 900);  // a grid
    for (int y = 200; y <= 900; y += 140) inkBox(scan, 200, y, 1403, y + 3);
    inkBox(scan, 1100, 950, 1560, 1060);  // title block
    for (int i = 0; i < 60; ++i)
        inkBox(scan, 300 + 17 * i % 900, 500 + 31 * i % 300, 303 + 17 * i % 900, 503 + 31 * i % 300);
    scan = scannedAskew(scan, 2.5, 400);
    img::Image photo = img::makeImage(600, 400, img::ColorMode::Rgb).image;
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 600; ++x) {
            std::uint8_t* p = &photo.pixels[(std::size_t(y) * 600 + std::size_t(x)) * 3];
            p[0] = std::uint8_t(x * 255 / 599);
            p[1] = std::uint8_t(y * 255 / 399);
            p[2] = std::uint8_t(200);
        }
    for (const auto& [name, image, format] : {std::tuple{"scan.tif", &scan, img::FileFormat::Tiff},
                                              std::tuple{"photo.png", &photo, img::FileFormat::Png}}) {
        const img::WriteStatus status = img::createImageFile((dir / name).string(), format, *image);
        if (status.status != img::kStatusOk) {
            std::cerr << "pixelmend: " << status.error << "\n";
            return false;
        }
    }
    return true;
}

const char* kDemoScript = R"(# PixelMend demo: a design with a scanned drawing (scan.tif) and a colour
# picture (photo.png) attached. PixelMend straightens the scan and removes its
# dust, deletes, copies and moves blocks of it, crops the picture into a new
# file and gives it a margin, attaches and detaches a scratch area, burns its
# vector title block and a dimension into the scan, then has its settings
# changed and saves them when it is unloaded.
cfg PXMEND_SETTINGS Pxmend.ini
design demo-design.json
dump rasters
load
# The scan went through the scanner at a slant: deskew detects the angle once
# the scan is picked, and the next data point turns it straight (the first
# change to the file makes scan-backup.tif beside it).
set DeskewMode 0
keyin PXMEND DESKEW
point 800 550
point 800 550
# Despeckle removes the dust: single pixels on their own, counted in the whole
# scan once it is picked; the question whether to remove them is answered yes.
set DespeckleMode 5
keyin PXMEND DESPECKLE
answer yes
point 800 550
# Delete the title block: two corners, then a data point accepts.
keyin PXMEND DELETE
point 1090 30
point 1570 160
point 1090 30
# Copy a piece of the grid: two corners, the base point, the destination.
keyin PXMEND COPY
point 190 190
point 520 480
point 190 190
point 900 190
# Move another piece: two corners, the base point, the destination.
keyin PXMEND MOVE
point 190 620
point 520 910
point 190 620
point 1050 620
# Crop the picture into a new file beside it (photo-cropped.png), attached in its place.
set CropCopy 1
keyin PXMEND CROP
point 1800 60
point 2200 340
point 1800 60
undo
redo
# Resize the cropped picture: a white margin of 20 pixels on every side, written
# into photo-cropped.png; the picture's pixels stay where they were in the design.
set CanvasAuto 0
set CanvasColor 255,255,255
keyin PXMEND RESIZE
point 2000 200
set ResizeRowsEnd 20
set ResizeRowsStart 20
set ResizeColumnsStart 20
set ResizeColumnsEnd 20
keyin PXMEND RESIZE APPLY
set CanvasAuto 1
# A scratch area: a blank raster of the scan's size and colour mode
# (demo-site_pxmend_scratch.tif beside the design), placed by two corners, then
# detached; its file stays on disk.
keyin PXMEND SCRATCH ATTACH
point 800 550
point 1700 420
point 1860 530
dump rasters
keyin PXMEND SCRATCH DETACH
# Stamp the title block (a cell with text) and the dimension into the scan where
# its old title block was: select them, pick the scan, answer the question. They
# leave the design; their pixels stay in scan.tif.
set StampMode 3
select 5 6
keyin PXMEND STAMP
answer yes
point 800 550
dump rasters
save
# The settings: show the tool settings, change some options.
toolsettings open
keyin PXMEND COPY
dump items toolsettings
set Backup 0
set CanvasColor 0,0,255
set MergePixels 1
dump settings
# The settings dialog: the width of line weight 3 on the stamp page changed to 7
# and cancelled (it stays 4), changed to 6 and kept with OK.
keyin PXMEND SETTINGS DIALOG
item 144001 lBox 144001 set 5
item 144001 lBox 144002 set 3
item 144001 dTxt 144004 set 7
item 144001 pBtn 2 press
dump settings
keyin PXMEND SETTINGS DIALOG
item 144001 lBox 144001 set 5
item 144001 lBox 144002 set 3
item 144001 dTxt 144004 set 6
item 144001 pBtn 1 press
# The manual at the page of Delete (in the PDF viewer when there is a display), and the About box.
keyin PXMEND HELP TOPIC delete
keyin PXMEND HELP ABOUT
# At unload the add-on sees the changed settings and asks: answer Save (3).
answer 3
unload
# Loaded again, it reads the saved settings back.
load
dump settings
)";

// Draws view 0 of the design into a PNG picture; false with a message on stderr.
bool demoPicture(const fs::path& design, const fs::path& picture) {
    subhost::hostReset();
    std::string error;
    std::vector<std::string> notes;
    if (!subhost::openDesign(design.string(), &error) ||
        !subhost::renderViewToPng(picture.string(), 0, 1200, 600, &notes, &error)) {
        std::cerr << "pixelmend: cannot draw " << picture.string() << ": " << error << "\n";
        return false;
    }
    for (const std::string& note : notes) std::cerr << "pixelmend: " << note << "\n";
    subhost::hostReset();
    return true;
}

// Reads the transcript file back as events; a line that is not JSON becomes a null event (which
// the account names) rather than being dropped.
std::vector<nlohmann::json> readTranscript(const fs::path& path) {
    std::vector<nlohmann::json> events;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        events.push_back(nlohmann::json::parse(line, nullptr, false));
        if (events.back().is_discarded()) events.back() = nullptr;
    }
    return events;
}

int runDemo(Args args) {
    std::string outdir;
    bool verbose = false;
    for (const std::string& a : args) {
        if (a == "--verbose")
            verbose = true;
        else if (!a.empty() && a[0] == '-')
            return usageError("unknown option " + a);
        else if (outdir.empty())
            outdir = a;
        else
            return usageError("demo takes one OUTDIR");
    }
    if (outdir.empty()) return usageError("demo needs OUTDIR");
    const fs::path dir = fs::absolute(outdir);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        std::cerr << "pixelmend: cannot create " << dir.string() << ": " << ec.message() << "\n";
        return 2;
    }
    // The settings file lives in OUTDIR: the cfg line names it relative to the script's folder.
    std::string script = kDemoScript;
    const std::string relative = "cfg PXMEND_SETTINGS Pxmend.ini";
    script.replace(script.find(relative), relative.size(), "cfg PXMEND_SETTINGS " + (dir / "Pxmend.ini").string());
    fs::remove(dir / "Pxmend.ini", ec);
    if (!writeFile(dir / "demo-design.json", kDemoDesign) || !writeFile(dir / "demo.session", script) ||
        !writeSampleRasters(dir))
        return 2;
    const bool before = demoPicture(dir / "demo-design.json", dir / "before.png");
    // The transcript goes to its file (through a temporary renamed at the end), and with --verbose
    // to the terminal as well.
    const fs::path transcriptPath = dir / "transcript.jsonl";
    const fs::path partPath = dir / "transcript.jsonl.part";
    int code = 0;
    {
        std::ofstream transcriptFile(partPath, std::ios::binary | std::ios::trunc);
        TeeBuf tee(std::cout.rdbuf(), transcriptFile.rdbuf());
        std::ostream out(verbose ? static_cast<std::streambuf*>(&tee) : transcriptFile.rdbuf());
        subhost::SessionOptions options;
        options.appPath = defaultApp();
        subhost::hostReset();
        code = subhost::runSession((dir / "demo.session").string(), options, out, std::cerr);
        out.flush();
        transcriptFile.close();
        if (!transcriptFile || !out) {
            std::cerr << "pixelmend: cannot write " << partPath.string() << "\n";
            return 2;
        }
    }
    fs::rename(partPath, transcriptPath, ec);
    if (ec) {
        std::cerr << "pixelmend: cannot write " << transcriptPath.string() << ": " << ec.message() << "\n";
        return 2;
    }
    // The design as the session saved it: the scan edited, the cropped picture attached.
    const bool after = demoPicture(dir / "demo-design.json", dir / "after.png");
    std::cout << (verbose ? "\n" : "") << "What the session did (files in " << dir.string() << "):\n";
    for (const std::string& line : describeSession(readTranscript(transcriptPath), dir))
        std::cout << "  " << line << "\n";
    std::cout << "\nPixelMend demo finished (exit code " << code << ").\n"
              << "  session script : " << (dir / "demo.session").string() << "\n"
              << "  design file    : " << (dir / "demo-design.json").string() << "\n"
              << "  transcript     : " << transcriptPath.string()
              << (verbose ? "" : " (pixelmend demo --verbose prints it)") << "\n"
              << "  settings file  : " << (dir / "Pxmend.ini").string() << "\n"
              << "  changed scan   : " << (dir / "scan.tif").string() << " (backup: scan-backup.tif)\n"
              << "  cropped picture: " << (dir / "photo-cropped.png").string()
              << " (original photo.png kept; resized with a white margin of 20 pixels)\n"
              << "  scratch area   : " << (dir / "demo-site_pxmend_scratch.tif").string()
              << " (attached, then detached; the file stays)\n"
              << "  manual         : " << (exeFolder() / "Pxmendv8.pdf").string() << "\n";
    if (before && after)
        std::cout << "  picture before : " << (dir / "before.png").string() << "\n"
                  << "  picture after  : " << (dir / "after.png").string() << "\n";
    std::cout << "Run it again with: " << (exeFolder() / "pixelmend").string() << " session "
              << (dir / "demo.session").string() << "\n";
    return code != 0 ? code : (before && after ? 0 : 2);
}

int runHelp(Args);

// Loads the add-on and prints its version line and build line, as its About box shows them.
int runVersion(Args) {
    const std::string app = defaultApp();
    void* module = ::dlopen(app.c_str(), RTLD_LAZY | RTLD_LOCAL);
    using Text = const char* (*)();
    const auto version = module ? reinterpret_cast<Text>(::dlsym(module, "pc_pxmendVersionLine")) : nullptr;
    const auto build = module ? reinterpret_cast<Text>(::dlsym(module, "pc_pxmendBuildLine")) : nullptr;
    if (!version || !build) {
        std::cerr << "pixelmend: cannot read the version of " << app << ": " << (module ? "no version" : ::dlerror())
                  << "\n";
        if (module) ::dlclose(module);
        return 1;
    }
    std::cout << "PixelMend " << version() << "\n" << build() << "\n";
    ::dlclose(module);
    return 0;
}

const Subcommand kSubcommands[] = {
    {"session", "session SCRIPT [--answers yes|no] [--app PATH]",
     "run a session script; transcript events on stdout (exit 0 clean, 2 bad line or input, 3 unanswered question)",
     runSessionCommand},
    {"demo", "demo OUTDIR [--verbose]",
     "write a sample design and session into OUTDIR, run it and tell what it did (--verbose: the transcript too)",
     runDemo},
    {"render", "render DESIGN [--view N] [--size WxH] -o OUT.png", "draw a view of a design into a PNG picture",
     runRender},
    {"info", "info FILE...", "print format, compression, colour mode, size, palette and polarity of raster files",
     runInfo},
    {"stamp", "stamp DESIGN.json [--raster FILE] [--mode fence|selected|all] [--keep-elements] [--yes|--no]",
     "burn a design's elements into its raster attachments and remove them from the design (see stamp --help)",
     runStamp},
    {"import-dxf", "import-dxf DRAWING.dxf -o DESIGN.json",
     "write a design description holding a DXF drawing's entities as elements (see import-dxf --help)", runImportDxf},
    {"delete", "delete FILE... --block X,Y,W,H [options]", "delete a block of pixels in each file (see below)",
     [](Args a) { return runBatch("delete", a); }},
    {"crop", "crop FILE... --block X,Y,W,H [options]", "crop each file to a block",
     [](Args a) { return runBatch("crop", a); }},
    {"copy", "copy FILE... --block X,Y,W,H --to X,Y [options]", "copy a block within each file",
     [](Args a) { return runBatch("copy", a); }},
    {"move", "move FILE... --block X,Y,W,H --to X,Y [options]", "move a block within each file",
     [](Args a) { return runBatch("move", a); }},
    {"resize", "resize FILE... --add TOP,BOTTOM,LEFT,RIGHT [options]",
     "add (or with negative numbers trim) rows and columns at each edge of each file",
     [](Args a) { return runBatch("resize", a); }},
    {"deskew", "deskew FILE... [--angle DEG] [--corner N] [options]",
     "straighten each scan by its detected (or the given) skew angle (see deskew --help)", runDeskew},
    {"despeckle", "despeckle FILE... [--size XxY] [--block X,Y,W,H] [options]",
     "remove speckles from each monochrome scan (see despeckle --help)", runDespeckle},
    {"--version", "--version", "print the add-on's version and build", runVersion},
    {"--help", "--help", "show this help", runHelp},
};

int runHelp(Args) {
    std::cout << "PixelMend in its substitute CAD host.\n\nUsage:\n";
    for (const auto& sub : kSubcommands) std::cout << "  pixelmend " << sub.usage << "\n      " << sub.summary << "\n";
    std::cout
        << "\nThe add-on is pxmend.so beside this program unless --app or PIXELMEND_APP names another.\n"
           "Script lines: design, cfg, version, load, unload, keyin, command, point, reset, cursor,\n"
           "answer, file, color, set, toolsettings, item, close, undo, redo, dump, render (see subhost/README.md).\n";
    return 0;
}

}  // namespace
}  // namespace pixelmend

int main(int argc, char** argv) {
    using namespace pixelmend;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        runHelp({});
        return 2;
    }
    const std::string& name = args[0];
    for (const auto& sub : kSubcommands)
        if (name == sub.name || (name == "-h" && std::string(sub.name) == "--help") ||
            (name == "help" && std::string(sub.name) == "--help"))
            return sub.run(Args(args).subspan(1));
    return usageError("unknown command " + name);
}
