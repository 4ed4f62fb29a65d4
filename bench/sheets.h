// The A0 test sheets of the benchmarks: an 18720 x 13240 scan at 400 dpi, 1 bit, made
// deterministically so that every run and every machine measures the same pixels.
//   busy - a drawing as scans of real drawings are: text, curves, hatching, lines at all
//          angles and 20 000 isolated specks (CCITT G4 about 2.7 MB, slow to code);
//   grid - a regular grid with a border and one hatched title block (fast to code).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pxbench {

constexpr int kSheetWidth = 18720;
constexpr int kSheetHeight = 13240;
constexpr int kSheetDpi = 400;

enum class SheetKind { Busy, Grid };

// Packed 1-bit rows, top row first, leftmost pixel in the high bit; a set bit is ink.
struct Sheet {
    int width = kSheetWidth;
    int height = kSheetHeight;
    std::size_t stride = (kSheetWidth + 7) / 8;
    std::vector<std::uint8_t> bits;
};

// Takes a kind, gives its name as benchmarks show it ("busy", "grid").
const char* sheetName(SheetKind kind);

// Takes a kind, gives the sheet drawn from a fixed seed; the same pixels on every call.
Sheet makeSheet(SheetKind kind);

// The part of the busy sheet in the window left, top, width x height (pixels of the whole sheet), with the
// drawing turned by degrees about the sheet's centre before it is rasterised (positive: turned
// counter-clockwise as displayed, lines rise to the right), as a scanner would see a page laid askew;
// specks sprinkled over the part as densely as over the whole sheet. Empty when drawing fails.
Sheet makeBusyPart(double degrees, int left, int top, int width, int height);

// Takes a sheet and a path, writes it as a min-is-white CCITT G4 TIFF in one strip at 400 dpi
// (through a temporary beside the path, then renamed); false with the reason in *error.
bool writeSheetG4(const Sheet& sheet, const std::string& path, std::string* error);

}  // namespace pxbench
