// The write-back of an edited G4 TIFF that re-codes only the changed rows: for edits anywhere
// (first and last rows, blocks at the top, middle and bottom, whole rows, several blocks, rows
// no coder likes) and strips of any height, the file libtiff reads back holds exactly the
// edited pixels and is byte for byte the file a whole re-encode writes; the whole re-encode is
// chosen when it costs less.
#include <functional>

#include "g4_fixture.h"

namespace {

using namespace g4_test;

// One edit: what it does to the rows, and the rows it says it changed.
struct Edit {
    const char* name;
    std::function<void(Bits&, g4::RowSpans&)> apply;
};

// Takes rows, a box and whether to ink it, applies it and notes its rows.
void editBox(Bits& b, g4::RowSpans& changed, int x0, int y0, int x1, int y1, bool ink) {
    b.box(x0, y0, x1, y1, ink);
    changed.add(std::max(y0, 0), std::min(y1, b.height) - 1);
}

std::vector<Edit> edits(int w, int h) {
    return {
        {"first row", [=](Bits& b, g4::RowSpans& c) { editBox(b, c, 10, 0, 200, 1, true); }},
        {"last row", [=](Bits& b, g4::RowSpans& c) { editBox(b, c, 0, h - 1, w, h, false); }},
        {"one row in the middle",
         [=](Bits& b, g4::RowSpans& c) { editBox(b, c, w / 3, h / 2, w / 2, h / 2 + 1, true); }},
        {"block at the top", [=](Bits& b, g4::RowSpans& c) { editBox(b, c, 0, 0, w / 2, 40, false); }},
        {"block in the middle (a delete)",
         [=](Bits& b, g4::RowSpans& c) { editBox(b, c, w / 3, h / 3, w * 2 / 3, h * 2 / 3, false); }},
        {"block at the bottom", [=](Bits& b, g4::RowSpans& c) { editBox(b, c, w / 2, h - 30, w, h, true); }},
        {"whole-width rows", [=](Bits& b, g4::RowSpans& c) { editBox(b, c, 0, 100, w, 103, true); }},
        {"several blocks",
         [=](Bits& b, g4::RowSpans& c) {
             editBox(b, c, 5, 20, 60, 25, true);
             editBox(b, c, w - 90, 21, w - 3, 33, false);  // overlaps the first span's rows
             editBox(b, c, 100, h / 2 - 1, 300, h / 2 + 1, true);
             editBox(b, c, 0, h - 2, 3, h, false);
         }},
        {"alternating pixels, all black, all white",
         [=](Bits& b, g4::RowSpans& c) {
             for (int x = 0; x < w; x += 2) b.set(x, 60), b.set(x + 1, 60, false);
             c.add(60, 60);
             editBox(b, c, 0, 61, w, 62, true);
             editBox(b, c, 0, 62, w, 64, false);
         }},
        {"nothing but the span said", [=](Bits&, g4::RowSpans& c) { c.add(h / 4, h / 4 + 5); }},
    };
}

TEST(G4Splice, EditsAnywhereWriteTheWholeReencodeByteForByte) {
    ScratchDir dir;
    const int w = 2600, h = 400;
    const Bits original = drawing(w, h, 11);
    for (std::uint32_t rps : {0u, 64u, 7u, 1u}) {
        for (const Edit& edit : edits(w, h)) {
            SCOPED_TRACE(std::string(edit.name) + ", rows per strip " + std::to_string(rps));
            const std::string file = dir.path("edited.tif"), whole = dir.path("whole.tif");
            writeLibtiffG4(file, original, FileSettings{rps});
            ImageResult read = readImage(file);
            ASSERT_TRUE(read.ok) << read.error;
            ASSERT_NE(read.image.g4Code, nullptr);
            Bits edited = original;
            g4::RowSpans changed;
            edit.apply(edited, changed);
            std::memcpy(read.image.pixels.data(), edited.data.data(), edited.data.size());

            Image again = read.image;
            again.g4Code = nullptr;
            ASSERT_EQ(writeImageEdited(whole, again, nullptr).status, kStatusOk);
            const WriteStatus status = writeImageEdited(file, read.image, &changed);
            ASSERT_EQ(status.status, kStatusOk) << status.error;
            EXPECT_TRUE(status.spliced);
            EXPECT_EQ(fileBytes(file), fileBytes(whole)) << "the same file as a whole re-encode";
            const LibtiffView back = libtiffRead(file);
            ASSERT_TRUE(back.ok);
            EXPECT_EQ(back.pixels, edited.data);
            EXPECT_EQ(back.description, "sheet 7 of 9");

            // A second edit splices the code the first one wrote.
            g4::RowSpans more;
            editBox(edited, more, 0, h / 2 + 3, w / 5, h / 2 + 9, true);
            std::memcpy(read.image.pixels.data(), edited.data.data(), edited.data.size());
            std::memcpy(again.pixels.data(), edited.data.data(), edited.data.size());
            again.g4Code = nullptr;
            ASSERT_EQ(writeImageEdited(whole, again, nullptr).status, kStatusOk);
            ASSERT_EQ(writeImageEdited(file, read.image, &more).status, kStatusOk);
            EXPECT_EQ(fileBytes(file), fileBytes(whole));
            EXPECT_EQ(libtiffRead(file).pixels, edited.data);
        }
    }
}

TEST(G4Splice, TheWholeReencodeIsChosenWhenItCostsLess) {
    ScratchDir dir;
    const int w = 3000, h = 600;
    const Bits original = drawing(w, h, 12);
    const std::string file = dir.path("spread.tif");
    writeLibtiffG4(file, original);
    ImageResult read = readImage(file);
    ASSERT_TRUE(read.ok) << read.error;
    const g4::ImageCode& code = *read.image.g4Code;

    g4::RowSpans few, most;
    few.add(100, 110);
    for (int y = 0; y < h; y += 2) most.add(y, y);  // every other row: every row re-coded
    const g4::SpliceCost small = g4::estimateSplice(code, w, h, static_cast<std::uint32_t>(h), few);
    const g4::SpliceCost spread = g4::estimateSplice(code, w, h, static_cast<std::uint32_t>(h), most);
    ASSERT_TRUE(small.possible && spread.possible);
    EXPECT_EQ(small.recodedRows, 12);
    EXPECT_EQ(spread.recodedRows, h);
    EXPECT_LT(small.splice * 20, small.full);
    EXPECT_GE(spread.splice, spread.full);
    EXPECT_FALSE(g4::estimateSplice(code, w, h, 64, few).possible) << "other strips: not the code kept";
    EXPECT_FALSE(g4::estimateSplice(code, w + 1, h, static_cast<std::uint32_t>(h), few).possible);

    Bits edited = original;
    for (int y = 0; y < h; y += 2) edited.box(w / 2, y, w / 2 + 5, y + 1, true);
    std::memcpy(read.image.pixels.data(), edited.data.data(), edited.data.size());
    const WriteStatus status = writeImageEdited(file, read.image, &most);
    ASSERT_EQ(status.status, kStatusOk) << status.error;
    EXPECT_FALSE(status.spliced);
    EXPECT_EQ(libtiffRead(file).pixels, edited.data);
}

TEST(G4Splice, ChangedRowSpansStaySortedAndMerged) {
    g4::RowSpans spans;
    spans.add(50, 60);
    spans.add(10, 20);
    spans.add(21, 25);  // touches 10-20
    spans.add(70, 80);
    spans.add(58, 71);  // bridges 50-60 and 70-80
    spans.add(5, 3);    // empty
    EXPECT_EQ(spans.spans, (std::vector<std::pair<int, int>>{{10, 25}, {50, 80}}));
    EXPECT_EQ(spans.rowCount(), 16 + 31);
}

}  // namespace
