// The working bitmap: pixel blocks read from and written to the current raster,
// canvas fills, copies and merges, polarity detection and background statistics.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/mdlraster.h"
#include "raster/target.h"

// Owner of one pixel buffer: memory the add-on allocated (released with std::free), or a buffer the
// host's image library handed out (released with dlmSystem_mdlFree). Moves; never copies.
class PixelBuffer {
public:
    PixelBuffer() = default;
    // Takes over bytes allocated with pv_bitmapAlloc, std::malloc or std::calloc (may be null).
    explicit PixelBuffer(std::uint8_t* bytes) : bytes_(bytes) {}
    PixelBuffer(PixelBuffer&& other) noexcept;
    PixelBuffer& operator=(PixelBuffer&& other) noexcept;
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;
    ~PixelBuffer() { v_release(); }

    // The buffer's address for the functions that fill a buffer and allocate one when it is null
    // (j_bitmapRead reads into the buffer held, or into a new one when the owner is empty).
    std::uint8_t** slot();
    std::uint8_t* get() const { return bytes_; }
    explicit operator bool() const { return bytes_ != nullptr; }
    // Takes over a buffer of the host's image library.
    void v_adoptHost(std::uint8_t* bytes);
    // Frees the buffer now; the owner is empty afterwards.
    void v_release();

private:
    std::uint8_t* bytes_ = nullptr;
    bool hostOwned_ = false;
};

// Takes a byte count, gives zeroed memory for a bitmap that std::free releases (large
// ones in huge pages where the system has them); null when there is no memory.
std::uint8_t* pv_bitmapAlloc(int length);
// Buffer length in bytes of size in the current target's image format; 0 without a current target.
int j_bitmapBytes(const BitmapSize* size);
// Reads block of the current raster; allocates *bytes (zeroed) when null; sets size; host status
// (reported), ERROR without a current target.
int j_bitmapRead(std::uint8_t** bytes, PixelFormat* format, const PixelBlock* block, BitmapSize* size);
// Writes bytes (possibly inverted in place first) to block of the current raster after the backup; host
// status (reported), ERROR for null bytes or without a current target.
int j_bitmapWrite(std::uint8_t* bytes, PixelFormat* format, const PixelBlock* block, const BitmapSize* size);
// Allocates *bytes for size filled with the canvas colour of the current target; null when there is
// no memory or no current target.
void v_bitmapNewCanvas(std::uint8_t** bytes, const BitmapSize* size);
// Allocates *copy as a copy of bytes (nothing when either is null).
void v_bitmapCopy(std::uint8_t** copy, const std::uint8_t* bytes, const BitmapSize* size);
// Lays src over dst keeping what is drawn in dst (src pixels from srcTarget's raster, the current one
// when null); 0, ERROR for a null buffer or without a current target.
int j_bitmapMerge(std::uint8_t* dst, const std::uint8_t* src, const RasterTarget* srcTarget, const BitmapSize* size);
// Sets the pixels outside (outside 1) or inside (0) the polygon of buffer points to the canvas value; host
// status, ERROR for null bytes or without a current target.
int j_bitmapFillPolygon(std::uint8_t* bytes, const BitmapSize* size, const DPoint2d* points, int count, int outside);
// Monochrome polarity by sampling and a write-back probe: 0, a host status, or ERROR when not recognised.
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
