// Speed of the clean-up libraries on the busy A0 sheet (18720 x 13240, 1 bit, CCITT G4 in one strip)
// turned by 1.7 degrees, beside their anchors in the same run:
//   deskew anchor:    libtiff decode + Leptonica pixFindSkew + pixRotate (shear) + libtiff encode;
//   despeckle anchor: libtiff decode + Leptonica pixSelectBySize (3 x 3, 8-connected) + libtiff encode;
//   recodeskew / recodespeckle loaded as the add-on loads them, on the packed DIB of the same sheet:
//   detect, correct, remove, and each library's whole path with the same decode and encode.
// The same deskew on a 24-bit A3 colour scan (4961 x 3508, the drawing in blue on cream paper).
// Peak memory (VmHWM, reset before each benchmark) is a counter of every benchmark. At the end the
// ratios against the anchors are printed.
#include <benchmark/benchmark.h>
#include <leptonica/allheaders.h>
#include <malloc.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "best_times.h"
#include "frame/app.h"
#include "host/winapi.h"
#include "peak_memory.h"
#include "sheets.h"
#include "subhost/host.h"
#include "sublibs/recodelibs.h"

namespace {

namespace fs = std::filesystem;

constexpr double kTurn = 1.7;
constexpr int kA3Width = 4961, kA3Height = 3508;

struct PixDeleter {
    void operator()(PIX* p) const { pixDestroy(&p); }
};
using PixPtr = std::unique_ptr<PIX, PixDeleter>;

// A packed DIB in movable memory, as the add-on's exchange mode makes it.
struct PackedDib {
    HGLOBAL handle = nullptr;
    std::uint8_t* bits = nullptr;
    std::size_t stride = 0, bytes = 0;
    PackedDib() = default;
    PackedDib(int w, int h, int depth) {
        stride = (std::size_t(w) * std::size_t(depth) + 31) / 32 * 4;
        const std::size_t table = depth == 1 ? 8 : 0;
        bytes = stride * std::size_t(h);
        handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + table + bytes);
        auto* base = static_cast<std::uint8_t*>(GlobalLock(handle));
        const BITMAPINFOHEADER header{40, w, h, 1, WORD(depth), BI_RGB, 0, 0, 0, 0, 0};
        std::memcpy(base, &header, 40);
        if (depth == 1) base[44] = base[45] = base[46] = 255;  // index 0 black, 1 white
        bits = base + 40 + table;
    }
    PackedDib(const PackedDib&) = delete;
    PackedDib& operator=(const PackedDib&) = delete;
    ~PackedDib() {
        if (!handle) return;
        GlobalUnlock(handle);
        GlobalFree(handle);
    }
};

// The run's state: the work folder with the turned sheet, the libraries and their sessions, the
// DIBs and the fastest time of every benchmark for the closing ratios.
struct BenchCleanup {
    fs::path dir;
    std::string sheetFile;
    HMODULE deskew = nullptr, despeckle = nullptr;
    std::int64_t deskewSession = 0, despeckleSession = 0;
    std::vector<std::uint8_t> sheetRows;  // decoded sheet, top row first, 1 = ink
    std::vector<std::uint8_t> a3Rows;     // the A3 colour scan, bottom row first, as its DIB holds it
    pxbench::BestTimes times;
    pxbench::PeakMeter peak;
    ~BenchCleanup() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
};
BenchCleanup bench;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "bench_cleanup: %s\n", message.c_str());
    std::exit(1);
}

template <typename T>
T entry(HMODULE module, const char* name) {
    auto found = reinterpret_cast<T>(GetProcAddress(module, name));
    if (!found) fail(std::string("no entry ") + name);
    return found;
}

// The turned A0 sheet as a G4 file, and the libraries loaded as the add-on loads them.
void setUp() {
    if (!bench.dir.empty()) return;
    bench.dir = fs::temp_directory_path() / ("pxmend-bench-cleanup-" + std::to_string(::getpid()));
    fs::create_directories(bench.dir);
    bench.sheetFile = (bench.dir / "a0-busy-turned.tif").string();
    std::string error;
    if (!pxbench::writeSheetG4(pxbench::makeBusyPart(kTurn, 0, 0, pxbench::kSheetWidth, pxbench::kSheetHeight),
                               bench.sheetFile, &error))
        fail(error);
    ::setenv("PIXELMEND_LIBRARY_PATH", fs::read_symlink("/proc/self/exe").parent_path().c_str(), 1);
    bench.deskew = LoadLibraryA("RECODESKEW.DLL");
    bench.despeckle = LoadLibraryA("RECODESPECKLE.DLL");
    if (!bench.deskew || !bench.despeckle) fail("the clean-up libraries cannot be loaded");
    bench.deskewSession = entry<recode::DeskewInit>(bench.deskew, "DESKEW_Init")("", "");
    bench.despeckleSession = entry<recode::DespeckleInit>(bench.despeckle, "DESPECKLE_Init")("", "");
}

// Decodes the sheet file with libtiff into rows of (w + 7) / 8 bytes, top row first, 1 = ink.
std::vector<std::uint8_t> decode() {
    TIFF* tif = TIFFOpen(bench.sheetFile.c_str(), "r");
    if (!tif) fail("cannot open " + bench.sheetFile);
    std::vector<std::uint8_t> rows(std::size_t(pxbench::kSheetWidth + 7) / 8 * pxbench::kSheetHeight);
    std::size_t offset = 0;
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
        const tmsize_t n = TIFFReadEncodedStrip(tif, s, rows.data() + offset, tmsize_t(rows.size() - offset));
        if (n > 0) offset += std::size_t(n);
    }
    TIFFClose(tif);
    return rows;
}

// Encodes rows (top first, 1 = ink) as a G4 file beside the sheet, through a temporary renamed over it.
void encode(const std::uint8_t* rows, std::size_t rowBytes) {
    pxbench::Sheet sheet;
    sheet.stride = rowBytes;
    sheet.bits.assign(rows, rows + rowBytes * pxbench::kSheetHeight);
    std::string error;
    if (!pxbench::writeSheetG4(sheet, (bench.dir / "out.tif").string(), &error)) fail(error);
}

// Rows as a Leptonica image (1 = ink) and back.
PixPtr pixOf(const std::vector<std::uint8_t>& rows) {
    PixPtr pix(pixCreateNoInit(pxbench::kSheetWidth, pxbench::kSheetHeight, 1));
    const std::size_t rowBytes = (pxbench::kSheetWidth + 7) / 8;
    auto* data = reinterpret_cast<std::uint8_t*>(pixGetData(pix.get()));
    const std::size_t wordBytes = std::size_t(pixGetWpl(pix.get())) * 4;
    for (int y = 0; y < pxbench::kSheetHeight; ++y)
        std::memcpy(data + y * wordBytes, rows.data() + y * rowBytes, rowBytes);
    pixEndianByteSwap(pix.get());
    return pix;
}

std::vector<std::uint8_t> rowsOf(PIX* pix) {
    pixEndianByteSwap(pix);
    const std::size_t rowBytes = (pxbench::kSheetWidth + 7) / 8;
    const auto* data = reinterpret_cast<const std::uint8_t*>(pixGetData(pix));
    const std::size_t wordBytes = std::size_t(pixGetWpl(pix)) * 4;
    std::vector<std::uint8_t> rows(rowBytes * pxbench::kSheetHeight);
    for (int y = 0; y < pxbench::kSheetHeight; ++y) std::memcpy(&rows[y * rowBytes], data + y * wordBytes, rowBytes);
    return rows;
}

// Copies decoded rows into a 1-bit DIB (bottom row first); inverted for despeckle, whose speckles are
// bit value 0.
void fillDib(PackedDib& dib, const std::vector<std::uint8_t>& rows, bool invert) {
    const std::size_t rowBytes = (pxbench::kSheetWidth + 7) / 8;
    for (int y = 0; y < pxbench::kSheetHeight; ++y) {
        std::uint8_t* to = dib.bits + std::size_t(pxbench::kSheetHeight - 1 - y) * dib.stride;
        const std::uint8_t* from = rows.data() + y * rowBytes;
        if (!invert) {
            std::memcpy(to, from, rowBytes);
        } else {
            for (std::size_t i = 0; i < rowBytes; ++i) to[i] = std::uint8_t(~from[i]);
        }
    }
}

// DIB rows back in top-first order (inverted back for despeckle).
std::vector<std::uint8_t> rowsOfDib(const PackedDib& dib, bool invert) {
    const std::size_t rowBytes = (pxbench::kSheetWidth + 7) / 8;
    std::vector<std::uint8_t> rows(rowBytes * pxbench::kSheetHeight);
    for (int y = 0; y < pxbench::kSheetHeight; ++y) {
        const std::uint8_t* from = dib.bits + std::size_t(pxbench::kSheetHeight - 1 - y) * dib.stride;
        for (std::size_t i = 0; i < rowBytes; ++i) rows[y * rowBytes + i] = invert ? std::uint8_t(~from[i]) : from[i];
    }
    return rows;
}

const std::vector<std::uint8_t>& decodedSheet() {
    if (bench.sheetRows.empty()) bench.sheetRows = decode();
    return bench.sheetRows;
}

double detect(const PackedDib& dib) {
    static const auto fn = entry<recode::DeskewDetect>(bench.deskew, "DESKEW_Detect");
    return fn(bench.deskewSession, dib.handle, 10.0, 0.1, -1, 0);
}

void correct(const PackedDib& dib, double angle) {
    static const auto fn = entry<recode::DeskewCorrect>(bench.deskew, "DESKEW_Correct");
    if (fn(bench.deskewSession, dib.handle, angle, 0, 0, 0) != 0) fail("DESKEW_Correct refused");
}

std::int32_t removeSpeckles(const PackedDib& dib) {
    static const auto fn = entry<recode::DespeckleRemovePoints>(bench.despeckle, "DESPECKLE_RemovePoints");
    return fn(bench.despeckleSession, dib.handle, 3, 3);
}

// ---- Anchors ----

void BM_AnchorDeskew(benchmark::State& state) {
    setUp();
    bench.peak.reset();
    for (auto _ : state) {
        PixPtr pix = pixOf(decode());
        l_float32 angle = 0, confidence = 0;
        pixFindSkew(pix.get(), &angle, &confidence);
        PixPtr turned(pixRotate(pix.get(), angle * 3.14159265f / 180, L_ROTATE_SHEAR, L_BRING_IN_WHITE, 0, 0));
        pix.reset();
        encode(rowsOf(turned.get()).data(), (pxbench::kSheetWidth + 7) / 8);
        state.counters["angle"] = angle;
    }
    bench.peak.report(state);
}

void BM_AnchorDespeckle(benchmark::State& state) {
    setUp();
    bench.peak.reset();
    for (auto _ : state) {
        PixPtr pix = pixOf(decode());
        l_int32 changed = 0;
        PixPtr speckles(pixSelectBySize(pix.get(), 3, 3, 8, L_SELECT_IF_BOTH, L_SELECT_IF_LTE, &changed));
        pixSubtract(pix.get(), pix.get(), speckles.get());
        encode(rowsOf(pix.get()).data(), (pxbench::kSheetWidth + 7) / 8);
    }
    bench.peak.report(state);
}

// ---- The libraries on the DIB ----

void BM_LibDetect(benchmark::State& state) {
    setUp();
    PackedDib dib(pxbench::kSheetWidth, pxbench::kSheetHeight, 1);
    fillDib(dib, decodedSheet(), false);
    bench.peak.reset();
    for (auto _ : state) state.counters["angle"] = detect(dib);
    bench.peak.report(state);
}

void BM_LibCorrect(benchmark::State& state) {
    setUp();
    PackedDib dib(pxbench::kSheetWidth, pxbench::kSheetHeight, 1);
    bench.peak.reset();
    for (auto _ : state) {
        state.PauseTiming();
        fillDib(dib, decodedSheet(), false);
        state.ResumeTiming();
        correct(dib, kTurn);
    }
    bench.peak.report(state);
}

void BM_LibRemove(benchmark::State& state) {
    setUp();
    PackedDib dib(pxbench::kSheetWidth, pxbench::kSheetHeight, 1);
    bench.peak.reset();
    for (auto _ : state) {
        state.PauseTiming();
        fillDib(dib, decodedSheet(), true);
        state.ResumeTiming();
        state.counters["speckles"] = removeSpeckles(dib);
    }
    bench.peak.report(state);
}

// Decode, DIB, detect, correct, encode: the library's part of a deskew with the anchor's file work.
void BM_LibDeskewPath(benchmark::State& state) {
    setUp();
    bench.peak.reset();
    for (auto _ : state) {
        PackedDib dib(pxbench::kSheetWidth, pxbench::kSheetHeight, 1);
        fillDib(dib, decode(), false);
        correct(dib, detect(dib));
        encode(rowsOfDib(dib, false).data(), (pxbench::kSheetWidth + 7) / 8);
    }
    bench.peak.report(state);
}

void BM_LibDespecklePath(benchmark::State& state) {
    setUp();
    bench.peak.reset();
    for (auto _ : state) {
        PackedDib dib(pxbench::kSheetWidth, pxbench::kSheetHeight, 1);
        fillDib(dib, decode(), true);
        removeSpeckles(dib);
        encode(rowsOfDib(dib, true).data(), (pxbench::kSheetWidth + 7) / 8);
    }
    bench.peak.report(state);
}

// ---- The A3 colour scan ----

// The A3 scan's DIB: the middle of the turned drawing in dark blue on cream paper.
void fillColourDib(PackedDib& dib) {
    if (bench.a3Rows.empty()) {
        const pxbench::Sheet part = pxbench::makeBusyPart(kTurn, 6000, 4000, kA3Width, kA3Height);
        bench.a3Rows.resize(dib.bytes);
        for (int y = 0; y < kA3Height; ++y) {
            std::uint8_t* to = bench.a3Rows.data() + std::size_t(kA3Height - 1 - y) * dib.stride;
            for (int x = 0; x < kA3Width; ++x, to += 3) {
                const bool ink = (part.bits[std::size_t(y) * part.stride + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
                to[0] = ink ? 120 : 215;  // blue
                to[1] = ink ? 30 : 240;   // green
                to[2] = ink ? 20 : 250;   // red
            }
        }
    }
    std::memcpy(dib.bits, bench.a3Rows.data(), dib.bytes);
}

void BM_LibDeskewColourA3(benchmark::State& state) {
    setUp();
    PackedDib dib(kA3Width, kA3Height, 24);
    bench.peak.reset();
    for (auto _ : state) {
        state.PauseTiming();
        fillColourDib(dib);
        state.ResumeTiming();
        const double angle = detect(dib);
        correct(dib, angle);
        state.counters["angle"] = angle;
    }
    bench.peak.report(state);
}

// ---- The add-on's commands end to end ----

// One command on a fresh copy of the turned sheet through the add-on loaded into the host, as the batch
// runs it: the design opened, settings given, the key-in and its data points, the design closed (the
// file written back). Only the copy is left out of the time.
void commandRun(benchmark::State& state, const char* keyin,
                std::initializer_list<std::pair<const char*, const char*>> fields, int points) {
    state.PauseTiming();
    const fs::path work = bench.dir / "work.tif";
    fs::copy_file(bench.sheetFile, work, fs::copy_options::overwrite_existing);
    state.ResumeTiming();
    subhost::hostReset();
    subhost::setCfgVar("PXMEND_SETTINGS", (bench.dir / "none.ini").string());
    const nlohmann::json design = {
        {"name", "bench.dgn"},
        {"views",
         {{{"rotation", 0}, {"origin", {0, 0, 0}}, {"extent", {pxbench::kSheetWidth, pxbench::kSheetHeight, 0}}}}},
        {"rasters", {{{"file", work.string()}, {"origin", {0, 0, 0}}}}}};
    std::string error;
    if (!subhost::openDesignDocument(design, bench.dir.string(), &error)) fail(error);
    subhost::setDefaultAnswer(6);
    const fs::path module = fs::read_symlink("/proc/self/exe").parent_path() / "pxmend.so";
    if (!subhost::loadLinkedApplication(&MdlMain, &MdlResources, module.string(), "KEYIN", &error)) fail(error);
    for (const auto& [field, value] : fields)
        if (!subhost::setField(field, value, &error)) fail(error);
    if (!subhost::keyin(keyin, &error)) fail(error);
    for (int i = 0; i < points; ++i) subhost::dataPoint(DPoint3d{100.5, 100.5, 0.0}, 0);
    subhost::closeDesign();
    subhost::setDefaultAnswer(7);
    subhost::unloadApplication(0);
    subhost::hostReset();
}

// Deskew detects the angle (the command starts at once on the only raster) and a data point corrects.
void BM_CommandDeskew(benchmark::State& state) {
    setUp();
    bench.peak.reset();
    for (auto _ : state) commandRun(state, "PXMEND DESKEW", {{"Backup", "0"}, {"DeskewMode", "0"}}, 1);
    bench.peak.report(state);
}

// Despeckle of the whole sheet (3 x 3, as the anchor): a data point picks the raster, the question is
// answered yes.
void BM_CommandDespeckle(benchmark::State& state) {
    setUp();
    bench.peak.reset();
    for (auto _ : state)
        commandRun(state, "PXMEND DESPECKLE",
                   {{"Backup", "0"}, {"DespeckleMode", "5"}, {"DespeckleX", "3"}, {"DespeckleY", "3"}}, 1);
    bench.peak.report(state);
}

BENCHMARK(BM_AnchorDeskew)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LibDeskewPath)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CommandDeskew)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AnchorDespeckle)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LibDespecklePath)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CommandDespeckle)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LibDetect)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LibCorrect)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LibRemove)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LibDeskewColourA3)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    pxbench::RecordingReporter reporter(bench.times);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\nRatios against the anchors (fastest repetition):\n");
    printRatio(bench.times, "BM_LibDeskewPath", "BM_AnchorDeskew");
    printRatio(bench.times, "BM_LibDespecklePath", "BM_AnchorDespeckle");
    printRatio(bench.times, "BM_CommandDeskew", "BM_AnchorDeskew");
    printRatio(bench.times, "BM_CommandDespeckle", "BM_AnchorDespeckle");
    return 0;
}
