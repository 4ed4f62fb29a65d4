// GIF rasters: read through giflib, edited images written back in place with
// giflib's writer, and every written file read again by giflib alone and by an
// outside decoder (netpbm's giftopnm). New GIF files are still refused (-119),
// which is what makes crop and resize of a GIF offer the conversion to TIFF.
#include "gif_fixture.h"
#include "imagefile_fixture.h"
#include "subhost/safefile.h"

namespace imagefile_test {
namespace {

using gif_test::decodeWithGiftopnm;
using gif_test::HandMadeGif;
using gif_test::handMadeGif;
using gif_test::pixelsUnlike;
using gif_test::slurpWithGiflib;

std::vector<std::uint8_t> smallGif() { return handMadeGif(4, 2, {0, 1, 2, 3, 3, 2, 1, 0}, false); }

// A 4-colour picture of width x height whose pixels tell where they are.
HandMadeGif patternGif(int width, int height) {
    HandMadeGif g;
    g.width = width;
    g.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) g.pixels.push_back((x / 3 + y) % 4);
    return g;
}

std::uint8_t& at(Image& image, int x, int y) {
    return image.pixels[static_cast<std::size_t>(y) * image.stride + static_cast<std::size_t>(x)];
}

// Checks the file at path as giflib alone reads it: one image of the picture's
// size at the screen's corner, a global colour table of `colours` entries that
// starts with the picture's palette, and exactly the picture's indices.
void expectGiflibReads(const std::string& path, const Image& picture, int colours) {
    gif_test::Slurped gif = slurpWithGiflib(path);
    ASSERT_TRUE(gif);
    EXPECT_EQ(gif->SWidth, picture.width);
    EXPECT_EQ(gif->SHeight, picture.height);
    ASSERT_EQ(gif->ImageCount, 1);
    const SavedImage& image = gif->SavedImages[0];
    EXPECT_EQ(image.ImageDesc.Left, 0);
    EXPECT_EQ(image.ImageDesc.Top, 0);
    ASSERT_EQ(image.ImageDesc.Width, picture.width);
    ASSERT_EQ(image.ImageDesc.Height, picture.height);
    const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->ColorCount, colours);
    for (int i = 0; i < std::min(map->ColorCount, picture.paletteCount); ++i) {
        const Rgb8& c = picture.palette[static_cast<std::size_t>(i)];
        EXPECT_EQ((Rgb8{map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue}), c) << "colour " << i;
    }
    std::size_t unlike = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (image.RasterBits[static_cast<std::size_t>(y) * picture.width + static_cast<std::size_t>(x)] !=
                picture.pixels[static_cast<std::size_t>(y) * picture.stride + static_cast<std::size_t>(x)])
                ++unlike;
    EXPECT_EQ(unlike, 0u) << "pixels giflib reads otherwise than written";
}

TEST(GifRasters, InterlacedRowsLandInPictureOrder) {
    std::vector<int> pixels;
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 3; ++x) pixels.push_back((y + x) % 4);
    ScratchDir dir;
    const std::string path = dir.path("interlaced.gif");
    writeBytes(path, handMadeGif(3, 11, pixels, true));
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_EQ(read.image.pixels.size(), pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i) EXPECT_EQ(read.image.pixels[i], pixels[i]) << "pixel " << i;
}

TEST(GifRasters, EditedImageIsWrittenBackInPlaceAndReadAliveByGiflibAndAnOutsideDecoder) {
    ScratchDir dir;
    const std::string path = dir.path("logo.gif");
    HandMadeGif made = patternGif(23, 17);
    made.background = 3;
    writeBytes(path, handMadeGif(made));
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.image.format, FileFormat::Gif);
    EXPECT_EQ(read.image.mode, ColorMode::Palette8);
    EXPECT_EQ(read.image.compression, Compression::Lzw);
    EXPECT_EQ(read.image.paletteCount, 4);

    // An edit as the add-on makes one: a block filled with one index, a pixel set.
    Image edited = read.image;
    for (int y = 4; y < 12; ++y)
        for (int x = 5; x < 15; ++x) at(edited, x, y) = 1;
    at(edited, 22, 16) = 2;
    const WriteStatus back = writeImage(path, edited);
    ASSERT_EQ(back.status, kStatusOk) << back.error;
    EXPECT_EQ(subhost::safefile::countWorkingFiles(std::filesystem::path(path).parent_path().string()), 0);
    const auto written = fileBytes(path);
    ASSERT_GE(written.size(), 6u);
    EXPECT_EQ(std::string(written.begin(), written.begin() + 6), "GIF87a");  // nothing in it needs GIF89a

    // The host reads it back as it was written: same pixels, palette and facts.
    ImageResult again = readImage(path);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.image.format, FileFormat::Gif);
    EXPECT_EQ(again.image.mode, ColorMode::Palette8);
    EXPECT_EQ(again.image.compression, Compression::Lzw);
    EXPECT_EQ(again.image.width, 23);
    EXPECT_EQ(again.image.height, 17);
    EXPECT_EQ(again.image.paletteCount, 4);
    EXPECT_EQ(again.image.palette, edited.palette);
    EXPECT_EQ(again.image.pixels, edited.pixels);

    // giflib alone, reading the whole file: one image, the 4-colour table, the same indices.
    expectGiflibReads(path, edited, 4);

    // An outside decoder shows every pixel in its palette colour and has nothing to say.
    const auto outside = decodeWithGiftopnm(path, dir.path("."));
    EXPECT_EQ(outside.code, 0) << outside.said;
    EXPECT_EQ(outside.said, "");
    EXPECT_EQ(outside.width, 23);
    EXPECT_EQ(outside.height, 17);
    EXPECT_EQ(pixelsUnlike(outside, edited), 0u);

    // Written back once more unchanged, the file decodes the same again.
    ASSERT_EQ(writeImage(path, again.image).status, kStatusOk);
    EXPECT_EQ(readImage(path).image.pixels, edited.pixels);
}

TEST(GifRasters, BackgroundTransparencyAndInterlacingSurviveWriteBack) {
    ScratchDir dir;
    const std::string path = dir.path("clear.gif");
    HandMadeGif made = patternGif(9, 21);
    made.interlaced = true;
    made.background = 2;
    made.transparent = 3;
    writeBytes(path, handMadeGif(made));
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_TRUE(read.image.details.interlaced);
    EXPECT_EQ(read.image.details.gifBackground, 2);
    EXPECT_EQ(read.image.details.gifTransparent, 3);
    EXPECT_FALSE(read.image.details.gifMoreImages);
    at(read.image, 0, 0) = 3;
    ASSERT_EQ(writeImage(path, read.image).status, kStatusOk);

    ImageResult again = readImage(path);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.image.pixels, read.image.pixels);
    EXPECT_TRUE(again.image.details.interlaced);
    EXPECT_EQ(again.image.details.gifBackground, 2);
    EXPECT_EQ(again.image.details.gifTransparent, 3);

    gif_test::Slurped gif = slurpWithGiflib(path);
    ASSERT_TRUE(gif);
    ASSERT_EQ(gif->ImageCount, 1);
    EXPECT_TRUE(gif->SavedImages[0].ImageDesc.Interlace);
    EXPECT_EQ(gif->SBackGroundColor, 2);
    GraphicsControlBlock control{};
    ASSERT_EQ(DGifSavedExtensionToGCB(gif.get(), 0, &control), GIF_OK);
    EXPECT_EQ(control.TransparentColor, 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(fileBytes(path).data()), 6), "GIF89a");

    const auto outside = decodeWithGiftopnm(path, dir.path("."), true);
    EXPECT_EQ(outside.code, 0) << outside.said;
    EXPECT_NE(outside.said.find("interlaced GIF image"), std::string::npos) << outside.said;
    EXPECT_NE(outside.said.find("Index 3"), std::string::npos) << outside.said;
    EXPECT_EQ(pixelsUnlike(outside, read.image), 0u);
}

TEST(GifRasters, FullPaletteOfRandomPixelsRoundTripsThroughLzwTableResets) {
    ScratchDir dir;
    const std::string path = dir.path("noise.gif");
    writeBytes(path, smallGif());
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    // Random indices over 256 colours: the LZW table fills and is cleared many times.
    Image noise = picture(ColorMode::Palette8, 331, 203, 7);
    noise.format = FileFormat::Gif;
    noise.compression = Compression::Lzw;
    noise.details = read.image.details;
    noise.resolution = Resolution{};
    ASSERT_EQ(writeImage(path, noise).status, kStatusOk);
    ImageResult again = readImage(path);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.image.paletteCount, 256);
    EXPECT_EQ(again.image.palette, noise.palette);
    EXPECT_EQ(again.image.pixels, noise.pixels);
    expectGiflibReads(path, noise, 256);
    const auto outside = decodeWithGiftopnm(path, dir.path("."));
    EXPECT_EQ(outside.code, 0) << outside.said;
    EXPECT_EQ(pixelsUnlike(outside, noise), 0u);
}

TEST(GifRasters, IndicesPastTheColourTableWidenItInsteadOfBeingCut) {
    // An edit may put an index the file's table does not reach (a canvas colour
    // of 255 in a 4-colour file): the table grows to hold it, in the colour the
    // host shows for it, and no pixel loses bits.
    ScratchDir dir;
    const std::string path = dir.path("small.gif");
    writeBytes(path, smallGif());
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    at(read.image, 1, 0) = 255;
    at(read.image, 2, 1) = 9;
    ASSERT_EQ(writeImage(path, read.image).status, kStatusOk);
    ImageResult again = readImage(path);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.image.pixels, read.image.pixels);
    EXPECT_EQ(again.image.paletteCount, 256);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(again.image.palette[i], read.image.palette[i]);
    EXPECT_EQ(again.image.palette[255], (Rgb8{0, 0, 0}));
    expectGiflibReads(path, read.image, 256);
    const auto outside = decodeWithGiftopnm(path, dir.path("."));
    EXPECT_EQ(outside.code, 0) << outside.said;
    EXPECT_EQ(pixelsUnlike(outside, read.image), 0u);
}

TEST(GifRasters, AnAnimationIsReadAsItsFirstImageAndNotWrittenBack) {
    ScratchDir dir;
    const std::string path = dir.path("anim.gif");
    HandMadeGif made = patternGif(6, 5);
    made.secondImage = true;
    writeBytes(path, handMadeGif(made));
    const auto before = fileBytes(path);
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_TRUE(read.image.details.gifMoreImages);
    EXPECT_EQ(read.image.pixels[1], 0);
    at(read.image, 0, 0) = 2;
    const WriteStatus back = writeImage(path, read.image);
    EXPECT_EQ(back.status, kStatusCannotWriteFormat);
    EXPECT_NE(back.error.find(path), std::string::npos) << back.error;
    EXPECT_NE(back.error.find("several images"), std::string::npos) << back.error;
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(subhost::safefile::countWorkingFiles(std::filesystem::path(path).parent_path().string()), 0);
}

TEST(GifRasters, NewGifFilesAndOtherColourModesStillAnswerCannotWriteFormat) {
    ScratchDir dir;
    const std::string path = dir.path("logo.gif");
    writeBytes(path, smallGif());
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_FALSE(canWriteFormat(FileFormat::Gif));
    EXPECT_TRUE(canWriteBack(FileFormat::Gif));
    EXPECT_EQ(createImageFile(dir.path("new.gif"), FileFormat::Gif, read.image).status, kStatusCannotWriteFormat);
    EXPECT_FALSE(std::filesystem::exists(dir.path("new.gif")));
    // A GIF holds palette images only.
    const auto before = fileBytes(path);
    Image grey = picture(ColorMode::Grey8, 4, 2);
    grey.format = FileFormat::Gif;
    const WriteStatus back = writeImage(path, grey);
    EXPECT_EQ(back.status, kStatusCannotWriteFormat);
    EXPECT_NE(back.error.find(path), std::string::npos);
    EXPECT_EQ(fileBytes(path), before);
}

TEST(GifRasters, AWriteTheFormatCannotHoldFailsNamingTheFileAndLeavesItAsItWas) {
    ScratchDir dir;
    const std::string path = dir.path("wide.gif");
    writeBytes(path, smallGif());
    const auto before = fileBytes(path);
    ImageResult wide = makeImage(70000, 1, ColorMode::Palette8);
    ASSERT_TRUE(wide.ok) << wide.error;
    wide.image.format = FileFormat::Gif;
    const WriteStatus back = writeImage(path, wide.image);
    EXPECT_EQ(back.status, kStatusError);
    EXPECT_NE(back.error.find(path), std::string::npos) << back.error;
    EXPECT_NE(back.error.find("65535"), std::string::npos) << back.error;
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(subhost::safefile::countWorkingFiles(std::filesystem::path(path).parent_path().string()), 0);
}

}  // namespace
}  // namespace imagefile_test
