// How often an edit opens and decodes its raster file: a delete of a block on an A0 scan, with
// the backup the first change of a file makes (its close and re-open), opens the file once for
// its pixels and decodes it once; a file changed on disk while closed is read again.
#include "edit_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kA0Width = 18720, kA0Height = 13240;

// A busy A0 drawing at 400 dpi, 1 bit: a frame, ruled lines, hatched boxes, rows of character-sized
// marks and 20 000 specks from a fixed seed, so that its CCITT G4 coding is as slow as a real scan's.
img::Image busySheet() {
    img::Image image = img::makeImage(kA0Width, kA0Height, img::ColorMode::Mono).image;
    image.photometric = img::Photometric::MinIsWhite;
    image.compression = img::Compression::CcittG4;
    image.resolution = img::Resolution{400, 400, img::ResolutionUnit::Inch};
    auto ink = [&image](int x, int y) {
        if (x >= 0 && y >= 0 && x < image.width && y < image.height)
            image.pixels[std::size_t(y) * image.stride + std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
    };
    for (int y = 0; y < kA0Height; ++y) {
        for (int x = 0; x < kA0Width; ++x) {
            const bool frame = x < 60 || y < 60 || x >= kA0Width - 60 || y >= kA0Height - 60;
            const bool ruled = (y % 400 < 3) || (x % 700 < 2);
            const bool hatched = (x / 1000 + y / 1000) % 3 == 0 && (x + y) % 24 < 2;
            // Character-sized marks: 20 x 28 cells, each with a pattern of strokes of its own.
            const int cell = (x / 24) * 7919 + (y / 36) * 104729;
            const bool text =
                (y / 36) % 4 == 1 && (x % 24) < 20 && (y % 36) < 28 && (((x % 24) / 4 + (y % 36) / 4 + cell) % 5 == 0);
            if (frame || ruled || hatched || text) ink(x, y);
        }
    }
    std::uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const int x = int((seed >> 33) % kA0Width), y = int((seed >> 13) % kA0Height);
        ink(x, y), ink(x + 1, y), ink(x, y + 1);
    }
    return image;
}

class DecodeOnceTest : public EditTest {
protected:
    std::string path;
    DgnRasterP raster = nullptr;

    // The A0 sheet as scan.tif at the design origin (one design unit a pixel), the add-on loaded with
    // backups on; the counts start from zero after the attachment read the header.
    void startSheet(img::Image image) {
        path = write("scan.tif", image);
        start({{{"file", "scan.tif"}}});
        s__globals.Backup = 1;
        raster = rasters().at(0);
    }

    void deleteBlock(double x, double y, double side) {
        command(rid::CMD_DELETE);
        points({{x, y}, {x + side, y + side}, {x, y}});
    }
};

TEST_F(DecodeOnceTest, DeleteOnAnA0SheetOpensAndDecodesItsFileOnceThroughTheBackup) {
    img::resetFileCounts();
    startSheet(busySheet());
    // Attaching reads the header alone.
    EXPECT_EQ(img::fileCounts(path).opens, 1u);
    EXPECT_EQ(img::fileCounts(path).decodes, 0u);

    img::resetFileCounts();
    deleteBlock(6000.5, 4000.5, 2000);
    ASSERT_TRUE(subhost::raster::flushAll());
    // The backup copy was made (the file closed and opened again) and the block deleted...
    EXPECT_FALSE(events("fileWritten").empty());
    bool backupMade = false;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        backupMade = backupMade || entry.path().filename().string().find("backup") != std::string::npos;
    EXPECT_TRUE(backupMade);
    EXPECT_EQ(pixel(raster, 7000, kA0Height - 1 - 5000), 0);
    // ...with the file opened for its pixels once, decoded once, written once.
    const img::FileCounts counts = img::fileCounts(path);
    EXPECT_EQ(counts.opens, 1u);
    EXPECT_EQ(counts.decodes, 1u);
    EXPECT_EQ(counts.writes, 1u);
}

TEST_F(DecodeOnceTest, PaletteOfAMonochromeFileIsAnsweredWithoutDecoding) {
    startSheet(img::makeImage(64, 48, img::ColorMode::Mono).image);
    img::resetFileCounts();
    ColorPaletteEntry palette[256] = {};
    ASSERT_EQ(mdlRaster_paletteGet(palette, raster), SUCCESS);
    // Min-is-white: a 0 bit is white, a 1 bit black.
    EXPECT_EQ(palette[0].red, 255);
    EXPECT_EQ(palette[1].red, 0);
    EXPECT_EQ(img::fileCounts(path).opens, 0u);
    EXPECT_EQ(img::fileCounts(path).decodes, 0u);
}

// A file another program changes in place while the host has it closed, its size and modification
// time put back as they were (as `cp -p` over it does), is decoded again on the re-open: the status
// change time tells. A file replaced by another one (a new inode) is read again too.
TEST_F(DecodeOnceTest, FileChangedWhileClosedIsReadAgainOnReopen) {
    startSheet(img::makeImage(64, 48, img::ColorMode::Mono).image);
    EXPECT_EQ(pixel(raster, 3, 3), 0);
    ASSERT_EQ(mdlRaster_fileClose(raster, RASTER_OPTION_NOW), SUCCESS);

    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    img::Image inked = img::makeImage(64, 48, img::ColorMode::Mono).image;
    std::fill(inked.pixels.begin(), inked.pixels.end(), std::uint8_t(0xFF));
    const std::string theirs = write("theirs.tif", inked);
    ASSERT_EQ(std::filesystem::file_size(theirs), std::filesystem::file_size(path));
    {
        std::ifstream in(theirs, std::ios::binary);
        std::ofstream(path, std::ios::binary | std::ios::in | std::ios::out) << in.rdbuf();
    }
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    img::resetFileCounts();
    ASSERT_EQ(mdlRaster_fileSourceOpen(raster, RASTER_OPTION_NOW), SUCCESS);
    EXPECT_EQ(pixel(raster, 3, 3), 1);
    EXPECT_EQ(img::fileCounts(path).decodes, 1u);

    // Unchanged since: the next close and re-open decode nothing.
    ASSERT_EQ(mdlRaster_fileClose(raster, RASTER_OPTION_NOW), SUCCESS);
    ASSERT_EQ(mdlRaster_fileSourceOpen(raster, RASTER_OPTION_NOW), SUCCESS);
    EXPECT_EQ(pixel(raster, 3, 3), 1);
    EXPECT_EQ(img::fileCounts(path).decodes, 1u);
    EXPECT_EQ(img::fileCounts(path).opens, 2u);  // the header, then the pixels

    // Replaced by a new file of the same size: read again.
    ASSERT_EQ(mdlRaster_fileClose(raster, RASTER_OPTION_NOW), SUCCESS);
    const std::string blank = write("blank.tif", img::makeImage(64, 48, img::ColorMode::Mono).image);
    std::filesystem::rename(blank, path);
    ASSERT_EQ(mdlRaster_fileSourceOpen(raster, RASTER_OPTION_NOW), SUCCESS);
    EXPECT_EQ(pixel(raster, 3, 3), 0);
    EXPECT_EQ(img::fileCounts(path).decodes, 2u);
}

// An edit not written back (its changes thrown away) or written back in a lossy way leaves an image
// that is not the file's: a close and re-open reads the file again.
TEST_F(DecodeOnceTest, ImageChangedSinceItsDecodeIsNotKeptAcrossAClose) {
    startSheet(img::makeImage(64, 48, img::ColorMode::Mono).image);
    std::uint8_t ink[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    PixelFormat format{};
    format.colorMode = IMAGECOLOR_Monochrome;
    const PixelBlock block{0, 40, 8, 8, 1};
    const BitmapSize size{8, 8};
    ASSERT_EQ(mdlRaster_bitmapSet(ink, sizeof ink, &format, &block, &size, raster, 0), SUCCESS);
    ASSERT_TRUE(raster->file->dirty);
    subhost::discardRasterChanges();
    img::resetFileCounts();
    ASSERT_EQ(mdlRaster_fileClose(raster, RASTER_OPTION_NOW), SUCCESS);
    ASSERT_EQ(mdlRaster_fileSourceOpen(raster, RASTER_OPTION_NOW), SUCCESS);
    EXPECT_EQ(pixel(raster, 0, 0), 0);  // the disk's pixels, not the thrown-away edit
    EXPECT_EQ(img::fileCounts(path).decodes, 1u);
}

}  // namespace
