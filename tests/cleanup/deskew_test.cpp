// Deskew: the three ways to the angle with their messages and limits, the corner mirroring and the
// angle's sign, the corners the turn uncovers, and the library slot it shares with despeckle.
#include "cleanup_fixture.h"

#include <cstdlib>

#include "cleanup/deskew.h"
#include "cleanup/despeckle.h"

namespace {

const char* const kNoSkew =
    "PixelMend has scanned this entire raster file and it appears that it does not need to be deskewed. If you "
    "wish to deskew it anyway, please choose \"Define by 2 points\" or \"Enter manually\".";

class DeskewTest : public CleanupTest {
protected:
    // Prompts shown (message ids of the prompt list), in order.
    static std::vector<int> prompts() {
        std::vector<int> out;
        for (const auto& e : events("prompt")) out.push_back(e.value("id", -1));
        return out;
    }
    static nlohmann::json lastMessageBox() {
        const auto boxes = events("messageBox");
        return boxes.empty() ? nlohmann::json() : boxes.back();
    }
};

TEST_F(DeskewTest, AnUnturnedPageNeedsNoCorrectionAndItsFileStays) {
    const std::string path = linesFile("page.tif", 800, 600, 0.0);
    const std::string before = bytesOf(path);
    startDeskew("page.tif", 0);
    EXPECT_EQ(s__globals.DeskewAngle, 0.0);
    ASSERT_EQ(messages(), std::vector<std::string>{kNoSkew});
    EXPECT_EQ(lastMessageBox().value("icon", 0), ICON_INFO);
    point(100, 100);
    ASSERT_EQ(messages().size(), 2u);
    EXPECT_EQ(messages()[1],
              "Cannot deskew raster file based on a calculated skew angle of zero degrees. Please use \"Define by 2 "
              "points\" or \"Enter manually\" to deskew this file anyway.");
    subhost::closeDesign();
    EXPECT_EQ(bytesOf(path), before);
}

TEST_F(DeskewTest, DetectedAngleIsPositiveForLinesRisingRightAndTheCorrectionStraightensThem) {
    const std::string path = linesFile("page.tif", 360, 300, 3.0);
    startDeskew("page.tif", 0);
    EXPECT_TRUE(messages().empty());
    EXPECT_NEAR(s__globals.DeskewAngle, 3.0, 0.15);
    EXPECT_EQ(s__globals.DeskewAngleDetected, s__globals.DeskewAngle);
    // A reset keeps the detected angle without a second detection.
    s__globals.DeskewAngle = 7.0;
    subhost::resetButton();
    EXPECT_EQ(s__globals.DeskewAngle, s__globals.DeskewAngleDetected);
    point(100, 100);
    subhost::closeDesign();
    const img::Image out = readBack(path);
    EXPECT_NEAR(middleLineTilt(out), 0.0, 0.3);
    for (const auto& [x, row] : {std::pair{0, 0}, {359, 0}, {0, 299}, {359, 299}})
        EXPECT_FALSE(inkAt(out, x, row)) << x << "," << row;  // uncovered corners: paper
}

TEST_F(DeskewTest, EnterManuallyWithZeroAsksForAnAngleAndTheToolStays) {
    linesFile("page.tif", 200, 200, 2.0);
    startDeskew("page.tif", 2);
    s__globals.DeskewAngle = 0.0;
    point(50, 50);
    EXPECT_EQ(messages(), std::vector<std::string>{"You have entered a zero-degree skew angle. Please enter a skew "
                                                   "angle between -10 and 10 degrees."});
    EXPECT_EQ(lastMessageBox().value("icon", 0), ICON_INFO);
    s__globals.DeskewAngle = 10.5;  // beyond the limit: nothing happens
    point(50, 50);
    EXPECT_EQ(messages().size(), 1u);
    EXPECT_TRUE(events("fileWritten").empty());
}

TEST_F(DeskewTest, TwoPointsGiveTheLinesAngleAndRefuseSteepOrAxisLines) {
    linesFile("page.tif", 200, 200, 2.0);
    startDeskew("page.tif", 1);
    EXPECT_EQ(prompts().back(), rid::PROMPT_SKEW_FIRST);
    point(10, 10);
    EXPECT_EQ(prompts().back(), rid::PROMPT_SKEW_SECOND);
    point(10, 50);  // same x: ignored, still waiting for the second point
    point(60, 10);  // same y: ignored too
    EXPECT_TRUE(messages().empty());
    point(110, 15);
    EXPECT_NEAR(s__globals.DeskewAngle, std::atan(0.05) * 180.0 / 3.14159265358979323846, 1e-9);
    EXPECT_EQ(prompts().back(), rid::PROMPT_DESKEW_ACCEPT);

    // A mostly vertical line: its angle from the vertical, the other way round.
    subhost::resetButton();
    point(10, 10);
    point(15, 110);
    EXPECT_NEAR(s__globals.DeskewAngle, -std::atan(0.05) * 180.0 / 3.14159265358979323846, 1e-9);

    subhost::resetButton();
    point(10, 10);
    point(10 + 100 * std::cos(15 * 3.14159265358979323846 / 180),
          10 + 100 * std::sin(15 * 3.14159265358979323846 / 180));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0],
              "Angle 15.000000 is too big to be deskewed. Please define a skew angle between -10 and 10 "
              "degrees.");
    EXPECT_EQ(lastMessageBox().value("icon", 0), ICON_ERROR);
    EXPECT_EQ(prompts().back(), rid::PROMPT_SKEW_FIRST);  // starts over at the first point
    EXPECT_TRUE(events("fileWritten").empty());
}

// Each corner mirrors the page around the turn and turns the angle's sign with it (or neither), so that
// a page whose lines rise to the right by 3 degrees comes out straight from every corner.
TEST_F(DeskewTest, EveryCornerStraightensThePageItsAngleWasMeasuredFor) {
    for (int corner = 0; corner <= 4; ++corner) {
        SCOPED_TRACE(corner);
        const std::string name = "page" + std::to_string(corner) + ".tif";
        const std::string path = linesFile(name, 360, 300, 3.0);
        start({{{"file", name}}});
        s__globals.DeskewMode = 2;
        s__globals.DeskewCorner = corner;
        s__globals.DeskewAngle = 3.0;
        command(rid::CMD_DESKEW);
        point(100, 100);
        subhost::closeDesign();
        subhost::setDefaultAnswer(ACTIONBUTTON_NO);
        subhost::unloadApplication(0);
        EXPECT_NEAR(middleLineTilt(readBack(path)), 0.0, 0.3);
    }
}

TEST_F(DeskewTest, UncoveredCornersOfAColourRasterTakeTheCanvasColourOrItsBackground) {
    for (int canvasAuto : {0, 1}) {
        SCOPED_TRACE(canvasAuto);
        img::Image image = img::makeImage(240, 180, img::ColorMode::Rgb).image;
        for (std::size_t i = 0; i < image.pixels.size(); i += 3) {
            image.pixels[i] = 250, image.pixels[i + 1] = 240, image.pixels[i + 2] = 230;
        }
        const std::string name = "colour" + std::to_string(canvasAuto) + ".tif";
        const std::string path = write(name, image);
        start({{{"file", name}}});
        s__globals.DeskewMode = 2;
        s__globals.DeskewAngle = 4.0;
        s__globals.CanvasAuto = canvasAuto;
        s__globals.CanvasColor = {10, 200, 30};
        command(rid::CMD_DESKEW);
        point(50, 50);
        subhost::closeDesign();
        subhost::setDefaultAnswer(ACTIONBUTTON_NO);
        subhost::unloadApplication(0);
        const img::Image out = readBack(path);
        const std::array<int, 3> expected = canvasAuto ? std::array{250, 240, 230} : std::array{10, 200, 30};
        for (const auto& [x, row] : {std::pair{0, 0}, {239, 0}, {0, 179}, {239, 179}})
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(out.pixels[std::size_t(row) * out.stride + std::size_t(3 * x + c)], expected[std::size_t(c)])
                    << x << "," << row;
        EXPECT_EQ(out.pixels[std::size_t(90) * out.stride + 3 * 120 + 1], 240);  // the middle keeps its colour
    }
}

TEST_F(DeskewTest, UncoveredCornersOfAPaletteRasterTakeTheCanvasIndex) {
    img::Image image = img::makeImage(240, 180, img::ColorMode::Palette8).image;
    for (int i = 0; i < 256; ++i)
        image.palette[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(255 - i)};
    image.paletteCount = 256;
    std::fill(image.pixels.begin(), image.pixels.end(), std::uint8_t(3));
    const std::string path = write("palette.tif", image);
    start({{{"file", "palette.tif"}}});
    s__globals.DeskewMode = 2;
    s__globals.DeskewAngle = -4.0;
    s__globals.CanvasColorIndex = 7;
    command(rid::CMD_DESKEW);
    point(50, 50);
    subhost::closeDesign();
    const img::Image out = readBack(path);
    EXPECT_EQ(out.pixels[0], 7);
    EXPECT_EQ(out.pixels[std::size_t(179) * out.stride + 239], 7);
    EXPECT_EQ(out.pixels[std::size_t(90) * out.stride + 120], 3);
}

TEST_F(DeskewTest, ANegativeScanGetsBlackPaperInItsUncoveredCorners) {
    const std::string path = linesFile("negative.tif", 360, 300, 3.0, true);
    startDeskew("negative.tif", 0);
    EXPECT_NEAR(s__globals.DeskewAngle, 3.0, 0.15);
    point(100, 100);
    subhost::closeDesign();
    const img::Image out = readBack(path);
    for (const auto& [x, row] : {std::pair{0, 0}, {359, 0}, {0, 299}, {359, 299}})
        EXPECT_TRUE(inkAt(out, x, row)) << x << "," << row;  // set bits: black in this file
    EXPECT_NEAR(middleLineTilt(out, false), 0.0, 0.3);
}

TEST_F(DeskewTest, ACorrectionWithoutDetectionLoadsTheLibraryAndReleasesIt) {
    const std::string path = linesFile("page.tif", 360, 300, 2.0);
    startDeskew("page.tif", 2);
    EXPECT_EQ(cleanupLibraryLoaded(), CleanupLibrary::None);
    s__globals.DeskewAngle = 2.0;
    point(50, 50);
    EXPECT_EQ(cleanupLibraryLoaded(), CleanupLibrary::None);
    subhost::closeDesign();
    EXPECT_NEAR(middleLineTilt(readBack(path)), 0.0, 0.3);
}

TEST_F(DeskewTest, AMissingLibraryStopsSilentlyWithTheRasterUntouched) {
    const ScopedEnv nowhere("PIXELMEND_LIBRARY_PATH", dir.string());
    const std::string path = linesFile("page.tif", 200, 200, 2.0);
    const std::string before = bytesOf(path);
    for (int mode : {0, 2}) {
        startDeskew("page.tif", mode);
        s__globals.DeskewAngle = 2.0;
        point(50, 50);
        EXPECT_TRUE(messages().empty()) << mode;
        subhost::closeDesign();
        subhost::setDefaultAnswer(ACTIONBUTTON_NO);
        subhost::unloadApplication(0);
        EXPECT_EQ(bytesOf(path), before) << mode;
    }
}

// A library of that name without the deskew entries is never called into.
TEST_F(DeskewTest, ALibraryWithoutTheDeskewEntriesIsNotUsed) {
    const std::filesystem::path impostor = dir / "libs";
    std::filesystem::create_directories(impostor);
    std::filesystem::copy_file(std::filesystem::path(PXMEND_BIN_DIR) / "recodespeckle.so", impostor / "recodeskew.so");
    const ScopedEnv only("PIXELMEND_LIBRARY_PATH", impostor.string());
    const std::string path = linesFile("page.tif", 200, 200, 2.0);
    const std::string before = bytesOf(path);
    startDeskew("page.tif", 2);
    s__globals.DeskewAngle = 2.0;
    point(50, 50);
    EXPECT_EQ(cleanupLibraryLoaded(), CleanupLibrary::None);
    subhost::closeDesign();
    EXPECT_EQ(bytesOf(path), before);
}

// A detection left without a correction keeps the deskew library; despeckle must load its own.
TEST_F(DeskewTest, ADeskewLibraryLeftLoadedIsNotTakenForTheDespeckleLibrary) {
    linesFile("page.tif", 360, 300, 3.0);
    startDeskew("page.tif", 0);
    ASSERT_EQ(cleanupLibraryLoaded(), CleanupLibrary::Deskew);
    mdlState_startDefaultCommand();
    s__globals.DespeckleMode = 5;
    subhost::queueAnswer(ACTIONBUTTON_NO);
    command(rid::CMD_DESPECKLE);
    point(100, 100);
    EXPECT_EQ(messages(), std::vector<std::string>{"PixelMend found no pixels to despeckle. Try Despeckle again\nwith "
                                                   "a larger number of contiguous pixels defined."});
    EXPECT_EQ(cleanupLibraryLoaded(), CleanupLibrary::None);
}

TEST(DeskewFill, OnlyPixelsWhoseMaskIsZeroInEveryColourTakeTheColour) {
    std::uint8_t buffer[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::uint8_t mask24[12] = {0, 0, 0, 0, 255, 0, 255, 255, 255, 0, 0, 0};
    const std::uint8_t colour[3] = {100, 110, 120};
    v_deskewFillCanvas(buffer, mask24, 12, colour, 24);
    EXPECT_EQ(std::vector<int>(buffer, buffer + 12),
              (std::vector<int>{100, 110, 120, 4, 5, 6, 7, 8, 9, 100, 110, 120}));
    std::uint8_t rgba[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::uint8_t mask32[8] = {0, 0, 0, 255, 0, 0, 1, 0};
    v_deskewFillCanvas(rgba, mask32, 8, colour, 32);
    EXPECT_EQ(std::vector<int>(rgba, rgba + 8), (std::vector<int>{100, 110, 120, 4, 5, 6, 7, 8}));
    std::uint8_t bytes[4] = {1, 2, 3, 4};
    const std::uint8_t mask8[4] = {0, 255, 0, 9};
    v_deskewFillCanvas(bytes, mask8, 4, colour, 8);
    EXPECT_EQ(std::vector<int>(bytes, bytes + 4), (std::vector<int>{100, 2, 100, 4}));
    v_deskewFillCanvas(bytes, mask8, 4, colour, 1);  // other depths: nothing
    EXPECT_EQ(std::vector<int>(bytes, bytes + 4), (std::vector<int>{100, 2, 100, 4}));
}

}  // namespace
