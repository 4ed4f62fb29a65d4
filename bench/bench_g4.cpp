// The G4 write-back in proportion to the edit, on the A0 sheets (busy and grid) in one run beside
// libtiff: our decoder against TIFFReadEncodedStrip; the write-back of a 2000 x 2000 delete
// (re-coding only its rows) against libtiff's whole G4 encode and against the host's old whole
// write-back; `pixelmend delete` as a whole process against `tiffcp -c g4` (and against an older
// pixelmend when PXMEND_BEFORE_BIN names one), with peak memory; and the crossover: how many
// changed rows make coding the whole sheet cheaper. Every figure is the minimum of 5 runs, in
// processor time (the machine is shared), and is printed as a ratio.
//   bench_g4 [runs]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "sheets.h"
#include "subhost/imagefile/imagefile.h"

namespace {

namespace fs = std::filesystem;
namespace img = subhost::imagefile;
namespace g4 = subhost::imagefile::g4;

// The run's settings and work folder.
struct BenchG4 {
    int runs = 5;
    fs::path folder;
};
BenchG4 benchG4;

double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Takes work, gives the least processor time of the runs (setup, when given, runs untimed before each).
double best(const std::function<void()>& work, const std::function<void()>& setup = {}) {
    double least = 1e30;
    for (int i = 0; i < benchG4.runs; ++i) {
        if (setup) setup();
        const double t0 = threadSeconds();
        work();
        least = std::min(least, threadSeconds() - t0);
    }
    return least;
}

// A child process's processor time and peak memory.
struct ChildRun {
    int code = -1;
    double cpu = 0;
    double peakMiB = 0;
};

ChildRun runProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ChildRun run;
    // fork, not posix_spawn: a child made by vfork starts its peak memory count from this
    // process's peak, a forked one from this process's present size (kept small while it runs).
    const pid_t pid = fork();
    if (pid < 0) return run;
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) return run;
    run.code = WEXITSTATUS(status);
    run.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    run.peakMiB = double(usage.ru_maxrss) / 1024.0;
    return run;
}

// Takes a program's arguments and a setup run before each, gives the least processor time and
// the peak memory of the runs.
ChildRun bestProcess(const std::vector<std::string>& args, const std::function<void()>& setup) {
    ChildRun least;
    least.cpu = 1e30;
    for (int i = 0; i < benchG4.runs; ++i) {
        setup();
        const ChildRun run = runProgram(args);
        if (run.code != 0) return run;
        least.code = 0;
        least.cpu = std::min(least.cpu, run.cpu);
        least.peakMiB = std::max(least.peakMiB, run.peakMiB);
    }
    return least;
}

// The whole sheet's strip through libtiff: decoded, or coded into a new file.
bool libtiffDecode(const std::string& path, std::vector<std::uint8_t>& pixels) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return false;
    const tmsize_t n = TIFFReadEncodedStrip(tif, 0, pixels.data(), tmsize_t(pixels.size()));
    TIFFClose(tif);
    return n == tmsize_t(pixels.size());
}

void libtiffEncode(const std::string& path, const img::Image& image) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, image.height);
    TIFFWriteEncodedStrip(tif, 0, const_cast<std::uint8_t*>(image.pixels.data()),
                          tmsize_t(image.stride * std::size_t(image.height)));
    TIFFClose(tif);
}

// Our decoder with the file read: the strip's bytes through libtiff's raw read, then decoded.
bool ourDecode(const std::string& path, int width, int height, std::vector<std::uint8_t>& pixels) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return false;
    std::vector<std::uint8_t> raw(std::size_t(TIFFGetStrileByteCount(tif, 0)));
    TIFFReadRawStrip(tif, 0, raw.data(), tmsize_t(raw.size()));
    TIFFClose(tif);
    g4::StripCode code;
    std::string why;
    return g4::decodeStrip(raw.data(), raw.size(), width, height, pixels.data(), std::size_t(width + 7) / 8, code, why);
}

// Takes an image, clears the block x, y, w, h (a delete) and notes its rows.
void deleteBlock(img::Image& image, int x, int y, int w, int h, g4::RowSpans& changed) {
    for (int r = y; r < y + h; ++r)
        for (int c = x; c < x + w; ++c)
            image.pixels[std::size_t(r) * image.stride + std::size_t(c / 8)] &= std::uint8_t(~(0x80 >> (c % 8)));
    changed.add(y, y + h - 1);
}

void ratio(const char* what, double ours, double theirs, const char* against, const char* target = "") {
    std::printf("  %-44s %8.1f ms  vs %-34s %8.1f ms  ratio %5.2f %s\n", what, ours * 1e3, against, theirs * 1e3,
                ours / theirs, target);
}

std::vector<std::uint8_t> bytesOf(const std::string& path) {
    std::vector<std::uint8_t> out(std::size_t(fs::file_size(path)));
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f) {
        out.resize(std::fread(out.data(), 1, out.size(), f));
        std::fclose(f);
    }
    return out;
}

void benchSheet(pxbench::SheetKind kind) {
    const std::string name = pxbench::sheetName(kind);
    const std::string sheetFile = (benchG4.folder / (name + ".tif")).string();
    std::string error;
    if (!pxbench::writeSheetG4(pxbench::makeSheet(kind), sheetFile, &error)) {
        std::printf("%s: cannot write the sheet: %s\n", name.c_str(), error.c_str());
        return;
    }
    // Whole process first, while this process is small: pixelmend delete against tiffcp -c g4.
    const std::string copy = (benchG4.folder / (name + "-batch.tif")).string();
    const std::string backup = (benchG4.folder / (name + "-batch-backup.tif")).string();
    const std::string out = (benchG4.folder / (name + "-tiffcp.tif")).string();
    auto fresh = [&] {
        fs::copy_file(sheetFile, copy, fs::copy_options::overwrite_existing);
        std::error_code ec;
        fs::remove(backup, ec);
    };
    const std::string bin = fs::read_symlink("/proc/self/exe").parent_path().string();
    const std::vector<std::string> del = {bin + "/pixelmend", "delete", copy, "--block", "6000,4000,2000,2000"};
    const ChildRun after = bestProcess(del, fresh);
    const ChildRun tiffcp = bestProcess({"tiffcp", "-c", "g4", sheetFile, out}, [] {});
    if (after.code != 0 || tiffcp.code != 0) {
        std::printf("  whole process: pixelmend delete %d, tiffcp %d (could not run)\n", after.code, tiffcp.code);
    } else {
        ratio("pixelmend delete 2000 (process)", after.cpu, tiffcp.cpu, "tiffcp -c g4 (process)", "(target <= 0.5)");
        std::printf("  peak memory: pixelmend delete %.0f MiB, tiffcp %.0f MiB\n", after.peakMiB, tiffcp.peakMiB);
        if (const char* before = std::getenv("PXMEND_BEFORE_BIN"); before && *before) {
            std::vector<std::string> old = del;
            old[0] = std::string(before) + "/pixelmend";
            const ChildRun was = bestProcess(old, fresh);
            if (was.code == 0) {
                ratio("pixelmend delete 2000 (process)", after.cpu, was.cpu, "the same before this change");
                ratio("pixelmend delete before this change", was.cpu, tiffcp.cpu, "tiffcp -c g4 (process)");
                std::printf("  peak memory before this change: %.0f MiB\n", was.peakMiB);
            }
        }
    }

    const img::ImageResult read = img::readImage(sheetFile);
    if (!read.ok || !read.image.g4Code) {
        std::printf("%s: not read through the decoder here: %s\n", name.c_str(), read.error.c_str());
        return;
    }
    const img::Image& original = read.image;
    std::printf("%s sheet: %d x %d, G4 %zu bytes\n", name.c_str(), original.width, original.height,
                original.g4Code->codeBytes());

    // Decoders.
    std::vector<std::uint8_t> theirs(original.stride * std::size_t(original.height));
    std::vector<std::uint8_t> ours(theirs.size());
    const double libDecode = best([&] { libtiffDecode(sheetFile, theirs); });
    const double ourDecodeTime = best([&] { ourDecode(sheetFile, original.width, original.height, ours); });
    std::printf("  decoded pixels equal libtiff's: %s\n",
                ours == theirs && std::equal(ours.begin(), ours.end(), original.pixels.begin()) ? "yes" : "NO");
    ratio("our decode (file read + decode)", ourDecodeTime, libDecode, "libtiff TIFFReadEncodedStrip",
          "(target <= 1.0)");

    // Write-back of a 2000 x 2000 delete.
    img::Image edited = original;
    g4::RowSpans changed;
    deleteBlock(edited, 6000, 4000, 2000, 2000, changed);
    const std::string target = (benchG4.folder / (name + "-edited.tif")).string();
    const std::string whole = (benchG4.folder / (name + "-whole.tif")).string();
    img::Image work = edited;
    bool spliced = true;
    const double spliceTime = best([&] { spliced = img::writeImageEdited(target, work, &changed).spliced && spliced; },
                                   [&] { work.g4Code = original.g4Code; });
    img::Image full = edited;
    const double ourWhole = best([&] { img::writeImageEdited(whole, full, nullptr); }, [&] { full.g4Code = nullptr; });
    const double hostOld = best([&] { img::writeImage(whole, edited); });
    const double libEncode = best([&] { libtiffEncode((benchG4.folder / "libtiff.tif").string(), edited); });
    img::writeImageEdited(whole, full, nullptr);
    std::vector<std::uint8_t> back(theirs.size());
    const bool same = libtiffDecode(target, back) && std::equal(back.begin(), back.end(), edited.pixels.begin()) &&
                      bytesOf(target) == bytesOf(whole);
    std::printf(
        "  delete 2000 x 2000: spliced %s; libtiff reads the edit back and the file equals our whole "
        "re-encode: %s\n",
        spliced ? "yes" : "NO", same ? "yes" : "NO");
    ratio("write-back, changed rows re-coded", spliceTime, libEncode, "libtiff whole G4 encode", "(target <= 0.2)");
    ratio("write-back, whole re-encode here", ourWhole, libEncode, "libtiff whole G4 encode");
    ratio("write-back, changed rows re-coded", spliceTime, hostOld, "the host's old whole write-back");

    // Crossover: a band of changed rows in the middle, growing; splice against whole re-encode.
    std::printf("  changed rows  splice ms  whole ms  estimate picks\n");
    const int h = original.height;
    for (int rows : {1, 500, 2000, 4000, 8000, 10000, 12000, 12600, 13000, h}) {
        img::Image band = original;
        g4::RowSpans spans;
        deleteBlock(band, 0, (h - rows) / 2, 64, rows, spans);
        const g4::Rows all{band.pixels.data(), band.stride, band.width};
        const double s = best([&] { g4::splice(*original.g4Code, all, spans); });
        const double w = best([&] { g4::encodeImage(all, band.height, std::uint32_t(band.height)); });
        const g4::SpliceCost cost =
            g4::estimateSplice(*original.g4Code, band.width, band.height, std::uint32_t(band.height), spans);
        std::printf("  %12d  %9.1f  %8.1f  %s\n", rows, s * 1e3, w * 1e3, cost.splice < cost.full ? "splice" : "whole");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) benchG4.runs = std::max(1, std::atoi(argv[1]));
    char pattern[] = "/tmp/pxm-bench-g4-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    benchG4.folder = pattern;
    double load[1] = {0};
    if (getloadavg(load, 1) == 1) std::printf("load average %.2f, minimum of %d runs\n", load[0], benchG4.runs);
    for (pxbench::SheetKind kind : {pxbench::SheetKind::Busy, pxbench::SheetKind::Grid}) benchSheet(kind);
    std::error_code ec;
    fs::remove_all(benchG4.folder, ec);
    return 0;
}
