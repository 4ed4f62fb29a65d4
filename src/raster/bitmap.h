// The working bitmap: pixel blocks read from and written to the current raster,
// canvas fills, copies and merges, polarity detection and background statistics.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/mdlraster.h"
#include "raster/target.h"

// A block held in memory while an edit works on it; bytes are malloc'ed and owned by the holder.
struct WorkBitmap {
    std::uint8_t* bytes;
    BitmapSize size;
    PixelFormat format;
    PixelBlock block;
};

// Takes a byte count, gives zeroed memory for a bitmap that std::free releases (large
// ones in huge pages where the system has them); null when there is no memory.
std::uint8_t* pv_bitmapAlloc(int length);
// Buffer length in bytes of size in the current target's image format.
int j_bitmapBytes(const BitmapSize* size);
// Reads block of the current raster; allocates *bytes (zeroed) when null; sets size; host status.
int j_bitmapRead(std::uint8_t** bytes, PixelFormat* format, const PixelBlock* block, BitmapSize* size);
// Writes bytes (possibly inverted in place first) to block of the current raster after the backup; host status.
int j_bitmapWrite(std::uint8_t* bytes, PixelFormat* format, const PixelBlock* block, const BitmapSize* size);
// Allocates *bytes for size filled with the canvas colour of the current target.
void v_bitmapNewCanvas(std::uint8_t** bytes, const BitmapSize* size);
// Allocates *copy as a copy of bytes (nothing when either is null).
void v_bitmapCopy(std::uint8_t** copy, const std::uint8_t* bytes, const BitmapSize* size);
// Lays src over dst keeping what is drawn in dst (src pixels from srcTarget's raster).
void v_bitmapMerge(std::uint8_t* dst, const std::uint8_t* src, const RasterTarget* srcTarget, const BitmapSize* size);
// Sets the pixels outside (outside 1) or inside (0) the polygon of buffer points to the canvas value; host status.
int j_bitmapFillPolygon(std::uint8_t* bytes, const BitmapSize* size, const DPoint2d* points, int count, int outside);
// Monochrome polarity by sampling and a write-back probe: 0, a host status, or 32768 when not recognised.
int j_polarityDetect(DgnRasterP raster, RasterTarget* target);
// Dominant background index or colour of an 8- or 24-bit target from a sample.
void v_bgStatistics(DgnRasterP raster, RasterTarget* target);
// The most frequent value of histogram into *value (ties: lowest); true when it covers more than half.
bool b_dominantValue(const std::uint32_t* histogram, std::uint8_t* value);

extern "C" {
// Dominant colour (8 bit: colour[0]; 24 bit: colour[0..2]) of length bytes; 1 when it covers over half.
int j_getBgColor(std::uint8_t* colour, const std::uint8_t* bytes, std::int32_t length, std::int32_t bitsPerPixel);
// Number of set bits in the first length bytes; 0 for null or 0.
std::uint32_t n_blackPixel(const std::uint8_t* bytes, std::int32_t length);
}
