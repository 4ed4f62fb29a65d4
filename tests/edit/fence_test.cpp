// The fence as the area: triangular copies, clip masks and boundaries, vector
// elements carried along, and the finished block's transient outline.
#include "edit_fixture.h"

#include <array>

#include "subhost/elements.h"

namespace {

class FenceTest : public EditTest {
protected:
    DgnRasterP raster = nullptr;
    const nlohmann::json triangle = {{"points", {{10.5, 10.5}, {40.5, 10.5}, {10.5, 40.5}}}, {"view", 0}};

    // A 100 x 100 grey raster at the origin with a triangular fence and a line inside it.
    void startWithFence(const nlohmann::json& rasterEntry = {{"file", "scan.tif"}}) {
        greyFile("scan.tif", 100, 100);
        const nlohmann::json extra = {{"fence", triangle},
                                      {"elements", {{{"id", 1}, {"type", "line"}, {"points", {{12, 12}, {20, 12}}}}}}};
        start(nlohmann::json::array({rasterEntry}), false, extra);
        ASSERT_EQ(rasters().size(), 1u) << nlohmann::json(subhost::transcript()).dump();
        raster = rasters().at(0);
        s__globals.ModifyMode = 0;
    }
    // Vertical ink lines on the left half, horizontal ones on the right; the triangle copied 50 to the right.
    void copyTriangleOfLines(int merge) {
        monoFile("lines.tif", 100, 100, [](int x, int row) { return x < 50 ? x % 4 == 0 : row % 4 == 0; });
        start({{{"file", "lines.tif"}}}, false, {{"fence", triangle}});
        raster = rasters()[0];
        s__globals.ModifyMode = 0;
        s__globals.MergePixels = merge;
        command(rid::CMD_COPY);
        points({{10.5, 10.5}, {60.5, 10.5}});
    }
    int at(double x, double y) { return pixel(raster, int(x), 99 - int(y)); }
};

TEST_F(FenceTest, TriangularCopyKeepsTheDestinationOutsideTheTriangle) {
    copyTriangleOfLines(0);
    EXPECT_EQ(at(62, 12), 1);  // a source line inside the triangle
    EXPECT_EQ(at(63, 11), 0);  // the destination's line inside the triangle is replaced
    EXPECT_EQ(at(86, 38), 0);  // in the bounding block, outside the triangle: no source line came over
    EXPECT_EQ(at(86, 39), 1);  // and the destination's own line stays
}

TEST_F(FenceTest, TriangularMergeOnMonochromeOrsInsideOnly) {
    copyTriangleOfLines(1);
    // Inside the triangle: vertical lines from the source over the horizontal ones.
    EXPECT_EQ(at(62, 12), 1);
    EXPECT_EQ(pixel(raster, 62, 84), 1);  // a horizontal line stays under the merge
    EXPECT_EQ(at(65, 13), 0);
    // Outside the triangle, in its bounding block: no vertical lines came over.
    EXPECT_EQ(at(86, 38), 0);
}

TEST_F(FenceTest, DeleteWithClipMaskMethodAddsAMaskOnAReadOnlyFile) {
    startWithFence({{"file", "scan.tif"}, {"readOnly", true}});
    s__globals.MaskMethod = 0;
    command(rid::CMD_DELETE);
    point(10.5, 10.5);
    EXPECT_EQ(raster->clipMasks.size(), 1u);
    EXPECT_EQ(at(12, 12), patternAt(12, 87));
    EXPECT_TRUE(messages().empty());
}

TEST_F(FenceTest, CropWithClipBoundaryMethodSetsTheBoundary) {
    startWithFence();
    s__globals.ClipMethod = 0;
    command(rid::CMD_CROP);
    point(10.5, 10.5);
    ASSERT_TRUE(raster->clipBoundary.has_value());
    EXPECT_EQ(rasters().size(), 1u);
    EXPECT_EQ(at(50, 50), patternAt(50, 49));
}

TEST_F(FenceTest, MoveWithHybridModeCarriesTheElements) {
    startWithFence();
    s__globals.HybridMode = 1;
    command(rid::CMD_MOVE);
    points({{10.5, 10.5}, {60.5, 10.5}});
    EXPECT_EQ(events("elementChanged").size(), 1u);
    EXPECT_EQ(at(12, 12), 255);  // the triangle's old place is a hole
}

TEST_F(FenceTest, BlockStaysAsATransientUntilTheFirstDeletePoint) {
    startScan();
    command(rid::CMD_DELETE);
    points({{10.5, 10.5}, {20.5, 20.5}});
    ASSERT_EQ(events("transient").size(), 1u);
    EXPECT_EQ(events("transient")[0]["action"], "added");
    EXPECT_NE(g_block.blockTransient, nullptr);
    point(0, 0);
    EXPECT_EQ(g_block.blockTransient, nullptr);
    EXPECT_FALSE(g_block.blockTransientShown);
}

TEST_F(FenceTest, FenceModeWithoutFenceMakesOneFromTheCorners) {
    startScan();
    raster = rasters()[0];
    s__globals.ModifyMode = 0;
    command(rid::CMD_DELETE);
    points({{10.5, 10.5}, {20.5, 20.5}});
    EXPECT_FALSE(events("fence").empty());
    EXPECT_FALSE(g_block.fenceExisted);
    point(0, 0);
    EXPECT_EQ(at(15, 15), 255);
}

// Bounds (min x, min y, max x, max y) of the points of the last dynamics shape.
std::array<double, 4> dynamicsBounds() {
    const nlohmann::json dump = subhost::elements::dumpDynamics();
    std::array<double, 4> b{1e300, 1e300, -1e300, -1e300};
    if (dump["elements"].empty()) {
        ADD_FAILURE() << "nothing drawn";
        return b;
    }
    for (const auto& p : dump["elements"].back()["points"]) {
        b[0] = std::min(b[0], p[0].get<double>());
        b[1] = std::min(b[1], p[1].get<double>());
        b[2] = std::max(b[2], p[0].get<double>());
        b[3] = std::max(b[3], p[1].get<double>());
    }
    return b;
}

TEST_F(FenceTest, OutlineFollowsTheCursorScaledAndTurnedForCopyPlainForDelete) {
    startScan();
    command(rid::CMD_COPY);
    point(10, 10);
    subhost::cursorMove(DPoint3d{30, 20, 0}, 0);  // the rectangle follows the second corner
    auto b = dynamicsBounds();
    EXPECT_NEAR(b[0], 10, 1e-6);
    EXPECT_NEAR(b[3], 20, 1e-6);
    point(30, 20);
    s__globals.ScaleX = s__globals.ScaleY = 2;
    s__globals.CopyAngle = 90;
    point(10, 10);  // base point
    subhost::cursorMove(DPoint3d{60, 60, 0}, 0);
    b = dynamicsBounds();
    EXPECT_NEAR(b[0], 40, 1e-6);  // 2 x 10 high, turned to the left of the cursor
    EXPECT_NEAR(b[2], 60, 1e-6);
    EXPECT_NEAR(b[1], 60, 1e-6);
    EXPECT_NEAR(b[3], 100, 1e-6);  // 2 x 20 wide, turned upward
    s__globals.ScaleX = s__globals.ScaleY = 1;
    s__globals.CopyAngle = 0;
}

}  // namespace
