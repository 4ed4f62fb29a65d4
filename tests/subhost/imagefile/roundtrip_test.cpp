// Round trips through the raster codecs: files written by libtiff or libpng are
// decoded exactly, written back with the same format facts, and decode to the
// same pixels again (and, for TIFF, libtiff alone reads our output the same).
#include <cmath>
#include <cstdlib>
#include <span>

#include "imagefile_fixture.h"
#include "subhost/safefile.h"

namespace imagefile_test {
namespace {

struct TiffCase {
    const char* name;
    ColorMode mode;
    TiffShape shape;
    Compression expected;
};

std::ostream& operator<<(std::ostream& os, const TiffCase& c) { return os << c.name; }

TiffShape shape(std::uint16_t compression, Photometric photometric = Photometric::MinIsWhite, bool tiled = false,
                std::uint16_t predictor = 1, std::uint32_t g3 = 0, std::uint16_t fillOrder = FILLORDER_MSB2LSB) {
    TiffShape s;
    s.compression = compression;
    s.photometric = photometric;
    s.tiled = tiled;
    s.predictor = predictor;
    s.group3Options = g3;
    s.fillOrder = fillOrder;
    return s;
}

class TiffRoundTrip : public ::testing::TestWithParam<TiffCase> {};

TEST_P(TiffRoundTrip, PixelsAndFileFactsSurviveReadAndWriteBack) {
    const TiffCase& c = GetParam();
    ScratchDir dir;
    const std::string path = dir.path("in.tif");
    const Image source = picture(c.mode, 77, 45, 3);
    ASSERT_TRUE(writeTiffWithLibtiff(path, source, c.shape));

    ImageResult first = readImage(path);
    ASSERT_TRUE(first.ok) << first.error;
    const Image& image = first.image;
    EXPECT_EQ(image.format, FileFormat::Tiff);
    EXPECT_EQ(image.mode, c.mode);
    EXPECT_EQ(image.compression, c.expected);
    EXPECT_EQ(image.layout.tiled, c.shape.tiled);
    if (c.mode == ColorMode::Mono) {
        EXPECT_EQ(image.photometric, c.shape.photometric);
    }
    EXPECT_DOUBLE_EQ(image.resolution.x, 300);
    EXPECT_DOUBLE_EQ(image.resolution.y, 200);
    EXPECT_EQ(image.resolution.unit, ResolutionUnit::Inch);
    ASSERT_EQ(image.pixels, source.pixels);
    if (c.mode == ColorMode::Palette8 || c.mode == ColorMode::Palette4) {
        EXPECT_EQ(image.palette[5], source.palette[5]);
    }

    // Change one pixel so the write-back has something to carry.
    Image edited = image;
    edited.pixels[edited.stride * 10 + 2] ^= 0x0F;
    const Image unchanged = edited;
    WriteStatus written = writeImage(path, edited);
    ASSERT_EQ(written.status, kStatusOk) << written.error;
    EXPECT_EQ(edited.pixels, unchanged.pixels);  // the writer leaves the caller's pixels alone
    ImageResult second = readImage(path);
    ASSERT_TRUE(second.ok) << second.error;
    EXPECT_EQ(second.image.pixels, edited.pixels);
    EXPECT_EQ(second.image.compression, image.compression);
    EXPECT_EQ(second.image.photometric, image.photometric);
    EXPECT_EQ(second.image.layout.tiled, image.layout.tiled);
    EXPECT_EQ(second.image.layout.rowsPerStrip, image.layout.rowsPerStrip);
    EXPECT_EQ(second.image.layout.tileWidth, image.layout.tileWidth);
    EXPECT_EQ(second.image.details.fillOrder, image.details.fillOrder);
    EXPECT_EQ(second.image.details.predictor, image.details.predictor);
    EXPECT_EQ(second.image.details.group3Options, image.details.group3Options);
    EXPECT_DOUBLE_EQ(second.image.resolution.x, 300);
    EXPECT_EQ(subhost::safefile::countWorkingFiles(std::filesystem::path(path).parent_path().string()), 0);

    if (!c.shape.tiled && c.mode != ColorMode::Palette4) {
        // libtiff alone sees the same bits in our output.
        EXPECT_EQ(readRowsWithLibtiff(path), edited.pixels);
    }
}

const Photometric kWhite = Photometric::MinIsWhite;
const Photometric kBlack = Photometric::MinIsBlack;

INSTANTIATE_TEST_SUITE_P(
    Formats, TiffRoundTrip,
    ::testing::Values(
        TiffCase{"MonoNone", ColorMode::Mono, shape(COMPRESSION_NONE), Compression::None},
        TiffCase{"MonoNoneMinIsBlack", ColorMode::Mono, shape(COMPRESSION_NONE, kBlack), Compression::None},
        TiffCase{"MonoPackBits", ColorMode::Mono, shape(COMPRESSION_PACKBITS), Compression::PackBits},
        TiffCase{"MonoLzw", ColorMode::Mono, shape(COMPRESSION_LZW), Compression::Lzw},
        TiffCase{"MonoDeflate", ColorMode::Mono, shape(COMPRESSION_ADOBE_DEFLATE), Compression::Deflate},
        TiffCase{"MonoRle", ColorMode::Mono, shape(COMPRESSION_CCITTRLE), Compression::CcittRle},
        TiffCase{"MonoG3", ColorMode::Mono, shape(COMPRESSION_CCITTFAX3), Compression::CcittG3},
        TiffCase{"MonoG3TwoD", ColorMode::Mono, shape(COMPRESSION_CCITTFAX3, kWhite, false, 1, GROUP3OPT_2DENCODING),
                 Compression::CcittG3},
        TiffCase{"MonoG4MinIsWhite", ColorMode::Mono, shape(COMPRESSION_CCITTFAX4, kWhite), Compression::CcittG4},
        TiffCase{"MonoG4MinIsBlack", ColorMode::Mono, shape(COMPRESSION_CCITTFAX4, kBlack), Compression::CcittG4},
        TiffCase{"MonoG4LsbFirst", ColorMode::Mono,
                 shape(COMPRESSION_CCITTFAX4, kWhite, false, 1, 0, FILLORDER_LSB2MSB), Compression::CcittG4},
        TiffCase{"MonoNoneLsbFirst", ColorMode::Mono, shape(COMPRESSION_NONE, kWhite, false, 1, 0, FILLORDER_LSB2MSB),
                 Compression::None},
        TiffCase{"MonoG4Tiled", ColorMode::Mono, shape(COMPRESSION_CCITTFAX4, kBlack, true), Compression::CcittG4},
        TiffCase{"MonoNoneTiled", ColorMode::Mono, shape(COMPRESSION_NONE, kWhite, true), Compression::None},
        TiffCase{"GreyNone", ColorMode::Grey8, shape(COMPRESSION_NONE), Compression::None},
        TiffCase{"GreyLzwPredictor", ColorMode::Grey8, shape(COMPRESSION_LZW, kWhite, false, 2), Compression::Lzw},
        TiffCase{"GreyDeflateTiled", ColorMode::Grey8, shape(COMPRESSION_ADOBE_DEFLATE, kWhite, true),
                 Compression::Deflate},
        TiffCase{"PaletteLzw", ColorMode::Palette8, shape(COMPRESSION_LZW), Compression::Lzw},
        TiffCase{"PalettePackBitsTiled", ColorMode::Palette8, shape(COMPRESSION_PACKBITS, kWhite, true),
                 Compression::PackBits},
        TiffCase{"Palette4None", ColorMode::Palette4, shape(COMPRESSION_NONE), Compression::None},
        TiffCase{"Palette4LzwTiled", ColorMode::Palette4, shape(COMPRESSION_LZW, kWhite, true), Compression::Lzw},
        TiffCase{"RgbLzwPredictor", ColorMode::Rgb, shape(COMPRESSION_LZW, kWhite, false, 2), Compression::Lzw},
        TiffCase{"RgbDeflateTiled", ColorMode::Rgb, shape(COMPRESSION_ADOBE_DEFLATE, kWhite, true),
                 Compression::Deflate},
        TiffCase{"RgbaLzw", ColorMode::Rgba, shape(COMPRESSION_LZW), Compression::Lzw},
        TiffCase{"RgbaNoneTiled", ColorMode::Rgba, shape(COMPRESSION_NONE, kWhite, true), Compression::None}),
    [](const ::testing::TestParamInfo<TiffCase>& info) { return std::string(info.param.name); });

double meanDifference(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / static_cast<double>(a.size());
}

// A smooth picture that JPEG keeps close.
Image smooth(ColorMode mode, int width, int height) {
    Image image = makeImage(width, height, mode).image;
    const std::size_t channels = image.stride / static_cast<std::size_t>(width);
    for (int y = 0; y < height; ++y)
        for (std::size_t i = 0; i < image.stride; ++i)
            image.pixels[static_cast<std::size_t>(y) * image.stride + i] =
                static_cast<std::uint8_t>(i / channels + static_cast<std::size_t>(y) * 2 + (i % channels) * 30);
    image.resolution = Resolution{150, 150, ResolutionUnit::Inch};
    return image;
}

// JPEG inside TIFF (grey and YCbCr) and JPEG files: close to the source, coding and resolution kept
// through a write-back; a monochrome JPEG cannot be made.
TEST(JpegCompressedRasters, StayCloseAndKeepTheirCodingThroughWriteBack) {
    for (FileFormat format : {FileFormat::Tiff, FileFormat::Jpeg}) {
        for (ColorMode mode : {ColorMode::Grey8, ColorMode::Rgb}) {
            SCOPED_TRACE(static_cast<int>(format) * 10 + static_cast<int>(mode));
            ScratchDir dir;
            const bool tiffRgb = format == FileFormat::Tiff && mode == ColorMode::Rgb;
            const std::string path = dir.path(format == FileFormat::Tiff ? "jpeg.tif" : "photo.jpg");
            Image source = smooth(mode, 64, 48);
            source.compression = Compression::Jpeg;
            source.details.tiffPhotometric = tiffRgb ? PHOTOMETRIC_YCBCR : 0;
            source.details.chromaSubsampling[0] = 1;
            source.details.chromaSubsampling[1] = 1;
            ASSERT_EQ(createImageFile(path, format, source).status, kStatusOk);
            ImageResult read = readImage(path);
            ASSERT_TRUE(read.ok) << read.error;
            EXPECT_EQ(read.image.format, format);
            EXPECT_EQ(read.image.mode, mode);
            EXPECT_EQ(read.image.compression, Compression::Jpeg);
            EXPECT_DOUBLE_EQ(read.image.resolution.x, 150);
            EXPECT_EQ(read.image.resolution.unit, ResolutionUnit::Inch);
            EXPECT_LT(meanDifference(read.image.pixels, source.pixels), 4.0);
            ASSERT_EQ(writeImage(path, read.image).status, kStatusOk);
            ImageResult again = readImage(path);
            ASSERT_TRUE(again.ok) << again.error;
            EXPECT_EQ(again.image.details.tiffPhotometric, read.image.details.tiffPhotometric);
            if (tiffRgb) {
                EXPECT_EQ(again.image.details.chromaSubsampling[0], 1);
            }
            EXPECT_LT(meanDifference(again.image.pixels, source.pixels), 4.0);
        }
    }
    ScratchDir dir;
    EXPECT_EQ(createImageFile(dir.path("mono.jpg"), FileFormat::Jpeg, picture(ColorMode::Mono, 8, 8)).status,
              kStatusCannotWriteFormat);
}

// PNG files of every kind the host reads, written by libpng.
TEST(PngRasters, EveryKindDecodesExactlyAndWritesBackUnchanged) {
    struct Case {
        ColorMode mode;
        int bitDepth, colorType;
        bool interlaced;
    };
    const Case cases[] = {
        {ColorMode::Mono, 1, PNG_COLOR_TYPE_GRAY, false},        {ColorMode::Mono, 1, PNG_COLOR_TYPE_PALETTE, false},
        {ColorMode::Palette8, 8, PNG_COLOR_TYPE_PALETTE, false}, {ColorMode::Grey8, 8, PNG_COLOR_TYPE_GRAY, true},
        {ColorMode::Rgb, 8, PNG_COLOR_TYPE_RGB, false},          {ColorMode::Rgba, 8, PNG_COLOR_TYPE_RGB_ALPHA, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode) * 100 + c.colorType);
        ScratchDir dir;
        const std::string path = dir.path("in.png");
        const Image source = picture(c.mode, 53, 21, 9);
        std::vector<png_color> palette;
        if (c.colorType == PNG_COLOR_TYPE_PALETTE && c.mode == ColorMode::Mono) palette = {{255, 255, 255}, {0, 0, 0}};
        if (c.mode == ColorMode::Palette8)
            for (int i = 0; i < 256; ++i)
                palette.push_back(png_color{source.palette[i][0], source.palette[i][1], source.palette[i][2]});
        ASSERT_TRUE(writePngWithLibpng(path, 53, 21, c.bitDepth, c.colorType, rowsOf(source), palette, c.interlaced));
        ImageResult read = readImage(path);
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.image.mode, c.mode);
        EXPECT_EQ(read.image.compression, Compression::Deflate);
        EXPECT_EQ(read.image.details.interlaced, c.interlaced);
        EXPECT_NEAR(read.image.resolution.x * 2.54, 300, 0.1);
        if (c.mode == ColorMode::Mono) {
            EXPECT_EQ(read.image.photometric,
                      c.colorType == PNG_COLOR_TYPE_GRAY ? Photometric::MinIsBlack : Photometric::MinIsWhite);
        }
        ASSERT_EQ(read.image.pixels, source.pixels);
        ASSERT_EQ(writeImage(path, read.image).status, kStatusOk);
        ImageResult again = readImage(path);
        ASSERT_TRUE(again.ok) << again.error;
        EXPECT_EQ(again.image.pixels, source.pixels);
        EXPECT_EQ(again.image.photometric, read.image.photometric);
        EXPECT_EQ(again.image.palette, read.image.palette);
        EXPECT_NEAR(again.image.resolution.x, read.image.resolution.x, 0.01);
    }
}

TEST(PngRasters, FourBitPaletteKeepsOneIndexAByteAndItsPalette) {
    ScratchDir dir;
    const std::string path = dir.path("sixteen.png");
    const Image source = picture(ColorMode::Palette4, 31, 9, 4);
    ASSERT_EQ(createImageFile(path, FileFormat::Png, source).status, kStatusOk);
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.image.mode, ColorMode::Palette4);
    EXPECT_EQ(read.image.paletteCount, 16);
    EXPECT_EQ(read.image.palette[15], source.palette[15]);
    EXPECT_EQ(read.image.pixels, source.pixels);
}

// BMP has no outside writer here: every mode goes through our writer, and a
// hand-made file pins down row order and colour byte order.
TEST(BmpRasters, EveryDepthRoundTripsThroughCreateAndWriteBack) {
    for (ColorMode mode : {ColorMode::Mono, ColorMode::Palette4, ColorMode::Palette8, ColorMode::Grey8, ColorMode::Rgb,
                           ColorMode::Rgba}) {
        SCOPED_TRACE(static_cast<int>(mode));
        ScratchDir dir;
        const std::string path = dir.path("in.bmp");
        Image source = picture(mode, 37, 19, 5);
        source.photometric = Photometric::MinIsBlack;
        if (mode == ColorMode::Mono) source.palette[0] = Rgb8{0, 0, 0}, source.palette[1] = Rgb8{255, 255, 255};
        ASSERT_EQ(createImageFile(path, FileFormat::Bmp, source).status, kStatusOk);
        ImageResult read = readImage(path);
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.image.format, FileFormat::Bmp);
        EXPECT_EQ(read.image.mode, mode);
        EXPECT_EQ(read.image.pixels, source.pixels);
        EXPECT_NEAR(read.image.resolution.x * 2.54, 300, 0.1);
        if (mode == ColorMode::Mono) {
            EXPECT_EQ(read.image.photometric, Photometric::MinIsBlack);
        }
        if (mode == ColorMode::Palette8) {
            EXPECT_EQ(read.image.palette[200], source.palette[200]);
        }
        read.image.details.topDown = true;
        ASSERT_EQ(writeImage(path, read.image).status, kStatusOk);
        ImageResult again = readImage(path);
        ASSERT_TRUE(again.ok) << again.error;
        EXPECT_TRUE(again.image.details.topDown);
        EXPECT_EQ(again.image.pixels, source.pixels);
    }
}

TEST(BmpRasters, HandMadeFileReadsBottomUpAndBgr) {
    // 2 x 2, 24-bit, bottom-up: the first stored row is the picture's lower row.
    std::vector<std::uint8_t> bmp = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
                                     40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0x13,
                                     0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                     // lower row: blue, green (B, G, R order) + 2 padding bytes
                                     255, 0, 0, 0, 255, 0, 0, 0,
                                     // upper row: red, white
                                     0, 0, 255, 255, 255, 255, 0, 0};
    ScratchDir dir;
    const std::string path = dir.path("tiny.bmp");
    writeBytes(path, bmp);
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    const PixelBytes expected = {255, 0, 0, 255, 255, 255, 0, 0, 255, 0, 255, 0};
    EXPECT_EQ(read.image.pixels, expected);
    EXPECT_EQ(read.image.mode, ColorMode::Rgb);
    EXPECT_NEAR(read.image.resolution.x, 28.35, 0.01);  // 2835 dots a metre, 72 dpi
}

TEST(MonochromeConventions, BothPhotometricsKeepTheirBitsInEveryWritableFormat) {
    for (Photometric photometric : {Photometric::MinIsWhite, Photometric::MinIsBlack}) {
        for (FileFormat format : {FileFormat::Tiff, FileFormat::Png, FileFormat::Bmp}) {
            SCOPED_TRACE(static_cast<int>(format) * 10 + static_cast<int>(photometric));
            ScratchDir dir;
            const std::string path = dir.path("mono");
            Image source = picture(ColorMode::Mono, 29, 11, 2);
            source.photometric = photometric;
            source.paletteCount = 0;  // the writer derives the colours from the photometric
            ASSERT_EQ(createImageFile(path, format, source).status, kStatusOk);
            ImageResult read = readImage(path);
            ASSERT_TRUE(read.ok) << read.error;
            EXPECT_EQ(read.image.photometric, photometric);
            EXPECT_EQ(read.image.pixels, source.pixels);
            const Rgb8 one = read.image.palette[1];
            EXPECT_EQ(one[0], photometric == Photometric::MinIsWhite ? 0 : 255);
        }
    }
}

TEST(FileInformation, TiffOrientationAndByteOrderSurviveWriteBack) {
    ScratchDir dir;
    const std::string path = dir.path("turned.tif");
    Image source = picture(ColorMode::Grey8, 20, 10);
    source.details.orientation = ORIENTATION_BOTLEFT;
    source.details.bigEndian = true;
    source.details.bigTiff = true;
    ASSERT_EQ(createImageFile(path, FileFormat::Tiff, source).status, kStatusOk);
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_EQ(writeImage(path, read.image).status, kStatusOk);
    ImageResult again = readImage(path);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.image.details.orientation, ORIENTATION_BOTLEFT);
    EXPECT_TRUE(again.image.details.bigEndian);
    EXPECT_TRUE(again.image.details.bigTiff);
    EXPECT_EQ(fileBytes(path)[0], 'M');
    EXPECT_EQ(again.image.pixels, source.pixels);
}

TEST(FileInformation, TagsTheHostDoesNotInterpretSurviveWriteBack) {
    ScratchDir dir;
    const std::string path = dir.path("geo.tif");
    const std::uint32_t kPixelScale = 33550;  // a georeferencing tag libtiff does not know
    {
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(tif, nullptr);
        static char name[] = "PixelScale";
        const TIFFFieldInfo info{kPixelScale, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, name};
        ASSERT_EQ(TIFFMergeFieldInfo(tif, &info, 1), 0);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 4);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tif, TIFFTAG_SOFTWARE, "Scanner 1.0");
        const double scale[3] = {0.25, 0.5, 0.0};
        TIFFSetField(tif, kPixelScale, 3u, scale);
        std::uint8_t row[2] = {0xF0, 0x0F};
        for (std::uint32_t y = 0; y < 4; ++y) TIFFWriteScanline(tif, row, y, 0);
        TIFFClose(tif);
    }
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    read.image.pixels[0] = 0xAA;
    ASSERT_EQ(writeImage(path, read.image).status, kStatusOk);

    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    const char* software = nullptr;
    ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_SOFTWARE, &software));
    EXPECT_STREQ(software, "Scanner 1.0");
    std::uint32_t count = 0;
    const double* scale = nullptr;
    ASSERT_TRUE(TIFFGetField(tif, kPixelScale, &count, &scale));
    ASSERT_EQ(count, 3u);
    EXPECT_DOUBLE_EQ(scale[0], 0.25);
    EXPECT_DOUBLE_EQ(scale[1], 0.5);
    TIFFClose(tif);
    ImageResult again = readImage(path);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.image.pixels[0], 0xAA);
}

TEST(FileInformation, HeaderFactsWithoutDecoding) {
    ScratchDir dir;
    const std::string path = dir.path("scan.tif");
    Image source = picture(ColorMode::Mono, 200, 100);
    TiffShape s;
    s.compression = COMPRESSION_CCITTFAX4;
    ASSERT_TRUE(writeTiffWithLibtiff(path, source, s));
    InfoResult info = readInfo(path);
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.info.width, 200);
    EXPECT_EQ(info.info.height, 100);
    EXPECT_EQ(info.info.mode, ColorMode::Mono);
    EXPECT_EQ(info.info.format, FileFormat::Tiff);
    EXPECT_EQ(info.info.compression, Compression::CcittG4);
    EXPECT_EQ(info.info.path, path);
}

}  // namespace
}  // namespace imagefile_test
