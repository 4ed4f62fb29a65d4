// The host's write-back of an attached G4 scan after pixel edits and their undo: the file always
// holds the pixels the host holds, and is the whole image coded anew, however the edits and undos
// that led there were interleaved with write-backs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "../imagefile/g4_fixture.h"
#include "host/mdlraster.h"
#include "host/mdlsystem.h"
#include "subhost/host.h"
#include "subhost/raster/raster.h"
#include "subhost/undo.h"

namespace {

using namespace g4_test;

class G4WriteBack : public ::testing::Test {
protected:
    void SetUp() override { subhost::hostReset(); }
    void TearDown() override { subhost::hostReset(); }

    // Takes a design's rasters, opens a design holding them.
    void open(const std::string& file) {
        const std::string design = dir_.path("design.json");
        std::ofstream(design) << nlohmann::json{{"rasters", {{{"file", file}}}}}.dump();
        std::string error;
        ASSERT_TRUE(subhost::openDesign(design, &error)) << error;
        ASSERT_EQ(subhost::raster::rasterState().rasters.size(), 1u);
    }

    // Inks a block of the attachment (x, y from its lower left corner) as one undoable step.
    void ink(int x, int y, int w, int h) {
        paint(x, y, w, h, std::vector<std::uint8_t>(std::size_t(w + 7) / 8 * std::size_t(h), 0xFF));
    }

    // Writes the packed rows black into a block of the attachment as one undoable step.
    void paint(int x, int y, int w, int h, const std::vector<std::uint8_t>& black) {
        DgnRasterP raster = subhost::raster::rasterState().rasters[0].get();
        PixelFormat format{};
        format.colorMode = IMAGECOLOR_Monochrome;
        const PixelBlock block{double(x), double(y), double(w), double(h), 1};
        const BitmapSize size{w, h};
        mdlUndo_startGroup();
        ASSERT_EQ(mdlRaster_bitmapSet(black.data(), int(black.size()), &format, &block, &size, raster,
                                      RASTER_OPTION_UNDOABLE),
                  SUCCESS);
        mdlUndo_endGroup();
    }

    // The pixels the host holds of the attached file.
    std::vector<std::uint8_t> held() { return packedRows(*subhost::raster::rasterState().rasters[0]->file->image); }

    ScratchDir dir_;
};

TEST_F(G4WriteBack, UndoneEditsReachTheFileAfterAnEarlierWriteBack) {
    const Bits original = drawing(900, 500, 21);
    const std::string file = dir_.path("scan.tif");
    writeLibtiffG4(file, original, FileSettings{100});
    open(file);
    ink(50, 100, 120, 20);
    ASSERT_TRUE(subhost::raster::flushAll());
    ASSERT_NE(held(), original.data);
    EXPECT_EQ(libtiffRead(file).pixels, held());

    ink(300, 380, 200, 40);
    ASSERT_EQ(subhost::undo::undoGroups(2), 2);
    ASSERT_EQ(held(), original.data);
    ASSERT_TRUE(subhost::raster::flushAll());
    const LibtiffView back = libtiffRead(file);
    EXPECT_EQ(back.pixels, original.data) << "both undone blocks are written back";
    std::vector<std::vector<std::uint8_t>> whole;
    for (auto& s : g4::encodeImage(original.rows(), original.height, 100).strips) whole.push_back(s.bytes);
    EXPECT_EQ(back.strips, whole);
    EXPECT_EQ(back.description, "sheet 7 of 9");
}

// Undo and redo keep only the bytes an edit changed; overlapping edits of scattered pixels (changes a
// byte apart, a dozen apart, far apart, at row ends) come back exactly, however often they are undone
// and redone, and the file holds the pixels of the state it was last written in.
TEST_F(G4WriteBack, OverlappingScatteredEditsUndoAndRedoExactly) {
    const Bits original = drawing(640, 300, 5);
    const std::string file = dir_.path("scan.tif");
    writeLibtiffG4(file, original, FileSettings{0});
    open(file);
    const auto scattered = [](int w, int h, unsigned seed) {
        std::vector<std::uint8_t> rows(std::size_t(w + 7) / 8 * std::size_t(h));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            seed = seed * 1103515245u + 12345u;
            const unsigned gap = (seed >> 16) % 4;  // next to, a few apart, a dozen apart, far apart
            rows[i] = (i % (gap == 0 ? 1 : gap == 1 ? 3 : gap == 2 ? 13 : 40)) == 0 ? std::uint8_t(seed >> 8) : 0;
        }
        return rows;
    };
    std::vector<std::vector<std::uint8_t>> states{original.data};
    paint(0, 0, 640, 300, scattered(640, 300, 1));
    states.push_back(held());
    paint(100, 50, 333, 201, scattered(333, 201, 2));
    states.push_back(held());
    paint(101, 49, 64, 64, std::vector<std::uint8_t>(8 * 64, 0));
    states.push_back(held());
    ASSERT_NE(states[1], states[0]);
    ASSERT_NE(states[2], states[1]);
    ASSERT_NE(states[3], states[2]);
    for (int round = 0; round < 2; ++round) {
        for (int step = 3; step > 0; --step) {
            ASSERT_EQ(subhost::undo::undoGroups(1), 1);
            ASSERT_EQ(held(), states[std::size_t(step - 1)]) << "undo to state " << step - 1;
        }
        for (int step = 1; step <= 3; ++step) {
            ASSERT_EQ(subhost::undo::redoGroups(1), 1);
            ASSERT_EQ(held(), states[std::size_t(step)]) << "redo to state " << step;
        }
    }
    ASSERT_EQ(subhost::undo::undoGroups(2), 2);
    ASSERT_TRUE(subhost::raster::flushAll());
    EXPECT_EQ(libtiffRead(file).pixels, states[1]);
}

}  // namespace
