// recodeskew through its entries: detection on pages turned by known angles, the direction of the
// correction, the untouched round trip of every depth, uncovered area as zero bytes, and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>

#include "recode_fixture.h"

using recodetest::Dib;
using recodetest::Library;

namespace {

constexpr int kPageWidth = 2400;
constexpr int kPageHeight = 1800;

class Deskew : public ::testing::Test {
protected:
    Library library{"RECODESKEW.DLL"};
    recode::DeskewInit init = library.entry<recode::DeskewInit>("DESKEW_Init");
    recode::DeskewDetect detectEntry = library.entry<recode::DeskewDetect>("DESKEW_Detect");
    recode::DeskewCorrect correctEntry = library.entry<recode::DeskewCorrect>("DESKEW_Correct");
    recode::DeskewDone done = library.entry<recode::DeskewDone>("DESKEW_Done");
    recode::DeskewLastError lastError = library.entry<recode::DeskewLastError>("DESKEW_LastError");
    std::int64_t session = init("PixelMend", "");

    void TearDown() override { EXPECT_EQ(done(session), 0); }
    // What the add-on asks: the skew within 10 degrees to 0.1.
    double detect(const Dib& dib) { return detectEntry(session, dib.handle(), 10.0, 0.1, -1, 0); }
    std::int64_t correct(const Dib& dib, double angle) { return correctEntry(session, dib.handle(), angle, 0, 0, 0); }
};

// Copies a 1-bit page into dib of 4 or more bits: ink and paper become the given values.
void paint(const Dib& page, Dib& dib, int ink, int paper) {
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) dib.setPixel(x, y, page.pixel(x, y) ? ink : paper);
}

// The number of pixels a turn by degrees about the centre leaves without a source pixel: by the
// inverse mapping of each pixel's centre.
long uncoveredByGeometry(int w, int h, double degrees) {
    const double a = degrees * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    const double cx = w / 2.0, cy = h / 2.0;
    long count = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            const double sx = cx + c * dx + s * dy, sy = cy - s * dx + c * dy;
            count += sx < 0 || sx >= w || sy < 0 || sy >= h;
        }
    return count;
}

}  // namespace

TEST_F(Deskew, DetectsPagesTurnedByKnownAnglesWithinATenthOfADegree) {
    Dib page(kPageWidth, kPageHeight, 1, 2);
    for (const double turned : {-10.0, -7.3, -4.5, -2.2, -1.0, -0.4, 0.3, 0.8, 1.7, 3.1, 5.6, 8.4, 10.0}) {
        recodetest::drawTurnedPage(page, turned);
        const double found = detect(page);
        EXPECT_NEAR(found, turned, 0.1) << "page turned by " << turned << " degrees";
        const double fine = detectEntry(session, page.handle(), 10.0, 0.001, -1, 0);
        std::printf("turned %6.2f  detected %6.2f (to 0.001: %7.3f)  error %.3f\n", turned, found, fine,
                    std::fabs(fine - turned));
    }
    recodetest::drawTurnedPage(page, 0);
    EXPECT_EQ(detect(page), 0.0) << "an unturned page needs no correction";
    recodetest::drawTurnedPage(page, 0.03);
    EXPECT_EQ(detect(page), 0.0) << "a skew that rounds to 0 needs no correction";
    recodetest::drawTurnedPage(page, 11.5);
    EXPECT_EQ(detect(page), 0.0) << "a skew beyond the largest angle is not proposed";
    EXPECT_STREQ(lastError(session), "");
}

TEST_F(Deskew, FindsTheInkOfNegativeGreyPaletteAndColourPages) {
    Dib page(kPageWidth, kPageHeight, 1, 2);
    recodetest::drawTurnedPage(page, 2.4, true);
    EXPECT_NEAR(detect(page), 2.4, 0.1) << "negative 1-bit page";
    recodetest::drawTurnedPage(page, -3.6);

    Dib grey(kPageWidth, kPageHeight, 8, 0);
    paint(page, grey, 40, 210);
    EXPECT_NEAR(detect(grey), -3.6, 0.1) << "grey page";
    paint(page, grey, 230, 20);
    EXPECT_NEAR(detect(grey), -3.6, 0.1) << "negative grey page";

    Dib palette(kPageWidth, kPageHeight, 8, 256);  // grey ramp: index 250 is paper, 3 is ink
    paint(page, palette, 3, 250);
    EXPECT_NEAR(detect(palette), -3.6, 0.1) << "palette page";

    Dib colour(kPageWidth, kPageHeight, 24, 0);
    paint(page, colour, 60, 240);
    EXPECT_NEAR(detect(colour), -3.6, 0.1) << "colour page";

    Dib levels(kPageWidth, kPageHeight, 4, 0);
    paint(page, levels, 1, 14);
    EXPECT_NEAR(detect(levels), -3.6, 0.1) << "16-level page";
}

TEST_F(Deskew, CorrectionTurnsClockwiseForAPositiveAngleAndStraightensWhatWasDetected) {
    // A horizontal line across the middle: after +5 degrees its right end shows lower than its left.
    Dib line(400, 200, 1, 2);
    for (int x = 50; x < 350; ++x)
        for (int y = 99; y < 102; ++y) line.setPixel(x, y, 1);
    ASSERT_EQ(correct(line, 5.0), 0);
    auto inkRow = [&](int x) {
        for (int y = 0; y < line.height(); ++y)
            if (line.pixel(x, y)) return y;
        return -1;
    };
    ASSERT_GE(inkRow(80), 0);
    ASSERT_GE(inkRow(320), 0);
    EXPECT_NEAR(inkRow(320) - inkRow(80), 240 * std::tan(5.0 * std::numbers::pi / 180), 3.0);

    // Detection and correction share one convention: a corrected page measures straight.
    Dib page(kPageWidth, kPageHeight, 1, 2);
    recodetest::drawTurnedPage(page, 4.2);
    const double found = detect(page);
    ASSERT_NEAR(found, 4.2, 0.1);
    ASSERT_EQ(correct(page, found), 0);
    EXPECT_EQ(detect(page), 0.0);
}

TEST_F(Deskew, EveryDepthComesBackUnchangedFromATurnTooSmallToMove) {
    std::mt19937 random(7);
    for (const auto& [depth, table] : {std::pair{1, 2}, {4, 16}, {4, 0}, {8, 256}, {8, 0}, {24, 0}, {32, 0}}) {
        Dib dib(37, 23, depth, table);  // odd sizes: partial bytes and row padding
        for (int y = 0; y < dib.height(); ++y)
            for (std::size_t i = 0; i < dib.rowBytes(); ++i) dib.row(y)[i] = std::uint8_t(random());
        const auto before = dib.bytes();
        ASSERT_EQ(correct(dib, 0.01), 0) << depth << " bits, " << table << " entries: " << lastError(session);
        EXPECT_EQ(dib.bytes(), before) << depth << " bits, " << table << " entries";
    }
}

TEST_F(Deskew, ThirtyTwoBitPagesKeepTheirFourthByteThroughATurn) {
    // Every byte of a covered pixel stays (a uniform page); an uncovered one is four zero bytes.
    const std::uint8_t pixel[4] = {10, 20, 30, 200};
    for (const double angle : {6.5, -9.5}) {
        Dib dib(300, 200, 32, 0);
        for (int y = 0; y < dib.height(); ++y)
            for (int x = 0; x < dib.width(); ++x) std::memcpy(dib.row(y) + x * 4, pixel, 4);
        ASSERT_EQ(correct(dib, angle), 0) << lastError(session);
        long kept = 0, zero = 0, other = 0;
        for (int y = 0; y < dib.height(); ++y)
            for (int x = 0; x < dib.width(); ++x) {
                const std::uint8_t* p = dib.row(y) + x * 4;
                const bool isKept = std::memcmp(p, pixel, 4) == 0, isZero = !(p[0] | p[1] | p[2] | p[3]);
                kept += isKept, zero += isZero, other += !isKept && !isZero;
            }
        EXPECT_EQ(other, 0) << angle;
        EXPECT_GT(kept, 50000) << angle;
        const long expected = uncoveredByGeometry(300, 200, angle);
        EXPECT_NEAR(double(zero), double(expected), 0.1 * double(expected)) << angle;
    }
}

TEST_F(Deskew, AreaTheTurnUncoversComesBackAsZeroBytesAndTheRestUntouched) {
    constexpr double kAngle = 6.5;
    const int w = 300, h = 200;
    const long expected = uncoveredByGeometry(w, h, kAngle);
    // Every depth uncovers the same pixels (palette first: its indices are moved by sampling).
    std::vector<bool> firstUncovered;
    for (const auto& [depth, table] : {std::pair{8, 256}, {8, 0}, {24, 0}, {4, 16}, {1, 2}}) {
        Dib mask(w, h, depth, table);
        for (int y = 0; y < h; ++y) std::memset(mask.row(y), 0xFF, mask.rowBytes());
        ASSERT_EQ(correct(mask, kAngle), 0) << depth << " bits";
        const int full = depth == 1 ? 1 : depth == 4 ? 15 : 255;
        long zero = 0, other = 0, differing = 0;
        std::vector<bool> uncovered;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int v = mask.pixel(x, y);
                uncovered.push_back(v == 0);
                zero += v == 0;
                other += v != 0 && v != full;
                if (depth >= 24) {
                    const std::uint8_t* p = mask.row(y) + x * 3;
                    other += !(p[0] == p[1] && p[1] == p[2]);
                }
                if (!firstUncovered.empty()) differing += uncovered.back() != firstUncovered[uncovered.size() - 1];
            }
        if (firstUncovered.empty()) firstUncovered = uncovered;
        EXPECT_EQ(other, 0) << depth << " bits: every pixel is either uncovered (0) or untouched";
        EXPECT_EQ(mask.pixel(0, 0), 0) << depth << " bits";
        EXPECT_EQ(mask.pixel(w - 1, h - 1), 0) << depth << " bits";
        EXPECT_EQ(mask.pixel(w / 2, h / 2), full) << depth << " bits";
        EXPECT_NEAR(double(zero), double(expected), 0.1 * expected) << depth << " bits";
        // 1 bit is turned by shear, the others by sampling or area mapping: the same corners.
        EXPECT_LE(differing, depth == 1 ? (w + h) / 10 : 0) << depth << " bits";
    }
}

TEST_F(Deskew, BadInputIsRefusedWithAReasonAndLeftAsItIs) {
    Dib ok(64, 64, 8, 0);
    ok.fill(200);
    const auto before = ok.bytes();
    for (const double angle :
         {46.0, -1000.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(correct(ok, angle), -1) << angle;
        EXPECT_NE(std::string(lastError(session)).find("angle"), std::string::npos) << angle;
    }
    EXPECT_EQ(ok.bytes(), before);
    EXPECT_EQ(detectEntry(session, ok.handle(), 0.0, 0.1, -1, 0), 0.0);
    EXPECT_EQ(detectEntry(session, ok.handle(), 10.0, -0.1, -1, 0), 0.0);
    EXPECT_NE(std::string(lastError(session)).find("precision"), std::string::npos);

    BITMAPINFOHEADER h{40, 64, 64, 1, 16, BI_RGB, 0, 0, 0, 0, 0};
    Dib sixteen(h, 0, 128 * 64);
    EXPECT_EQ(correct(sixteen, 2.0), -1);
    EXPECT_NE(std::string(lastError(session)).find("16 bits per pixel"), std::string::npos) << lastError(session);
    EXPECT_EQ(detect(sixteen), 0.0);

    h.biBitCount = 8;
    h.biWidth = 0;
    Dib empty(h, 0, 0);
    EXPECT_EQ(correct(empty, 2.0), -1);
    EXPECT_NE(std::string(lastError(session)).find("empty"), std::string::npos) << lastError(session);

    h.biWidth = 64;
    h.biHeight = 64;
    Dib cut(h, 0, 64 * 10);  // rows claimed beyond the block
    EXPECT_EQ(correct(cut, 2.0), -1);
    EXPECT_NE(std::string(lastError(session)).find("do not fit"), std::string::npos) << lastError(session);

    Dib one(1, 1, 1, 2);
    EXPECT_EQ(correct(one, 2.0), -1);
    EXPECT_NE(std::string(lastError(session)).find("too small"), std::string::npos) << lastError(session);
    EXPECT_EQ(detect(one), 0.0);

    int notABlock = 0;
    EXPECT_EQ(correctEntry(session, &notABlock, 2.0, 0, 0, 0), -1);
    EXPECT_EQ(correctEntry(session + 1, ok.handle(), 2.0, 0, 0, 0), -1);
    EXPECT_EQ(done(session + 1), -1);

    ASSERT_EQ(correct(ok, 2.0), 0);  // a good call clears the reason
    EXPECT_STREQ(lastError(session), "");
}
