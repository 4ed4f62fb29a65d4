// pixelmend resize: four amounts, negative ones trimming, read from "--add V" and "--add=V", the
// new file read back, and the refusals.
#include "raster_files_fixture.h"

namespace {

class ResizeBatchTest : public RasterFilesTest {
protected:
    static int at(const subhost::imagefile::Image& image, int x, int row) {
        return image.pixels[std::size_t(row) * image.stride + std::size_t(x)];
    }
};

TEST_F(ResizeBatchTest, AmountsAddAndTrimInBothSpellings) {
    greyFile("a.tif", 40, 30);
    greyFile("b.tif", 40, 30);
    const Run run =
        pixelmend("resize a.tif --add -5,2,0,-7 --set Backup=0 --set CanvasAuto=0 --set CanvasColorIndex=255");
    ASSERT_EQ(run.code, 0) << run.out;
    const auto a = image("a.tif");
    ASSERT_EQ(a.width, 33);
    ASSERT_EQ(a.height, 27);
    EXPECT_EQ(at(a, 0, 0), patternAt(0, 5));      // five rows cut off the top
    EXPECT_EQ(at(a, 32, 24), patternAt(32, 29));  // seven columns cut off the right
    EXPECT_EQ(at(a, 3, 26), 255);                 // two rows added at the bottom

    const Run equals = pixelmend("resize b.tif --add=0,0,3,0 --set Backup=0 --set ResizeCopy=1");
    ASSERT_EQ(equals.code, 0) << equals.out;
    EXPECT_EQ(image("b.tif").width, 40);
    EXPECT_EQ(image("b-resized.tif").width, 43);
    EXPECT_TRUE(equals.says("new b-resized.tif")) << equals.out;
}

TEST_F(ResizeBatchTest, BadAmountsAndEmptyCanvasesAreRefused) {
    greyFile("a.tif", 40, 30);
    const std::string original = bytes("a.tif");
    EXPECT_EQ(pixelmend("resize a.tif --add 1,2,3").code, 2);
    EXPECT_EQ(pixelmend("resize a.tif").code, 2);
    EXPECT_EQ(pixelmend("crop a.tif --block 0,0,5,5 --add 1,1,1,1").code, 2);
    const Run empty = pixelmend("resize a.tif --add 0,-30,0,0 --set Backup=0");
    EXPECT_EQ(empty.code, 1);
    EXPECT_TRUE(empty.says("would be 40 x 0 pixels")) << empty.out;
    EXPECT_EQ(bytes("a.tif"), original);
}

}  // namespace
