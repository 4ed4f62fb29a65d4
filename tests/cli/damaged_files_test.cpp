// pixelmend info and the batch commands on damaged and oversized raster files: info reports the
// damage and describes an oversized file without decoding it; a batch edit refuses both with the
// reason, and edits a damaged file only with --accept-damaged; PXMEND_MAX_PIXELS sets the limit.
#include <chrono>

#include "common/damaged_files.h"
#include "common/scoped_env.h"
#include "raster_files_fixture.h"

namespace {

namespace img = subhost::imagefile;

class DamagedFilesCli : public RasterFilesTest {
protected:
    void SetUp() override {
        RasterFilesTest::SetUp();
        ASSERT_TRUE(damaged_files::writeCutG4(path("scan.tif"), 200, 120, 0.4));
        ASSERT_TRUE(damaged_files::writeCutJpeg(path("photo.jpg"), 256, 256));
        damaged_files::writeBytes(path("huge.gif"), damaged_files::hugeGif());
        ASSERT_TRUE(damaged_files::writeHugeJpeg(path("huge.jpg")));
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }

    // Runs pixelmend and gives its run with how long it took.
    Run timed(const std::string& args, double& seconds) const {
        const auto start = std::chrono::steady_clock::now();
        Run r = pixelmend(args);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return r;
    }
};

TEST_F(DamagedFilesCli, InfoReportsDamageAndDescribesOversizedFilesWithoutDecodingThem) {
    const Run scan = pixelmend("info scan.tif");
    EXPECT_EQ(scan.code, 1) << scan.out;
    EXPECT_TRUE(scan.says("size: 200 x 120 pixels")) << scan.out;
    EXPECT_TRUE(scan.says("damaged: damaged CCITT data in row 48")) << scan.out;
    EXPECT_TRUE(scan.says("polarity: not counted (the pixel data is damaged)")) << scan.out;

    const Run photo = pixelmend("info photo.jpg");
    EXPECT_EQ(photo.code, 1) << photo.out;
    EXPECT_TRUE(photo.says("damaged: damaged JPEG data in row ")) << photo.out;

    for (const char* name : {"huge.gif", "huge.jpg"}) {
        double seconds = 0;
        const Run huge = timed(std::string("info ") + name, seconds);
        EXPECT_EQ(huge.code, 1) << huge.out;
        EXPECT_TRUE(huge.says("size: 65500 x 65500 pixels")) << huge.out;
        EXPECT_TRUE(
            huge.says("pixels: not decoded: the image is 65500 x 65500 pixels (4290250000 pixels), over the "
                      "limit of 2000000000 pixels"))
            << huge.out;
        EXPECT_LT(seconds, 5.0) << name;
    }

    // An intact file reads as before; PXMEND_MAX_PIXELS lowers the limit below it, and a value
    // that is no number of pixels is a usage error.
    greyFile("grey.tif", 60, 40);
    EXPECT_EQ(pixelmend("info grey.tif").code, 0);
    {
        ScopedEnv limit("PXMEND_MAX_PIXELS", "1000");
        const Run lowered = pixelmend("info grey.tif");
        EXPECT_EQ(lowered.code, 1);
        EXPECT_TRUE(lowered.says("60 x 40 pixels (2400 pixels), over the limit of 1000 pixels")) << lowered.out;
    }
    ScopedEnv bad("PXMEND_MAX_PIXELS", "lots");
    const Run usage = pixelmend("info grey.tif");
    EXPECT_EQ(usage.code, 2);
    EXPECT_TRUE(usage.says("PXMEND_MAX_PIXELS must be a positive whole number")) << usage.out;
}

TEST_F(DamagedFilesCli, BatchDeleteRefusesDamagedFilesUnlessAcceptedAndOversizedOnesAlways) {
    const std::string scan = bytes("scan.tif"), photo = bytes("photo.jpg");
    const Run refused = pixelmend("delete scan.tif photo.jpg --block 10,5,30,15 --yes");
    EXPECT_EQ(refused.code, 1) << refused.out;
    EXPECT_TRUE(refused.says("delete scan.tif: FAILED: ")) << refused.out;
    EXPECT_TRUE(refused.says("damaged CCITT data in row 48")) << refused.out;
    EXPECT_TRUE(refused.says("damaged JPEG data in row ")) << refused.out;
    EXPECT_TRUE(refused.says("--accept-damaged")) << refused.out;
    EXPECT_EQ(bytes("scan.tif"), scan);
    EXPECT_EQ(bytes("photo.jpg"), photo);

    const Run accepted = pixelmend("delete scan.tif --block 10,5,30,15 --yes --accept-damaged");
    EXPECT_EQ(accepted.code, 0) << accepted.out;
    EXPECT_TRUE(accepted.says("delete scan.tif: done (scan.tif changed, new scan-backup.tif; damaged data accepted"))
        << accepted.out;
    const img::Image edited = image("scan.tif");
    const std::size_t lastRow = std::size_t(edited.height - 1) * edited.stride;
    for (std::size_t i = lastRow; i < edited.pixels.size(); ++i) EXPECT_EQ(edited.pixels[i], 0) << i;

    for (const char* name : {"huge.gif", "huge.jpg"}) {
        const std::string before = bytes(name);
        double seconds = 0;
        const Run huge = timed(std::string("delete ") + name + " --block 0,0,10,10 --yes --accept-damaged", seconds);
        EXPECT_EQ(huge.code, 1) << huge.out;
        EXPECT_TRUE(huge.says("over the limit of 2000000000 pixels")) << huge.out;
        EXPECT_EQ(bytes(name), before);
        EXPECT_LT(seconds, 5.0) << name;
    }

    greyFile("grey.tif", 60, 40);
    ScopedEnv limit("PXMEND_MAX_PIXELS", "1000");
    const Run lowered = pixelmend("delete grey.tif --block 0,0,10,10 --yes");
    EXPECT_EQ(lowered.code, 1) << lowered.out;
    EXPECT_TRUE(lowered.says("60 x 40 pixels (2400 pixels), over the limit of 1000 pixels")) << lowered.out;
}

}  // namespace
