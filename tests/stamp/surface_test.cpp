// The stamp's surface without drawing: row sizes, refused depths, round trips of the buffer in both
// modes, row order, and the packed bitmap's header and colour table.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <random>

#include "stamp/bitmap.h"
#include "stamp_support.h"

using namespace stamptest;

namespace {

const int k_depths[] = {1, 4, 8, 24, 32};

// A palette of 256 triplets: entry i is (i, 255 - i, i / 2).
std::vector<std::uint8_t> rampPalette() {
    std::vector<std::uint8_t> p;
    for (int i = 0; i < 256; ++i) p.insert(p.end(), {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2)});
    return p;
}

TEST(StampSurface, RowSizesFollowTheDepthTable) {
    struct Case {
        int width, bits;
        std::uint32_t rowBytes, stride;
    };
    const Case cases[] = {{1, 1, 1, 4},   {33, 1, 5, 8},   {3, 4, 2, 4},    {9, 4, 5, 8},   {5, 8, 5, 8},
                          {3, 24, 9, 12}, {4, 24, 12, 12}, {5, 24, 15, 16}, {3, 32, 12, 12}};
    for (const Case& c : cases) {
        const BitmapSize size{c.width, 2};
        std::vector<std::uint8_t> buffer = bufferOf(size, c.bits);
        ASSERT_EQ(j_bitmapInit(buffer.data(), &size, c.bits, nullptr, 1), 0) << c.width << " at " << c.bits;
        EXPECT_EQ(pv__bitmap.rowBytes, c.rowBytes) << c.width << " at " << c.bits;
        EXPECT_EQ(pv__bitmap.stride, c.stride) << c.width << " at " << c.bits;
        v_bitmapRelease(buffer.data(), &size, 1);
    }
}

TEST(StampSurface, OtherDepthsAreRefusedWithNothingMade) {
    const BitmapSize size{8, 8};
    std::vector<std::uint8_t> buffer(8 * 8 * 4, 0x5A);
    for (int bits : {0, 2, 16, 48}) {
        const StampBitmap before = pv__bitmap;
        for (int mode : {0, 1}) {
            EXPECT_EQ(j_bitmapInit(buffer.data(), &size, bits, nullptr, mode), 1) << bits;
            EXPECT_EQ(std::memcmp(&before, &pv__bitmap, sizeof before), 0) << "record changed for depth " << bits;
        }
    }
    EXPECT_EQ(pv__bitmap.surface, nullptr);
    const BitmapSize empty{0, 4};
    EXPECT_EQ(j_bitmapInit(buffer.data(), &empty, 8, nullptr, 1), 2);
    EXPECT_EQ(pv__bitmap.surface, nullptr);
}

TEST(StampSurface, InitAndReleaseWithoutDrawingGiveTheBufferBack) {
    std::mt19937 random(7);
    const std::vector<std::uint8_t> palette = rampPalette();
    for (int bits : k_depths)
        for (int mode : {0, 1})
            for (const BitmapSize size : {BitmapSize{13, 7}, BitmapSize{1, 1}, BitmapSize{64, 3}}) {
                std::vector<std::uint8_t> buffer = bufferOf(size, bits);
                for (auto& b : buffer) b = std::uint8_t(random());
                const std::vector<std::uint8_t> original = buffer;
                ASSERT_EQ(j_bitmapInit(buffer.data(), &size, bits, palette.data(), mode), 0);
                std::fill(buffer.begin(), buffer.end(), 0);  // stale until the release
                v_bitmapRelease(buffer.data(), &size, mode);
                EXPECT_EQ(buffer, original) << bits << " bits, mode " << mode << ", width " << size.width;
                EXPECT_EQ(pv__bitmap.surface, nullptr);
            }
}

TEST(StampSurface, TopBufferRowIsTheLastSurfaceRow) {
    const BitmapSize size{5, 4};
    for (int mode : {0, 1}) {
        std::vector<std::uint8_t> buffer = bufferOf(size, 8);
        std::iota(buffer.begin(), buffer.end(), std::uint8_t(1));
        ASSERT_EQ(j_bitmapInit(buffer.data(), &size, 8, nullptr, mode), 0);
        ASSERT_EQ(pv__bitmap.stride, 8u);
        for (int r = 0; r < size.height; ++r) {
            const std::uint8_t* surfaceRow = pv__bitmap.bits + std::size_t(size.height - 1 - r) * pv__bitmap.stride;
            EXPECT_EQ(std::memcmp(surfaceRow, buffer.data() + r * 5, 5), 0) << "buffer row " << r << ", mode " << mode;
            for (int pad = 5; pad < 8; ++pad) EXPECT_EQ(surfaceRow[pad], 0) << "padding of row " << r;
        }
        v_bitmapRelease(buffer.data(), &size, mode);
    }
}

TEST(StampSurface, ExchangeModeHoldsHeaderColourTableAndRows) {
    const std::vector<std::uint8_t> palette = rampPalette();
    struct Case {
        int bits;
        bool palette;
        std::size_t entries;
    };
    for (const Case c : {Case{1, true, 2}, Case{1, false, 2}, Case{4, true, 16}, Case{8, true, 256}, Case{8, false, 0},
                         Case{4, false, 0}, Case{24, true, 0}, Case{32, false, 0}}) {
        const BitmapSize size{6, 3};
        std::vector<std::uint8_t> buffer = bufferOf(size, c.bits, 0xC3);
        ASSERT_EQ(j_bitmapInit(buffer.data(), &size, c.bits, c.palette ? palette.data() : nullptr, 0), 0);
        ASSERT_NE(pv__bitmap.surface, nullptr);
        EXPECT_EQ(pv__bitmap.memoryDC, nullptr);
        const auto* block = static_cast<const std::uint8_t*>(GlobalLock(pv__bitmap.surface));
        ASSERT_NE(block, nullptr);
        GlobalUnlock(pv__bitmap.surface);
        EXPECT_EQ(pv__bitmap.bits, block + 40 + 4 * c.entries) << c.bits << " bits";
        BITMAPINFOHEADER h;
        std::memcpy(&h, block, 40);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 6);
        EXPECT_EQ(h.biHeight, 3);
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, c.bits);
        EXPECT_EQ(h.biCompression + h.biSizeImage + h.biClrUsed + h.biClrImportant, 0u);
        EXPECT_EQ(h.biXPelsPerMeter + h.biYPelsPerMeter, 0);
        const std::uint8_t* table = block + 40;
        for (std::size_t i = 0; i < c.entries; ++i) {
            const std::uint8_t* q = table + 4 * i;
            if (c.bits == 1) {  // black and white whatever the palette
                const std::uint8_t v = i ? 255 : 0;
                EXPECT_TRUE(q[0] == v && q[1] == v && q[2] == v && q[3] == 0) << "entry " << i;
            } else {  // blue, green, red, 0 of triplet i
                EXPECT_TRUE(q[0] == palette[3 * i + 2] && q[1] == palette[3 * i + 1] && q[2] == palette[3 * i] &&
                            q[3] == 0)
                    << c.bits << " bits, entry " << i;
            }
        }
        v_bitmapRelease(buffer.data(), &size, 0);
        EXPECT_EQ(pv__bitmap.surface, nullptr);
        EXPECT_EQ(buffer, bufferOf(size, c.bits, 0xC3));
    }
}

}  // namespace
