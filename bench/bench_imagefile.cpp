// Speed and memory of the raster codecs on an ordinary engineering drawing: an
// A0 sheet scanned at 400 dpi (18720 x 13240 pixels, 1 bit, CCITT G4), made by
// the benchmark itself. Our readImage and writeImage run beside libtiff alone
// decoding (TIFFReadEncodedStrip) and re-encoding (TIFFWriteEncodedStrip, G4)
// the same file; the ratios and the peak memory of a load plus write-back (in a
// fresh process) are printed at the end. Targets: both ratios within 1.3, peak
// under 150 MiB.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "subhost/imagefile/imagefile.h"

namespace {

namespace fs = std::filesystem;
using namespace subhost::imagefile;

constexpr std::uint32_t kWidth = 18720;
constexpr std::uint32_t kHeight = 13240;
constexpr std::uint32_t kRowsPerStrip = 256;
constexpr float kDpi = 400.0f;

// State of the benchmark run: the work folder, its files, the decoded drawing
// for the write benchmarks, and the mean time of each benchmark.
struct BenchImageFile {
    fs::path folder;
    std::string drawing;    // the generated A0 file
    std::string ourCopy;    // target of our write-back
    std::string tiffCopy;   // target of libtiff's re-encoding
    Image decoded;
    std::map<std::string, double> seconds;     // wall-clock
    std::map<std::string, double> cpuSeconds;  // processor time, steadier on a busy machine
};
BenchImageFile benchImageFile;

// A 1-bit canvas of the sheet; a set bit is ink (min-is-white).
struct Sheet {
    std::size_t stride = (kWidth + 7) / 8;
    std::vector<std::uint8_t> bits = std::vector<std::uint8_t>(stride * kHeight, 0);

    void fill(std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h) {
        for (std::uint32_t y = y0; y < y0 + h && y < kHeight; ++y)
            for (std::uint32_t x = x0; x < x0 + w && x < kWidth; ++x)
                bits[y * stride + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    void box(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h, std::uint32_t pen) {
        fill(x, y, w, pen);
        fill(x, y + h - pen, w, pen);
        fill(x, y, pen, h);
        fill(x + w - pen, y, pen, h);
    }
};

// Draws the sheet: border, grid, boxes, and text-like blobs in rows; mostly white.
void drawSheet(Sheet& sheet) {
    std::mt19937 random(400);
    sheet.box(120, 120, kWidth - 240, kHeight - 240, 12);
    for (std::uint32_t x = 600; x < kWidth - 200; x += 600) sheet.fill(x, 140, 3, kHeight - 280);
    for (std::uint32_t y = 600; y < kHeight - 200; y += 600) sheet.fill(140, y, kWidth - 280, 3);
    for (int i = 0; i < 400; ++i) {
        std::uint32_t w = 100 + random() % 1500, h = 100 + random() % 1200;
        sheet.box(200 + random() % (kWidth - w - 400), 200 + random() % (kHeight - h - 400), w, h, 2 + random() % 5);
    }
    // Text: lines of characters 28 x 40 pixels, each a few strokes.
    for (int block = 0; block < 60; ++block) {
        std::uint32_t bx = 300 + random() % (kWidth - 4000), by = 300 + random() % (kHeight - 1200);
        for (std::uint32_t line = 0; line < 12; ++line) {
            std::uint32_t chars = 20 + random() % 80;
            for (std::uint32_t c = 0; c < chars; ++c) {
                if (random() % 7 == 0) continue;  // a space
                std::uint32_t cx = bx + c * 36, cy = by + line * 70;
                for (int s = 0; s < 3; ++s) {
                    if (random() % 2)
                        sheet.fill(cx + random() % 24, cy, 4, 40);
                    else
                        sheet.fill(cx, cy + random() % 36, 28, 4);
                }
            }
        }
    }
}

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
        ok = TIFFWriteEncodedStrip(tif, s, bits + s * kRowsPerStrip * stride, static_cast<tmsize_t>(rows * stride)) >= 0;
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
        if (TIFFReadEncodedStrip(tif, s, bits.get() + s * kRowsPerStrip * stride, static_cast<tmsize_t>(rows * stride)) < 0)
            bits.reset();
    }
    TIFFClose(tif);
    return bits;
}

void BM_LoadOurs(benchmark::State& state) {
    for (auto _ : state) {
        ImageResult result = readImage(benchImageFile.drawing);
        if (!result.ok) state.SkipWithError(result.error.c_str());
        benchmark::DoNotOptimize(result.image.pixels.data());
    }
}

void BM_LoadLibtiff(benchmark::State& state) {
    for (auto _ : state) {
        auto bits = libtiffDecode(benchImageFile.drawing);
        if (!bits) state.SkipWithError("libtiff decode failed");
        benchmark::DoNotOptimize(bits.get());
    }
}

void BM_WriteBackOurs(benchmark::State& state) {
    for (auto _ : state) {
        WriteStatus status = writeImage(benchImageFile.ourCopy, benchImageFile.decoded);
        if (status.status != kStatusOk) state.SkipWithError(status.error.c_str());
    }
}

void BM_WriteBackLibtiff(benchmark::State& state) {
    for (auto _ : state) {
        if (!libtiffEncode(benchImageFile.tiffCopy, benchImageFile.decoded.pixels.data()))
            state.SkipWithError("libtiff encode failed");
    }
}

BENCHMARK(BM_LoadOurs)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadLibtiff)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteBackOurs)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteBackLibtiff)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Console output as usual, and the mean time of every benchmark kept for the ratios.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                const double n = static_cast<double>(run.iterations);
                benchImageFile.seconds[run.run_name.function_name] = run.real_accumulated_time / n;
                benchImageFile.cpuSeconds[run.run_name.function_name] = run.cpu_accumulated_time / n;
            }
        ConsoleReporter::ReportRuns(runs);
    }
};

// In a fresh process: load and write back (ours) or decode and encode (libtiff)
// the drawing once; the parent reads the child's peak resident memory.
int measureChild(const std::string& which, const std::string& drawing, const std::string& target) {
    if (which == "ours") {
        ImageResult result = readImage(drawing);
        if (!result.ok) return 1;
        return writeImage(target, result.image).status == kStatusOk ? 0 : 1;
    }
    auto bits = libtiffDecode(drawing);
    return bits && libtiffEncode(target, bits.get()) ? 0 : 1;
}

// Runs this program again as a measuring child, gives its peak memory in MiB (negative on failure).
double peakMiB(const char* self, const std::string& which) {
    pid_t pid = fork();
    if (pid == 0) {
        std::string target = benchImageFile.folder / ("peak-" + which + ".tif");
        execl(self, self, "--measure-peak", which.c_str(), benchImageFile.drawing.c_str(), target.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

bool prepare() {
    char pattern[] = "/tmp/pxm-bench-imagefile-XXXXXX";
    if (!mkdtemp(pattern)) return false;
    benchImageFile.folder = pattern;
    benchImageFile.drawing = (benchImageFile.folder / "a0-drawing.tif").string();
    benchImageFile.ourCopy = (benchImageFile.folder / "ours.tif").string();
    benchImageFile.tiffCopy = (benchImageFile.folder / "libtiff.tif").string();
    {
        Sheet sheet;
        drawSheet(sheet);
        if (!libtiffEncode(benchImageFile.drawing, sheet.bits.data())) return false;
    }
    ImageResult decoded = readImage(benchImageFile.drawing);
    if (!decoded.ok) {
        std::fprintf(stderr, "%s\n", decoded.error.c_str());
        return false;
    }
    benchImageFile.decoded = std::move(decoded.image);
    std::printf("A0 drawing: %u x %u, 1 bit, G4, %.1f MiB on disk, %.1f MiB packed in memory\n", kWidth, kHeight,
                static_cast<double>(fs::file_size(benchImageFile.drawing)) / 1048576.0,
                static_cast<double>(benchImageFile.decoded.pixels.size()) / 1048576.0);
    return true;
}

void printRatio(const char* what, const char* ours, const char* libtiff) {
    double a = benchImageFile.seconds[ours], b = benchImageFile.seconds[libtiff];
    double ca = benchImageFile.cpuSeconds[ours], cb = benchImageFile.cpuSeconds[libtiff];
    if (a > 0 && b > 0 && ca > 0 && cb > 0)
        std::printf("%-11s ours %7.1f ms  libtiff %7.1f ms  ratio %.2f (processor time: %.1f / %.1f ms, ratio %.2f; "
                    "target <= 1.30)\n",
                    what, a * 1e3, b * 1e3, a / b, ca * 1e3, cb * 1e3, ca / cb);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--measure-peak") == 0) return measureChild(argv[2], argv[3], argv[4]);
    benchmark::Initialize(&argc, argv);
    if (!prepare()) {
        std::fprintf(stderr, "cannot make the A0 drawing\n");
        return 1;
    }
    // Peak memory first, while this process is still small (the children are fresh programs anyway).
    double peakOurs = peakMiB("/proc/self/exe", "ours");
    double peakLibtiff = peakMiB("/proc/self/exe", "libtiff");

    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nA0 1-bit G4 drawing, %u x %u at %.0f dpi\n", kWidth, kHeight, static_cast<double>(kDpi));
    printRatio("load", "BM_LoadOurs", "BM_LoadLibtiff");
    printRatio("write-back", "BM_WriteBackOurs", "BM_WriteBackLibtiff");
    std::printf("peak memory of load + write-back in a fresh process: ours %.1f MiB, libtiff alone %.1f MiB "
                "(target < 150 MiB)\n",
                peakOurs, peakLibtiff);
    std::error_code ec;
    fs::remove_all(benchImageFile.folder, ec);
    return 0;
}
