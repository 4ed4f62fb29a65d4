// Header questions are answered from the header: every format's palette comes with its header
// facts, the same as a full decode gives, with the file opened once and no pixels decoded; a
// decode opens its file once too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "subhost/imagefile/gif_fixture.h"
#include "subhost/imagefile/imagefile.h"
#include "subhost/imagefile/imagefile_fixture.h"

namespace {

namespace img = subhost::imagefile;

// A 16-colour palette image of 37 x 21 whose colours no default palette has.
img::Image paletteImage() {
    img::Image image = img::makeImage(37, 21, img::ColorMode::Palette8).image;
    for (int i = 0; i < 16; ++i)
        image.palette[std::size_t(i)] = img::Rgb8{std::uint8_t(10 + i), std::uint8_t(200 - i), std::uint8_t(7 * i)};
    image.paletteCount = 16;
    for (std::size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = std::uint8_t(i % 16);
    return image;
}

// Reads path's header, then decodes it; expects the same palette from both, one open for each
// and one decode for the decode alone.
void expectPaletteFromHeader(const std::string& path) {
    SCOPED_TRACE(path);
    img::resetFileCounts();
    const img::InfoResult header = img::readInfo(path);
    ASSERT_TRUE(header.ok) << header.error;
    EXPECT_EQ(img::fileCounts(path).opens, 1u);
    EXPECT_EQ(img::fileCounts(path).decodes, 0u);
    const img::ImageResult decoded = img::readImage(path);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(img::fileCounts(path).opens, 2u);
    EXPECT_EQ(img::fileCounts(path).decodes, 1u);
    EXPECT_EQ(header.info.paletteCount, decoded.image.paletteCount);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(header.info.palette[std::size_t(i)], decoded.image.palette[std::size_t(i)]) << "entry " << i;
}

TEST(HeaderPalette, EveryFormatGivesItsPaletteWithoutDecodingAndOpensOnce) {
    imagefile_test::ScratchDir dir;
    const img::Image palette = paletteImage();
    for (const auto& [name, format] :
         std::vector<std::pair<std::string, img::FileFormat>>{{"palette.tif", img::FileFormat::Tiff},
                                                              {"palette.png", img::FileFormat::Png},
                                                              {"palette.bmp", img::FileFormat::Bmp}}) {
        ASSERT_EQ(img::createImageFile(dir.path(name), format, palette).status, 0) << name;
        const img::InfoResult header = img::readInfo(dir.path(name));
        ASSERT_TRUE(header.ok) << header.error;
        EXPECT_EQ(header.info.palette[5], palette.palette[5]) << name;
        expectPaletteFromHeader(dir.path(name));
    }
    img::Image mono = img::makeImage(40, 9, img::ColorMode::Mono).image;
    mono.photometric = img::Photometric::MinIsBlack;
    ASSERT_EQ(img::createImageFile(dir.path("mono.tif"), img::FileFormat::Tiff, mono).status, 0);
    EXPECT_EQ(img::readInfo(dir.path("mono.tif")).info.palette[1], (img::Rgb8{255, 255, 255}));
    expectPaletteFromHeader(dir.path("mono.tif"));
    ASSERT_EQ(img::createImageFile(dir.path("mono.png"), img::FileFormat::Png, mono).status, 0);
    expectPaletteFromHeader(dir.path("mono.png"));
    img::Image grey = img::makeImage(16, 16, img::ColorMode::Grey8).image;
    ASSERT_EQ(img::createImageFile(dir.path("grey.jpg"), img::FileFormat::Jpeg, grey).status, 0);
    EXPECT_EQ(img::readInfo(dir.path("grey.jpg")).info.palette[77], (img::Rgb8{77, 77, 77}));
    expectPaletteFromHeader(dir.path("grey.jpg"));
    imagefile_test::writeBytes(dir.path("four.gif"), gif_test::handMadeGif(4, 2, {0, 1, 2, 3, 3, 2, 1, 0}, false));
    EXPECT_EQ(img::readInfo(dir.path("four.gif")).info.paletteCount, 4);
    expectPaletteFromHeader(dir.path("four.gif"));
}

// A file refused at decode (pixels over the limit) is refused from its header, after one open.
TEST(HeaderPalette, FileOverThePixelLimitIsRefusedAfterOneOpenWithoutDecoding) {
    imagefile_test::ScratchDir dir;
    ASSERT_EQ(img::createImageFile(dir.path("big.tif"), img::FileFormat::Tiff, paletteImage()).status, 0);
    img::resetFileCounts();
    img::ReadOptions options;
    options.maxPixels = 100;
    EXPECT_FALSE(img::readImage(dir.path("big.tif"), options).ok);
    EXPECT_EQ(img::fileCounts(dir.path("big.tif")).opens, 1u);
    EXPECT_EQ(img::fileCounts(dir.path("big.tif")).decodes, 0u);
}

}  // namespace
