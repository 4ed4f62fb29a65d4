// Block commands driven through the host: area choice, delete, crop, refusals.
#include "edit_fixture.h"
#include "subhost/elements.h"

#include <cmath>

namespace {

// A 100 x 100 grey raster at the design origin, one design unit per pixel.
class DeleteTest : public EditTest {
protected:
    DgnRasterP raster = nullptr;
    void SetUp() override {
        EditTest::SetUp();
        greyFile("scan.tif", 100, 100);
        start({{{"file", "scan.tif"}}});
        raster = rasters().at(0);
    }
    // Design point (x, y) lies in column x, row 99 - y.
    int at(double x, double y) { return pixel(raster, int(x), 99 - int(y)); }
};

TEST_F(DeleteTest, BlockFillsInsideWithCanvasAndKeepsOutside) {
    command(rid::CMD_DELETE);
    // Two corners finish the block; the first point after them deletes it where it was drawn.
    points({{10.5, 10.5}, {30.5, 40.5}, {0, 0}});
    EXPECT_EQ(at(20, 20), 255);
    EXPECT_EQ(at(11, 39), 255);
    EXPECT_EQ(at(5, 20), patternAt(5, 99 - 20));
    EXPECT_EQ(at(20, 45), patternAt(20, 99 - 45));
    EXPECT_EQ(at(35, 20), patternAt(35, 99 - 20));
}

TEST_F(DeleteTest, LaterPointsDeleteTheSameShapeAtTheCursorAndUndoRestores) {
    command(rid::CMD_DELETE);
    points({{10.5, 10.5}, {20.5, 20.5}});
    point(10.5, 10.5);  // in place
    point(60.5, 60.5);  // the same block moved by 50, 50
    EXPECT_EQ(at(15, 15), 255);
    EXPECT_EQ(at(65, 65), 255);
    EXPECT_EQ(at(40, 40), patternAt(40, 59));
    subhost::undo::undoGroups(1);
    EXPECT_EQ(at(65, 65), patternAt(65, 99 - 65));
    EXPECT_EQ(at(15, 15), 255);
    subhost::undo::undoGroups(1);
    EXPECT_EQ(at(15, 15), patternAt(15, 99 - 15));
}

TEST_F(DeleteTest, BlockOffEveryRasterIsRefusedAndStartsAgain) {
    command(rid::CMD_DELETE);
    points({{200, 200}, {250, 250}, {200, 200}});
    EXPECT_TRUE(shown("Block is outside raster boundary."));
    EXPECT_EQ(at(50, 50), patternAt(50, 49));
    // The command starts again from the first corner.
    points({{10.5, 10.5}, {20.5, 20.5}, {0, 0}});
    EXPECT_EQ(at(15, 15), 255);
}

TEST_F(DeleteTest, ResetBeforeAnyCornerEndsAndAfterTheFirstStartsANewCorner) {
    command(rid::CMD_DELETE);
    point(80.5, 80.5);
    subhost::resetButton();  // the first corner is forgotten
    points({{10.5, 10.5}, {20.5, 20.5}, {0, 0}});
    EXPECT_EQ(at(15, 15), 255);
    EXPECT_EQ(at(85, 85), patternAt(85, 14));
}

TEST(BlockPlaceTest, DeleteIsUnscaledCopyIsScaledAndTurnedAboutTheBase) {
    g_block.anchorPoint = {10, 10, 0};
    const DPoint3d in[2] = {{10, 10, 0}, {12, 10, 0}};
    DPoint3d out[2];
    const DPoint3d target{100, 100, 0};
    s__globals.ScaleX = 2;
    s__globals.ScaleY = 2;
    s__globals.CopyAngle = 90;
    v_activeCommandSet(CMD_DELETE);
    v_blockPlace(out, in, &target, 2);
    EXPECT_NEAR(out[1].x, 102, 1e-9);
    EXPECT_NEAR(out[1].y, 100, 1e-9);
    v_activeCommandSet(CMD_COPY);
    v_blockPlace(out, in, &target, 2);
    EXPECT_NEAR(out[0].x, 100, 1e-9);
    EXPECT_NEAR(out[1].x, 100, 1e-9);  // 2 * 2 wide, turned a quarter
    EXPECT_NEAR(out[1].y, 104, 1e-9);
    s__globals.ScaleX = s__globals.ScaleY = 1;
    s__globals.CopyAngle = 0;
}

TEST(PolygonMaskTest, RectangleOfTheBlockNeedsNoMaskOtherShapesDo) {
    const PixelBlock block{0, 0, 10, 20, 1};
    const DPoint2d rectangle[5] = {{0, 0}, {10, 0}, {10, 20}, {0, 20}, {0, 0}};
    const DPoint2d nearly[5] = {{1, 1}, {9, 0}, {10, 19}, {0, 21}, {1, 1}};
    const DPoint2d triangle[4] = {{0, 0}, {10, 0}, {5, 20}, {0, 0}};
    const DPoint2d cornerTriangle[4] = {{0, 0}, {10, 0}, {0, 20}, {0, 0}};  // every vertex on a corner
    EXPECT_FALSE(b_polygonNeedsMask(&block, rectangle, 5));
    EXPECT_FALSE(b_polygonNeedsMask(&block, nearly, 5));
    EXPECT_TRUE(b_polygonNeedsMask(&block, triangle, 4));
    EXPECT_TRUE(b_polygonNeedsMask(&block, cornerTriangle, 4));
    EXPECT_TRUE(b_polygonNeedsMask(&block, rectangle, 3));
}

class CropTest : public EditTest {};

TEST_F(CropTest, ByFileGivesTheBlockAsANewAttachmentAndUndoBringsTheSourceBack) {
    startScan();
    s__globals.CropCopy = 1;
    command(rid::CMD_CROP);
    points({{10.5, 10.5}, {40.5, 30.5}, {0, 0}});
    const auto after = rasters();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0]->path, (dir / "scan.tif").string());
    const img::ImageResult cropped = img::readImage(after[0]->path);
    ASSERT_TRUE(cropped.ok) << cropped.error;
    EXPECT_NEAR(cropped.image.width, 30, 1);
    EXPECT_NEAR(cropped.image.height, 20, 1);
    // Inside, the source picture carries on: one column right adds 1, one row down adds 3.
    const int inside = pixel(after[0], 5, 5);
    EXPECT_NE(inside, 255);
    EXPECT_EQ(pixel(after[0], 6, 5), inside + 1);
    EXPECT_EQ(pixel(after[0], 5, 6), inside + 3);
    // The source file itself is untouched beside the new one.
    const img::ImageResult source = img::readImage((dir / "scan.tif").string());
    ASSERT_TRUE(source.ok);
    EXPECT_EQ(source.image.pixels[10 * source.image.stride + 10], patternAt(10, 10));
    // Undo takes the cropped attachment away again and attaches the source once more.
    subhost::undo::undoGroups(1);
    const auto undone = rasters();
    ASSERT_EQ(undone.size(), 1u);
    EXPECT_EQ(undone[0]->path, (dir / "scan.tif").string());
}

TEST_F(CropTest, InPlaceUndoPutsTheOldFileBackAndRedoTheCroppedOne) {
    startScan();
    s__globals.CropCopy = 0;
    s__globals.Backup = 1;
    command(rid::CMD_DELETE);  // an edit before the crop, undone afterwards through the restored file
    points({{60.5, 60.5}, {70.5, 70.5}, {0, 0}});
    command(rid::CMD_CROP);
    points({{10.5, 10.5}, {40.5, 30.5}, {0, 0}});
    const std::string path = (dir / "scan.tif").string();
    ASSERT_EQ(rasters().size(), 1u);
    EXPECT_EQ(rasters()[0]->path, path);
    EXPECT_NEAR(img::readInfo(path).info.width, 30, 1);

    subhost::undo::undoGroups(1);
    ASSERT_EQ(rasters().size(), 1u);
    EXPECT_EQ(img::readInfo(path).info.width, 100);
    EXPECT_EQ(pixel(rasters()[0], 10, 10), patternAt(10, 10));
    EXPECT_EQ(pixel(rasters()[0], 65, 99 - 65), 255);  // the delete is still there
    EXPECT_EQ(events("fileRestored").size(), 1u);

    subhost::undo::undoGroups(1);  // the delete, on the file put back
    EXPECT_EQ(pixel(rasters()[0], 65, 99 - 65), patternAt(65, 99 - 65));
    subhost::undo::redoGroups(2);
    ASSERT_EQ(rasters().size(), 1u);
    EXPECT_NEAR(img::readInfo(path).info.width, 30, 1);
    // Nothing but the kept versions' links beside the file, and they go with the history.
    subhost::undo::clear();
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".undo-"), std::string::npos) << entry.path();
}

TEST_F(CropTest, TurnedRasterGivesTheBoundingSizeWithCanvasCorners) {
    greyFile("scan.tif", 100, 100);
    start({{{"file", "scan.tif"}, {"origin", {100, 0, 0}}, {"rotation", 30}}});
    s__globals.CropCopy = 1;
    command(rid::CMD_CROP);
    points({{100.5, 40.5}, {130.5, 70.5}, {0, 0}});
    const auto after = rasters();
    ASSERT_EQ(after.size(), 1u);
    const img::ImageResult cropped = img::readImage(after[0]->path);
    ASSERT_TRUE(cropped.ok) << cropped.error;
    // A 30 x 30 square turned by 30 degrees is bounded by 30 (cos 30 + sin 30) = 41 pixels.
    EXPECT_NEAR(cropped.image.width, 41, 2);
    EXPECT_NEAR(cropped.image.height, 41, 2);
    EXPECT_EQ(pixel(after[0], 0, 0), 255);
    EXPECT_EQ(pixel(after[0], cropped.image.width - 1, cropped.image.height - 1), 255);
    EXPECT_NE(pixel(after[0], cropped.image.width / 2, cropped.image.height / 2), 255);
}

class RefusalTest : public EditTest {};

TEST_F(RefusalTest, NoRasterInTheModel) {
    start(nlohmann::json::array());
    command(rid::CMD_COPY);
    EXPECT_TRUE(shown("The active model doesn't contain any raster reference attachments."));
}

// The brush shows a square outline of its size in pixels round the cursor; a data point ends it
// and leaves every pixel as it was, in the host's copy of the picture and in the file after a save.
TEST_F(RefusalTest, BrushOutlineHasItsSizeAndThePointEndsItWithEveryPixelUnchanged) {
    greyFile("scan.tif", 1000, 700);
    start({{{"file", "scan.tif"}, {"origin", {0, 0, 0}}}});
    subhost::toolSettings(true);
    command(rid::CMD_BRUSH);
    EXPECT_DOUBLE_EQ(s__globals.BrushSize, 140.0);  // a fifth of the smaller side
    // The size stops at the raster's smaller side.
    std::string error;
    ASSERT_TRUE(subhost::itemSet("toolsettings", RTYPE_Scale, 7, "5000", &error)) << error;
    EXPECT_DOUBLE_EQ(s__globals.BrushSize, 700.0);
    ASSERT_TRUE(subhost::itemSet("toolsettings", RTYPE_Scale, 7, "-3", &error)) << error;
    EXPECT_DOUBLE_EQ(s__globals.BrushSize, 0.0);
    ASSERT_TRUE(subhost::itemSet("toolsettings", RTYPE_Scale, 7, "60", &error)) << error;
    ASSERT_DOUBLE_EQ(s__globals.BrushSize, 60.0);

    subhost::cursorMove(DPoint3d{500, 300, 0}, 0);
    const nlohmann::json outline = subhost::elements::dumpDynamics()["elements"];
    ASSERT_EQ(outline.size(), 1u) << outline.dump();
    const nlohmann::json corners = outline[0]["points"];
    ASSERT_EQ(corners.size(), 5u) << outline.dump();
    EXPECT_EQ(corners[0], nlohmann::json({470.0, 270.0, 0.0}));
    EXPECT_EQ(corners[2], nlohmann::json({530.0, 330.0, 0.0}));
    EXPECT_EQ(corners[4], corners[0]);

    point(500, 300);
    subhost::cursorMove(DPoint3d{510, 310, 0}, 0);  // the command has ended: no outline follows the cursor
    EXPECT_EQ(subhost::elements::dumpDynamics()["elements"], outline);
    point(200, 200);
    for (int row = 0; row < 700; ++row)
        for (int x = 0; x < 1000; ++x)
            if (pixel(rasters()[0], x, row) != patternAt(x, row)) FAIL() << "pixel " << x << "," << row << " changed";
    ASSERT_TRUE(subhost::saveDesignAs("", &error)) << error;
    EXPECT_TRUE(events("fileWritten").empty());
    const img::ImageResult onDisk = img::readImage((dir / "scan.tif").string());
    ASSERT_TRUE(onDisk.ok) << onDisk.error;
    EXPECT_EQ(onDisk.image.pixels[300 * onDisk.image.stride + 500], patternAt(500, 300));
    EXPECT_EQ(onDisk.image.pixels[399 * onDisk.image.stride + 500], patternAt(500, 399));
}

// A refused delete says why and leaves the pixels as they were, whatever points follow.
struct Refusal {
    const char* name;
    bool readOnlyModel, readOnlyFile;
    int modifyMode;       // -1: the default
    const char* message;  // the refusal shown
};

class DeleteRefusal : public EditTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(DeleteRefusal, SaysWhyAndLeavesThePixels) {
    const Refusal& c = GetParam();
    greyFile("scan.tif", 100, 100);
    start({{{"file", "scan.tif"}, {"readOnly", c.readOnlyFile}}}, c.readOnlyModel);
    if (c.modifyMode >= 0) s__globals.ModifyMode = c.modifyMode;
    command(rid::CMD_DELETE);
    points({{10.5, 10.5}, {20.5, 20.5}, {10, 10}});
    EXPECT_TRUE(shown(c.message)) << testing::PrintToString(messages());
    for (int row = 0; row < 100; ++row)
        for (int x = 0; x < 100; ++x)
            if (pixel(rasters()[0], x, row) != patternAt(x, row)) FAIL() << "pixel " << x << "," << row << " changed";
}

INSTANTIATE_TEST_SUITE_P(Edit, DeleteRefusal,
                         ::testing::Values(Refusal{"ReadOnlyModel", true, false, -1, "Active model is read-only."},
                                           Refusal{"WholeRasterModeNeedsAnArea", false, false, 2,
                                                   "works on a fence or a block"},
                                           Refusal{"ReadOnlyFile", false, true, 1, "Raster attachment is read-only."}),
                         [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// Blocks too large to hold and blocks without a whole pixel are refused, each with its own reason.
TEST_F(DeleteTest, BlockTooLargeOrWithoutAWholePixelIsRefusedWithoutReadingIt) {
    command(rid::CMD_DELETE);
    points({{10.5, 10.5}, {1e7, 1e7}, {0, 0}});
    EXPECT_TRUE(shown("too large for PixelMend to edit"));
    subhost::clearTranscript();
    subhost::resetButton();
    command(rid::CMD_DELETE);
    points({{10.5, 10.5}, {10.5, 40.5}, {0, 0}});
    EXPECT_TRUE(shown("A block of 0 x 30 pixels")) << testing::PrintToString(messages());
    EXPECT_TRUE(shown("holds no whole pixel"));
    EXPECT_FALSE(shown("too large"));
    EXPECT_EQ(at(15, 15), patternAt(15, 84));
}

// A raster that cannot be read when the edit comes is reported with the host's own error number.
TEST_F(DeleteTest, UnreadableRasterIsReportedWithTheHostErrorNumber) {
    std::ofstream(dir / "scan.tif", std::ios::trunc) << "no longer a picture";
    command(rid::CMD_DELETE);
    points({{10.5, 10.5}, {30.5, 40.5}, {0, 0}});
    ASSERT_FALSE(messages().empty());
    const int hostErrno = mdlErrno_get();
    EXPECT_NE(hostErrno, 0);
    EXPECT_NE(hostErrno, ERROR);
    EXPECT_TRUE(shown("MDL error number: " + std::to_string(hostErrno) + ".")) << testing::PrintToString(messages());
}

}  // namespace
