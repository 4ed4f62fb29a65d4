// Speed of the raster path on A0 scans (18720 x 13240 pixels, 1 bit, CCITT G4 in one strip,
// 400 dpi), beside libtiff's own decode and encode of the same file, on two sheets in one run:
// "busy" (a drawing with text, curves, hatching and specks: what A0 figures are quoted on) and
// "grid" (a regular grid, fast to code). Each sheet's benchmarks are named .../busy and .../grid:
//   attach + first target load (decode, polarity sampling and probe),
//   a 1000 x 1000 block read and write, and the write-back of the changed file,
//   delete of a 2000 x 2000 block in process, and as the whole `pixelmend delete` command
//   against `tiffcp -c g4` of the same file, crop to half the sheet, a drawn view.
// Peak memory (VmHWM) is reported as a counter of the load benchmark. At the end the ratios
// against libtiff are printed for both sheets, with the machine's load average.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame/app.h"
#include "host/mdlresource.h"
#include "raster/bitmap.h"
#include "raster/context.h"
#include "raster/target.h"
#include "settings/settings.h"
#include "sheets.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"
#include "subhost/raster/raster.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace img = subhost::imagefile;
using pxbench::SheetKind;

constexpr int kWidth = pxbench::kSheetWidth;
constexpr int kHeight = pxbench::kSheetHeight;
constexpr SheetKind kKinds[] = {SheetKind::Busy, SheetKind::Grid};

// One sheet's files: the one the benchmarks attach and change, and its untouched original.
struct SheetFiles {
    std::string file;      // a0-KIND.tif
    std::string original;  // a0-KIND-original.tif
    std::string design;    // a0-KIND.json, one view of the whole sheet with the file attached
};

// State of the benchmark run: the work folder with both sheets (made when first asked for),
// the best time per iteration of every benchmark for the closing ratios, and the load average
// when the run started.
struct BenchRaster {
    fs::path dir;
    std::map<SheetKind, SheetFiles> sheets;
    std::map<std::string, double> bestSeconds;  // benchmark name -> fastest repetition's mean
    std::map<std::string, double> cpuSeconds;   // processor time of that repetition (a child's for a process)
    std::string loadAtStart;
    ~BenchRaster() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
};
BenchRaster bench;

long peakMemoryKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "bench_raster: %s\n", message.c_str());
    std::exit(1);
}

// The work folder, made on first use; the batch command keeps its settings in it, not the user's.
const fs::path& workDir() {
    if (bench.dir.empty()) {
        bench.dir = fs::temp_directory_path() / ("pxmend-bench-" + std::to_string(::getpid()));
        fs::create_directories(bench.dir);
        ::setenv("XDG_CONFIG_HOME", (bench.dir / "config").c_str(), 1);
    }
    return bench.dir;
}

// The files of a sheet, drawn and written on first use.
const SheetFiles& sample(SheetKind kind) {
    auto found = bench.sheets.find(kind);
    if (found != bench.sheets.end()) return found->second;
    const std::string name = std::string("a0-") + pxbench::sheetName(kind);
    SheetFiles files{(workDir() / (name + ".tif")).string(), (workDir() / (name + "-original.tif")).string(),
                     (workDir() / (name + ".json")).string()};
    std::string error;
    if (!pxbench::writeSheetG4(pxbench::makeSheet(kind), files.original, &error)) fail(error);
    fs::copy_file(files.original, files.file);
    std::ofstream(files.design) << R"({"views": [{"rotation": 0, "origin": [0, 0, 0], "extent": [18720, 13240, 0]}],
                                       "rasters": [{"file": ")"
                                << name << R"(.tif"}]})";
    return bench.sheets.emplace(kind, files).first->second;
}

// Puts the untouched sheet back in place of `file` (a new file renamed over it, as the host's own
// writes do, so that files the host keeps for undo are left alone).
void restore(SheetKind kind, const std::string& file) {
    const std::string temporary = file + ".restore";
    std::error_code ec;
    fs::copy_file(sample(kind).original, temporary, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(temporary, file, ec);
    if (ec) fail("cannot restore " + file + ": " + ec.message());
}

// Runs a program with its output thrown away; gives its exit code, -1 when it could not run, and
// adds the processor time it took (user and system) to *cpuSeconds.
int runProgram(const std::vector<std::string>& argv, double* cpuSeconds) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return -1;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) return -1;
    *cpuSeconds += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    return WEXITSTATUS(status);
}

// The pixelmend command built beside this program.
std::string pixelmendPath() { return (fs::read_symlink("/proc/self/exe").parent_path() / "pixelmend").string(); }

// Attaches the sample file to a fresh host and loads it as the current target.
RasterTarget* attachAndLoad(SheetKind kind) {
    subhost::raster::closeAll();
    v_rasterTargetFreeAll();
    subhost::raster::loadAttachments(nlohmann::json::array({{{"file", sample(kind).file}}}), workDir().string());
    const DgnRasterCollection rasters = DgnRasterCollection::GetRasters(nullptr);
    DgnRasterP raster = rasters.begin().GetCurrent();
    v_commandRasterSelect(raster, pv_rasterTargetLoad(raster, true, false));
    return currentTarget();
}

void setUpHost() {
    static bool done = false;
    if (done) return;
    done = true;
    subhost::hostReset();
    subhost::setDefaultAnswer(ACTIONBUTTON_OK);
    v_settingsDefaults();
    s__globals.Backup = 0;
    s__globals.HostVersion89 = 1;
}

void BM_LibtiffDecode(benchmark::State& state, SheetKind kind) {
    const std::string file = sample(kind).file;
    for (auto _ : state) {
        // A decode into fresh memory, as tiffcp or any reader of a new file does.
        auto pixels = std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t(kWidth + 7) / 8 * kHeight);
        TIFF* tif = TIFFOpen(file.c_str(), "r");
        const tstrip_t strips = TIFFNumberOfStrips(tif);
        std::size_t offset = 0;
        for (tstrip_t s = 0; s < strips; ++s) {
            const tmsize_t n = TIFFReadEncodedStrip(tif, s, pixels.get() + offset, -1);
            if (n > 0) offset += std::size_t(n);
        }
        TIFFClose(tif);
        benchmark::DoNotOptimize(pixels.get());
    }
}

void BM_LibtiffEncode(benchmark::State& state, SheetKind kind) {
    const img::Image image = img::readImage(sample(kind).file).image;
    const std::string out = (workDir() / "libtiff-out.tif").string();
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(out.c_str(), "w");
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        // The same strip layout as the file, as tiffcp keeps it.
        const std::uint32_t rows = image.layout.rowsPerStrip ? image.layout.rowsPerStrip : kHeight;
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 400.0);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 400.0);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        for (std::uint32_t row = 0, strip = 0; row < std::uint32_t(kHeight); row += rows, ++strip) {
            const std::uint32_t n = std::min(rows, std::uint32_t(kHeight) - row);
            TIFFWriteEncodedStrip(tif, strip,
                                  const_cast<std::uint8_t*>(image.pixels.data()) + std::size_t(row) * image.stride,
                                  tmsize_t(std::size_t(n) * image.stride));
        }
        TIFFClose(tif);
    }
}

// `tiffcp -c g4` of the sheet as a whole process: start, decode, encode, write, exit.
void BM_TiffcpG4(benchmark::State& state, SheetKind kind) {
    const std::string out = (workDir() / "tiffcp-out.tif").string();
    double cpu = 0;
    for (auto _ : state) {
        const int code = runProgram({"tiffcp", "-c", "g4", sample(kind).file, out}, &cpu);
        if (code != 0) state.SkipWithError(code < 0 ? "tiffcp could not run (libtiff-tools)" : "tiffcp failed");
    }
    state.counters["childCpuMs"] = cpu * 1e3 / double(state.iterations());
}

// `pixelmend delete FILE --block X,Y,2000,2000` as a user runs it, on a fresh copy of the sheet each
// time: start, load the add-on, decode, delete, write back (with the backup the default settings make).
// The block lies in the drawing on both sheets, so that the delete changes pixels.
void BM_BatchDelete2000(benchmark::State& state, SheetKind kind) {
    const std::string file = (workDir() / (std::string("batch-") + pxbench::sheetName(kind) + ".tif")).string();
    const std::string backup =
        (workDir() / (std::string("batch-") + pxbench::sheetName(kind) + "-backup.tif")).string();
    const std::string program = pixelmendPath();
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        restore(kind, file);
        std::error_code ec;
        fs::remove(backup, ec);
        state.ResumeTiming();
        const int code = runProgram({program, "delete", file, "--block", "6000,4000,2000,2000"}, &cpu);
        if (code != 0) state.SkipWithError(code < 0 ? "pixelmend could not run" : "pixelmend delete failed");
        // A delete that changed nothing writes nothing and would time only the load: the backup made
        // by the first change shows that the file was written.
        else if (!fs::exists(backup))
            state.SkipWithError("pixelmend delete changed nothing");
    }
    state.counters["childCpuMs"] = cpu * 1e3 / double(state.iterations());
}

void BM_HostDecode(benchmark::State& state, SheetKind kind) {
    for (auto _ : state) {
        img::ImageResult result = img::readImage(sample(kind).file);
        benchmark::DoNotOptimize(result.image.pixels.data());
    }
}

void BM_AttachAndFirstLoad(benchmark::State& state, SheetKind kind) {
    setUpHost();
    sample(kind);
    for (auto _ : state) {
        state.PauseTiming();
        subhost::raster::closeAll();
        state.ResumeTiming();
        RasterTarget* target = attachAndLoad(kind);
        if (target == nullptr) state.SkipWithError("the sample did not load");
        benchmark::DoNotOptimize(target);
    }
    state.counters["peakMiB"] = double(peakMemoryKiB()) / 1024.0;
}

// A block of the loaded sample held in memory, as an edit holds it.
struct HeldBlock {
    PixelBlock block;
    PixelFormat format{IMAGECOLOR_Monochrome, 0, {}};
    BitmapSize size{};
    std::uint8_t* bytes = nullptr;

    HeldBlock(benchmark::State& state, SheetKind kind, PixelBlock where) : block(where) {
        setUpHost();
        if (attachAndLoad(kind) == nullptr) state.SkipWithError("the sample did not load");
        j_bitmapRead(&bytes, &format, &block, &size);
    }
    ~HeldBlock() { std::free(bytes); }
};

void BM_BlockRead1000(benchmark::State& state, SheetKind kind) {
    HeldBlock held(state, kind, {5003, 4001, 1000, 1000, 1});
    for (auto _ : state) {
        j_bitmapRead(&held.bytes, &held.format, &held.block, &held.size);
        benchmark::DoNotOptimize(held.bytes);
    }
}

void BM_BlockWrite1000(benchmark::State& state, SheetKind kind) {
    HeldBlock held(state, kind, {5003, 4001, 1000, 1000, 1});
    for (auto _ : state) {
        mdlUndo_startGroup();
        j_bitmapWrite(held.bytes, &held.format, &held.block, &held.size);
        mdlUndo_endGroup();
    }
}

void BM_WriteBack(benchmark::State& state, SheetKind kind) {
    HeldBlock held(state, kind, {100, 100, 64, 64, 1});
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < j_bitmapBytes(&held.size); ++i) held.bytes[i] = std::uint8_t(~held.bytes[i]);
        j_bitmapWrite(held.bytes, &held.format, &held.block, &held.size);
        state.ResumeTiming();
        if (!subhost::raster::flushAll()) state.SkipWithError("write-back failed");
    }
    subhost::raster::closeAll();
    restore(kind, sample(kind).file);
}

// The add-on loaded into the host on a design with the sheet attached (one design unit a pixel).
void openDesignAndLoad(SheetKind kind) {
    subhost::hostReset();
    subhost::setDefaultAnswer(ACTIONBUTTON_NO);
    subhost::setCfgVar("PXMEND_SETTINGS", (workDir() / "Pxmend.ini").string());
    std::string error;
    if (!subhost::openDesign(sample(kind).design, &error)) fail(error);
    if (!subhost::loadLinkedApplication(&MdlMain, &MdlResources, (workDir() / "pxmend.so").string(), "KEYIN", &error))
        fail(error);
    s__globals.Backup = 0;
}

void point(double x, double y) { subhost::dataPoint(DPoint3d{x, y, 0}, 0); }

void keyin(const char* text) {
    std::string error;
    subhost::keyin(text, &error);
}

// Delete of a 2000 x 2000 block end to end: command, two corners, the accepting
// point (read, fill, write) and the write-back of the file.
// Every run starts from the untouched sheet (an earlier run's deletes would leave nothing to
// change, and so nothing to write back) with the file already decoded.
void BM_Delete2000(benchmark::State& state, SheetKind kind) {
    restore(kind, sample(kind).file);
    openDesignAndLoad(kind);
    std::string error;
    subhost::raster::ensureDecoded(*subhost::raster::rasterState().rasters.at(0)->file, &error);
    double x = 1000;
    for (auto _ : state) {
        keyin("PXMEND DELETE");
        point(x, 1000);
        point(x + 2000, 3000);
        point(x, 1000);
        if (!subhost::raster::flushAll()) state.SkipWithError("write-back failed");
        x += 2500;
        if (x > 15000) x = 1000;
    }
    subhost::hostReset();
    restore(kind, sample(kind).file);
}

// Crop to half the sheet by file, in place: command, two corners, the accepting point, the new file.
// With decodedFirst the file is decoded before the timing starts, which shows what the crop itself
// costs beside the first load (the decode time goes into the decodeMs counter).
void cropHalf(benchmark::State& state, SheetKind kind, bool decodedFirst) {
    sample(kind);
    for (auto _ : state) {
        state.PauseTiming();
        openDesignAndLoad(kind);
        if (decodedFirst) {
            std::string error;
            const auto t0 = std::chrono::steady_clock::now();
            subhost::raster::ensureDecoded(*subhost::raster::rasterState().rasters.at(0)->file, &error);
            state.counters["decodeMs"] +=
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() /
                double(state.max_iterations);
        }
        state.ResumeTiming();
        keyin("PXMEND CROP");
        point(0, 0);
        point(kWidth / 2.0, kHeight);
        point(0, 0);
        if (!subhost::raster::flushAll()) state.SkipWithError("write-back failed");
        state.PauseTiming();
        subhost::hostReset();
        restore(kind, sample(kind).file);
        state.ResumeTiming();
    }
}

void BM_CropHalf(benchmark::State& state, SheetKind kind) { cropHalf(state, kind, false); }

void BM_CropHalfDecoded(benchmark::State& state, SheetKind kind) { cropHalf(state, kind, true); }

// A view of the whole sheet drawn into a 1200 x 850 picture and written as PNG, the sheet decoded beforehand
// (a counter gives the drawing alone, without the PNG).
void BM_RenderA0(benchmark::State& state, SheetKind kind) {
    subhost::hostReset();
    std::string error;
    if (!subhost::openDesign(sample(kind).design, &error) ||
        !subhost::raster::ensureDecoded(*subhost::raster::rasterState().rasters.at(0)->file, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string out = (workDir() / "view.png").string();
    double drawMs = 0;
    for (auto _ : state) {
        if (!subhost::renderViewToPng(out, 0, 1200, 850, nullptr, &error)) state.SkipWithError(error.c_str());
        state.PauseTiming();
        subhost::ViewPicture picture;
        const auto t0 = std::chrono::steady_clock::now();
        subhost::renderView(0, 1200, 850, &picture, &error);
        drawMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        state.ResumeTiming();
    }
    state.counters["renderViewMs"] = drawMs / double(state.iterations());
    subhost::hostReset();
}

// Every benchmark on both sheets, the busy one first.
#define PXBENCH_BOTH(fn, ...)                                  \
    BENCHMARK_CAPTURE(fn, busy, SheetKind::Busy)->__VA_ARGS__; \
    BENCHMARK_CAPTURE(fn, grid, SheetKind::Grid)->__VA_ARGS__

PXBENCH_BOTH(BM_LibtiffDecode, Unit(benchmark::kMillisecond)->Iterations(5));
PXBENCH_BOTH(BM_HostDecode, Unit(benchmark::kMillisecond)->Iterations(5));
PXBENCH_BOTH(BM_AttachAndFirstLoad, Unit(benchmark::kMillisecond)->Iterations(5));
PXBENCH_BOTH(BM_LibtiffEncode, Unit(benchmark::kMillisecond)->Iterations(5));
PXBENCH_BOTH(BM_WriteBack, Unit(benchmark::kMillisecond)->Iterations(5));
PXBENCH_BOTH(BM_TiffcpG4, Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime());
PXBENCH_BOTH(BM_BatchDelete2000, Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime());
PXBENCH_BOTH(BM_BlockRead1000, Unit(benchmark::kMicrosecond));
PXBENCH_BOTH(BM_BlockWrite1000, Unit(benchmark::kMicrosecond)->Iterations(200));
PXBENCH_BOTH(BM_Delete2000, Unit(benchmark::kMillisecond)->Iterations(5));
PXBENCH_BOTH(BM_CropHalf, Unit(benchmark::kMillisecond)->Iterations(3));
PXBENCH_BOTH(BM_CropHalfDecoded, Unit(benchmark::kMillisecond)->Iterations(3));
PXBENCH_BOTH(BM_RenderA0, Unit(benchmark::kMillisecond)->Iterations(5));

// Console output as usual; the fastest repetition of every benchmark kept for the ratios, with its
// processor time (for a program run as a process, the program's own, from the childCpuMs counter).
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred) {
                const std::string& name = run.run_name.function_name;
                const double seconds = run.real_accumulated_time / double(run.iterations);
                double& best = bench.bestSeconds[name];
                if (best != 0 && seconds >= best) continue;
                best = seconds;
                const auto child = run.counters.find("childCpuMs");
                bench.cpuSeconds[name] = child != run.counters.end()
                                             ? double(child->second) * 1e-3
                                             : run.cpu_accumulated_time / double(run.iterations);
            }
        ConsoleReporter::ReportRuns(runs);
    }
};

// A benchmark's time on a sheet: wall-clock and processor seconds per run (0 when it did not run).
struct Timing {
    double wall = 0, cpu = 0;
    Timing operator+(const Timing& o) const {
        return wall > 0 && o.wall > 0 ? Timing{wall + o.wall, cpu + o.cpu} : Timing{};
    }
};

Timing best(const char* benchmarkName, SheetKind kind) {
    const std::string name = std::string(benchmarkName) + "/" + pxbench::sheetName(kind);
    const auto found = bench.bestSeconds.find(name);
    return found == bench.bestSeconds.end() ? Timing{} : Timing{found->second, bench.cpuSeconds[name]};
}

void printRatio(const char* what, Timing ours, Timing libtiff, const char* against) {
    if (ours.wall > 0 && libtiff.wall > 0 && libtiff.cpu > 0)
        std::printf("  %-34s %7.1f ms  %-23s %7.1f ms  ratio %.2f  (processor time %.1f / %.1f ms, ratio %.2f)\n", what,
                    ours.wall * 1e3, against, libtiff.wall * 1e3, ours.wall / libtiff.wall, ours.cpu * 1e3,
                    libtiff.cpu * 1e3, ours.cpu / libtiff.cpu);
}

// The ratios against libtiff for each sheet (wall-clock, fastest repetition).
void printSummary() {
    std::printf(
        "\nRatios against libtiff (time per run of the fastest repetition: wall-clock, and processor time,\n"
        "which a busy machine disturbs less); load average at start %s, at end %s\n",
        bench.loadAtStart.c_str(), loadAverage().c_str());
    for (const SheetKind kind : kKinds) {
        const auto it = bench.sheets.find(kind);
        if (it == bench.sheets.end()) continue;
        std::error_code ec;
        std::printf("A0 %s sheet (%.2f MB G4):\n", pxbench::sheetName(kind),
                    double(fs::file_size(it->second.original, ec)) / 1e6);
        const Timing decode = best("BM_LibtiffDecode", kind), encode = best("BM_LibtiffEncode", kind);
        printRatio("host decode", best("BM_HostDecode", kind), decode, "libtiff decode");
        printRatio("attach + first load", best("BM_AttachAndFirstLoad", kind), decode, "libtiff decode");
        printRatio("write-back", best("BM_WriteBack", kind), encode, "libtiff encode");
        printRatio("delete 2000 (decoded, in process)", best("BM_Delete2000", kind), encode, "libtiff encode");
        const Timing both = decode + encode;
        printRatio("crop half (with first load)", best("BM_CropHalf", kind), both, "libtiff decode+encode");
        const Timing batch = best("BM_BatchDelete2000", kind);
        printRatio("pixelmend delete (process)", batch, both, "libtiff decode+encode");
        printRatio("pixelmend delete (process)", batch, best("BM_TiffcpG4", kind), "tiffcp -c g4 (process)");
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    bench.loadAtStart = loadAverage();
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    printSummary();
    return 0;
}
