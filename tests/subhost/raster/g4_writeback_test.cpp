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
        DgnRasterP raster = subhost::raster::rasterState().rasters[0].get();
        PixelFormat format{};
        format.colorMode = IMAGECOLOR_Monochrome;
        const PixelBlock block{double(x), double(y), double(w), double(h), 1};
        const BitmapSize size{w, h};
        std::vector<std::uint8_t> black(std::size_t(w + 7) / 8 * std::size_t(h), 0xFF);
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

}  // namespace
