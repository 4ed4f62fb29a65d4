// What the two outside imaging libraries (recodeskew, recodespeckle) share: the packed DIB handed
// over in movable memory, checked and locked; its pixels as a Leptonica image and back; the
// library handles their Init entries give out, each with the reason of its last refusal.
#pragma once

#include <leptonica/allheaders.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "host/winapi.h"

namespace dibpix {

struct PixDeleter {
    void operator()(PIX* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<PIX, PixDeleter>;

// A packed DIB (40-byte header, colour table, bottom-up rows padded to 4 bytes) locked for the
// lifetime of the object; unlocks on destruction.
class LockedDib {
public:
    LockedDib() = default;
    LockedDib(const LockedDib&) = delete;
    LockedDib& operator=(const LockedDib&) = delete;
    ~LockedDib();

    // Takes a GlobalAlloc handle, locks and checks it; false with the reason in *why for an unknown
    // handle, a header other than 40 bytes / 1 plane / BI_RGB / positive size, a depth other than
    // 1, 4, 8, 24 or 32 bits, or pixel rows that do not fit in the block.
    bool open(HGLOBAL handle, std::string* why);

    int width = 0;
    int height = 0;
    int depth = 0;
    std::size_t stride = 0;  // bytes of one stored row (a multiple of 4)
    int tableEntries = 0;    // 0: no colour table (grey levels for 4 and 8 bits)
    const RGBQUAD* table = nullptr;
    std::uint8_t* bits = nullptr;  // first byte of the bottom row

    // Bytes of image data in one row (the rest of the stride is padding).
    std::size_t rowBytes() const { return (std::size_t(width) * std::size_t(depth) + 7) / 8; }
    // The stored row that shows as row y counted from the top.
    std::uint8_t* row(int y) const { return bits + std::size_t(height - 1 - y) * stride; }

private:
    HGLOBAL handle_ = nullptr;
};

// Takes an open DIB, gives its pixels as a Leptonica image of the same depth (24 bits as 32-bit
// RGB), top row first, values as stored (no colour map, no polarity change); null without memory.
PixPtr pixFromDib(const LockedDib& dib);

// Takes an image of the DIB's size and depth (32 bits for 24) and writes it into the DIB's rows;
// bits beyond the width in a row's last byte and the row padding stay as they were.
void pixToDib(PIX* pix, const LockedDib& dib);

// Takes an open DIB, gives a 1-bit image with 1 where the ink is: grey and colour DIBs are measured
// through their colour table or as grey levels and split at Otsu's threshold; whichever value covers
// less than half of the image is taken for ink, so a negative scan gives its white drawing. Null
// without memory.
PixPtr inkOf(const LockedDib& dib);

// The handles a library's Init entry gives out, each a session with the reason of its last refusal.
class Sessions {
public:
    // A new session's handle (never 0).
    std::int64_t open();
    // True when handle came from open and has not been closed.
    bool known(std::int64_t handle) const;
    // Ends the session; false for an unknown handle.
    bool close(std::int64_t handle);
    // Records why the session's last call was refused (also kept for calls without a known handle).
    void refuse(std::int64_t handle, std::string why);
    // The reason of the session's last refusal ("" when its last call went through).
    const char* lastError(std::int64_t handle) const;
    // Forgets the session's last refusal.
    void clear(std::int64_t handle);

private:
    std::map<std::int64_t, std::unique_ptr<std::string>> sessions_;
    std::string unknown_;
};

// Makes Leptonica quiet: the libraries report through their LastError entries, not on stderr.
void silenceLeptonica();

}  // namespace dibpix
