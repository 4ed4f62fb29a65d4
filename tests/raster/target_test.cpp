// Loading raster targets: the support checks in order, polarity detection,
// background statistics, and reads and writes through the host.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "raster/bitmap.h"
#include "raster/clip.h"
#include "raster_fixture.h"
#include "subhost/undo.h"

namespace testraster {
namespace {

using SupportChecks = RasterTest;
using Polarity = RasterTest;
using Statistics = RasterTest;
using BitmapIO = RasterTest;
using ClipMasks = RasterTest;

img::Image rgbImage(int w, int h, img::Rgb8 background) {
    img::Image image = img::makeImage(w, h, img::ColorMode::Rgb).image;
    for (std::size_t i = 0; i + 2 < image.pixels.size(); i += 3) {
        image.pixels[i] = background[0];
        image.pixels[i + 1] = background[1];
        image.pixels[i + 2] = background[2];
    }
    return image;
}

TEST_F(SupportChecks, ReadOnlyIsRefusedBeforeTheDepthCheckThatDespeckleMakes) {
    write("a.tif", rgbImage(40, 30, {200, 200, 200}));
    write("c.tif", rgbImage(16, 16, {1, 2, 3}));
    auto rasters = attach({{{"file", "a.tif"}, {"readOnly", true}}, {{"file", "c.tif"}}});
    ASSERT_EQ(rasters.size(), 2u);
    v_activeCommandSet(CMD_DESPECKLE);  // refuses RGB rasters
    EXPECT_EQ(j_rasterCheckSupport(rasters[0], false, false), ERROR);
    EXPECT_EQ(messages(), std::vector<std::string>{"Raster attachment is read-only."});
    EXPECT_EQ(j_rasterCheckSupport(rasters[1], true, false), ERROR);
    EXPECT_EQ(messages().back(), "Despeckle only supports monochrome raster files.");
}

TEST_F(SupportChecks, FileWithoutWriteBitsCountsAsReadOnly) {
    const std::string file = write("a.tif", monoImage(64, 64, img::Photometric::MinIsWhite, false));
    ::chmod(file.c_str(), 0444);
    auto rasters = attach({{{"file", "a.tif"}}});
    EXPECT_EQ(j_rasterCheckSupport(rasters[0], false, false), ERROR);
    EXPECT_EQ(j_rasterCheckSupport(rasters[0], true, false), SUCCESS);
}

TEST_F(SupportChecks, FourBitIsRefusedEvenByDespeckleWithItsOwnMessage) {
    img::Image image = img::makeImage(32, 32, img::ColorMode::Palette4).image;
    image.paletteCount = 16;
    write("four.bmp", image, img::FileFormat::Bmp);
    auto rasters = attach({{{"file", "four.bmp"}}});
    ASSERT_EQ(rasters.size(), 1u);
    v_activeCommandSet(CMD_DESPECKLE);
    EXPECT_EQ(j_rasterCheckSupport(rasters[0], true, false), ERROR);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].rfind("PixelMend doesn't support 4-bit-per-pixel raster files.", 0), 0u);
    EXPECT_NE(messages()[0].find("support@pixelmend.example."), std::string::npos);
}

TEST_F(SupportChecks, DestinationOfAnotherDepthIsRefused) {
    write("m.tif", monoImage(64, 64, img::Photometric::MinIsWhite, false));
    write("c.tif", rgbImage(16, 16, {1, 2, 3}));
    auto rasters = attach({{{"file", "m.tif"}}, {{"file", "c.tif"}}});
    ASSERT_NE(load(rasters[0]), nullptr);
    EXPECT_EQ(j_rasterCheckSupport(rasters[1], true, true), ERROR);
    EXPECT_EQ(messages().back(),
              "Color depth of source file doesn't match color depth of destination file. Operation is impossible.");
}

TEST_F(SupportChecks, LzwThirtyTwoBitAnsweredNoLeavesTheFileAlone) {
    img::Image image = img::makeImage(20, 20, img::ColorMode::Rgba).image;
    image.compression = img::Compression::Lzw;
    const std::string file = write("rgba.tif", image);
    std::ifstream before(file, std::ios::binary);
    const std::string original((std::istreambuf_iterator<char>(before)), {});
    auto rasters = attach({{{"file", "rgba.tif"}}});
    subhost::queueAnswer(ACTIONBUTTON_NO);
    EXPECT_EQ(load(rasters[0]), nullptr);
    ASSERT_FALSE(messages().empty());
    EXPECT_EQ(messages()[0].rfind("PixelMend doesn't support 32-bit-per-pixel raster files with LZW compression.", 0),
              0u);
    std::ifstream after(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), {}), original);
}

TEST_F(SupportChecks, AttachmentOfAnUnreadableFileIsRefusedWithTheReason) {
    std::ofstream(path("junk.tif")) << "not a tiff at all";
    auto rasters = attach({{{"file", "junk.tif"}}, {{"file", "missing.png"}}});
    EXPECT_TRUE(rasters.empty());
    int refused = 0;
    for (const auto& e : subhost::transcript()) {
        if (e.value("event", "") != "rasterRefused") continue;
        ++refused;
        EXPECT_FALSE(e.value("reason", "").empty());
        EXPECT_NE(e.value("file", "").find(refused == 1 ? "junk.tif" : "missing.png"), std::string::npos);
    }
    EXPECT_EQ(refused, 2);
}

// The paper colour comes from the pixels whichever bit the file uses for it; a host that inverts
// monochrome writes is found by a probe (of the raster's own size when it is small) that leaves no trace.
// A negative scan is read under light-on-dark colours, while the host writes a 1 as the file's dark
// colour whatever the colours shown: so its writes land inverted, and the probe says so.
TEST_F(Polarity, BackgroundAndWriteInversionAreDetectedAndThePixelsStay) {
    const img::Photometric white = img::Photometric::MinIsWhite, black = img::Photometric::MinIsBlack;
    struct Case {
        const char* file;
        int width;
        img::Photometric photometric;
        bool paperBit, hostInverts;
        unsigned backgroundBlack, writeInverts;
    };
    const Case cases[] = {{"normal.tif", 300, white, false, false, 0, 0},
                          {"neg-w.tif", 300, white, true, false, 1, 1},   // paper bits 1 = black
                          {"neg-b.tif", 300, black, false, false, 1, 1},  // paper bits 0 = black
                          {"pos-b.tif", 300, black, true, false, 0, 0},   // paper bits 1 = white
                          {"inverting.tif", 300, white, false, true, 0, 1},
                          {"small.tif", 20, white, false, true, 0, 1}};
    auto image = [](const Case& c) { return monoImage(c.width, c.width * 2 / 3, c.photometric, c.paperBit); };
    nlohmann::json entries = nlohmann::json::array();
    for (const Case& c : cases) {
        write(c.file, image(c));
        entries.push_back({{"file", c.file}, {"testInvertMonoWrites", c.hostInverts}});
    }
    auto rasters = attach(entries);
    ASSERT_EQ(rasters.size(), std::size(cases));
    for (std::size_t i = 0; i < rasters.size(); ++i) {
        SCOPED_TRACE(cases[i].file);
        RasterTarget* t = load(rasters[i]);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->backgroundBlack, cases[i].backgroundBlack);
        EXPECT_EQ(t->writeInverts, cases[i].writeInverts);
        EXPECT_EQ(t->statsValid, 1u);
        EXPECT_EQ(t->imageFormat, unsigned(IMAGEFORMAT_BitMap));
    }
    ASSERT_TRUE(subhost::raster::flushAll());
    for (const Case& c : cases) EXPECT_EQ(img::readImage(path(c.file)).image.pixels, image(c).pixels) << c.file;
}

TEST_F(Polarity, MixedProbeIsUndoneAndRefused) {
    const img::Image source = monoImage(300, 200, img::Photometric::MinIsWhite, false);
    write("mixed.tif", source);
    auto rasters = attach({{{"file", "mixed.tif"}, {"testMixedMonoWrites", true}}});
    EXPECT_EQ(load(rasters[0]), nullptr);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].rfind("Sorry, PixelMend cannot recognize polarity of your raster.", 0), 0u);
    ASSERT_TRUE(subhost::raster::flushAll());
    EXPECT_EQ(img::readImage(path("mixed.tif")).image.pixels, source.pixels);
}

TEST_F(Polarity, ReadOnlyRasterIsSampledButNeverProbed) {
    write("ro.tif", monoImage(100, 100, img::Photometric::MinIsWhite, true));
    auto rasters = attach({{{"file", "ro.tif"}, {"readOnly", true}, {"testInvertMonoWrites", true}}});
    RasterTarget* t = load(rasters[0]);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->backgroundBlack, 1u);
    EXPECT_EQ(t->writeInverts, 0u);  // a probe would have found the inverting host
    EXPECT_EQ(t->statsValid, 0u);    // so the next load samples again
}

TEST_F(Statistics, PaletteRasterGetsItsDominantIndexRgbRasterItsColour) {
    img::Image palette = img::makeImage(50, 40, img::ColorMode::Palette8).image;
    palette.paletteCount = 256;
    std::fill(palette.pixels.begin(), palette.pixels.end(), 17);
    for (int i = 0; i < 300; ++i) palette.pixels[std::size_t(i)] = 3;
    write("p.tif", palette);
    write("c.png", rgbImage(30, 30, {250, 240, 230}), img::FileFormat::Png);
    auto rasters = attach({{{"file", "p.tif"}}, {{"file", "c.png"}}});
    RasterTarget* t = load(rasters[0]);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->bgIndex, 17);
    EXPECT_EQ(t->bgDominant, 1u);
    EXPECT_EQ(t->bitsPerPixel, 8u);
    t = load(rasters[1]);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->bgColor[0], 250);
    EXPECT_EQ(t->bgColor[2], 230);
    EXPECT_EQ(t->bgDominant, 1u);
    EXPECT_EQ(t->imageFormat, unsigned(IMAGEFORMAT_RGB));
}

TEST_F(Statistics, TurnedRasterLocksTheCopyScale) {
    write("c.png", rgbImage(30, 30, {1, 1, 1}), img::FileFormat::Png);
    auto rasters = attach({{{"file", "c.png"}, {"rotation", 45.0}}, {{"file", "c.png"}, {"rotation", 90.5}}});
    s__globals.ScaleLock = 0;
    s__globals.ScaleX = 2.0;
    s__globals.ScaleY = 3.0;
    ASSERT_NE(load(rasters[1]), nullptr);
    EXPECT_EQ(s__globals.ScaleLock, 0);
    EXPECT_EQ(s__globals.ScaleY, 3.0);
    ASSERT_NE(load(rasters[0]), nullptr);
    EXPECT_EQ(s__globals.ScaleLock, 1);
    EXPECT_EQ(s__globals.ScaleY, 2.0);
}

TEST_F(BitmapIO, WriteReadCloseReopenKeepsThePixelsAndMakesOneBackup) {
    write("w.tif", monoImage(200, 100, img::Photometric::MinIsWhite, false));
    auto rasters = attach({{{"file", "w.tif"}}});
    ASSERT_NE(load(rasters[0]), nullptr);
    const PixelBlock block{-8, 50, 40, 30, 1};  // partly left of the raster
    std::uint8_t* bytes = nullptr;
    PixelFormat format{IMAGECOLOR_Monochrome, 0, {}};
    BitmapSize size{};
    ASSERT_EQ(j_bitmapRead(&bytes, &format, &block, &size), SUCCESS);
    EXPECT_EQ(size.width, 40);
    std::fill(bytes, bytes + j_bitmapBytes(&size), 0xFF);
    ASSERT_EQ(j_bitmapWrite(bytes, &format, &block, &size), SUCCESS);
    ASSERT_EQ(j_bitmapWrite(bytes, &format, &block, &size), SUCCESS);
    std::free(bytes);
    EXPECT_TRUE(fs::exists(path("w-backup.tif")));
    EXPECT_FALSE(fs::exists(path("w-backup2.tif")));

    ASSERT_EQ(mdlRaster_fileClose(rasters[0], RASTER_OPTION_NOW), SUCCESS);
    const img::Image after = img::readImage(path("w.tif")).image;
    // Block rows 50..79 from the bottom are image rows 20..49; columns 0..31 are inside.
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 200; x += 7) {
            const bool bit = (after.pixels[std::size_t(y) * after.stride + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
            const bool inBlock = y >= 20 && y < 50 && x < 32;
            if (inBlock) {
                EXPECT_TRUE(bit) << x << "," << y;
            } else {
                const bool ink = (x % 10 == 3) || (y % 13 == 5);
                EXPECT_EQ(bit, ink) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(img::readImage(path("w-backup.tif")).image.pixels,
              monoImage(200, 100, img::Photometric::MinIsWhite, false).pixels);
}

TEST_F(BitmapIO, UndoTakesBackAGroupOfWrites) {
    const img::Image source = monoImage(64, 64, img::Photometric::MinIsWhite, false);
    write("u.tif", source);
    auto rasters = attach({{{"file", "u.tif"}}});
    ASSERT_NE(load(rasters[0]), nullptr);
    s__globals.Backup = 0;
    const PixelBlock block{0, 0, 64, 64, 1};
    std::uint8_t* bytes = nullptr;
    PixelFormat format{IMAGECOLOR_Monochrome, 0, {}};
    BitmapSize size{};
    v_undoGroupStart();
    ASSERT_EQ(j_bitmapRead(&bytes, &format, &block, &size), SUCCESS);
    std::fill(bytes, bytes + j_bitmapBytes(&size), 0x00);
    ASSERT_EQ(j_bitmapWrite(bytes, &format, &block, &size), SUCCESS);
    v_undoGroupEnd();
    std::free(bytes);
    mdlUndo_undoActions(1);
    ASSERT_TRUE(subhost::raster::flushAll());
    EXPECT_EQ(img::readImage(path("u.tif")).image.pixels, source.pixels);
}

TEST_F(ClipMasks, MasksAndBoundaryComeBackInOrder) {
    write("c.png", rgbImage(30, 30, {1, 1, 1}), img::FileFormat::Png);
    const nlohmann::json square1 = {{0, 0}, {5, 0}, {5, 5}};
    const nlohmann::json square2 = {{10, 10}, {15, 10}, {15, 15}};
    const nlohmann::json square3 = {{20, 20}, {25, 20}, {25, 25}};
    const nlohmann::json boundary = {{1, 1}, {29, 1}, {29, 29}, {1, 29}};
    auto rasters =
        attach({{{"file", "c.png"}, {"clipMasks", {square1, square2, square3}}, {"clipBoundary", boundary}}});
    EditScope scope(rasters[0]);
    const nlohmann::json before = subhost::raster::dumpRasters();
    v_rasterClipMasks("OFF");
    int count = -1;
    mdlRaster_clipMaskCount(&count, rasters[0]);
    EXPECT_EQ(count, 0);
    v_rasterClipMasks("ON");
    v_rasterClipMasks("ON");  // a second "ON" puts nothing back twice
    EXPECT_EQ(subhost::raster::dumpRasters(), before);
}

// Thousands of masks come off and back in order, and one undo step takes the round trip back and
// forth; a design with more masks than a raster may have is refused naming the limit.
TEST_F(ClipMasks, ThousandsOfMasksRoundTripThroughUndoAndTooManyAreRefused) {
    write("c.png", rgbImage(30, 30, {1, 1, 1}), img::FileFormat::Png);
    nlohmann::json masks = nlohmann::json::array();
    for (int i = 0; i < 3000; ++i) masks.push_back({{i % 29, 0}, {i % 29 + 1, 0}, {i % 29, 1 + i % 7}});
    auto rasters = attach({{{"file", "c.png"}, {"clipMasks", masks}}});
    ASSERT_EQ(rasters.size(), 1u);
    EditScope scope(rasters[0]);
    const nlohmann::json before = subhost::raster::dumpRasters();
    v_undoGroupStart();
    v_rasterClipMasks("OFF");
    v_rasterClipMasks("ON");
    v_undoGroupEnd();
    EXPECT_EQ(subhost::raster::dumpRasters(), before);
    subhost::undo::undoGroups(1);
    EXPECT_EQ(subhost::raster::dumpRasters(), before);
    subhost::undo::redoGroups(1);
    EXPECT_EQ(subhost::raster::dumpRasters(), before);

    for (int i = 0; i < 7001; ++i) masks.push_back({{0, 0}, {1, 0}, {0, 1}});
    EXPECT_EQ(attach({{{"file", "c.png"}, {"clipMasks", masks}}}).size(), 1u);  // only the first
    bool named = false;
    for (const auto& e : subhost::transcript())
        named = named || (e.value("event", "") == "rasterRefused" &&
                          e.value("reason", "").find("at most 10000") != std::string::npos);
    EXPECT_TRUE(named);
}

// Extended bytes beyond 0-255 (1e20 would overflow a conversion to a whole number) and a file name with
// a NUL inside refuse the entry.
TEST_F(SupportChecks, ExtendedBytesOutOfRangeAndNulInANameAreRefused) {
    write("c.png", rgbImage(8, 8, {1, 1, 1}), img::FileFormat::Png);
    EXPECT_TRUE(attach({{{"file", "c.png"}, {"extended", {1, 1e20}}}}).empty());
    EXPECT_TRUE(attach({{{"file", "c.png"}, {"extended", {-1}}}}).empty());
    int refused = 0;
    for (const auto& e : subhost::transcript())
        refused +=
            e.value("event", "") == "rasterRefused" && e.value("reason", "").find("0 to 255") != std::string::npos;
    EXPECT_EQ(refused, 2);
    // "c.png\0.tif" must not attach c.png.
    EXPECT_TRUE(attach({{{"file", std::string("c.png\0.tif", 11)}}}).empty());
    EXPECT_NE(subhost::transcript().back().value("detail", "").find("NUL"), std::string::npos);
}

TEST_F(ClipMasks, NeutralRenderingShowsInkBlackAndIsPutBack) {
    write("n.tif", monoImage(64, 64, img::Photometric::MinIsWhite, false));
    auto rasters =
        attach({{{"file", "n.tif"}, {"rendering", {{"foreground", {200, 0, 0}}, {"background", {0, 0, 90}}}}}});
    RasterTarget* t = load(rasters[0]);
    ASSERT_NE(t, nullptr);
    v_rasterDisplayModeCurrent("OFF");
    RasterRenderingInfo r{};
    mdlRaster_renderingInfoGet(&r, rasters[0]);
    EXPECT_EQ(r.foreground[0], 0);
    EXPECT_EQ(r.background[0], 255);
    EXPECT_EQ(r.contrastFactor, 1.0);
    v_rasterDisplayModeCurrent("ON");
    mdlRaster_renderingInfoGet(&r, rasters[0]);
    EXPECT_EQ(r.foreground[0], 200);
    EXPECT_EQ(r.background[2], 90);
}

TEST_F(ClipMasks, HostErrorsNameTheStatus) {
    v_hostErrorReport(MDLERR_INSFMEMORY);
    v_hostErrorReport(-1);
    v_hostErrorReport(SUCCESS);
    ASSERT_EQ(messages().size(), 2u);
    EXPECT_EQ(messages()[0], "Not enough memory to perform the operation");
    EXPECT_NE(messages()[1].find("Status: -1. MDL error number:"), std::string::npos);
}

}  // namespace
}  // namespace testraster
