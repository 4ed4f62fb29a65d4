// recodespeckle through its entries: counts of speckles of each size, only they removed, refusals.
#include <gtest/gtest.h>

#include <tuple>

#include "recode_fixture.h"

using recodetest::Dib;
using recodetest::Library;

namespace {

// Speckles are black: colour-table index 0, bit value 0, on white (1) paper.
constexpr int kBlack = 0;
constexpr int kWhite = 1;

class Despeckle : public ::testing::Test {
protected:
    Library library{"RECODESPECKLE.DLL"};
    recode::DespeckleInit init = library.entry<recode::DespeckleInit>("DESPECKLE_Init");
    recode::DespeckleRemovePoints remove = library.entry<recode::DespeckleRemovePoints>("DESPECKLE_RemovePoints");
    recode::DespeckleDone done = library.entry<recode::DespeckleDone>("DESPECKLE_Done");
    recode::DespeckleLastError lastError = library.entry<recode::DespeckleLastError>("DESPECKLE_LastError");
    std::int64_t session = init(nullptr, nullptr);

    void TearDown() override { EXPECT_EQ(done(session), 0); }
};

void block(Dib& dib, int x, int y, int w, int h) {
    for (int yy = y; yy < y + h; ++yy)
        for (int xx = x; xx < x + w; ++xx) dib.setPixel(xx, yy, kBlack);
}

// A white page of 301 x 157 pixels (a partial last byte) with known speckles, each in a cell of its own:
// 7 of 1 x 1, 5 of 2 x 2, 4 of 3 x 1 (across), 3 of 1 x 3 (down), 2 diagonal pairs (one 2 x 2 group
// when 8-connected), and drawing that is no speckle: a long line, a ring with a 1 x 1 speckle inside
// its box, an L whose box is 3 x 3 but not filled.
void speckledPage(Dib& dib) {
    dib.fill(0xFF);
    int cell = 0;
    auto next = [&cell]() {
        const int c = cell++;
        return std::pair{10 + (c % 12) * 20, 10 + (c / 12) * 20};
    };
    for (const auto& [w, h, n] : {std::tuple{1, 1, 7}, {2, 2, 5}, {3, 1, 4}, {1, 3, 3}})
        for (int i = 0; i < n; ++i) {
            const auto [x, y] = next();
            block(dib, x, y, w, h);
        }
    for (int i = 0; i < 2; ++i) {
        const auto [x, y] = next();
        block(dib, x, y, 1, 1);
        block(dib, x + 1, y + 1, 1, 1);
    }
    block(dib, 10, 120, 280, 2);       // a line
    for (int x = 250; x < 290; ++x) {  // a ring 40 x 30
        dib.setPixel(x, 80, kBlack);
        dib.setPixel(x, 109, kBlack);
    }
    for (int y = 80; y < 110; ++y) {
        dib.setPixel(250, y, kBlack);
        dib.setPixel(289, y, kBlack);
    }
    block(dib, 270, 95, 1, 1);  // a speckle inside the ring's box
    block(dib, 10, 140, 1, 3);  // an L, box 3 x 3
    block(dib, 11, 142, 2, 1);
}

int blackCount(const Dib& dib) {
    int n = 0;
    for (int y = 0; y < dib.height(); ++y)
        for (int x = 0; x < dib.width(); ++x) n += dib.pixel(x, y) == kBlack;
    return n;
}

}  // namespace

TEST_F(Despeckle, CountsSpecklesUpToTheGivenSizeAcrossAndDown) {
    // 1 x 1: 7 + the one in the ring; 2 x 2 adds 5 squares and 2 diagonal pairs; 3 x 1 adds the
    // 4 across; 1 x 3 the 3 down; 3 x 3 all of them and the L; 2 down of any width the line too.
    for (const auto& [across, down, expected] :
         {std::tuple{1, 1, 8}, {2, 2, 15}, {3, 1, 12}, {1, 3, 11}, {3, 2, 19}, {3, 3, 23}, {1000, 2, 20}}) {
        Dib dib(301, 157, 1, 2);
        speckledPage(dib);
        EXPECT_EQ(remove(session, dib.handle(), across, down), expected) << across << " x " << down;
    }
}

TEST_F(Despeckle, RemovesTheSpecklesAndNothingElse) {
    Dib dib(301, 157, 1, 2);
    speckledPage(dib);
    Dib clean(301, 157, 1, 2);
    speckledPage(clean);
    // What should stay: everything but the speckles of up to 2 x 2.
    const int before = blackCount(dib);
    ASSERT_EQ(remove(session, dib.handle(), 2, 2), 15);
    EXPECT_EQ(blackCount(dib), before - (7 + 1 + 5 * 4 + 2 * 2));
    for (int y = 0; y < dib.height(); ++y)
        for (int x = 0; x < dib.width(); ++x)
            if (dib.pixel(x, y) != clean.pixel(x, y)) ASSERT_EQ(dib.pixel(x, y), kWhite) << x << "," << y;
    EXPECT_EQ(dib.pixel(10, 120), kBlack);  // the line
    EXPECT_EQ(dib.pixel(250, 95), kBlack);  // the ring
    EXPECT_EQ(dib.pixel(270, 95), kWhite);  // the speckle inside it
    // Padding bits beyond the width stay as they were (set).
    EXPECT_EQ(dib.row(0)[dib.rowBytes() - 1] & 0x07, 0x07);
    // A second pass finds nothing more of that size.
    EXPECT_EQ(remove(session, dib.handle(), 2, 2), 0);
    EXPECT_STREQ(lastError(session), "");

    // A line that ends in the empty corner of an L-shaped speckle's box, touching it nowhere: the
    // speckle goes, the line stays whole.
    Dib corner(40, 40, 1, 2);
    corner.fill(0xFF);
    block(corner, 10, 20, 1, 3);
    block(corner, 11, 22, 2, 1);
    block(corner, 12, 2, 1, 19);  // ends at 12, 20: the L's box is 10..12 x 20..22
    ASSERT_EQ(remove(session, corner.handle(), 3, 3), 1);
    EXPECT_EQ(blackCount(corner), 19);
    EXPECT_EQ(corner.pixel(12, 20), kBlack);
}

TEST_F(Despeckle, TinyAndBadInputAreHandledWithoutACrash) {
    Dib one(1, 1, 1, 2);
    one.fill(0x00);  // one black pixel
    EXPECT_EQ(remove(session, one.handle(), 1, 1), 1);
    EXPECT_EQ(one.pixel(0, 0), kWhite);

    Dib grey(40, 40, 8, 0);
    EXPECT_EQ(remove(session, grey.handle(), 1, 1), recode::kSpeckleRefused);
    EXPECT_NE(std::string(lastError(session)).find("1-bit"), std::string::npos) << lastError(session);

    Dib page(40, 40, 1, 2);
    page.fill(0xFF);
    EXPECT_EQ(remove(session, page.handle(), 0, 1), recode::kSpeckleRefused);
    EXPECT_EQ(remove(session, page.handle(), 1, -5), recode::kSpeckleRefused);

    BITMAPINFOHEADER h{40, 0, 10, 1, 1, BI_RGB, 0, 0, 0, 0, 0};
    Dib empty(h, 8, 0);
    EXPECT_EQ(remove(session, empty.handle(), 1, 1), recode::kSpeckleRefused);
    h.biWidth = 10;
    h.biHeight = -10;  // top-down rows
    Dib topDown(h, 8, 40);
    EXPECT_EQ(remove(session, topDown.handle(), 1, 1), recode::kSpeckleRefused);
    h.biHeight = 10;
    Dib noTable(h, 0, 40);
    EXPECT_EQ(remove(session, noTable.handle(), 1, 1), recode::kSpeckleRefused);
    EXPECT_NE(std::string(lastError(session)).find("colour table"), std::string::npos) << lastError(session);

    EXPECT_EQ(remove(session + 8, page.handle(), 1, 1), recode::kSpeckleRefused);
    EXPECT_EQ(remove(session, nullptr, 1, 1), recode::kSpeckleRefused);
}
