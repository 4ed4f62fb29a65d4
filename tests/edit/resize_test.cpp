// Resize canvas: the amounts and size texts, the new file read back from disk (old pixels in place,
// margins in the canvas colour, negative amounts cropping), its placement on plain and turned
// rasters, the apply button's enabling, and dragging the edges by their handles.
#include "common/scoped_env.h"
#include "edit_fixture.h"
#include "subhost/elements.h"

namespace {

class ResizeTest : public EditTest {
protected:
    ScopedEnv locale{"LC_ALL", "en_US.UTF-8"};

    // Types amount into the tool settings field of edge (1 top, 2 bottom, 3 left, 4 right).
    void type(int edge, int amount) {
        std::string error;
        ASSERT_TRUE(subhost::itemSet("toolsettings", RTYPE_Text, 10 + edge, std::to_string(amount), &error)) << error;
    }
    // Types the four amounts and applies them.
    void resize(int top, int bottom, int left, int right) {
        subhost::toolSettings(true);
        command(rid::CMD_RESIZE);
        type(1, top);
        type(2, bottom);
        type(3, left);
        type(4, right);
        command(rid::CMD_RESIZE_APPLY);
    }
    img::Image readBack(const std::string& name) {
        const img::ImageResult result = img::readImage((dir / name).string());
        EXPECT_TRUE(result.ok) << result.error;
        return result.image;
    }
    static int at(const img::Image& image, int x, int row) {
        return image.pixels[std::size_t(row) * image.stride + std::size_t(x)];
    }
    bool applyEnabled() {
        const nlohmann::json dump = subhost::dumpItems("toolsettings");
        for (const auto& item : dump["items"])
            if (item.value("type", "") == "pBtn" && item.value("id", 0) == rid::ITEM_RESIZE_APPLY)
                return item.value("enabled", false);
        ADD_FAILURE() << "no apply button: " << dump.dump();
        return false;
    }
};

TEST_F(ResizeTest, SizeTextsGroupDigitsAndOldPixelsStayAtTheLowerLeft) {
    greyFile("big.tif", 2000, 1000);
    start({{{"file", "big.tif"}}});
    resize(50, 0, 0, 100);
    EXPECT_STREQ(s__globals.ResizeOldSizeText, "2,000 x 1,000");
    EXPECT_STREQ(s__globals.ResizeNewSizeText, "2,100 x 1,050");
    const img::Image after = readBack("big.tif");
    ASSERT_EQ(after.width, 2100);
    ASSERT_EQ(after.height, 1050);
    // Rows are stored top first: the 50 new rows are on top, the 100 new columns on the right.
    for (int row = 0; row < 1000; row += 37)
        for (int x = 0; x < 2000; x += 53) ASSERT_EQ(at(after, x, row + 50), patternAt(x, row)) << x << "," << row;
    for (int x = 0; x < 2100; x += 7) ASSERT_EQ(at(after, x, 10), 255);
    for (int row = 0; row < 1050; row += 7) ASSERT_EQ(at(after, 2050, row), 255);
    // Placed where the old corner was: the old pixels did not move in the design.
    ASSERT_EQ(rasters().size(), 1u);
    EXPECT_NEAR(rasters()[0]->geo.origin.x, 0.0, 1e-9);
    EXPECT_NEAR(rasters()[0]->geo.origin.y, 0.0, 1e-9);
    EXPECT_NEAR(rasters()[0]->geo.extentX, 2100.0, 1e-9);
}

TEST_F(ResizeTest, ColumnsAtTheStartMoveTheCornerAndNegativeAmountsCrop) {
    greyFile("scan.tif", 100, 100);
    start({{{"file", "scan.tif"}, {"origin", {10, 20, 0}}, {"extent", {50, 50}}}});
    // 100 more columns on the left, 5 rows cut off the top, 10 rows off the bottom.
    resize(-5, -10, 100, 0);
    const img::Image after = readBack("scan.tif");
    ASSERT_EQ(after.width, 200);
    ASSERT_EQ(after.height, 85);
    for (int row = 0; row < 85; row += 3)
        for (int x = 0; x < 100; x += 3) {
            ASSERT_EQ(at(after, x + 100, row), patternAt(x, row + 5)) << x << "," << row;
            ASSERT_EQ(at(after, x, row), 255);
        }
    const DgnRaster& r = *rasters()[0];
    EXPECT_NEAR(r.geo.origin.x, 10 - 100 * 0.5, 1e-9);
    EXPECT_NEAR(r.geo.origin.y, 20 + 10 * 0.5, 1e-9);
    EXPECT_NEAR(r.geo.extentX, 100.0, 1e-9);
    EXPECT_NEAR(r.geo.extentY, 42.5, 1e-9);
}

TEST_F(ResizeTest, TurnedRasterKeepsItsPixelsInPlace) {
    greyFile("scan.tif", 100, 100);
    start({{{"file", "scan.tif"}, {"origin", {100, 0, 0}}, {"rotation", 90}}});
    resize(0, 20, 10, 0);
    // The raster's own left is the design's down, its bottom the design's right.
    const DgnRaster& r = *rasters()[0];
    EXPECT_NEAR(r.geo.origin.x, 100 + 20, 1e-9);
    EXPECT_NEAR(r.geo.origin.y, -10, 1e-9);
    EXPECT_NEAR(r.geo.rotation, 90, 1e-9);
    const img::Image after = readBack("scan.tif");
    ASSERT_EQ(after.width, 110);
    ASSERT_EQ(after.height, 120);
    EXPECT_EQ(at(after, 10, 0), patternAt(0, 0));
    EXPECT_EQ(at(after, 109, 99), patternAt(99, 99));
    EXPECT_EQ(at(after, 5, 110), 255);
}

TEST_F(ResizeTest, CopyIsWrittenBesideUnderTheResizedName) {
    const std::string original = greyFile("scan.tif", 100, 100);
    start({{{"file", "scan.tif"}}});
    s__globals.ResizeCopy = 1;
    resize(1, 1, 1, 1);
    EXPECT_EQ(readBack("scan.tif").width, 100);
    const img::Image copy = readBack("scan-resized.tif");
    EXPECT_EQ(copy.width, 102);
    EXPECT_EQ(copy.height, 102);
    ASSERT_EQ(rasters().size(), 1u);
    EXPECT_NE(rasters()[0]->path.find("scan-resized.tif"), std::string::npos);
}

TEST_F(ResizeTest, ColourAndMonochromeMarginsTakeTheCanvasColour) {
    img::Image rgb = img::makeImage(10, 10, img::ColorMode::Rgb).image;
    write("rgb.tif", rgb);
    start({{{"file", "rgb.tif"}}});
    s__globals.CanvasColor = {10, 20, 30};
    resize(0, 0, 0, 2);
    const img::Image after = readBack("rgb.tif");
    ASSERT_EQ(after.width, 12);
    const std::uint8_t* margin = &after.pixels[std::size_t(5) * after.stride + 11 * 3];
    EXPECT_EQ(margin[0], 10);
    EXPECT_EQ(margin[1], 20);
    EXPECT_EQ(margin[2], 30);
    EXPECT_EQ(after.pixels[std::size_t(5) * after.stride + 9 * 3], 0);
}

// A negative scan (white drawing on a black sheet): the added paper is black.
TEST_F(ResizeTest, NegativeScanMarginIsItsPaper) {
    img::Image image = img::makeImage(64, 64, img::ColorMode::Mono).image;
    image.photometric = img::Photometric::MinIsWhite;
    for (auto& byte : image.pixels) byte = 0xFF;          // all black
    image.pixels[std::size_t(10) * image.stride] = 0x7F;  // one white (drawn) pixel
    write("neg.tif", image);
    start({{{"file", "neg.tif"}}});
    s__globals.CanvasAuto = 1;
    resize(0, 0, 16, 0);
    const img::Image after = readBack("neg.tif");
    ASSERT_EQ(after.width, 80);
    // Shown black, whichever photometric the written file has.
    auto black = [&](int x, int row) {
        const int bit = (after.pixels[std::size_t(row) * after.stride + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
        const img::Rgb8& c = after.palette[std::size_t(bit)];
        return c[0] + c[1] + c[2] < 3 * 128;
    };
    for (int x = 0; x < 16; ++x) ASSERT_TRUE(black(x, 30)) << x;  // black paper
    EXPECT_FALSE(black(16, 10));                                  // the drawn pixel moved with its raster
    EXPECT_TRUE(black(17, 10));
}

// Trimming everything, or more than everything (a negative side), is refused with the sizes named.
TEST_F(ResizeTest, CanvasWithoutPixelsIsRefusedAndNothingChanges) {
    greyFile("scan.tif", 100, 100);
    start({{{"file", "scan.tif"}}});
    resize(0, 0, -60, -40);
    EXPECT_TRUE(shown("would be 0 x 100 pixels")) << nlohmann::json(messages()).dump();
    resize(-70, -40, 0, 0);
    EXPECT_TRUE(shown("would be 100 x -10 pixels: no pixel would be left")) << nlohmann::json(messages()).dump();
    resize(0, 0, -150, 0);
    EXPECT_TRUE(shown("would be -50 x 100 pixels")) << nlohmann::json(messages()).dump();
    const img::Image after = readBack("scan.tif");
    EXPECT_EQ(after.width, 100);
    EXPECT_EQ(after.height, 100);
    EXPECT_EQ(at(after, 99, 99), patternAt(99, 99));
    EXPECT_TRUE(events("fileWritten").empty());
    ASSERT_EQ(rasters().size(), 1u);
    EXPECT_NEAR(rasters()[0]->geo.extentX, 100.0, 1e-9);
}

TEST_F(ResizeTest, ApplyIsEnabledOnlyWithAnAmount) {
    greyFile("scan.tif", 100, 100);
    start({{{"file", "scan.tif"}}});
    subhost::toolSettings(true);
    command(rid::CMD_RESIZE);
    EXPECT_FALSE(applyEnabled());
    type(3, -4);
    EXPECT_TRUE(applyEnabled());
    EXPECT_STREQ(s__globals.ResizeNewSizeText, "96 x 100");
    type(3, 0);
    EXPECT_FALSE(applyEnabled());
}

// With a 400 x 400 view the handles are grabbed within 0.02 * 565.7 = 11.3 units of their centres.
TEST_F(ResizeTest, HandlesAreGrabbedDraggedDroppedAndReset) {
    greyFile("scan.tif", 100, 100);
    start({{{"file", "scan.tif"}}});
    subhost::toolSettings(true);
    command(rid::CMD_RESIZE);
    subhost::cursorMove(DPoint3d{300, 300, 0}, 0);
    // Four double arrows (two heads each) and the outline.
    EXPECT_EQ(subhost::elements::dumpDynamics()["elements"].size(), 9u);
    point(300, 300);  // far from every handle: nothing
    subhost::cursorMove(DPoint3d{50, 150, 0}, 0);
    EXPECT_EQ(s__globals.ResizeRowsEnd, 0);

    point(50, 108);  // the top handle
    subhost::cursorMove(DPoint3d{50, 130.7, 0}, 0);
    EXPECT_EQ(s__globals.ResizeRowsEnd, 30);
    EXPECT_STREQ(s__globals.ResizeNewSizeText, "100 x 130");
    subhost::cursorMove(DPoint3d{50, -5, 0}, 0);  // across the bottom edge: refused
    EXPECT_EQ(s__globals.ResizeRowsEnd, 30);
    subhost::resetButton();  // during the drag: back to the amounts at the grab
    EXPECT_EQ(s__globals.ResizeRowsEnd, 0);

    subhost::cursorMove(DPoint3d{300, 300, 0}, 0);  // the handles drawn where the edges are now
    point(50, 104);
    subhost::cursorMove(DPoint3d{50, 120, 0}, 0);
    point(50, 120);  // dropped
    subhost::cursorMove(DPoint3d{50, 200, 0}, 0);
    EXPECT_EQ(s__globals.ResizeRowsEnd, 20);
    command(rid::CMD_RESIZE_APPLY);
    EXPECT_EQ(readBack("scan.tif").height, 120);
}

TEST_F(ResizeTest, TwoHandlesInReachGiveTheLowerEdgeNumber) {
    greyFile("thin.tif", 10, 30);
    start({{{"file", "thin.tif"}}});
    command(rid::CMD_RESIZE);
    subhost::cursorMove(DPoint3d{200, 200, 0}, 0);
    point(10, 8);  // nearer the right handle (10, 15) than the bottom one (5, 0)
    subhost::cursorMove(DPoint3d{30, -5, 0}, 0);
    EXPECT_EQ(s__globals.ResizeRowsStart, 5);
    EXPECT_EQ(s__globals.ResizeColumnsEnd, 0);
    subhost::resetButton();
    subhost::resetButton();  // no drag: ends the tool
    EXPECT_EQ(s__globals.ResizeRowsStart, 0);
}

}  // namespace
