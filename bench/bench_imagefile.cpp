// Speed and memory of the raster codecs on A0 sheets scanned at 400 dpi (18720 x 13240
// pixels, 1 bit, CCITT G4 in one strip): the busy drawing (text, curves, hatching, specks)
// and the regular grid, both in one run. Our readImage and writeImage run beside libtiff
// alone decoding (TIFFReadEncodedStrip) and re-encoding (TIFFWriteEncodedStrip, G4) the same
// file; the ratios and the peak memory of a load plus write-back (in a fresh process) are
// printed at the end for each sheet. Targets: both ratios within 1.3, peak under 150 MiB.
//   bench_imagefile --write-sheet busy|grid OUT.tif   writes a sheet for other tools.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sheets.h"
#include "subhost/imagefile/imagefile.h"

namespace {

namespace fs = std::filesystem;
using namespace subhost::imagefile;
using pxbench::SheetKind;

constexpr std::uint32_t kWidth = pxbench::kSheetWidth;
constexpr std::uint32_t kHeight = pxbench::kSheetHeight;
constexpr std::uint32_t kRowsPerStrip = kHeight;  // one strip, as the sheets are written
constexpr float kDpi = pxbench::kSheetDpi;
constexpr SheetKind kKinds[] = {SheetKind::Busy, SheetKind::Grid};

// One sheet's files and its decoded pixels for the write benchmarks.
struct SheetCase {
    std::string drawing;   // the generated A0 file
    std::string ourCopy;   // target of our write-back
    std::string tiffCopy;  // target of libtiff's re-encoding
    Image decoded;
    double peakOurs = -1, peakLibtiff = -1;  // MiB
};

// State of the benchmark run: the work folder, each sheet's case, and the mean time of each
// benchmark (by its name with the sheet, e.g. BM_LoadOurs/busy).
struct BenchImageFile {
    fs::path folder;
    std::map<SheetKind, SheetCase> sheets;
    std::map<std::string, double> seconds;     // wall-clock
    std::map<std::string, double> cpuSeconds;  // processor time, steadier on a busy machine
};
BenchImageFile benchImageFile;

// Opens `path` for writing and sets the tags of a G4 A0 sheet.
TIFF* openG4(const std::string& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return nullptr;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, kDpi);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, kDpi);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    return tif;
}

// libtiff alone: the packed rows of `bits` encoded strip by strip.
bool libtiffEncode(const std::string& path, std::uint8_t* bits) {
    TIFF* tif = openG4(path);
    if (!tif) return false;
    const std::size_t stride = (kWidth + 7) / 8;
    bool ok = true;
    for (tstrip_t s = 0; ok && s < TIFFNumberOfStrips(tif); ++s) {
        std::uint32_t rows = std::min(kRowsPerStrip, kHeight - s * kRowsPerStrip);
        ok =
            TIFFWriteEncodedStrip(tif, s, bits + s * kRowsPerStrip * stride, static_cast<tmsize_t>(rows * stride)) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

// libtiff alone: the file decoded strip by strip into one buffer.
std::unique_ptr<std::uint8_t[]> libtiffDecode(const std::string& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return nullptr;
    const std::size_t stride = (kWidth + 7) / 8;
    auto bits = std::make_unique_for_overwrite<std::uint8_t[]>(stride * kHeight);
    for (tstrip_t s = 0; bits && s < TIFFNumberOfStrips(tif); ++s) {
        std::uint32_t rows = std::min(kRowsPerStrip, kHeight - s * kRowsPerStrip);
        if (TIFFReadEncodedStrip(tif, s, bits.get() + s * kRowsPerStrip * stride,
                                 static_cast<tmsize_t>(rows * stride)) < 0)
            bits.reset();
    }
    TIFFClose(tif);
    return bits;
}

void BM_LoadOurs(benchmark::State& state, SheetKind kind) {
    for (auto _ : state) {
        ImageResult result = readImage(benchImageFile.sheets[kind].drawing);
        if (!result.ok) state.SkipWithError(result.error.c_str());
        benchmark::DoNotOptimize(result.image.pixels.data());
    }
}

void BM_LoadLibtiff(benchmark::State& state, SheetKind kind) {
    for (auto _ : state) {
        auto bits = libtiffDecode(benchImageFile.sheets[kind].drawing);
        if (!bits) state.SkipWithError("libtiff decode failed");
        benchmark::DoNotOptimize(bits.get());
    }
}

void BM_WriteBackOurs(benchmark::State& state, SheetKind kind) {
    const SheetCase& sheet = benchImageFile.sheets[kind];
    for (auto _ : state) {
        WriteStatus status = writeImage(sheet.ourCopy, sheet.decoded);
        if (status.status != kStatusOk) state.SkipWithError(status.error.c_str());
    }
}

void BM_WriteBackLibtiff(benchmark::State& state, SheetKind kind) {
    SheetCase& sheet = benchImageFile.sheets[kind];
    for (auto _ : state) {
        if (!libtiffEncode(sheet.tiffCopy, sheet.decoded.pixels.data())) state.SkipWithError("libtiff encode failed");
    }
}

// Every benchmark on both sheets, the busy one first.
#define PXBENCH_BOTH(fn)                                                                       \
    BENCHMARK_CAPTURE(fn, busy, SheetKind::Busy)->Unit(benchmark::kMillisecond)->MinTime(2.0); \
    BENCHMARK_CAPTURE(fn, grid, SheetKind::Grid)->Unit(benchmark::kMillisecond)->MinTime(2.0)

PXBENCH_BOTH(BM_LoadOurs);
PXBENCH_BOTH(BM_LoadLibtiff);
PXBENCH_BOTH(BM_WriteBackOurs);
PXBENCH_BOTH(BM_WriteBackLibtiff);

// Console output as usual, and the mean time of every benchmark kept for the ratios (with
// repetitions, the fastest repetition's).
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred) {
                const double n = static_cast<double>(run.iterations);
                const std::string& name = run.run_name.function_name;
                double& wall = benchImageFile.seconds[name];
                if (wall == 0 || run.real_accumulated_time / n < wall) {
                    wall = run.real_accumulated_time / n;
                    benchImageFile.cpuSeconds[name] = run.cpu_accumulated_time / n;
                }
            }
        ConsoleReporter::ReportRuns(runs);
    }
};

// The peak resident memory of this process in KiB (VmHWM), 0 when it cannot be read.
long peakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// In a fresh process: load and write back (ours) or decode and encode (libtiff) the drawing once,
// then print the peak memory. The child reads its own VmHWM: the rusage the parent could read
// counts the parent's memory too, which a forked child starts with.
int measureChild(const std::string& which, const std::string& drawing, const std::string& target) {
    bool ok = false;
    if (which == "ours") {
        ImageResult result = readImage(drawing);
        ok = result.ok && writeImage(target, result.image).status == kStatusOk;
    } else {
        auto bits = libtiffDecode(drawing);
        ok = bits && libtiffEncode(target, bits.get());
    }
    if (!ok) return 1;
    std::printf("%ld\n", peakKiB());
    return 0;
}

// Runs this program again as a measuring child, gives its peak memory in MiB (negative on failure).
double peakMiB(const char* self, const std::string& which, const std::string& drawing) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const std::string target = benchImageFile.folder / ("peak-" + which + ".tif");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execl(self, self, "--measure-peak", which.c_str(), drawing.c_str(), target.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buffer[64];
    for (ssize_t n; pid > 0 && (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, std::size_t(n));
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    const long kib = std::atol(out.c_str());
    return kib > 0 ? static_cast<double>(kib) / 1024.0 : -1;
}

// Writes both sheets into a new work folder and decodes them for the write benchmarks.
bool prepare() {
    char pattern[] = "/tmp/pxm-bench-imagefile-XXXXXX";
    if (!mkdtemp(pattern)) return false;
    benchImageFile.folder = pattern;
    for (const SheetKind kind : kKinds) {
        const std::string name = pxbench::sheetName(kind);
        SheetCase& sheet = benchImageFile.sheets[kind];
        sheet.drawing = (benchImageFile.folder / ("a0-" + name + ".tif")).string();
        sheet.ourCopy = (benchImageFile.folder / ("ours-" + name + ".tif")).string();
        sheet.tiffCopy = (benchImageFile.folder / ("libtiff-" + name + ".tif")).string();
        std::string error;
        if (!pxbench::writeSheetG4(pxbench::makeSheet(kind), sheet.drawing, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        ImageResult decoded = readImage(sheet.drawing);
        if (!decoded.ok) {
            std::fprintf(stderr, "%s\n", decoded.error.c_str());
            return false;
        }
        sheet.decoded = std::move(decoded.image);
        std::printf("A0 %s sheet: %u x %u, 1 bit, G4, %.2f MB on disk, %.1f MiB packed in memory\n", name.c_str(),
                    kWidth, kHeight, static_cast<double>(fs::file_size(sheet.drawing)) / 1e6,
                    static_cast<double>(sheet.decoded.pixels.size()) / 1048576.0);
    }
    return true;
}

void printRatio(const char* what, const std::string& ours, const std::string& libtiff) {
    double a = benchImageFile.seconds[ours], b = benchImageFile.seconds[libtiff];
    double ca = benchImageFile.cpuSeconds[ours], cb = benchImageFile.cpuSeconds[libtiff];
    if (a > 0 && b > 0 && ca > 0 && cb > 0)
        std::printf(
            "  %-11s ours %7.1f ms  libtiff %7.1f ms  ratio %.2f (processor time: %.1f / %.1f ms, ratio %.2f; "
            "target <= 1.30)\n",
            what, a * 1e3, b * 1e3, a / b, ca * 1e3, cb * 1e3, ca / cb);
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--measure-peak") == 0) return measureChild(argv[2], argv[3], argv[4]);
    if (argc == 4 && std::strcmp(argv[1], "--write-sheet") == 0) {
        const bool busy = std::strcmp(argv[2], "busy") == 0;
        if (!busy && std::strcmp(argv[2], "grid") != 0) {
            std::fprintf(stderr, "bench_imagefile: --write-sheet takes busy or grid\n");
            return 2;
        }
        std::string error;
        if (pxbench::writeSheetG4(pxbench::makeSheet(busy ? SheetKind::Busy : SheetKind::Grid), argv[3], &error))
            return 0;
        std::fprintf(stderr, "bench_imagefile: %s\n", error.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const std::string loadAtStart = loadAverage();
    if (!prepare()) {
        std::fprintf(stderr, "cannot make the A0 sheets\n");
        return 1;
    }
    // Peak memory of fresh programs, each measuring itself.
    for (auto& [kind, sheet] : benchImageFile.sheets) {
        sheet.peakOurs = peakMiB("/proc/self/exe", "ours", sheet.drawing);
        sheet.peakLibtiff = peakMiB("/proc/self/exe", "libtiff", sheet.drawing);
    }

    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nA0 1-bit G4 sheets, %u x %u at %.0f dpi; load average at start %s, at end %s\n", kWidth, kHeight,
                static_cast<double>(kDpi), loadAtStart.c_str(), loadAverage().c_str());
    for (const auto& [kind, sheet] : benchImageFile.sheets) {
        const std::string suffix = std::string("/") + pxbench::sheetName(kind);
        std::printf("%s sheet:\n", pxbench::sheetName(kind));
        printRatio("load", "BM_LoadOurs" + suffix, "BM_LoadLibtiff" + suffix);
        printRatio("write-back", "BM_WriteBackOurs" + suffix, "BM_WriteBackLibtiff" + suffix);
        std::printf(
            "  peak memory of load + write-back in a fresh process: ours %.1f MiB, libtiff alone %.1f MiB "
            "(target < 150 MiB)\n",
            sheet.peakOurs, sheet.peakLibtiff);
    }
    std::error_code ec;
    fs::remove_all(benchImageFile.folder, ec);
    return 0;
}
