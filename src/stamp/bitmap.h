// The stamp's drawing surface: a working-bitmap buffer turned into a device-independent bitmap and
// back, in one of two modes of one module-wide record (pv__bitmap):
// - drawing mode: a bitmap section selected into a memory device context, on which the stamp draws
//   polylines, polygons and regions with holes;
// - exchange mode: a packed bitmap (40-byte header, colour table, rows) in a locked movable memory
//   block, the form the imaging libraries take.
// Rows are stored bottom row first, each padded to a multiple of 4 bytes: buffer row r (top first)
// is surface row h - 1 - r in memory.
//
// Colours. An element colour (red, green, blue) goes to the drawing calls as red * 65536 + green * 256
// + blue, that is with red where the calls expect blue, so that a 24- or 32-bit surface receives the
// red byte first, the buffer's own order, and the rows copy back unchanged. The colour table of a
// drawing surface is built in the same order (each entry's red byte in the blue place), so that the
// index nearest to an element colour is found by comparing like with like; a monochrome surface is
// black and white, and every stamped element on it passes white (index 1). A 4- or 8-bit drawing
// surface without a palette gets a grey ramp (entry i grey i * 255 / (entries - 1)), so that a grey
// raster receives the grey level nearest to the element colour. The exchange mode's table is the
// plain one (blue, green, red, 0 from each palette triplet; none without a palette).
//
// Regions. A filled cell with holes hands its outlines in with v_stampCreateRegion; v_stampDrawRegions
// fills them (entry 0 the base, holes combined by exclusive or, solids by union) and strokes every
// outline in its own pen. The table holds 100 outlines; further outlines of the same cell are drawn
// as outlines only (after the table's, in their order) and take no part in the fill.
#pragma once

#include <cstdint>

#include "host/mdlraster.h"
#include "host/winapi.h"
#include "stamp/symbology.h"

struct StampBitmap {
    std::uint8_t* bits;      // first byte of the surface's pixel rows
    std::uint32_t rowBytes;  // bytes of one buffer row (rows packed)
    std::uint32_t stride;    // bytes of one surface row (a multiple of 4)
    HGDIOBJ previousObject;  // what the memory device context held before the bitmap (drawing mode)
    void* surface;           // the bitmap (drawing mode) or the memory block (exchange mode); null once released
    HDC memoryDC;            // memory device context (drawing mode)
};

constexpr int k_stampRegionCapacity = 100;

extern "C" {
// The one surface in use (exported for the other modules that reach the current surface).
extern StampBitmap pv__bitmap;

// Makes the surface of size for buffer (bitsPerPixel 1, 4, 8, 24 or 32; palette: red-green-blue triplets,
// 16 or 256 of them, or null; drawingMode 1 drawing, 0 exchange) and copies the buffer in; 0, 1 for another
// depth (nothing made), 2 for a null buffer or size, a bad size or no memory (nothing kept). A surface still
// held from an earlier init is freed first (its pixels are not copied anywhere).
int j_bitmapInit(const std::uint8_t* buffer, const BitmapSize* size, int bitsPerPixel, const std::uint8_t* palette,
                 int drawingMode);
// Copies the surface rows back into buffer (rowBytes each) and frees the surface of drawingMode; nothing
// without a surface.
void v_bitmapRelease(std::uint8_t* buffer, const BitmapSize* size, int drawingMode);
// Draws a straight line from from to to with a solid white pen 2 pixels wide.
void v_stampDrawLine(const POINT* from, const POINT* to);
// Draws the lines through count points with symbology's pen.
void v_stampDrawLineString(const POINT* points, int count, const StampSymbology* symbology);
// Fills the polygon of count points (even-odd) in fillColor when fillFlag is set, else backColor, then
// outlines it with symbology's pen.
void v_stampDrawPolygon(const POINT* points, int count, const StampSymbology* symbology);
// Keeps a copy of the outline of count points with its symbology and hole flag for v_stampDrawRegions.
void v_stampCreateRegion(const POINT* points, int count, const StampSymbology* symbology, int hole);
// Fills the kept outlines in fillSymbology's fillColor (holes left out), strokes each, then forgets them.
void v_stampDrawRegions(const StampSymbology* fillSymbology);
// n grouped by the user's locale, without decimals; one of 8 buffers used in turn (the last 8 stay valid).
const char* pc_numberFmt(std::uint32_t n);
}

// A new pen for symbology (null symbology: a 1-pixel solid black pen); the caller deletes it.
HPEN pv_stampPen(const StampSymbology* symbology);
