// Despeckle: removes small groups of set pixels from a monochrome raster, with the despeckle imaging library.
#pragma once

#include <cstdint>

#include "host/mdlraster.h"
#include "raster/bitmap.h"

// Whole-raster despeckle of the current target, in view (the raster pick's).
void v_despeckleRun(int view);
// Despeckle of the polygon (count points in pixels of block) in buffer, read from block of the current
// target with format, in view: speckles inside the polygon are counted, and removed and written back once
// the user agrees; the library stays loaded for the next area.
void v_despeckleArea(PixelBuffer& buffer, PixelFormat& format, PixelBlock& block, const BitmapSize& size,
                     const DPoint2d* polygon, int count, int view);
// Makes sure the shared slot holds the despeckle library (a deskew library there is released first);
// 0 loaded, -1 when it cannot be loaded (or lacks its removal entry).
int j_despeckleInit();
// Count of speckles of at most x by y pixels on the surface in exchange mode, removed from it; -1 without
// the despeckle library, -2 without a library handle.
int j_despeckleRemovePoints(std::int64_t x, std::int64_t y);
// Gives the library slot back (its done entry, then the module); nothing when it is empty.
void v_despeckleRelease();
