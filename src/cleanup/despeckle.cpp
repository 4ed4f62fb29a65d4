// Despeckle: speckles counted and removed by the despeckle library in the whole raster or inside a
// fence or block, after the user agrees, in one undo group.
#include "cleanup/despeckle.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cleanup/library.h"
#include "edit/block.h"
#include "host/mdlelement.h"
#include "host/mdlsystem.h"
#include "host/messages.h"
#include "raster/bitmap.h"
#include "raster/clip.h"
#include "raster/context.h"
#include "raster/target.h"
#include "resources/ids.h"
#include "settings/settings.h"
#include "stamp/bitmap.h"

namespace {

using RemoveEntry = std::int32_t (*)(std::int64_t, void*, std::int64_t, std::int64_t);

// Tells the user what was found and asks whether to remove it (without DisplayPrompts: yes at once);
// true to write. A negative count is a failure: nothing is shown and nothing written.
bool b_removalAgreed(int count) {
    if (count < 0) return false;
    if (count == 0) {
        j_messageBox(MSGBOX_NOTICE,
                     "PixelMend found no pixels to despeckle. Try Despeckle again\nwith a larger number of contiguous "
                     "pixels defined.",
                     ICON_INFO);
        return false;
    }
    if (!s__globals.DisplayPrompts) return true;
    char text[160];
    if (count == 1)
        std::snprintf(text, sizeof text, "PixelMend has found 1 speckle. Would you like to remove it?");
    else
        std::snprintf(text, sizeof text, "PixelMend has found %s speckles. Would you like to remove them?",
                      pc_numberFmt(std::uint32_t(count)));
    return j_messageBox(MSGBOX_YESNO, text, ICON_QUESTION) == ACTIONBUTTON_YES;
}

// Hands buffer to the library and takes the cleaned pixels back; the library's count, or a negative
// value when the library or the surface was not there (buffer then unchanged).
int n_speckleRemove(std::uint8_t* buffer, const BitmapSize& size, const std::uint8_t* palette) {
    if (j_bitmapInit(buffer, &size, int(currentTarget()->bitsPerPixel), palette, 0) != 0) return -3;
    int count = -1;
    if (j_despeckleInit() == 0) count = j_despeckleRemovePoints(s__globals.DespeckleX, s__globals.DespeckleY);
    v_bitmapRelease(buffer, &size, 0);
    return count;
}

}  // namespace

void v_despeckleRun(int view) {
    if (currentTarget()) {
        UndoGroup undo;
        WholeRaster raster;
        if (b_cleanupWholeRead(raster)) {
            const int count = n_speckleRemove(raster.buffer.get(), raster.size, raster.palette);
            v_despeckleRelease();
            if (b_removalAgreed(count) &&
                j_bitmapWrite(raster.buffer.get(), &raster.format, &raster.block, &raster.size) == SUCCESS)
                mdlView_updateSingle(view);
        }
        v_progressClose();
    }
    mdlState_startDefaultCommand();
}

void v_despeckleArea(PixelBuffer& buffer, PixelFormat& format, PixelBlock& block, const BitmapSize& size,
                     const DPoint2d* polygon, int count, int view) {
    RasterTarget* target = currentTarget();
    if (!target || !buffer) return;
    // The buffer keeps the inside of the polygon, the copy its outside; cleaned inside AND copy
    // gives the cleaned pixels inside and the untouched ones outside.
    PixelBuffer copy;
    v_bitmapCopy(copy.slot(), buffer.get(), &size);
    if (!copy) return;
    if (j_bitmapFillPolygon(buffer.get(), &size, polygon, count, 1) != SUCCESS ||
        j_bitmapFillPolygon(copy.get(), &size, polygon, count, 0) != SUCCESS)
        return;
    const int found = n_speckleRemove(buffer.get(), size, pc_cleanupPalette(target, format));
    if (!b_removalAgreed(found)) return;
    const std::size_t bytes = std::size_t(std::max(j_bitmapBytes(&size), 0));
    for (std::size_t i = 0; i < bytes; ++i) buffer.get()[i] &= copy.get()[i];
    if (j_bitmapWrite(buffer.get(), &format, &block, &size) == SUCCESS && target->bitsPerPixel > 1)
        mdlView_updateSingle(view);
}

int j_despeckleInit() {
    if (j_cleanupLibraryLoad(CleanupLibrary::Despeckle) != 0) return -1;
    if (!pv_cleanupLibraryEntry("DESPECKLE_RemovePoints")) {
        v_cleanupLibraryRelease();
        return -1;
    }
    return 0;
}

int j_despeckleRemovePoints(std::int64_t x, std::int64_t y) {
    if (cleanupLibraryLoaded() != CleanupLibrary::Despeckle) return -1;
    if (n_cleanupLibraryHandle() == 0) return -2;
    auto remove = fn_cleanupEntry<RemoveEntry>("DESPECKLE_RemovePoints");
    if (!remove) return -1;
    return remove(n_cleanupLibraryHandle(), pv__bitmap.surface, x, y);
}

void v_despeckleRelease() { v_cleanupLibraryRelease(); }
