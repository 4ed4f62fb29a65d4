// Design <-> pixel mapping, bounding blocks, buffer coordinates and outlines.
#include <gtest/gtest.h>

#include <cmath>

#include "raster/context.h"
#include "raster/geometry.h"

namespace {

RasterTarget makeTarget(DPoint3d origin, double pixelSize, double widthPx, double heightPx, double rotation = 0,
                        double affinity = 0) {
    RasterTarget t{};
    t.origin = origin;
    t.pixelSizeX = t.pixelSizeY = pixelSize;
    t.widthPx = widthPx;
    t.heightPx = heightPx;
    t.extentX = widthPx * pixelSize;
    t.extentY = heightPx * pixelSize;
    t.rotation = rotation;
    t.affinity = affinity;
    return t;
}

class CurrentTarget : public ::testing::Test {
protected:
    void use(RasterTarget& t) { v_commandRasterSelect(nullptr, &t); }
    void TearDown() override { v_editContextReset(); }
};

TEST(DesignToPixel, UnrotatedRasterWithTwoUnitPixels) {
    RasterTarget t = makeTarget({100, 50, 0}, 2.0, 100, 100);
    DPoint3d pixel;
    const DPoint3d design{104, 56, 7};
    v_designToPixel(&t, &pixel, &design);
    EXPECT_DOUBLE_EQ(pixel.x, 2.0);
    EXPECT_DOUBLE_EQ(pixel.y, 3.0);
    EXPECT_DOUBLE_EQ(pixel.z, 0.0);
}

TEST(DesignToPixel, RasterTurnedByNinetyDegrees) {
    RasterTarget t = makeTarget({10, 20, 0}, 3.0, 50, 50, 90.0);
    DPoint3d pixel;
    const DPoint3d design{10, 20 + 2 * 3.0, 0};
    v_designToPixel(&t, &pixel, &design);
    EXPECT_NEAR(pixel.x, 2.0, 1e-12);
    EXPECT_NEAR(pixel.y, 0.0, 1e-12);
}

TEST(DesignToPixel, ShearIsUndoneAfterScaling) {
    RasterTarget t = makeTarget({0, 0, 0}, 1.0, 100, 100, 0.0, 30.0);
    // A point on the sheared left edge at height h: x = -sin(a) h, y = cos(a) h.
    const double a = 30.0 * M_PI / 180.0;
    const DPoint3d design{-std::sin(a) * 10.0, std::cos(a) * 10.0, 0};
    DPoint3d pixel;
    v_designToPixel(&t, &pixel, &design);
    EXPECT_NEAR(pixel.x, 0.0, 1e-9);
    EXPECT_NEAR(pixel.y, 10.0, 1e-9);
}

// The block runs from the floor of the smallest coordinates over the ceiling of the unrounded extent:
// ceil(5.2 - 2.5) = 3 wide, not 6 - 2; points inside one pixel give one; negative coordinates floor away from zero.
TEST(PixelBlockFromPoints, RoundsOutwardFromUnroundedExtremes) {
    struct Case {
        DPoint3d a, b;
        int x, y, width, height;
    };
    const Case cases[] = {{{2.5, 1.0, 0}, {5.2, 4.0, 0}, 2, 1, 3, 3},
                          {{3.2, 0.5, 0}, {3.7, 0.6, 0}, 3, 0, 1, 1},
                          {{-0.5, -0.5, 0}, {2.0, 2.0, 0}, -1, -1, 3, 3}};
    RasterTarget t = makeTarget({0, 0, 0}, 1.0, 100, 100);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a.x);
        PixelBlock block{};
        const DPoint3d points[] = {c.a, c.b};
        v_pixelBlockFromPoints(&t, &block, nullptr, points, 2, 1);
        EXPECT_EQ(block.x, c.x);
        EXPECT_EQ(block.y, c.y);
        EXPECT_EQ(block.width, c.width);
        EXPECT_EQ(block.height, c.height);
        EXPECT_EQ(block.valid, 1u);
    }
}

TEST(PixelBlockFromPoints, GrowsAnExistingBlockWithoutReset) {
    RasterTarget t = makeTarget({0, 0, 0}, 1.0, 100, 100);
    PixelBlock block{10, 10, 5, 5, 1};
    const DPoint3d point{20, 12, 0};
    v_pixelBlockFromPoints(&t, &block, nullptr, &point, 1, 0);
    EXPECT_EQ(block.x, 10);
    EXPECT_EQ(block.y, 10);
    EXPECT_EQ(block.width, 10);
    EXPECT_EQ(block.height, 5);
}

TEST(PixelBlockFromPoints, CornerIsTheRotatedLowerLeftOfTheExtremes) {
    RasterTarget t = makeTarget({100, 200, 0}, 2.0, 100, 100, 90.0);
    DPoint3d corner{};
    // Pixel (3, 4) of a raster turned by 90 degrees lies at origin + R (6, 8) = origin + (-8, 6).
    DPoint3d design{100 - 8.0, 200 + 6.0, 0};
    v_pixelBlockFromPoints(&t, nullptr, &corner, &design, 1, 1);
    EXPECT_NEAR(corner.x, 92.0, 1e-9);
    EXPECT_NEAR(corner.y, 206.0, 1e-9);
}

TEST_F(CurrentTarget, BufferCoordinatesCountDownFromTheBlockTop) {
    RasterTarget t = makeTarget({0, 0, 0}, 1.0, 100, 100);
    use(t);
    const PixelBlock block{10, 20, 5, 8, 1};
    const DPoint3d design{12, 27, 0};
    DPoint2d buffer{};
    v_designToBlockPixels(&block, &buffer, &design, 1);
    EXPECT_DOUBLE_EQ(buffer.x, 2.0);
    EXPECT_DOUBLE_EQ(buffer.y, 1.0);
}

TEST_F(CurrentTarget, OutlineWithoutShearIsTheRotatedRectangle) {
    RasterTarget t = makeTarget({5, 5, 0}, 1.0, 20, 10, 90.0);
    use(t);
    v_rasterCorners();
    const DPoint3d expected[4] = {{5, 5, 0}, {5, 25, 0}, {-5, 25, 0}, {-5, 5, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(t.corners[i].x, expected[i].x, 1e-9) << i;
        EXPECT_NEAR(t.corners[i].y, expected[i].y, 1e-9) << i;
    }
}

TEST_F(CurrentTarget, OutlineCornersMapBackToPixelCorners) {
    RasterTarget t = makeTarget({-40, 70, 0}, 0.5, 200, 120, 33.0, 12.0);
    use(t);
    v_rasterCorners();
    const double expectedPx[4][2] = {{0, 0}, {200, 0}, {200, 120}, {0, 120}};
    for (int i = 0; i < 4; ++i) {
        DPoint3d pixel;
        v_designToPixel(&t, &pixel, &t.corners[i]);
        EXPECT_NEAR(pixel.x, expectedPx[i][0], 1e-6) << i;
        EXPECT_NEAR(pixel.y, expectedPx[i][1], 1e-6) << i;
    }
}

}  // namespace
