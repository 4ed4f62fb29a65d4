// Copy and move driven through the host: within one raster, into another raster,
// merging, growth of the destination, a new file, and refused destinations.
#include "edit_fixture.h"

namespace {

class CopyMoveTest : public EditTest {
protected:
    // Block from (10.5, 10.5) to (30.5, 30.5) on the first raster, base point at its lower-left corner.
    void blockAndBase(CommandNumber number) {
        command(number);
        points({{10.5, 10.5}, {30.5, 30.5}, {10.5, 10.5}});
    }
    // Byte at design point (x, y) of raster r whose origin is (ox, 0) and height h.
    static int at(DgnRasterP r, double x, double y, double ox = 0, int h = 100) {
        return pixel(r, int(x - ox), h - 1 - int(y));
    }
};

TEST_F(CopyMoveTest, CopyWithinOneRasterReplacesTheDestinationAndRepeats) {
    startScan();
    DgnRasterP r = rasters()[0];
    const int source = at(r, 15, 15);
    blockAndBase(rid::CMD_COPY);
    point(60.5, 60.5);
    EXPECT_EQ(at(r, 65, 65), source);
    EXPECT_EQ(at(r, 15, 15), source);  // the source stays
    point(60.5, 10.5);                 // another copy of the same block
    EXPECT_EQ(at(r, 65, 15), source);
    EXPECT_EQ(at(r, 95, 95), patternAt(95, 4));
}

TEST_F(CopyMoveTest, MoveToAnOverlappingPlaceShowsTheMovedPixelsOverTheHole) {
    startScan();
    DgnRasterP r = rasters()[0];
    const int corner = at(r, 11, 11);
    const int farCorner = at(r, 29, 29);
    blockAndBase(rid::CMD_MOVE);
    point(20.5, 20.5);                 // moved by 10, 10: overlaps its old place
    EXPECT_EQ(at(r, 21, 21), corner);  // moved pixels over the old area
    EXPECT_EQ(at(r, 39, 39), farCorner);
    EXPECT_EQ(at(r, 15, 15), 255);  // the uncovered part of the hole
    subhost::undo::undoGroups(1);
    EXPECT_EQ(at(r, 15, 15), patternAt(15, 84));
    EXPECT_EQ(at(r, 21, 21), patternAt(21, 78));
}

// A copy at twice the size writes every pixel of its destination block, each from its nearest source pixel.
TEST_F(CopyMoveTest, ScaledCopyWritesEveryDestinationPixel) {
    startScan();
    DgnRasterP r = rasters()[0];
    s__globals.ScaleX = s__globals.ScaleY = 2;
    blockAndBase(rid::CMD_COPY);  // the 20 x 20 block at (10, 10)
    point(50.5, 30.5);            // lands 40 x 40 at (50, 30)
    int unwritten = 0, wrong = 0;
    for (int y = 31; y < 69; ++y)
        for (int x = 51; x < 89; ++x) {
            const int value = at(r, x, y);
            if (value == patternAt(x, 99 - y)) ++unwritten;
            // The source pixel it came from, within a pixel of the exact half position.
            bool fromSource = false;
            for (int dy = -1; dy <= 1 && !fromSource; ++dy)
                for (int dx = -1; dx <= 1 && !fromSource; ++dx)
                    fromSource = value == patternAt(10 + (x - 50) / 2 + dx, 99 - (10 + (y - 30) / 2 + dy));
            if (!fromSource) ++wrong;
        }
    EXPECT_EQ(unwritten, 0);
    EXPECT_EQ(wrong, 0);
}

TEST_F(CopyMoveTest, CopyIntoAnotherRaster) {
    greyFile("a.tif", 100, 100);
    greyFile("b.tif", 100, 100);
    start({{{"file", "a.tif"}}, {{"file", "b.tif"}, {"origin", {200, 0, 0}}}});
    DgnRasterP a = rasters()[0], b = rasters()[1];
    const int source = at(a, 15, 15);
    blockAndBase(rid::CMD_COPY);
    point(250.5, 50.5);
    EXPECT_EQ(at(b, 255, 55, 200), source);
    EXPECT_EQ(at(b, 245, 55, 200), patternAt(45, 44));
}

TEST_F(CopyMoveTest, MergeOrsMonochromePixels) {
    // Left half: vertical ink lines; right half: horizontal ink lines.
    monoFile("lines.tif", 100, 100, [](int x, int row) { return x < 50 ? x % 4 == 0 : row % 4 == 0; });
    start({{{"file", "lines.tif"}}});
    s__globals.MergePixels = 1;
    DgnRasterP r = rasters()[0];
    blockAndBase(rid::CMD_COPY);
    point(60.5, 10.5);  // vertical lines copied onto horizontal ones
    int both = 0, vertical = 0, horizontal = 0;
    for (int x = 62; x < 78; ++x) {
        for (int row = 72; row < 88; ++row) {
            const int ink = pixel(r, x, row);
            const bool v = pixel(r, x - 50, row) != 0;
            const bool h = row % 4 == 0;
            if (v && h)
                both += ink;
            else if (v)
                vertical += ink;
            else if (h)
                horizontal += ink;
            else
                EXPECT_EQ(ink, 0) << x << "," << row;
        }
    }
    EXPECT_GT(vertical, 0);
    EXPECT_GT(horizontal, 0);
    EXPECT_GT(both, 0);
}

TEST_F(CopyMoveTest, CopyHalfOutsideGrowsTheDestinationWithoutAQuestion) {
    startScan();
    s__globals.ResizeDestination = 1;
    s__globals.ResizeCopy = 1;
    const int source = at(rasters()[0], 15, 15);
    blockAndBase(rid::CMD_COPY);
    point(90.5, 10.5);
    EXPECT_TRUE(messages().empty()) << messages().front();
    const auto after = rasters();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0]->path.find("resized"), std::string::npos);
    const img::ImageResult grown = img::readImage(after[0]->path);
    ASSERT_TRUE(grown.ok) << grown.error;
    EXPECT_GE(grown.image.width, 110);
    EXPECT_EQ(grown.image.height, 100);
    EXPECT_EQ(pixel(after[0], 95, 84), source);
    EXPECT_EQ(pixel(after[0], 105, 84), at(after[0], 25, 15));
}

TEST_F(CopyMoveTest, CopyIntoEmptySpaceAnsweredYesAttachesANewRaster) {
    startScan();
    const int source = at(rasters()[0], 15, 25);  // near the top-left of the block
    blockAndBase(rid::CMD_COPY);
    const std::string output = (dir / "copy.tif").string();
    subhost::queueAnswer(ACTIONBUTTON_YES);
    subhost::queueFileAnswer(output);
    point(300.5, 300.5);
    EXPECT_TRUE(shown("Block is outside raster boundary. Would you like to create a new raster file?"));
    const auto after = rasters();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[1]->path, output);
    EXPECT_NEAR(after[1]->geo.origin.x, 300, 1.0);
    EXPECT_NEAR(after[1]->geo.origin.y, 300, 1.0);
    const img::ImageResult copied = img::readImage(output);
    ASSERT_TRUE(copied.ok) << copied.error;
    EXPECT_NEAR(copied.image.width, 20, 1);
    // The block's own pixels, with the source picture's steps: one column right adds 1, one row down adds 3.
    const int inside = pixel(after[1], 5, 5);
    EXPECT_NEAR(inside, source, 10);
    EXPECT_EQ(pixel(after[1], 6, 5), inside + 1);
    EXPECT_EQ(pixel(after[1], 5, 6), inside + 3);
}

TEST_F(CopyMoveTest, CopyIntoEmptySpaceAnsweredNoChangesNothing) {
    startScan();
    blockAndBase(rid::CMD_COPY);
    subhost::queueAnswer(ACTIONBUTTON_NO);
    point(300.5, 300.5);
    EXPECT_EQ(rasters().size(), 1u);
    // The block stays at the cursor: the next point still places it.
    point(60.5, 60.5);
    EXPECT_EQ(at(rasters()[0], 65, 65), patternAt(15, 84));
}

TEST_F(CopyMoveTest, ReadOnlyOrOtherDepthDestinationIsRefusedAndNothingChanges) {
    greyFile("a.tif", 100, 100);
    greyFile("locked.tif", 100, 100);
    monoFile("mono.tif", 100, 100, [](int x, int) { return x % 2 == 0; });
    start({{{"file", "a.tif"}},
           {{"file", "locked.tif"}, {"origin", {200, 0, 0}}, {"readOnly", true}},
           {{"file", "mono.tif"}, {"origin", {0, 200, 0}}}});
    DgnRasterP locked = rasters()[1];
    blockAndBase(rid::CMD_COPY);
    point(250.5, 50.5);
    EXPECT_FALSE(messages().empty());
    EXPECT_EQ(at(locked, 255, 55, 200), patternAt(55, 44));
    const std::size_t before = messages().size();
    point(50.5, 250.5);
    EXPECT_GT(messages().size(), before);
    EXPECT_EQ(pixel(rasters()[2], 51, 49), 0);
}

TEST_F(CopyMoveTest, NewFileWithAnAngleHoldsTheUnturnedBlockAndTurnsByItsPlacement) {
    startScan();
    s__globals.CopyAngle = 90;
    command(rid::CMD_COPY);
    points({{10.5, 10.5}, {30.5, 40.5}, {10.5, 10.5}});  // 20 wide, 30 high
    subhost::queueAnswer(ACTIONBUTTON_YES);
    subhost::queueFileAnswer((dir / "turned.tif").string());
    point(300.5, 300.5);
    const auto after = rasters();
    ASSERT_EQ(after.size(), 2u);
    const img::ImageResult copied = img::readImage(after[1]->path);
    ASSERT_TRUE(copied.ok) << copied.error;
    EXPECT_NEAR(copied.image.width, 20, 1);
    EXPECT_NEAR(copied.image.height, 30, 1);
    EXPECT_NEAR(after[1]->geo.rotation, 90, 1e-9);
    // Rows still run along the source's rows: one column right adds 1.
    EXPECT_EQ(pixel(after[1], 6, 5), pixel(after[1], 5, 5) + 1);
    s__globals.CopyAngle = 0;
}

TEST_F(CopyMoveTest, TurnedCopyIntoTheSameRasterLandsTurned) {
    startScan();
    DgnRasterP r = rasters()[0];
    s__globals.CopyAngle = 90;
    blockAndBase(rid::CMD_COPY);
    point(70.5, 50.5);  // the block turned a quarter about its base: x from 50.5 to 70.5, y from 50.5 to 70.5
    // Along the turned block's rows the source's columns run upward: one row up adds 1.
    const int a = at(r, 60, 60), b = at(r, 60, 61);
    EXPECT_NE(a, patternAt(60, 39));
    EXPECT_EQ(b - a, 1);
    s__globals.CopyAngle = 0;
}

class PickTest : public EditTest {};

TEST_F(PickTest, WholeRasterModeWithTwoRastersAsksForAPickAndRefusesEmptySpace) {
    greyFile("a.tif", 100, 100);
    greyFile("b.tif", 100, 100);
    start({{{"file", "a.tif"}}, {{"file", "b.tif"}, {"origin", {200, 0, 0}}}});
    s__globals.ModifyMode = 2;
    s__globals.ClipMethod = 1;
    command(rid::CMD_CROP);
    EXPECT_TRUE(messages().empty());
    point(150, 50);
    EXPECT_TRUE(shown("Raster not found."));
    point(250, 50);  // picked: crop needs an area and says so
    EXPECT_TRUE(shown("works on a fence or a block"));
}

TEST_F(PickTest, StampOnSelectionWithNothingSelectedStopsAfterThePick) {
    monoFile("scan.tif", 100, 100, [](int x, int) { return x % 3 == 0; });
    start({{{"file", "scan.tif"}}});
    s__globals.StampMode = 3;
    command(rid::CMD_STAMP);
    EXPECT_TRUE(messages().empty());
    point(50, 50);
    EXPECT_TRUE(shown("No elements are selected. Please select elements to stamp and re-run Stamp."));
}

// A move whose placement does not happen (the new file's name cancelled) leaves the source whole.
TEST_F(CopyMoveTest, MoveThatCannotLandLeavesItsSourceWhole) {
    startScan();
    DgnRasterP r = rasters()[0];
    blockAndBase(rid::CMD_MOVE);
    subhost::queueAnswer(ACTIONBUTTON_YES);  // create a new raster file? yes...
    subhost::queueFileAnswer(std::nullopt);  // ...but its name is cancelled
    point(300.5, 300.5);
    EXPECT_EQ(rasters().size(), 1u);
    EXPECT_EQ(at(r, 15, 15), patternAt(15, 84));
    EXPECT_EQ(at(r, 29, 29), patternAt(29, 70));
}

// Copying into another raster switches to it only for the placement: the command stays on its source.
TEST_F(CopyMoveTest, CopyIntoAnotherRasterLeavesTheCommandOnItsSource) {
    greyFile("a.tif", 100, 100);
    greyFile("b.tif", 100, 100);
    start({{{"file", "a.tif"}}, {{"file", "b.tif"}, {"origin", {200, 0, 0}}}});
    DgnRasterP a = rasters()[0];
    blockAndBase(rid::CMD_COPY);
    point(250.5, 50.5);
    EXPECT_EQ(currentRaster(), a);
    ASSERT_NE(currentTarget(), nullptr);
    EXPECT_EQ(currentTarget()->raster, a);
}

// Stamp on a block finds the raster under it and takes the block's pixels as the stamp's block.
TEST_F(PickTest, StampOnABlockTakesTheBlocksPixelsAsItsBlock) {
    greyFile("a.tif", 100, 100);
    greyFile("b.tif", 100, 100);
    start({{{"file", "a.tif"}}, {{"file", "b.tif"}, {"origin", {200, 0, 0}}}});
    s__globals.StampMode = 1;
    command(rid::CMD_STAMP);
    points({{210.5, 10.5}, {230.5, 40.5}, {220, 20}});
    EXPECT_EQ(currentRaster(), rasters()[1]);
    const PixelBlock block = stampBlock();
    EXPECT_EQ(block.x, 10);
    EXPECT_EQ(block.y, 10);
    EXPECT_EQ(block.width, 20);
    EXPECT_EQ(block.height, 30);
    EXPECT_TRUE(shown("There are no elements overlapping the fence to be stamped."));
}

}  // namespace
