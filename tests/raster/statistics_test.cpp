// Pixel statistics: set-bit counts, dominant values and background colours.
#include <gtest/gtest.h>

#include <vector>

#include "raster/bitmap.h"

namespace {

TEST(BlackPixel, CountsEverySetBitIncludingRowPadding) {
    const std::uint8_t bytes[] = {0xFF, 0x01};
    EXPECT_EQ(n_blackPixel(bytes, 2), 9u);
    EXPECT_EQ(n_blackPixel(bytes, 1), 8u);
    EXPECT_EQ(n_blackPixel(nullptr, 2), 0u);
    EXPECT_EQ(n_blackPixel(bytes, 0), 0u);
}

TEST(DominantValue, MoreThanHalfIsDominantATieGoesToTheLowestValue) {
    std::uint32_t histogram[256] = {};
    histogram[200] = 6;
    histogram[3] = 5;
    std::uint8_t value = 0;
    EXPECT_TRUE(b_dominantValue(histogram, &value));
    EXPECT_EQ(value, 200);
    histogram[200] = 0;
    histogram[40] = 5;
    EXPECT_FALSE(b_dominantValue(histogram, &value));  // 5 is not more than half of 10
    EXPECT_EQ(value, 3);
}

TEST(BackgroundColour, EightBitReportsTheMostFrequentIndex) {
    std::vector<std::uint8_t> bytes(100, 9);
    for (int i = 0; i < 30; ++i) bytes[i] = 4;
    std::uint8_t colour[3] = {0, 0, 0};
    EXPECT_EQ(j_getBgColor(colour, bytes.data(), 100, 8), 1);
    EXPECT_EQ(colour[0], 9);
}

TEST(BackgroundColour, OtherDepthsLeaveTheColourAlone) {
    const std::uint8_t bytes[] = {1, 2, 3};
    std::uint8_t colour[3] = {11, 12, 13};
    EXPECT_EQ(j_getBgColor(colour, bytes, 3, 1), 0);
    EXPECT_EQ(j_getBgColor(colour, nullptr, 3, 8), 0);
    EXPECT_EQ(colour[0], 11);
    EXPECT_EQ(colour[2], 13);
}

TEST(BackgroundColour, ChannelsAreDominantEachOnTheirOwn) {
    // Red is mostly 10 in pixels that have other greens; the reported colour
    // combines per-channel winners, and is dominant only if the pixels match it.
    std::vector<std::uint8_t> px;
    auto add = [&](int n, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        for (int i = 0; i < n; ++i) px.insert(px.end(), {r, g, b});
    };
    add(4, 10, 100, 50);
    add(3, 200, 20, 50);
    add(3, 10, 20, 90);
    std::uint8_t colour[3] = {};
    const int dominant = j_getBgColor(colour, px.data(), std::int32_t(px.size()), 24);
    EXPECT_EQ(colour[0], 10);
    EXPECT_EQ(colour[1], 20);
    EXPECT_EQ(colour[2], 50);
    EXPECT_EQ(dominant, 0);  // no pixel is (10, 20, 50) within 4
}

TEST(BackgroundColour, NearbyPixelsCountAsBackground) {
    std::vector<std::uint8_t> px;
    for (int i = 0; i < 6; ++i) px.insert(px.end(), {250, 250, 250});
    for (int i = 0; i < 2; ++i) px.insert(px.end(), {246, 254, 250});  // within 4 of white-ish
    for (int i = 0; i < 4; ++i) px.insert(px.end(), {0, 0, 0});
    std::uint8_t colour[3] = {};
    EXPECT_EQ(j_getBgColor(colour, px.data(), std::int32_t(px.size()), 24), 1);  // 8 of 12 pixels
    EXPECT_EQ(colour[0], 250);
}

}  // namespace
