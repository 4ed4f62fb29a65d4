// Damaged pixel data (decoders that stop short with only a warning) is refused with
// the row where it breaks, or on request read with the rest as paper, the same on
// every read; and images over the pixel limit are refused from their header.
#include <chrono>
#include <cstring>

#include "common/damaged_files.h"
#include "imagefile_fixture.h"

namespace imagefile_test {
namespace {

using damaged_files::cutStrip;

// A grey picture with detail everywhere, so that JPEG data is spread over every row.
Image greyPicture(int width, int height) {
    Image image = picture(ColorMode::Grey8, width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.pixels[static_cast<std::size_t>(y) * image.stride + static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>((x * 7 + y * 13 + (x * y) % 31) & 0x7F);
    return image;
}

// Gives whether rows from `first` on hold nothing but `value`.
bool rowsAre(const Image& image, std::size_t first, std::uint8_t value) {
    for (std::size_t i = first * image.stride; i < image.pixels.size(); ++i)
        if (image.pixels[i] != value) return false;
    return true;
}

class DamagedFiles : public ::testing::Test {
protected:
    // Expects `path` refused with `reason`, read with damage when accepted, the same bytes on
    // every read, and the rest from some row on paper (`paper`); gives the accepted image.
    Image expectDamaged(const std::string& path, const std::string& reason, std::uint8_t paper) {
        ::testing::internal::CaptureStderr();
        const ImageResult refused = readImage(path);
        ReadOptions accept;
        accept.acceptDamaged = true;
        const ImageResult first = readImage(path, accept);
        const ImageResult second = readImage(path, accept);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_FALSE(refused.ok);
        EXPECT_NE(refused.error.find(path), std::string::npos) << refused.error;
        EXPECT_NE(refused.error.find(reason), std::string::npos) << refused.error;
        EXPECT_NE(refused.damage.find(reason), std::string::npos) << refused.damage;
        EXPECT_TRUE(first.ok) << first.error;
        EXPECT_NE(first.damage.find(reason), std::string::npos) << first.damage;
        EXPECT_EQ(first.image.pixels, second.image.pixels);
        EXPECT_TRUE(rowsAre(first.image, static_cast<std::size_t>(first.image.height) - 1, paper));
        return first.image;
    }
    ScratchDir dir;
};

// A G4 strip cut short: libtiff decodes the first rows, says "Premature EOL" or "Premature EOF"
// only as a warning, and leaves the other rows as they were. Both photometrics: paper is the
// bit that shows white.
TEST_F(DamagedFiles, CcittStripCutShortIsRefusedOrReadWithPaperBelowTheBreak) {
    for (Photometric photometric : {Photometric::MinIsWhite, Photometric::MinIsBlack}) {
        SCOPED_TRACE(static_cast<int>(photometric));
        const std::string path = dir.path(photometric == Photometric::MinIsWhite ? "cut.tif" : "cut-negative.tif");
        const Image drawn = picture(ColorMode::Mono, 200, 120);
        TiffShape shape;
        shape.compression = COMPRESSION_CCITTFAX4;
        shape.photometric = photometric;
        shape.rowsPerStrip = 120;
        ASSERT_TRUE(writeTiffWithLibtiff(path, drawn, shape));
        std::vector<std::uint8_t> bytes = fileBytes(path);
        ASSERT_TRUE(cutStrip(bytes, 0.4));
        writeBytes(path, bytes);

        const std::uint8_t paper = photometric == Photometric::MinIsWhite ? 0x00 : 0xFF;
        const Image read = expectDamaged(path, "damaged CCITT data in row ", paper);
        // The rows before the break are the drawing's own.
        const std::size_t top = 10 * read.stride;
        ASSERT_EQ(read.pixels.size(), drawn.pixels.size());
        EXPECT_TRUE(std::equal(read.pixels.begin(), read.pixels.begin() + static_cast<std::ptrdiff_t>(top),
                               drawn.pixels.begin()));
    }
}

// A JPEG cut in the middle of its data with its end marker put back: libjpeg warns of a
// premature end of the data segment and makes up grey for the rest.
TEST_F(DamagedFiles, JpegCutShortWithItsEndMarkerIsRefusedOrReadWithWhiteBelow) {
    const std::string path = dir.path("cut.jpg");
    ASSERT_TRUE(damaged_files::writeCutJpeg(path, 256, 256));
    const Image read = expectDamaged(path, "damaged JPEG data in row ", 0xFF);
    // Rows above the damage are decoded: not white.
    EXPECT_NE(read.pixels[0], 0xFF);
}

// Deflate strips with a horizontal predictor: the bytes libtiff did not decode are still
// found and made paper, although the predictor runs over the whole strip.
TEST_F(DamagedFiles, DeflateStripCutShortKeepsNoPredictedGarbage) {
    const std::string path = dir.path("deflate.tif");
    TiffShape shape;
    shape.compression = COMPRESSION_ADOBE_DEFLATE;
    shape.predictor = PREDICTOR_HORIZONTAL;
    shape.rowsPerStrip = 64;
    ASSERT_TRUE(writeTiffWithLibtiff(path, greyPicture(96, 64), shape));
    std::vector<std::uint8_t> bytes = fileBytes(path);
    ASSERT_TRUE(cutStrip(bytes, 0.5));
    writeBytes(path, bytes);
    expectDamaged(path, "damaged Deflate data in row ", 0xFF);
}

TEST_F(DamagedFiles, ImagesOverThePixelLimitAreRefusedFromTheHeaderAlone) {
    const std::string gif = dir.path("huge.gif"), jpeg = dir.path("huge.jpg");
    writeBytes(gif, damaged_files::hugeGif());
    ASSERT_TRUE(damaged_files::writeHugeJpeg(jpeg));
    for (const std::string& path : {gif, jpeg}) {
        const InfoResult info = readInfo(path);  // describing it is fine
        ASSERT_TRUE(info.ok) << info.error;
        EXPECT_EQ(info.info.width, 65500);
        const auto start = std::chrono::steady_clock::now();
        const ImageResult read = readImage(path);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_FALSE(read.ok);
        for (const char* part :
             {path.c_str(), "65500 x 65500", "4290250000 pixels", "limit of 2000000000 pixels", "PXMEND_MAX_PIXELS"})
            EXPECT_NE(read.error.find(part), std::string::npos) << read.error;
        EXPECT_LT(seconds, 3.0);  // no pixel memory taken: before, 10 s and 4 GB
    }
    // The users' A0 scan, 1 bit, is well within the default.
    ImageInfo a0;
    a0.width = 18720;
    a0.height = 13240;
    a0.mode = ColorMode::Mono;
    std::string why;
    EXPECT_TRUE(withinReadLimits(a0, ReadOptions{}, why)) << why;
    a0.mode = ColorMode::Rgb;
    EXPECT_TRUE(withinReadLimits(a0, ReadOptions{}, why)) << why;
}

TEST_F(DamagedFiles, PixelLimitFromTheVariable) {
    const std::string path = dir.path("small.png");
    ASSERT_EQ(createImageFile(path, FileFormat::Png, picture(ColorMode::Rgb, 60, 40)).status, kStatusOk);
    ReadOptions options;
    std::string why;
    ASSERT_TRUE(readOptionsFrom("2000", options, why)) << why;
    EXPECT_EQ(options.maxPixels, 2000u);
    const ImageResult refused = readImage(path, options);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("60 x 40 pixels (2400 pixels), over the limit of 2000 pixels"), std::string::npos)
        << refused.error;
    ASSERT_TRUE(readOptionsFrom("2400", options, why));
    EXPECT_TRUE(readImage(path, options).ok);
    ASSERT_TRUE(readOptionsFrom(nullptr, options, why));
    EXPECT_EQ(options.maxPixels, ReadOptions{}.maxPixels);
    for (const char* bad : {"0", "-5", "12x", "1e9", "99999999999999999999"}) {
        EXPECT_FALSE(readOptionsFrom(bad, options, why)) << bad;
        EXPECT_NE(why.find("PXMEND_MAX_PIXELS"), std::string::npos) << why;
    }
}

}  // namespace
}  // namespace imagefile_test
