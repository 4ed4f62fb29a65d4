// pixelmend delete|crop|copy|move on raster files: the block lands where the pixel coordinates
// say, refused and stopped files stay as they were, and the exit code tells.
#include <sys/stat.h>

#include "raster_files_fixture.h"

namespace {

const std::string kCanvasZero = " --set CanvasAuto=0 --set CanvasColorIndex=0";

class BatchTest : public RasterFilesTest {
protected:
    static int at(const subhost::imagefile::Image& image, int x, int row) {
        return image.pixels[std::size_t(row) * image.stride + std::size_t(x)];
    }
    // Whether every pixel of the image inside [x0, x0 + w) x [y0, y0 + h) is value, and every
    // other pixel keeps the pattern.
    static ::testing::AssertionResult onlyBlockIs(const subhost::imagefile::Image& image, int x0, int y0, int w, int h,
                                                  int value) {
        for (int row = 0; row < image.height; ++row)
            for (int x = 0; x < image.width; ++x) {
                const bool inside = x >= x0 && x < x0 + w && row >= y0 && row < y0 + h;
                const int want = inside ? value : patternAt(x, row);
                if (at(image, x, row) != want)
                    return ::testing::AssertionFailure()
                           << "pixel (" << x << ", " << row << ") is " << at(image, x, row) << ", not " << want;
            }
        return ::testing::AssertionSuccess();
    }
};

}  // namespace

TEST_F(BatchTest, DeleteOnThreeFilesLeavesTheReadOnlyOneUntouched) {
    greyFile("a.tif", 64, 48);
    greyFile("b.tif", 64, 48);
    const std::string locked = greyFile("c.tif", 64, 48);
    ::chmod(locked.c_str(), 0444);
    const std::string lockedBefore = bytes("c.tif");

    const Run r = pixelmend("delete a.tif c.tif b.tif --block 8,4,10,6" + kCanvasZero);
    EXPECT_EQ(r.code, 1) << r.out;
    // x and y count from the image's top-left corner: exactly columns 8-17 of rows 4-9 are cleared.
    EXPECT_TRUE(onlyBlockIs(image("a.tif"), 8, 4, 10, 6, 0));
    EXPECT_TRUE(onlyBlockIs(image("b.tif"), 8, 4, 10, 6, 0));
    EXPECT_EQ(bytes("c.tif"), lockedBefore);
    EXPECT_TRUE(r.says("delete c.tif: FAILED: Raster attachment is read-only.")) << r.out;
    EXPECT_TRUE(r.says("2 of 3 file(s) changed; failed: c.tif")) << r.out;
    // The add-on's backup setting (on by default) keeps the originals beside the changed files.
    EXPECT_TRUE(onlyBlockIs(image("a-backup.tif"), 0, 0, 0, 0, 0));
    EXPECT_FALSE(exists("c-backup.tif"));
}

TEST_F(BatchTest, CopyAndMovePutTheBlocksTopLeftCornerAtTheDestination) {
    greyFile("copy.tif", 80, 60);
    greyFile("move.tif", 80, 60);
    const Run copy = pixelmend("copy copy.tif --block 5,10,12,8 --to 50,40 --set Backup=0");
    ASSERT_EQ(copy.code, 0) << copy.out;
    const Run move = pixelmend("move move.tif --block 5,10,12,8 --to 50,40 --set Backup=0" + kCanvasZero);
    ASSERT_EQ(move.code, 0) << move.out;

    const auto copied = image("copy.tif");
    const auto moved = image("move.tif");
    for (int row = 0; row < 8; ++row)
        for (int x = 0; x < 12; ++x) {
            EXPECT_EQ(at(copied, 50 + x, 40 + row), patternAt(5 + x, 10 + row)) << x << ", " << row;
            EXPECT_EQ(at(moved, 50 + x, 40 + row), patternAt(5 + x, 10 + row)) << x << ", " << row;
            EXPECT_EQ(at(copied, 5 + x, 10 + row), patternAt(5 + x, 10 + row)) << "copy keeps its source";
            EXPECT_EQ(at(moved, 5 + x, 10 + row), 0) << "move leaves canvas behind";
        }
    EXPECT_EQ(at(copied, 49, 40), patternAt(49, 40));
    EXPECT_EQ(at(copied, 50, 39), patternAt(50, 39));
    EXPECT_EQ(at(copied, 62, 48), patternAt(62, 48));
    EXPECT_FALSE(exists("copy-backup.tif"));
}

TEST_F(BatchTest, CropWritesBesideOrInPlaceAsTheSettingsSay) {
    greyFile("beside.png", 40, 30, subhost::imagefile::FileFormat::Png);
    greyFile("inplace.png", 40, 30, subhost::imagefile::FileFormat::Png);
    const std::string original = bytes("beside.png");

    const Run beside = pixelmend("crop beside.png --block 6,3,20,10 --set CropCopy=1");
    ASSERT_EQ(beside.code, 0) << beside.out;
    EXPECT_EQ(bytes("beside.png"), original);
    const auto cropped = image("beside-cropped.png");
    ASSERT_EQ(cropped.width, 20);
    ASSERT_EQ(cropped.height, 10);
    EXPECT_EQ(at(cropped, 0, 0), patternAt(6, 3));
    EXPECT_EQ(at(cropped, 19, 9), patternAt(25, 12));
    EXPECT_TRUE(beside.says("new beside-cropped.png")) << beside.out;

    const Run inplace = pixelmend("crop inplace.png --block 6,3,20,10 --set CropCopy=0");
    ASSERT_EQ(inplace.code, 0) << inplace.out;
    const auto replaced = image("inplace.png");
    EXPECT_EQ(replaced.width, 20);
    EXPECT_EQ(replaced.height, 10);
    EXPECT_EQ(at(replaced, 0, 0), patternAt(6, 3));
    EXPECT_EQ(bytes("inplace-backup.png"), original);
}

TEST_F(BatchTest, QuestionsStopTheFileUnlessAnswered) {
    // A copy reaching past the right edge asks whether to grow the canvas when ResizeDestination is off.
    greyFile("scan.tif", 40, 30);
    const std::string before = bytes("scan.tif");
    const std::string args = "copy scan.tif --block 0,0,10,10 --to 35,5 --set ResizeDestination=0 --set Backup=0";

    const Run unanswered = pixelmend(args);
    EXPECT_EQ(unanswered.code, 1);
    EXPECT_TRUE(unanswered.says("Would you like to resize the destination raster file's canvas")) << unanswered.out;
    EXPECT_TRUE(unanswered.says("answer with --yes or --no")) << unanswered.out;
    EXPECT_EQ(bytes("scan.tif"), before);

    const Run no = pixelmend(args + " --no");
    EXPECT_EQ(no.code, 0) << no.out;
    auto cut = image("scan.tif");
    EXPECT_EQ(cut.width, 40);
    EXPECT_EQ(at(cut, 39, 5), patternAt(4, 0));

    // Declining the new file for a block placed off the image leaves the file as it was, without failing.
    const std::string afterNo = bytes("scan.tif");
    const Run declined = pixelmend("copy scan.tif --block 0,0,10,10 --to 300,300 --no --set Backup=0");
    EXPECT_EQ(declined.code, 0) << declined.out;
    EXPECT_TRUE(declined.says("unchanged (answered no to \"Block is outside raster boundary.")) << declined.out;
    EXPECT_EQ(bytes("scan.tif"), afterNo);

    const Run yes = pixelmend(args + " --yes");
    EXPECT_EQ(yes.code, 0) << yes.out;
    auto grown = image("scan.tif");
    EXPECT_EQ(grown.width, 45);
    EXPECT_EQ(at(grown, 44, 5), patternAt(9, 0));
}

TEST_F(BatchTest, UnusableFilesAreReportedAndTheOthersStillRun) {
    greyFile("good.tif", 20, 20);
    std::ofstream(dir / "notes.tif") << "not a picture";
    const Run r = pixelmend("delete missing.tif notes.tif good.tif --block 0,0,5,5 --set Backup=0");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.says("delete missing.tif: FAILED: file not found")) << r.out;
    EXPECT_TRUE(r.says("delete notes.tif: FAILED:")) << r.out;
    EXPECT_TRUE(r.says("delete good.tif: done")) << r.out;
    EXPECT_TRUE(r.says("1 of 3 file(s) changed; failed: missing.tif notes.tif")) << r.out;
    // A block wholly off the image is the add-on's refusal.
    const Run off = pixelmend("delete good.tif --block 100,100,5,5");
    EXPECT_EQ(off.code, 1);
    EXPECT_TRUE(off.says("Block is outside raster boundary.")) << off.out;
}

TEST_F(BatchTest, UsageErrorsTouchNoFile) {
    greyFile("scan.tif", 20, 20);
    const std::string before = bytes("scan.tif");
    for (const std::string args :
         {"delete scan.tif", "delete scan.tif --block 1,2,3", "delete scan.tif --block 1,2,0,4",
          "delete scan.tif --block 1,2,a,4", "delete scan.tif --block 0,0,5,5 --to 1,1",
          "copy scan.tif --block 0,0,5,5", "delete --block 0,0,5,5", "delete scan.tif --block 0,0,5,5 --yes --no",
          "delete scan.tif --block 0,0,5,5 --set ModifyMode=0", "delete scan.tif --block 0,0,5,5 --set NoSuchField=1",
          "delete scan.tif --block 0,0,5,5 --settings nowhere.ini", "delete scan.tif --block 0,0,5,5 --frobnicate"}) {
        const Run r = pixelmend(args);
        EXPECT_EQ(r.code, 2) << args << "\n" << r.out;
        EXPECT_TRUE(r.says("pixelmend:")) << args;
    }
    EXPECT_EQ(bytes("scan.tif"), before);
    EXPECT_FALSE(exists("scan-backup.tif"));
}

TEST_F(BatchTest, SettingsFileIsReadAndRunOverridesAreNotSaved) {
    greyFile("scan.tif", 20, 20);
    std::ofstream(dir / "site.ini") << "Backup=0\nCanvasAuto=0\nCanvasColorIndex=7\n";
    const std::string settingsBefore = bytes("site.ini");
    const Run r = pixelmend("delete scan.tif --block 0,0,4,4 --settings site.ini --set CanvasColorIndex=9");
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_FALSE(exists("scan-backup.tif"));
    EXPECT_EQ(at(image("scan.tif"), 0, 0), 9);
    EXPECT_EQ(bytes("site.ini"), settingsBefore);
}

// A negative scan (black sheet, white drawing; min-is-white bits set for black) gets black paper
// in the deleted block, and nothing else changes.
TEST_F(BatchTest, DeleteOnANegativeScanFillsWithItsBlackPaper) {
    namespace img = subhost::imagefile;
    img::Image negative = img::makeImage(64, 48, img::ColorMode::Mono).image;
    negative.photometric = img::Photometric::MinIsWhite;
    negative.palette[0] = {255, 255, 255};
    negative.palette[1] = {0, 0, 0};
    negative.paletteCount = 2;
    std::fill(negative.pixels.begin(), negative.pixels.end(), std::uint8_t(0xFF));
    for (int row = 0; row < 48; ++row)  // white lines every fourth column
        for (int x = 2; x < 64; x += 4)
            negative.pixels[std::size_t(row) * negative.stride + std::size_t(x / 8)] &=
                std::uint8_t(~(0x80 >> (x % 8)));
    write("neg.tif", negative);
    const Run r = pixelmend("delete neg.tif --block 8,4,10,6 --set Backup=0");
    ASSERT_EQ(r.code, 0) << r.out;
    const img::Image after = image("neg.tif");
    for (int row = 0; row < 48; ++row)
        for (int x = 0; x < 64; ++x) {
            const bool inside = x >= 8 && x < 18 && row >= 4 && row < 10;
            const int bit = (after.pixels[std::size_t(row) * after.stride + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
            ASSERT_EQ(bit, inside || x % 4 != 2 ? 1 : 0) << "pixel (" << x << ", " << row << ")";
        }
}

namespace {

namespace img = subhost::imagefile;

// A 32-bit LZW TIFF of the grey pattern whose alpha runs from transparent to opaque along each row.
img::Image patternWithAlpha(int width, int height) {
    img::Image image = img::makeImage(width, height, img::ColorMode::Rgba).image;
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &image.pixels[std::size_t(row) * image.stride + std::size_t(x) * 4];
            p[0] = p[1] = p[2] = std::uint8_t(20 + (x + 3 * row) % 200);
            p[3] = std::uint8_t(x * 255 / (width - 1));
        }
    image.compression = img::Compression::Lzw;
    return image;
}

}  // namespace

// The 32-bit LZW question: no leaves the file as it was and fails it; yes converts it (the 32-bit
// original kept first) and then runs the command on the converted file; a run that fails after the
// conversion puts the original back.
TEST_F(BatchTest, ThirtyTwoBitLzwFileIsConvertedWithItsOriginalKeptOrLeftAsItWas) {
    write("no.tif", patternWithAlpha(40, 30));
    write("yes.tif", patternWithAlpha(40, 30));
    write("off.tif", patternWithAlpha(40, 30));
    const std::string original = bytes("yes.tif");

    const Run no = pixelmend("delete no.tif --block 2,2,5,5 --no");
    EXPECT_EQ(no.code, 1) << no.out;
    EXPECT_TRUE(no.says("delete no.tif: FAILED: PixelMend doesn't support 32-bit-per-pixel")) << no.out;
    EXPECT_EQ(bytes("no.tif"), original);

    const Run yes = pixelmend("delete yes.tif --block 2,2,5,5 --yes" + kCanvasZero);
    EXPECT_EQ(yes.code, 0) << yes.out;
    EXPECT_TRUE(yes.says("delete yes.tif: done (")) << yes.out;
    EXPECT_TRUE(yes.says("converted to 24-bit colour")) << yes.out;
    EXPECT_EQ(bytes("yes-backup.tif"), original);
    const img::Image converted = image("yes.tif");
    EXPECT_EQ(converted.mode, img::ColorMode::Rgb);
    EXPECT_EQ(converted.pixels[(3 * 40 + 3) * 3], 0);  // inside the block
    EXPECT_EQ(converted.pixels[(20 * 40 + 20) * 3], patternAt(20, 20));

    // The copy runs again on the converted file and then needs a new file, which a batch cannot choose.
    const Run off = pixelmend("copy off.tif --block 0,0,10,10 --to 300,300 --yes");
    EXPECT_EQ(off.code, 1) << off.out;
    EXPECT_TRUE(off.says("copy off.tif: FAILED: ")) << off.out;
    EXPECT_EQ(bytes("off.tif"), original);
}

// A backup that cannot be made (a folder holds its name) fails the file, which stays as it was.
TEST_F(BatchTest, AFailedBackupIsSaidOnTheFilesLineAndTheFileIsLeftAsItWas) {
    greyFile("scan.tif", 40, 30);
    std::filesystem::create_directory(dir / "scan-backup.tif");
    const std::string before = bytes("scan.tif");
    const Run r = pixelmend("delete scan.tif --block 2,2,5,5");
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(r.says("delete scan.tif: FAILED: Unable to make a backup of <")) << r.out;
    EXPECT_EQ(bytes("scan.tif"), before);
}

// Another program saves the file while the run holds it: the run does not overwrite that version; the
// edit goes into a new file beside it, named on the file's line.
TEST_F(BatchTest, AFileChangedByAnotherProgramDuringTheRunIsNotOverwritten) {
    greyFile("scan.tif", 40, 30);
    greyFile("theirs.tif", 40, 30, img::FileFormat::Png);
    const std::string line = "cd '" + dir.string() + "' && XDG_CONFIG_HOME='" + (dir / "config").string() +
                             "' PXMEND_TEST_CHANGE_BEFORE_WRITEBACK='" + (dir / "theirs.tif").string() +
                             "' " PXMEND_BIN_DIR "/pixelmend delete scan.tif --block 2,2,5,5 --set Backup=0" +
                             kCanvasZero + " 2>&1";
    const CommandOutput r = runCommandLine(line);
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_NE(r.out.find("delete scan.tif: FAILED: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("by another program"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("scan-conflict.tif"), std::string::npos) << r.out;
    EXPECT_EQ(bytes("scan.tif"), bytes("theirs.tif"));
    EXPECT_TRUE(onlyBlockIs(image("scan-conflict.tif"), 2, 2, 5, 5, 0));
}
