// Mapping between design coordinates and a raster's pixel coordinates, pixel
// bounding blocks, buffer coordinates inside a block, and the raster's outline.
#pragma once

#include "host/mdlraster.h"
#include "raster/target.h"

// Design point -> pixel coordinates (x, y; z 0) of target (null: the current target); no rounding;
// the origin without any target.
void v_designToPixel(const RasterTarget* target, DPoint3d* pixel, const DPoint3d* design);
// Pixel bounding block of count design points; reset 1 starts afresh, 0 grows block; block/corner may be null;
// an empty, invalid block without any target.
void v_pixelBlockFromPoints(const RasterTarget* target, PixelBlock* block, DPoint3d* corner, const DPoint3d* points,
                            int count, int reset);
// Design points -> buffer coordinates inside block (y down from the block's top) for the current target.
void v_designToBlockPixels(const PixelBlock* block, DPoint2d* points2d, const DPoint3d* points, int count);
// Fills the current target's corners with its outline in design coordinates.
void v_rasterCorners();
