// Drawing on the stamp's surface, measured in the pixels of the released buffer: dash patterns, pen
// widths, filled polygons with their outline, regions with holes, colours at every depth.
#include <gtest/gtest.h>

#include <vector>

#include "stamp/bitmap.h"
#include "stamp_support.h"

using namespace stamptest;

namespace {

// A surface of size at bitsPerPixel (palette or none) over a zeroed buffer, released into buffer at the end.
class Surface {
public:
    Surface(BitmapSize size, int bitsPerPixel, const std::uint8_t* palette = nullptr)
        : size_(size), buffer(bufferOf(size, bitsPerPixel)) {
        ok = j_bitmapInit(buffer.data(), &size_, bitsPerPixel, palette, 1) == 0;
    }
    // Releases the surface into buffer.
    std::vector<std::uint8_t>& released() {
        if (ok) v_bitmapRelease(buffer.data(), &size_, 1);
        ok = false;
        return buffer;
    }
    ~Surface() { released(); }

    bool ok = false;

private:
    BitmapSize size_;

public:
    std::vector<std::uint8_t> buffer;
};

StampSymbology dashed(std::uint32_t width, std::vector<std::uint32_t> dashes) {
    StampSymbology s = solid(width);
    for (std::size_t i = 0; i < dashes.size(); ++i) s.dashes[i] = dashes[i];
    s.dashCount = std::uint32_t(dashes.size());
    return s;
}

TEST(StampDrawing, DashPatternsRepeatInPixels) {
    const BitmapSize size{120, 6};
    Surface surface(size, 1);
    ASSERT_TRUE(surface.ok);
    const POINT line[] = {{2, 2}, {110, 2}};
    const StampSymbology style6 = dashed(1, {7, 4, 1, 4, 1, 4});
    v_stampDrawLineString(line, 2, &style6);
    const auto& buffer = surface.released();
    const std::vector<int> runs = runsOfRow(buffer, size.width, 2, 2, 2 + 3 * 21);
    EXPECT_EQ(runs, (std::vector<int>{7, 4, 1, 4, 1, 4, 7, 4, 1, 4, 1, 4, 7, 4, 1, 4, 1, 4}));
    EXPECT_EQ(pixel(buffer, size.width, 1, 1, 2), 0u) << "the line starts at its first point";
    EXPECT_EQ(pixel(buffer, size.width, 1, 109, 2), 1u) << "inside the dash 7 of the sixth period";
    EXPECT_EQ(pixel(buffer, size.width, 1, 110, 2), 0u) << "flat end: the last point is not drawn";
    for (int y : {1, 3}) EXPECT_EQ(runsOfRow(buffer, size.width, y, 0, size.width), std::vector<int>({0, size.width}));
}

TEST(StampDrawing, OneDashEntryDrawsSolid) {
    const BitmapSize size{40, 4};
    Surface surface(size, 1);
    const POINT line[] = {{3, 1}, {33, 1}};
    const StampSymbology one = dashed(1, {5});
    v_stampDrawLineString(line, 2, &one);
    EXPECT_EQ(runsOfRow(surface.released(), size.width, 1, 3, 40), (std::vector<int>{30, 7}));
}

TEST(StampDrawing, PenWidthsInPixels) {
    const BitmapSize size{80, 80};
    for (std::uint32_t width : {0u, 1u, 2u, 7u, 32u}) {
        Surface surface(size, 1);
        const POINT horizontal[] = {{10, 40}, {30, 40}};
        const POINT vertical[] = {{60, 10}, {60, 70}};
        const StampSymbology pen = solid(width);
        v_stampDrawLineString(horizontal, 2, &pen);
        v_stampDrawLineString(vertical, 2, &pen);
        const auto& buffer = surface.released();
        const int expected = width == 0 ? 1 : int(width);
        EXPECT_EQ(setInColumn(buffer, size, 20), expected) << "horizontal line of width " << width;
        const std::vector<int> across = runsOfRow(buffer, size.width, 40, 40, 80);  // clear, set, clear
        ASSERT_GE(across.size(), 4u);
        EXPECT_EQ(across[2], expected) << "vertical line of width " << width;
        EXPECT_EQ(runsOfRow(buffer, size.width, 40, 10, 40)[0], 20) << "flat ends, width " << width;
    }
}

TEST(StampDrawing, PolygonIsFilledThenOutlined) {
    std::vector<std::uint8_t> palette(256 * 3, 0);
    const auto setEntry = [&](int i, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        palette[3 * i] = r, palette[3 * i + 1] = g, palette[3 * i + 2] = b;
    };
    setEntry(3, 0, 200, 0);    // outline
    setEntry(5, 200, 200, 0);  // fill
    setEntry(9, 0, 0, 90);     // background
    const BitmapSize size{50, 50};
    const POINT square[] = {{10, 10}, {30, 10}, {30, 30}, {10, 30}};
    for (int fillFlag : {1, 0}) {
        Surface surface(size, 8, palette.data());
        StampSymbology s = solid(1, 0, 200, 0);
        s.fillColor[0] = 200, s.fillColor[1] = 200;
        s.backColor[2] = 90;
        s.fillFlag = fillFlag;
        v_stampDrawPolygon(square, 4, &s);
        const auto& buffer = surface.released();
        EXPECT_EQ(pixel(buffer, 50, 8, 20, 20), fillFlag ? 5u : 9u) << "inside, fillFlag " << fillFlag;
        for (const POINT p : {POINT{10, 20}, POINT{30, 20}, POINT{20, 10}, POINT{20, 30}, POINT{30, 30}})
            EXPECT_EQ(pixel(buffer, 50, 8, p.x, p.y), 3u) << "outline at " << p.x << "," << p.y;
        EXPECT_EQ(pixel(buffer, 50, 8, 31, 20), 0u);
        EXPECT_EQ(pixel(buffer, 50, 8, 5, 5), 0u);
    }
}

TEST(StampDrawing, RegionsFillExceptHolesAndJoinSolids) {
    const BitmapSize size{100, 100};
    const StampSymbology pen = solid(1);
    StampSymbology fill = solid(1);
    fill.fillColor[0] = fill.fillColor[1] = fill.fillColor[2] = 255;
    const POINT outer[] = {{0, 0}, {40, 0}, {40, 40}, {0, 40}, {0, 0}};
    const POINT hole[] = {{10, 10}, {30, 10}, {30, 30}, {10, 30}, {10, 10}};
    const POINT overlapping[] = {{30, 30}, {60, 30}, {60, 60}, {30, 60}, {30, 30}};
    Surface surface(size, 1);
    v_stampCreateRegion(outer, 5, &pen, 0);
    v_stampCreateRegion(hole, 5, &pen, 1);
    v_stampCreateRegion(overlapping, 5, &pen, 0);
    v_stampDrawRegions(&fill);
    v_stampDrawRegions(&fill);  // the table was emptied: nothing more
    const auto& buffer = surface.released();
    EXPECT_EQ(pixel(buffer, 100, 1, 5, 5), 1u) << "base filled";
    EXPECT_EQ(pixel(buffer, 100, 1, 20, 20), 0u) << "hole left out";
    EXPECT_EQ(pixel(buffer, 100, 1, 10, 20), 1u) << "hole outlined";
    EXPECT_EQ(pixel(buffer, 100, 1, 35, 35), 1u) << "overlap of two solids filled";
    EXPECT_EQ(pixel(buffer, 100, 1, 50, 50), 1u) << "second solid filled";
    EXPECT_EQ(pixel(buffer, 100, 1, 70, 70), 0u);
}

// A 1-bit surface fills regions straight onto its bits; an 8-bit one through a mask of their parts joined in
// order. Both must give the same pixels, whatever the parts: holes reaching out of the base or over each
// other, a base crossing itself, solids joined to the base, holes after solids.
TEST(StampDrawing, RegionsFillTheSamePixelsAtOneBitAsThroughAMask) {
    const BitmapSize size{90, 90};
    const StampSymbology pen = solid(1);
    StampSymbology fill = solid(1);
    fill.fillColor[0] = fill.fillColor[1] = fill.fillColor[2] = 255;
    struct Part {
        std::vector<POINT> points;
        int hole;
    };
    const std::vector<POINT> base = {{5, 5}, {60, 5}, {60, 60}, {5, 60}, {5, 5}};
    const std::vector<POINT> bow = {{5, 5}, {60, 60}, {60, 5}, {5, 60}, {5, 5}};
    const std::vector<POINT> holeA = {{15, 15}, {35, 15}, {35, 35}, {15, 35}, {15, 15}};
    const std::vector<POINT> holeB = {{25, 25}, {75, 25}, {75, 45}, {25, 45}, {25, 25}};
    const std::vector<POINT> solid2 = {{50, 50}, {85, 50}, {85, 85}, {50, 85}, {50, 50}};
    const std::vector<std::vector<Part>> cases = {
        {{base, 0}, {holeA, 1}},  {{base, 0}, {holeA, 1}, {holeB, 1}},  {{bow, 0}, {holeA, 1}},
        {{base, 0}, {solid2, 0}}, {{base, 0}, {solid2, 0}, {holeB, 1}}, {{base, 0}, {holeB, 1}, {solid2, 0}},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE("case " + std::to_string(c));
        const auto draw = [&](int bits) {
            Surface surface(size, bits);
            EXPECT_TRUE(surface.ok);
            for (const Part& part : cases[c])
                v_stampCreateRegion(part.points.data(), int(part.points.size()), &pen, part.hole);
            v_stampDrawRegions(&fill);
            return surface.released();
        };
        const std::vector<std::uint8_t> mono = draw(1), grey = draw(8);
        int set = 0;
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x) {
                const bool inMono = pixel(mono, size.width, 1, x, y) != 0,
                           inGrey = pixel(grey, size.width, 8, x, y) != 0;
                set += inMono;
                ASSERT_EQ(inMono, inGrey) << "pixel " << x << "," << y;
            }
        EXPECT_GT(set, 500);
    }
}

TEST(StampDrawing, RegionsBeyondTheTableAreOutlinedOnly) {
    const BitmapSize size{100, 100};
    const StampSymbology pen = solid(1);
    StampSymbology fill = solid(1);
    fill.fillColor[0] = fill.fillColor[1] = fill.fillColor[2] = 255;
    const POINT base[] = {{0, 0}, {40, 0}, {40, 40}, {0, 40}, {0, 0}};
    const POINT dot[] = {{90, 90}, {91, 90}, {91, 91}, {90, 90}};
    const POINT late[] = {{50, 50}, {80, 50}, {80, 80}, {50, 80}, {50, 50}};
    Surface surface(size, 1);
    v_stampCreateRegion(base, 5, &pen, 0);
    for (int i = 1; i < k_stampRegionCapacity; ++i) v_stampCreateRegion(dot, 4, &pen, 0);
    v_stampCreateRegion(late, 5, &pen, 0);
    v_stampDrawRegions(&fill);
    const auto& buffer = surface.released();
    EXPECT_EQ(pixel(buffer, 100, 1, 20, 20), 1u) << "the table's regions are filled";
    EXPECT_EQ(pixel(buffer, 100, 1, 50, 65), 1u) << "the 101st outline is drawn";
    EXPECT_EQ(pixel(buffer, 100, 1, 65, 65), 0u) << "but not filled";
}

TEST(StampDrawing, TrueColourBytesComeRedFirst) {
    for (int bits : {24, 32}) {
        const BitmapSize size{10, 10};
        Surface surface(size, bits);
        const POINT line[] = {{1, 4}, {8, 4}};
        const StampSymbology pen = solid(1, 200, 100, 50);
        v_stampDrawLineString(line, 2, &pen);
        const auto& buffer = surface.released();
        const std::uint8_t* p = buffer.data() + rowBytesOf(10, bits) * 4 + 3 * (bits / 8);
        EXPECT_EQ(p[0], 200) << bits;
        EXPECT_EQ(p[1], 100) << bits;
        EXPECT_EQ(p[2], 50) << bits;
        EXPECT_EQ(pixel(buffer, 10, bits, 3, 5), 0u);
    }
}

TEST(StampDrawing, PaletteSurfacesGetTheNearestIndex) {
    for (int bits : {4, 8}) {
        std::vector<std::uint8_t> palette(256 * 3, 0);
        const std::uint8_t entries[][3] = {{0, 0, 0}, {250, 0, 0}, {0, 0, 250}, {0, 250, 0}, {128, 128, 128}};
        for (int i = 0; i < 5; ++i)
            for (int k = 0; k < 3; ++k) palette[3 * (i + 6) + k] = entries[i][k];
        const BitmapSize size{20, 12};
        Surface surface(size, bits, palette.data());
        const POINT red[] = {{1, 2}, {18, 2}};
        const POINT blue[] = {{1, 5}, {18, 5}};
        const POINT grey[] = {{1, 8}, {18, 8}};
        StampSymbology pen = solid(1, 255, 10, 10);
        v_stampDrawLineString(red, 2, &pen);
        pen = solid(1, 20, 0, 240);
        v_stampDrawLineString(blue, 2, &pen);
        pen = solid(1, 140, 120, 130);
        v_stampDrawLineString(grey, 2, &pen);
        const auto& buffer = surface.released();
        EXPECT_EQ(pixel(buffer, 20, bits, 5, 2), 7u) << bits << " bits: red";
        EXPECT_EQ(pixel(buffer, 20, bits, 5, 5), 8u) << bits << " bits: blue";
        EXPECT_EQ(pixel(buffer, 20, bits, 5, 8), 10u) << bits << " bits: grey";
        EXPECT_EQ(pixel(buffer, 20, bits, 5, 3), 0u);
    }
}

TEST(StampDrawing, GreySurfaceWithoutPaletteTakesTheNearestGrey) {
    const BitmapSize size{10, 4};
    Surface surface(size, 8);
    const POINT line[] = {{1, 1}, {8, 1}};
    const StampSymbology pen = solid(1, 100, 100, 100);
    v_stampDrawLineString(line, 2, &pen);
    EXPECT_EQ(pixel(surface.released(), 10, 8, 4, 1), 100u);
}

TEST(StampDrawing, TheWhiteTestLineIsTwoPixelsWide) {
    const BitmapSize size{16, 8};
    Surface surface(size, 1);
    const POINT from{2, 3}, to{12, 3};
    v_stampDrawLine(&from, &to);
    const auto& buffer = surface.released();
    for (int x : {4, 6, 10}) EXPECT_EQ(setInColumn(buffer, size, x), 2) << x;
    for (int y : {2, 3}) EXPECT_EQ(pixel(buffer, 16, 1, 7, y), 1u) << y;
    EXPECT_EQ(setInColumn(buffer, size, 15), 0);
}

TEST(StampDrawing, NothingIsDrawnWithoutASurface) {
    const POINT line[] = {{1, 1}, {8, 1}};
    const StampSymbology pen = solid(1);
    v_stampDrawLineString(line, 2, &pen);
    v_stampDrawPolygon(line, 2, &pen);
    v_stampCreateRegion(line, 2, &pen, 0);
    v_stampDrawRegions(&pen);
    EXPECT_EQ(pv__bitmap.surface, nullptr);
}

}  // namespace
