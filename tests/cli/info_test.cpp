// pixelmend info: the facts of raster files, the palette summary and a monochrome file's polarity.
#include "raster_files_fixture.h"

namespace {

namespace img = subhost::imagefile;

class InfoTest : public RasterFilesTest {
protected:
    // A 30 x 20 monochrome TIFF whose bits (padding too) are 1 where one(x, row) says, with the given meaning of a 1
    // bit.
    template <class One>
    std::string monoFile(const std::string& name, img::Photometric photometric, One one) {
        img::Image image = img::makeImage(30, 20, img::ColorMode::Mono).image;
        image.photometric = photometric;
        image.palette[0] = photometric == img::Photometric::MinIsWhite ? img::Rgb8{255, 255, 255} : img::Rgb8{0, 0, 0};
        image.palette[1] = photometric == img::Photometric::MinIsWhite ? img::Rgb8{0, 0, 0} : img::Rgb8{255, 255, 255};
        image.paletteCount = 2;
        for (int row = 0; row < 20; ++row)
            for (int x = 0; x < 32; ++x)  // also the 2 padding bits of each row
                if (one(x, row))
                    image.pixels[std::size_t(row) * image.stride + std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
        return write(name, image);
    }
};

}  // namespace

TEST_F(InfoTest, PolarityFollowsTheMajorityColourWhateverTheBitsMean) {
    // The background is what most pixels show, not what a 0 bit is.
    const auto sparse = [](int x, int row) { return x == 3 || row == 7; };
    const auto dense = [](int x, int row) { return !(x == 3 || row == 7); };
    monoFile("scan.tif", img::Photometric::MinIsWhite, sparse);
    monoFile("negative.tif", img::Photometric::MinIsWhite, dense);
    monoFile("whitebits.tif", img::Photometric::MinIsBlack, dense);
    // Half the pixels of each row are ink: a tie leaves the 0 bit's colour the background. The
    // 2 padding bits at the end of each 30-pixel row are set and must not tip it.
    monoFile("padded.tif", img::Photometric::MinIsWhite, [](int x, int) { return x >= 15; });

    const Run r = pixelmend("info scan.tif negative.tif whitebits.tif padded.tif");
    ASSERT_EQ(r.code, 0) << r.out;
    const auto section = [&](const std::string& name) {
        const auto start = r.out.find(name + "\n");
        const auto end = r.out.find(".tif\n", start + name.size());
        return r.out.substr(start, end == std::string::npos ? std::string::npos : end - start);
    };
    EXPECT_NE(section("scan.tif").find("polarity: black ink on white background\n"), std::string::npos) << r.out;
    EXPECT_NE(section("negative.tif").find("polarity: white ink on black background (negative)"), std::string::npos)
        << r.out;
    EXPECT_NE(section("whitebits.tif").find("polarity: black ink on white background\n"), std::string::npos) << r.out;
    EXPECT_NE(section("padded.tif").find("polarity: black ink on white background\n"), std::string::npos) << r.out;
    EXPECT_NE(section("scan.tif").find("palette: 2 entries: 0 white, 1 black"), std::string::npos) << r.out;
    EXPECT_NE(section("scan.tif").find("size: 30 x 20 pixels"), std::string::npos) << r.out;
    EXPECT_NE(section("scan.tif").find("colour mode: monochrome (5)"), std::string::npos) << r.out;
}

TEST_F(InfoTest, PalettesAreSummarisedAndGreyRampsNamed) {
    img::Image map = img::makeImage(8, 8, img::ColorMode::Palette8).image;
    map.palette[0] = {255, 0, 0};
    map.palette[1] = {0, 255, 0};
    map.palette[2] = {0, 0, 255};
    map.paletteCount = 3;
    write("map.tif", map);
    img::Image ramp = img::makeImage(8, 8, img::ColorMode::Palette8).image;
    for (int i = 0; i < 256; ++i) ramp.palette[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
    ramp.paletteCount = 256;
    write("ramp.tif", ramp);
    greyFile("photo.png", 12, 9, img::FileFormat::Png);

    const Run r = pixelmend("info map.tif ramp.tif photo.png");
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(r.says("colour mode: 256-colour palette (3)")) << r.out;
    EXPECT_TRUE(r.says("entries: 0 #ff0000, 1 #00ff00, 2 #0000ff")) << r.out;
    EXPECT_TRUE(r.says("palette: grey ramp (256 entries)")) << r.out;
    EXPECT_TRUE(r.says("format: PNG (28)")) << r.out;
    EXPECT_TRUE(r.says("size: 12 x 9 pixels")) << r.out;
    EXPECT_FALSE(r.says("polarity")) << "only monochrome files have one";
}

TEST_F(InfoTest, UnreadableFilesAreNamedAndTheOthersStillShown) {
    greyFile("good.tif", 5, 5);
    std::ofstream(dir / "text.tif") << "plain text";
    const Run r = pixelmend("info missing.tif text.tif good.tif");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.says("missing.tif")) << r.out;
    EXPECT_TRUE(r.says("text.tif")) << r.out;
    EXPECT_TRUE(r.says("good.tif\n  format: TIFF (3)")) << r.out;
    EXPECT_EQ(pixelmend("info").code, 2);
}
