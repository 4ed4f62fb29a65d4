// Speed of a canvas resize on the busy A0 sheet (18720 x 13240, 1 bit, CCITT G4 in one strip), 500
// pixels added on each side, beside libtiff alone in the same run:
//   anchor: libtiff decode of the sheet (TIFFReadEncodedStrip), the sheet's rows laid into a white
//           19720 x 14240 image, and that image coded as G4 into a new file (temporary, renamed);
//   resize: the add-on loaded into the host as `pixelmend resize FILE --add 500,500,500,500` runs it:
//           the design opened, the resize key-in, the four amounts typed, the apply key-in, the design
//           closed. Only the fresh copy of the sheet is left out of the time.
// Before timing, one resize is checked against the anchor's image: the same pixels, read back with
// libtiff. Processor time is the whole process's (threads included). Peak memory (VmHWM, reset before
// each benchmark) is a counter of every benchmark. At the end the ratio against the anchor is printed,
// in wall-clock and processor time, with the load average.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "best_times.h"
#include "frame/app.h"
#include "peak_memory.h"
#include "sheets.h"
#include "subhost/host.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMargin = 500;
constexpr int kWideWidth = pxbench::kSheetWidth + 2 * kMargin;
constexpr int kWideHeight = pxbench::kSheetHeight + 2 * kMargin;

// The run's state: the work folder with the sheet, the fastest time of every benchmark for the
// closing ratios, and the resident size when the running benchmark's peak measurement started.
struct BenchResize {
    fs::path dir;
    std::string sheetFile;
    pxbench::BestTimes times;
    pxbench::PeakMeter peak;
    ~BenchResize() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
};
BenchResize bench;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "bench_resize: %s\n", message.c_str());
    std::exit(1);
}

void setUp() {
    if (!bench.dir.empty()) return;
    bench.dir = fs::temp_directory_path() / ("pxmend-bench-resize-" + std::to_string(::getpid()));
    fs::create_directories(bench.dir);
    bench.sheetFile = (bench.dir / "a0-busy.tif").string();
    std::string error;
    if (!pxbench::writeSheetG4(pxbench::makeSheet(pxbench::SheetKind::Busy), bench.sheetFile, &error)) fail(error);
}

// Decodes a 1-bit TIFF with libtiff into packed rows (top first, 1 = ink whatever the file's
// photometric); the image's width and height into *width, *height.
std::vector<std::uint8_t> decode(const std::string& path, int* width, int* height) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) fail("cannot open " + path);
    std::uint32_t w = 0, h = 0;
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    std::vector<std::uint8_t> rows(std::size_t(w + 7) / 8 * h);
    std::size_t offset = 0;
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
        const tmsize_t n = TIFFReadEncodedStrip(tif, s, rows.data() + offset, tmsize_t(rows.size() - offset));
        if (n > 0) offset += std::size_t(n);
    }
    TIFFClose(tif);
    if (photometric == PHOTOMETRIC_MINISBLACK)
        for (std::uint8_t& b : rows) b = std::uint8_t(~b);
    *width = int(w);
    *height = int(h);
    return rows;
}

// Lays rows of width pixels into the white wide image at kMargin, kMargin (a shift by whole bytes and
// the remaining bits); the bits past the width in a row's last byte are left out.
pxbench::Sheet widen(const std::vector<std::uint8_t>& rows, int width, int height) {
    pxbench::Sheet wide;
    wide.width = kWideWidth;
    wide.height = kWideHeight;
    wide.stride = std::size_t(kWideWidth + 7) / 8;
    wide.bits.assign(wide.stride * std::size_t(kWideHeight), 0);
    const std::size_t from = std::size_t(width + 7) / 8;
    const int shift = kMargin % 8;
    const std::uint8_t lastMask = std::uint8_t(0xFF << ((8 - width % 8) % 8));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = rows.data() + std::size_t(y) * from;
        std::uint8_t* out = wide.bits.data() + std::size_t(y + kMargin) * wide.stride + kMargin / 8;
        for (std::size_t i = 0; i < from; ++i) {
            const std::uint8_t b = i + 1 == from ? std::uint8_t(in[i] & lastMask) : in[i];
            out[i] |= std::uint8_t(b >> shift);
            out[i + 1] |= std::uint8_t(b << (8 - shift));
        }
    }
    return wide;
}

// The anchor: decode with libtiff, lay the rows into the wide image, code it as G4 into a new file.
void BM_AnchorLibtiff(benchmark::State& state) {
    setUp();
    bench.peak.reset();
    for (auto _ : state) {
        int w = 0, h = 0;
        const std::vector<std::uint8_t> rows = decode(bench.sheetFile, &w, &h);  // sets w and h
        const pxbench::Sheet wide = widen(rows, w, h);
        std::string error;
        if (!pxbench::writeSheetG4(wide, (bench.dir / "anchor.tif").string(), &error)) fail(error);
    }
    bench.peak.report(state);
}

// One resize of a fresh copy of the sheet through the add-on loaded into the host, as the batch runs
// it; gives the copy's path.
std::string resizeRun(benchmark::State* state) {
    if (state) state->PauseTiming();
    const fs::path work = bench.dir / "work.tif";
    fs::copy_file(bench.sheetFile, work, fs::copy_options::overwrite_existing);
    if (state) state->ResumeTiming();
    subhost::hostReset();
    subhost::setCfgVar("PXMEND_SETTINGS", (bench.dir / "none.ini").string());
    const nlohmann::json design = {
        {"name", "bench.dgn"},
        {"views",
         {{{"rotation", 0}, {"origin", {0, 0, 0}}, {"extent", {pxbench::kSheetWidth, pxbench::kSheetHeight, 0}}}}},
        {"rasters", {{{"file", work.string()}, {"origin", {0, 0, 0}}}}}};
    std::string error;
    if (!subhost::openDesignDocument(design, bench.dir.string(), &error)) fail(error);
    const fs::path module = fs::read_symlink("/proc/self/exe").parent_path() / "pxmend.so";
    if (!subhost::loadLinkedApplication(&MdlMain, &MdlResources, module.string(), "KEYIN", &error)) fail(error);
    if (!subhost::keyin("PXMEND RESIZE", &error)) fail(error);
    for (const char* field : {"ResizeRowsEnd", "ResizeRowsStart", "ResizeColumnsStart", "ResizeColumnsEnd"})
        if (!subhost::setField(field, std::to_string(kMargin), &error)) fail(error);
    if (!subhost::keyin("PXMEND RESIZE APPLY", &error)) fail(error);
    subhost::closeDesign();
    subhost::setDefaultAnswer(7);
    subhost::unloadApplication(0);
    subhost::hostReset();
    return work.string();
}

void BM_CommandResize(benchmark::State& state) {
    setUp();
    bench.peak.reset();
    for (auto _ : state) resizeRun(&state);
    bench.peak.report(state);
}

BENCHMARK(BM_AnchorLibtiff)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(3)->Repetitions(3);
BENCHMARK(BM_CommandResize)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(3)->Repetitions(3);

// One resize read back with libtiff against the anchor's wide image: the pixels must be the same.
bool resizeMatchesAnchor() {
    setUp();
    int w = 0, h = 0;
    const std::vector<std::uint8_t> rows = decode(bench.sheetFile, &w, &h);
    const pxbench::Sheet wide = widen(rows, w, h);
    const std::string resized = resizeRun(nullptr);
    int rw = 0, rh = 0;
    const std::vector<std::uint8_t> back = decode(resized, &rw, &rh);
    std::printf("resized sheet: %d x %d (wanted %d x %d)\n", rw, rh, kWideWidth, kWideHeight);
    std::size_t differ = 0, first = back.size();
    for (std::size_t i = 0; i < back.size() && i < wide.bits.size(); ++i)
        if (back[i] != wide.bits[i]) {
            ++differ;
            first = std::min(first, i);
        }
    if (differ)
        std::printf("  %zu bytes differ, the first at row %zu byte %zu (%02x, wanted %02x)\n", differ,
                    first / wide.stride, first % wide.stride, back[first], wide.bits[first]);
    return rw == kWideWidth && rh == kWideHeight && back == wide.bits;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    double load[1] = {0};
    if (getloadavg(load, 1) == 1) std::printf("load average %.2f at the start\n", load[0]);
    std::printf("resized pixels equal the anchor's: %s\n", resizeMatchesAnchor() ? "yes" : "NO");
    pxbench::RecordingReporter reporter(bench.times);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (getloadavg(load, 1) == 1) std::printf("\nload average %.2f at the end\n", load[0]);
    std::printf("Resize against the anchor (fastest repetition; target: ratio <= 1.3):\n");
    printRatio(bench.times, "BM_CommandResize", "BM_AnchorLibtiff");
    return 0;
}
