// Speed of the raster path on an ordinary A0 scan (18720 x 13240 pixels, 1 bit,
// CCITT G4, 400 dpi), beside libtiff's own decode and encode of the same file:
//   attach + first target load (decode, polarity sampling and probe),
//   a 1000 x 1000 block read and write, and the write-back of the changed file.
// Peak memory (VmHWM) is reported as a counter of the load benchmark.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "frame/app.h"
#include "host/mdlresource.h"
#include "raster/bitmap.h"
#include "raster/target.h"
#include "settings/settings.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"
#include "subhost/raster/raster.h"

namespace {

namespace fs = std::filesystem;
namespace img = subhost::imagefile;

constexpr int kWidth = 18720;
constexpr int kHeight = 13240;

void setBits(std::uint8_t* row, int from, int to) {
    for (int x = std::max(from, 0); x < std::min(to, kWidth); ++x) row[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
}

// A drawing: border, grid of thin lines, title block, rows of small "letters".
img::Image drawing() {
    img::Image image = img::makeImage(kWidth, kHeight, img::ColorMode::Mono).image;
    image.photometric = img::Photometric::MinIsWhite;
    image.palette[0] = {255, 255, 255};
    image.palette[1] = {0, 0, 0};
    image.compression = img::Compression::CcittG4;
    image.resolution = {400, 400, img::ResolutionUnit::Inch};
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = image.pixels.data() + std::size_t(y) * image.stride;
        const bool border = y < 60 || y >= kHeight - 60;
        if (border || y % 400 < 3) {
            setBits(row, 0, kWidth);
            continue;
        }
        setBits(row, 0, 60);
        setBits(row, kWidth - 60, kWidth);
        for (int x = 400; x < kWidth; x += 400) setBits(row, x, x + 3);
        if (y > kHeight - 1500 && y < kHeight - 200) {
            for (int x = kWidth - 6000 + (y % 37); x < kWidth - 300; x += 41) setBits(row, x, x + 6 + (y % 5));
        }
    }
    return image;
}

long peakMemoryKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

struct Sample {
    fs::path dir;
    std::string file;
    Sample() {
        dir = fs::temp_directory_path() / ("pxmend-bench-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        file = (dir / "a0.tif").string();
        const img::WriteStatus status = img::createImageFile(file, img::FileFormat::Tiff, drawing());
        if (status.status != 0) std::abort();
    }
    ~Sample() { fs::remove_all(dir); }
};

Sample& sample() {
    static Sample s;
    return s;
}

// Attaches the sample file to a fresh host and loads it as the current target.
RasterTarget* attachAndLoad() {
    subhost::raster::closeAll();
    g_rasterTargets = RasterTargetState{};
    subhost::raster::loadAttachments(nlohmann::json::array({{{"file", sample().file}}}), sample().dir.string());
    const DgnRasterCollection rasters = DgnRasterCollection::GetRasters(nullptr);
    DgnRasterP raster = rasters.begin().GetCurrent();
    g_rasterTargets.currentRaster = raster;
    g_rasterTargets.currentTarget = pv_rasterTargetLoad(raster, true, false);
    return g_rasterTargets.currentTarget;
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

void BM_LibtiffDecode(benchmark::State& state) {
    const std::string file = sample().file;
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

void BM_LibtiffEncode(benchmark::State& state) {
    const img::Image image = img::readImage(sample().file).image;
    const std::string out = (sample().dir / "libtiff-out.tif").string();
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
            TIFFWriteEncodedStrip(tif, strip, const_cast<std::uint8_t*>(image.pixels.data()) + std::size_t(row) * image.stride,
                                  tmsize_t(std::size_t(n) * image.stride));
        }
        TIFFClose(tif);
    }
}

void BM_HostDecode(benchmark::State& state) {
    for (auto _ : state) {
        img::ImageResult result = img::readImage(sample().file);
        benchmark::DoNotOptimize(result.image.pixels.data());
    }
}

void BM_AttachAndFirstLoad(benchmark::State& state) {
    setUpHost();
    sample();
    for (auto _ : state) {
        state.PauseTiming();
        subhost::raster::closeAll();
        state.ResumeTiming();
        RasterTarget* target = attachAndLoad();
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

    HeldBlock(benchmark::State& state, PixelBlock where) : block(where) {
        setUpHost();
        if (attachAndLoad() == nullptr) state.SkipWithError("the sample did not load");
        j_bitmapRead(&bytes, &format, &block, &size);
    }
    ~HeldBlock() { std::free(bytes); }
};

void BM_BlockRead1000(benchmark::State& state) {
    HeldBlock held(state, {5003, 4001, 1000, 1000, 1});
    for (auto _ : state) {
        j_bitmapRead(&held.bytes, &held.format, &held.block, &held.size);
        benchmark::DoNotOptimize(held.bytes);
    }
}

void BM_BlockWrite1000(benchmark::State& state) {
    HeldBlock held(state, {5003, 4001, 1000, 1000, 1});
    for (auto _ : state) {
        mdlUndo_startGroup();
        j_bitmapWrite(held.bytes, &held.format, &held.block, &held.size);
        mdlUndo_endGroup();
    }
}

void BM_WriteBack(benchmark::State& state) {
    HeldBlock held(state, {100, 100, 64, 64, 1});
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < j_bitmapBytes(&held.size); ++i) held.bytes[i] = std::uint8_t(~held.bytes[i]);
        j_bitmapWrite(held.bytes, &held.format, &held.block, &held.size);
        state.ResumeTiming();
        if (!subhost::raster::flushAll()) state.SkipWithError("write-back failed");
    }
}

// The add-on loaded into the host on a design with the sample attached (one design unit a pixel).
void openDesignAndLoad() {
    subhost::hostReset();
    subhost::setDefaultAnswer(ACTIONBUTTON_NO);
    subhost::setCfgVar("PXMEND_SETTINGS", (sample().dir / "Pxmend.ini").string());
    const fs::path design = sample().dir / "a0.json";
    std::ofstream(design) << R"({"views": [{"rotation": 0, "origin": [0, 0, 0], "extent": [18720, 13240, 0]}],
                                "rasters": [{"file": "a0.tif"}]})";
    std::string error;
    if (!subhost::openDesign(design.string(), &error)) std::abort();
    if (!subhost::loadLinkedApplication(&MdlMain, &MdlResources, (sample().dir / "pxmend.so").string(), "KEYIN",
                                        &error))
        std::abort();
    s__globals.Backup = 0;
}

void point(double x, double y) {
    subhost::dataPoint(DPoint3d{x, y, 0}, 0);
}

void keyin(const char* text) {
    std::string error;
    subhost::keyin(text, &error);
}

// Delete of a 2000 x 2000 block end to end: command, two corners, the accepting
// point (read, fill, write) and the write-back of the file.
// Every run starts from the untouched sheet (an earlier run's deletes would leave nothing to
// change, and so nothing to write back) with the file already decoded.
void BM_Delete2000(benchmark::State& state) {
    sample();
    img::createImageFile(sample().file, img::FileFormat::Tiff, drawing());
    openDesignAndLoad();
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
}

// Crop to half the sheet by file, in place: command, two corners, the accepting point, the new file.
// With decodedFirst the file is decoded before the timing starts, which shows what the crop itself
// costs beside the first load (the decode time goes into the decodeMs counter).
void cropHalf(benchmark::State& state, bool decodedFirst) {
    sample();
    for (auto _ : state) {
        state.PauseTiming();
        const img::Image original = img::readImage(sample().file).image;
        openDesignAndLoad();
        if (decodedFirst) {
            std::string error;
            const auto t0 = std::chrono::steady_clock::now();
            subhost::raster::ensureDecoded(*subhost::raster::rasterState().rasters.at(0)->file, &error);
            state.counters["decodeMs"] += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / double(state.max_iterations);
        }
        state.ResumeTiming();
        keyin("PXMEND CROP");
        point(0, 0);
        point(kWidth / 2.0, kHeight);
        point(0, 0);
        if (!subhost::raster::flushAll()) state.SkipWithError("write-back failed");
        state.PauseTiming();
        subhost::hostReset();
        img::createImageFile(sample().file, img::FileFormat::Tiff, original);
        state.ResumeTiming();
    }
}

void BM_CropHalf(benchmark::State& state) {
    cropHalf(state, false);
}

void BM_CropHalfDecoded(benchmark::State& state) {
    cropHalf(state, true);
}

// A view of the whole sheet drawn into a 1200 x 850 picture and written as PNG, the sheet decoded beforehand
// (a counter gives the drawing alone, without the PNG).
void BM_RenderA0(benchmark::State& state) {
    sample();
    subhost::hostReset();
    const fs::path design = sample().dir / "a0-view.json";
    std::ofstream(design) << R"({"views": [{"rotation": 0, "origin": [0, 0, 0], "extent": [18720, 13240, 0]}],
                                "rasters": [{"file": "a0.tif"}]})";
    std::string error;
    if (!subhost::openDesign(design.string(), &error) ||
        !subhost::raster::ensureDecoded(*subhost::raster::rasterState().rasters.at(0)->file, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string out = (sample().dir / "view.png").string();
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

BENCHMARK(BM_LibtiffDecode)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_HostDecode)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_AttachAndFirstLoad)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LibtiffEncode)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WriteBack)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BlockRead1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BlockWrite1000)->Unit(benchmark::kMicrosecond)->Iterations(200);
BENCHMARK(BM_Delete2000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CropHalf)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CropHalfDecoded)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RenderA0)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
