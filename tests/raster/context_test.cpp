// The edit context: scopes select a raster and give the enclosing context back on every way out;
// the working bitmap refuses to work without a record instead of reaching through a null one.
#include <gtest/gtest.h>

#include "raster/bitmap.h"
#include "raster/context.h"
#include "raster/target.h"

namespace {

DgnRasterP fakeRaster(int n) { return reinterpret_cast<DgnRasterP>(static_cast<std::uintptr_t>(0x1000 * n)); }

class EditContextTest : public ::testing::Test {
protected:
    void SetUp() override { v_editContextReset(); }
    void TearDown() override { v_editContextReset(); }
    RasterTarget first{}, second{};
};

// Returns early from inside a scope, as a handler does on a refused step.
bool b_refusedInsideScope(DgnRasterP raster, RasterTarget* target) {
    EditScope scope(raster, target);
    if (currentRaster() == raster) return false;
    return true;
}

TEST_F(EditContextTest, ScopesNestAndGiveTheEnclosingContextBackOnEveryWayOut) {
    v_activeCommandSet(CMD_MOVE);
    v_operationModeSet(AREA_BLOCK);
    v_commandRasterSelect(fakeRaster(1), &first);
    {
        EditScope destination(fakeRaster(2), &second);
        EXPECT_EQ(currentRaster(), fakeRaster(2));
        EXPECT_EQ(currentTarget(), &second);
        EXPECT_EQ(editContext().command, CMD_MOVE);  // the command and area mode go along
        EXPECT_EQ(editContext().operationMode, AREA_BLOCK);
        {
            EditScope back(fakeRaster(1), &first);
            EXPECT_EQ(currentTarget(), &first);
        }
        EXPECT_EQ(currentTarget(), &second);
        destination.v_select(fakeRaster(3), &first);  // a grown file replaces the destination
        EXPECT_EQ(currentRaster(), fakeRaster(3));
    }
    EXPECT_EQ(currentRaster(), fakeRaster(1));
    EXPECT_FALSE(b_refusedInsideScope(fakeRaster(2), &second));
    EXPECT_EQ(currentTarget(), &first);
    try {
        EditScope thrown(fakeRaster(2), &second);
        throw 1;
    } catch (int) {}
    EXPECT_EQ(currentRaster(), fakeRaster(1));
}

// Records dropped while a scope is open (the design closed) leave no scope pointing at them.
TEST_F(EditContextTest, DroppedRecordsAreForgottenByTheSelectionAndOpenScopes) {
    v_commandRasterSelect(fakeRaster(1), &first);
    {
        EditScope scope(fakeRaster(2), &second);
        v_rasterTargetFreeAll();
        EXPECT_EQ(currentTarget(), nullptr);
        EXPECT_EQ(currentRaster(), fakeRaster(2));
    }
    EXPECT_EQ(currentTarget(), nullptr);
}

TEST_F(EditContextTest, WorkingBitmapWithoutARecordRefusesInsteadOfCrashing) {
    std::uint8_t bytes[16] = {};
    std::uint8_t* read = nullptr;
    PixelFormat format{};
    const PixelBlock block{0, 0, 4, 4, 1};
    BitmapSize size{4, 4};
    EXPECT_EQ(j_bitmapBytes(&size), 0);
    EXPECT_EQ(j_bitmapRead(&read, &format, &block, &size), ERROR);
    EXPECT_EQ(read, nullptr);
    EXPECT_EQ(j_bitmapWrite(bytes, &format, &block, &size), ERROR);
    EXPECT_EQ(j_bitmapMerge(bytes, bytes, nullptr, &size), ERROR);
    EXPECT_EQ(j_bitmapFillPolygon(bytes, &size, nullptr, 0, 0), ERROR);
    std::uint8_t* canvas = bytes;
    v_bitmapNewCanvas(&canvas, &size);
    EXPECT_EQ(canvas, nullptr);
}

TEST_F(EditContextTest, MergeRefusesANullBufferOfAFailedReadOrAllocation) {
    first.bitsPerPixel = 1;
    first.imageFormat = IMAGEFORMAT_BitMap;
    EditScope scope(fakeRaster(1), &first);
    std::uint8_t dst[4] = {0x0F, 0, 0, 0};
    const BitmapSize size{8, 4};
    EXPECT_EQ(j_bitmapMerge(dst, nullptr, nullptr, &size), ERROR);
    EXPECT_EQ(j_bitmapMerge(nullptr, dst, nullptr, &size), ERROR);
    const std::uint8_t src[4] = {0xF0, 0x01, 0, 0};
    ASSERT_EQ(j_bitmapMerge(dst, src, nullptr, &size), SUCCESS);
    EXPECT_EQ(dst[0], 0xFF);
    EXPECT_EQ(dst[1], 0x01);
}

}  // namespace
