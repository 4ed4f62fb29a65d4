// Deletes and a move's hole take the paper colour of the file, read back from the
// file on disk: normal and negative scans, both TIFF photometrics, PNG and BMP,
// attachments shown dark on light or light on dark; block, fence and turned raster.
#include "edit_fixture.h"

#include "subhost/raster/raster.h"

namespace {

struct PaperCase {
    const char* file;
    img::FileFormat format;
    img::Photometric photometric;
    bool negative;          // black sheet, white drawing
    bool shownLightOnDark;  // the attachment's rendering: white foreground on black
};

std::string caseName(const ::testing::TestParamInfo<PaperCase>& info) {
    std::string name = info.param.file;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

// A 100 x 100 drawing of grid lines every 10 columns and 13 rows.
bool inkAt(int x, int row) { return x % 10 == 3 || row % 13 == 5; }

class PaperColour : public EditTest, public ::testing::WithParamInterface<PaperCase> {
protected:
    DgnRasterP raster = nullptr;
    img::Image original;

    // Pixel (x, row) of image is shown black.
    static bool black(const img::Image& image, int x, int row) {
        const int bit = (image.pixels[std::size_t(row) * image.stride + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
        const img::Rgb8& c = image.palette[std::size_t(bit)];
        return c[0] + c[1] + c[2] < 3 * 128;
    }

    void startCase(const nlohmann::json& extraEntry = nlohmann::json::object(), const nlohmann::json& extra = {}) {
        const PaperCase& c = GetParam();
        img::Image image = img::makeImage(100, 100, img::ColorMode::Mono).image;
        image.photometric = c.photometric;
        const bool minIsWhite = c.photometric == img::Photometric::MinIsWhite;
        image.palette[0] = minIsWhite ? img::Rgb8{255, 255, 255} : img::Rgb8{0, 0, 0};
        image.palette[1] = minIsWhite ? img::Rgb8{0, 0, 0} : img::Rgb8{255, 255, 255};
        image.paletteCount = 2;
        // The bit value shown black: 1 in min-is-white files, 0 in min-is-black ones.
        const bool blackBit = minIsWhite;
        for (int row = 0; row < 100; ++row)
            for (int x = 0; x < 100; ++x) {
                const bool showsBlack = inkAt(x, row) != c.negative;
                if (showsBlack == blackBit)
                    image.pixels[std::size_t(row) * image.stride + std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
            }
        const std::string path = (dir / c.file).string();
        const img::WriteStatus status = img::createImageFile(path, c.format, image);
        ASSERT_EQ(status.status, 0) << status.error;
        original = img::readImage(path).image;
        nlohmann::json entry = {{"file", c.file}};
        if (c.shownLightOnDark) entry["rendering"] = {{"foreground", {255, 255, 255}}, {"background", {0, 0, 0}}};
        entry.update(extraEntry);
        start(nlohmann::json::array({entry}), false, extra);
        ASSERT_EQ(rasters().size(), 1u) << nlohmann::json(subhost::transcript()).dump();
        raster = rasters()[0];
    }

    // The file as written back.
    img::Image saved() {
        EXPECT_TRUE(subhost::raster::flushAll());
        const img::ImageResult result = img::readImage((dir / GetParam().file).string());
        EXPECT_TRUE(result.ok) << result.error;
        return result.image;
    }

    // Every pixel that changed became paper, and at least `atLeast` pixels did; gives the count.
    int expectOnlyPaperWritten(const img::Image& after, int atLeast) {
        const bool paperBlack = GetParam().negative;
        int changed = 0, wrong = 0;
        for (int row = 0; row < 100; ++row)
            for (int x = 0; x < 100; ++x) {
                if (black(after, x, row) == black(original, x, row)) continue;
                ++changed;
                if (black(after, x, row) != paperBlack) ++wrong;
            }
        EXPECT_EQ(wrong, 0) << "pixels that became ink";
        EXPECT_GE(changed, atLeast);
        return changed;
    }

    // Design point (x, y) of the unturned raster is column x, row 99 - y.
    bool paperAt(const img::Image& image, double x, double y) {
        return black(image, int(x), 99 - int(y)) == GetParam().negative;
    }
};

TEST_P(PaperColour, BlockDeleteFillsWithPaper) {
    startCase();
    command(rid::CMD_DELETE);
    points({{10.5, 10.5}, {30.5, 40.5}, {0, 0}});
    const img::Image after = saved();
    expectOnlyPaperWritten(after, 50);
    for (double x = 11; x < 30; x += 1)
        for (double y = 11; y < 40; y += 1) ASSERT_TRUE(paperAt(after, x, y)) << x << "," << y;
}

TEST_P(PaperColour, MoveLeavesAPaperHoleAndCarriesTheDrawing) {
    startCase();
    command(rid::CMD_MOVE);
    points({{10.5, 10.5}, {30.5, 30.5}, {10.5, 10.5}, {60.5, 60.5}});
    const img::Image after = saved();
    for (double x = 11; x < 30; x += 1)
        for (double y = 11; y < 30; y += 1) {
            ASSERT_TRUE(paperAt(after, x, y)) << "hole at " << x << "," << y;
            ASSERT_EQ(black(after, int(x) + 50, 99 - int(y) - 50), black(original, int(x), 99 - int(y)))
                << "moved pixel from " << x << "," << y;
        }
}

TEST_P(PaperColour, FenceDeleteFillsTheTriangleAndLeavesTheRestOfItsBlock) {
    const nlohmann::json triangle = {{"points", {{10.5, 10.5}, {40.5, 10.5}, {10.5, 40.5}}}, {"view", 0}};
    startCase(nlohmann::json::object(), {{"fence", triangle}});
    s__globals.ModifyMode = 0;
    command(rid::CMD_DELETE);
    point(10.5, 10.5);
    const img::Image after = saved();
    expectOnlyPaperWritten(after, 50);
    EXPECT_TRUE(paperAt(after, 13, 13));
    // The half of the bounding block beyond the triangle's long side keeps every pixel.
    for (int row = 0; row < 100; ++row)
        for (int x = 0; x < 100; ++x) {
            const double cx = x + 0.5, cy = 99 - row + 0.5;
            if (cx > 10.5 && cx < 40.5 && cy > 10.5 && cy < 40.5 && cx + cy > 53) {
                ASSERT_EQ(black(after, x, row), black(original, x, row)) << x << "," << row;
            }
        }
}

TEST_P(PaperColour, DeleteOnATurnedRasterWritesPaperOnly) {
    startCase({{"origin", {100, 0, 0}}, {"rotation", 30}});
    command(rid::CMD_DELETE);
    points({{80.5, 40.5}, {100.5, 60.5}, {0, 0}});
    const img::Image after = saved();
    expectOnlyPaperWritten(after, 50);
}

INSTANTIATE_TEST_SUITE_P(
    ScansAndRenderings, PaperColour,
    ::testing::Values(PaperCase{"neg-minwhite.tif", img::FileFormat::Tiff, img::Photometric::MinIsWhite, true, false},
                      PaperCase{"neg-minblack.tif", img::FileFormat::Tiff, img::Photometric::MinIsBlack, true, false},
                      PaperCase{"neg.png", img::FileFormat::Png, img::Photometric::MinIsBlack, true, false},
                      PaperCase{"neg.bmp", img::FileFormat::Bmp, img::Photometric::MinIsWhite, true, false},
                      PaperCase{"neg-shown-light.tif", img::FileFormat::Tiff, img::Photometric::MinIsWhite, true, true},
                      PaperCase{"pos-shown-light.tif", img::FileFormat::Tiff, img::Photometric::MinIsWhite, false,
                                true},
                      PaperCase{"pos-minblack.png", img::FileFormat::Png, img::Photometric::MinIsBlack, false, false},
                      PaperCase{"pos.bmp", img::FileFormat::Bmp, img::Photometric::MinIsWhite, false, false}),
    caseName);

}  // namespace
