// The deskew and despeckle batch commands of the pixelmend program on scans in a folder.
#include "cleanup_fixture.h"

#include "cli/command_runner.h"

namespace {

class CleanupBatchTest : public CleanupTest {
protected:
    // pixelmend with args in the test folder, with the settings file of the test folder; output and code.
    CommandOutput pixelmend(const std::string& args) {
        return runCommandLine("cd '" + dir.string() + "' && PXMEND_SETTINGS='" + (dir / "none.ini").string() + "' '" +
                              PXMEND_BIN_DIR + "/pixelmend' " + args + " --set Backup=0 2>&1");
    }
};

TEST_F(CleanupBatchTest, DeskewPrintsTheAngleStraightensTheFileAndLeavesAStraightOneUnchanged) {
    const std::string turned = linesFile("turned.tif", 800, 600, 2.5);
    const std::string straight = linesFile("straight.tif", 800, 600, 0.0);
    const std::string before = bytesOf(straight);
    const CommandOutput run = pixelmend("deskew turned.tif straight.tif");
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_NE(run.out.find("deskew turned.tif: angle 2.50 degrees, done"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("deskew straight.tif: needs no correction, unchanged"), std::string::npos) << run.out;
    EXPECT_NEAR(middleLineTilt(readBack(turned)), 0.0, 0.3);
    EXPECT_EQ(bytesOf(straight), before);
}

TEST_F(CleanupBatchTest, DeskewTakesAGivenAngleAndCornerAndRefusesOnesBeyondTheLimit) {
    const std::string turned = linesFile("turned.tif", 800, 600, -4.0);
    const CommandOutput run = pixelmend("deskew turned.tif --angle -4 --corner 1");
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_NE(run.out.find("angle -4.00 degrees, done"), std::string::npos) << run.out;
    EXPECT_NEAR(middleLineTilt(readBack(turned)), 0.0, 0.3);
    EXPECT_EQ(pixelmend("deskew turned.tif --angle 10.5").code, 2);
    EXPECT_EQ(pixelmend("deskew turned.tif --corner 4").code, 2);
}

TEST_F(CleanupBatchTest, DespecklePrintsTheCountAndRemovesThemOnYesOnly) {
    const auto speckle = [](int x, int row) { return row == 300 || (x % 50 == 10 && row % 50 == 10 && row < 290); };
    const std::string path = monoFile("scan.tif", 400, 400, speckle);
    const std::string before = bytesOf(path);
    CommandOutput run = pixelmend("despeckle scan.tif --no");
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_NE(run.out.find("despeckle scan.tif: 48 speckles found, unchanged"), std::string::npos) << run.out;
    EXPECT_EQ(bytesOf(path), before);
    run = pixelmend("despeckle scan.tif --yes --size 2x2 --block 0,0,200,400");
    EXPECT_NE(run.out.find("despeckle scan.tif: 24 speckles found, done"), std::string::npos) << run.out;
    const img::Image out = readBack(path);
    EXPECT_FALSE(inkAt(out, 160, 260));
    EXPECT_TRUE(inkAt(out, 210, 260));  // outside the block
    EXPECT_TRUE(inkAt(out, 399, 300));  // the line
    EXPECT_EQ(pixelmend("despeckle scan.tif --size 0x2").code, 2);
}

}  // namespace
