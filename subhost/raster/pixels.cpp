// Pixel transfer between a caller's buffer and an attachment's decoded image.
//
// Blocks are in pixel coordinates with y up from the raster's origin (lower-left)
// corner; buffers hold the block's rows from its top row to its bottom row.
// Pixels of the block outside the raster are left as they are in the buffer on
// reads and ignored on writes. A buffer whose size differs from the block's is
// fitted into the block by nearest neighbour (how scaled copies land).
//
// Monochrome reads: a returned bit is 1 where the pixel shows in the darker of
// the rendering's two colours. The foreground pixels of a monochrome file are
// those of its darker colour (the ink of an ordinary scan, whichever bit value the
// file uses for it); they show in the rendering's foreground colour, the others in
// its background colour. So the returned bit is "is foreground", inverted when the
// rendering's foreground is the lighter colour.
//
// Monochrome writes do not depend on the rendering: a written bit 1 becomes the
// file's darker colour, a 0 its lighter one, whatever colours the attachment shows
// at the moment of the write. A caller that reads under a rendering which shows the
// foreground light (a negative scan under light-on-dark colours) finds by a probe
// that its writes land inverted, and inverts its buffers before writing. The
// attachment's test switches make writes land inverted (all bits, or the bits of
// every second row) to stand in for hosts that do.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "subhost/raster/raster.h"
#include "subhost/state.h"
#include "subhost/undo.h"

namespace subhost::raster {
namespace {

using imagefile::ColorMode;

enum class Layout { Bits, Bytes, Rgb };

struct BufferShape {
    Layout layout;
    std::size_t stride;
};

bool bufferShape(std::uint32_t colorMode, ColorMode fileMode, int width, BufferShape* shape) {
    switch (colorMode) {
    case IMAGECOLOR_Monochrome:
    case IMAGECOLOR_MonochromeAlt:
        if (fileMode != ColorMode::Mono) return false;
        *shape = {Layout::Bits, std::size_t(width + 7) / 8};
        return true;
    case IMAGECOLOR_256Colors:
    case IMAGECOLOR_GreyScale:
        if (fileMode != ColorMode::Palette8 && fileMode != ColorMode::Grey8) return false;
        *shape = {Layout::Bytes, std::size_t(width)};
        return true;
    case IMAGECOLOR_RGB:
        if (fileMode != ColorMode::Rgb && fileMode != ColorMode::Rgba) return false;
        *shape = {Layout::Rgb, std::size_t(width) * 3};
        return true;
    default:
        return false;
    }
}

double luminance(const std::uint8_t* rgb) { return 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2]; }

// True when bit value 0 of the file is its darker colour (its foreground).
bool zeroIsDark(const imagefile::Image& image) {
    return luminance(image.palette[0].data()) < luminance(image.palette[1].data());
}

// True when a set file bit reads back as 0 under the attachment's rendering.
bool readInverts(const DgnRaster& raster, const imagefile::Image& image) {
    const bool foregroundLighter = luminance(raster.rendering.foreground) > luminance(raster.rendering.background);
    return foregroundLighter != zeroIsDark(image);
}

// True when a written bit 1 must land as file bit 0: the file's darker colour is bit value 0.
// The test switches stand in for hosts that invert every write, or the writes of every second row.
bool writeInverts(const DgnRaster& raster, const imagefile::Image& image, long bufferRow) {
    const bool hostInverts = raster.invertMonoWrites != (raster.mixedMonoWrites && (bufferRow & 1));
    return zeroIsDark(image) != hostInverts;
}

std::uint8_t get8(const std::uint8_t* row, std::size_t rowBytes, long bit) {
    const std::size_t i = std::size_t(bit >> 3);
    const int shift = int(bit & 7);
    unsigned v = unsigned(row[i]) << 8;
    if (shift && i + 1 < rowBytes) v |= row[i + 1];
    return std::uint8_t((v << shift) >> 8);
}

// Copies n bits from src (starting at srcBit) to dst (starting at dstBit), XOR-ing them with xorMask.
void copyBits(const std::uint8_t* src, std::size_t srcBytes, long srcBit, std::uint8_t* dst, long dstBit, long n,
              std::uint8_t xorMask) {
    if ((srcBit & 7) == 0 && (dstBit & 7) == 0 && n >= 8) {
        // Both ends on byte boundaries: whole bytes move as they are.
        const std::size_t whole = std::size_t(n >> 3);
        std::uint8_t* out = dst + (dstBit >> 3);
        std::memcpy(out, src + (srcBit >> 3), whole);
        if (xorMask)
            for (std::size_t i = 0; i < whole; ++i) out[i] = std::uint8_t(out[i] ^ xorMask);
        srcBit += long(whole) * 8;
        dstBit += long(whole) * 8;
        n -= long(whole) * 8;
    }
    while (n > 0) {
        const long di = dstBit >> 3;
        const int offset = int(dstBit & 7);
        const int take = int(std::min<long>(8 - offset, n));
        const std::uint8_t bits = std::uint8_t(get8(src, srcBytes, srcBit) ^ xorMask);
        const std::uint8_t mask = std::uint8_t(std::uint8_t(0xFF << (8 - take)) >> offset);
        dst[di] = std::uint8_t((dst[di] & ~mask) | ((bits >> offset) & mask));
        dstBit += take;
        srcBit += take;
        n -= take;
    }
}

bool getBit(const std::uint8_t* row, long x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

void setBit(std::uint8_t* row, long x, bool on) {
    const std::uint8_t m = std::uint8_t(0x80 >> (x & 7));
    row[x >> 3] = on ? std::uint8_t(row[x >> 3] | m) : std::uint8_t(row[x >> 3] & ~m);
}

std::size_t fileBytesPerPixel(ColorMode mode) { return mode == ColorMode::Rgba ? 4 : mode == ColorMode::Rgb ? 3 : 1; }

// Where a block lands in the image: its integer origin and size, and the image rows.
struct Placement {
    long x0, y0;    // block's lower-left pixel
    long bw, bh;    // block size in pixels
    long imageTop;  // image row of the block's top row (may be outside the image)
};

Placement placeBlock(const PixelBlock& block, long imageHeight) {
    Placement p;
    p.x0 = long(std::floor(block.x));
    p.y0 = long(std::floor(block.y));
    p.bw = long(block.width);
    p.bh = long(block.height);
    p.imageTop = imageHeight - p.y0 - p.bh;
    return p;
}

// Nearest neighbour: the index on a side of `to` pixels that index i on a side of `from` pixels falls on.
long fitIndex(long i, long from, long to) {
    if (from == to) return i;
    return long((double(i) + 0.5) * double(to) / double(from));
}

// Copies a whole buffer to or from the block (read: image -> buffer, write: buffer -> image). When
// the buffer's size differs from the block's, reads visit every buffer pixel and writes every block
// pixel, each taking its nearest pixel on the other side, so that a scaled write leaves no gaps.
void transfer(imagefile::Image& image, const DgnRaster& raster, const Placement& p, const BitmapSize& size,
              const BufferShape& shape, std::uint8_t* buffer, bool read) {
    const long W = image.width, H = image.height;
    const bool same = size.width == p.bw && size.height == p.bh;
    const bool inv = readInverts(raster, image);
    const std::size_t fileBpp = fileBytesPerPixel(image.mode);
    // The rows and columns visited: the buffer's on reads, the block's on writes.
    const long rows = read ? size.height : p.bh, columns = read ? size.width : p.bw;
    for (long vy = 0; vy < rows; ++vy) {
        const long by = read ? vy : fitIndex(vy, p.bh, size.height);
        const long ir = p.imageTop + (read ? fitIndex(vy, size.height, p.bh) : vy);
        if (ir < 0 || ir >= H) continue;
        std::uint8_t* imageRow = image.pixels.data() + std::size_t(ir) * image.stride;
        std::uint8_t* bufRow = buffer + std::size_t(by) * shape.stride;
        const bool flip = read ? inv : writeInverts(raster, image, by);
        const std::uint8_t xorMask = flip ? 0xFF : 0x00;
        if (same) {
            const long c0 = std::max<long>(0, p.x0), c1 = std::min<long>(W, p.x0 + p.bw);
            if (c0 >= c1) continue;
            const long b0 = c0 - p.x0, n = c1 - c0;
            if (shape.layout == Layout::Bits) {
                if (read)
                    copyBits(imageRow, image.stride, c0, bufRow, b0, n, xorMask);
                else
                    copyBits(bufRow, shape.stride, b0, imageRow, c0, n, xorMask);
            } else if (shape.layout == Layout::Bytes) {
                if (read)
                    std::memcpy(bufRow + b0, imageRow + c0, std::size_t(n));
                else
                    std::memcpy(imageRow + c0, bufRow + b0, std::size_t(n));
            } else if (fileBpp == 3) {
                if (read)
                    std::memcpy(bufRow + b0 * 3, imageRow + c0 * 3, std::size_t(n) * 3);
                else
                    std::memcpy(imageRow + c0 * 3, bufRow + b0 * 3, std::size_t(n) * 3);
            } else {
                for (long i = 0; i < n; ++i) {
                    std::uint8_t* px = imageRow + (c0 + i) * 4;
                    std::uint8_t* bp = bufRow + (b0 + i) * 3;
                    if (read)
                        std::memcpy(bp, px, 3);
                    else
                        std::memcpy(px, bp, 3);
                }
            }
            continue;
        }
        for (long vx = 0; vx < columns; ++vx) {
            const long bx = read ? vx : fitIndex(vx, p.bw, size.width);
            const long ic = p.x0 + (read ? fitIndex(vx, size.width, p.bw) : vx);
            if (ic < 0 || ic >= W) continue;
            switch (shape.layout) {
            case Layout::Bits:
                if (read)
                    setBit(bufRow, bx, getBit(imageRow, ic) != flip);
                else
                    setBit(imageRow, ic, getBit(bufRow, bx) != flip);
                break;
            case Layout::Bytes:
                if (read)
                    bufRow[bx] = imageRow[ic];
                else
                    imageRow[ic] = bufRow[bx];
                break;
            case Layout::Rgb:
                if (read)
                    std::memcpy(bufRow + bx * 3, imageRow + ic * long(fileBpp), 3);
                else
                    std::memcpy(imageRow + ic * long(fileBpp), bufRow + bx * 3, 3);
                break;
            }
        }
    }
}

// A rectangle of an image's bytes: rows [row0, row0 + rows), bytes [byte0, byte0 + bytes) of each.
struct Region {
    std::size_t row0 = 0, rows = 0, byte0 = 0, bytes = 0;

    const std::uint8_t* row(const imagefile::Image& image, std::size_t r) const {
        return image.pixels.data() + (row0 + r) * image.stride + byte0;
    }
    std::vector<std::uint8_t> save(const imagefile::Image& image) const {
        std::vector<std::uint8_t> out(rows * bytes);
        for (std::size_t r = 0; r < rows; ++r) std::memcpy(out.data() + r * bytes, row(image, r), bytes);
        return out;
    }
};

// The bytes of a region that one write changed, as runs within rows, with the bytes of the side not
// now in the image: before the write at first, after it once undone. Undo and redo swap them with the
// image's. An edit that burns a few lines into a whole A0 sheet keeps a few hundred kilobytes instead
// of two copies of the sheet.
struct ChangedBytes {
    struct Run {
        std::uint32_t row;     // row within the region
        std::uint32_t offset;  // byte within the row
        std::uint32_t length;
    };
    std::vector<Run> runs;
    std::vector<std::uint8_t> kept;  // the runs' bytes, one after another
    bool keepsBefore = true;         // kept holds the bytes before the write (it is not undone)

    bool empty() const { return runs.empty(); }
    std::size_t firstRow() const { return runs.front().row; }
    std::size_t lastRow() const { return runs.back().row; }

    // Swaps the kept bytes with the image's; false when the image no longer has the region.
    bool swap(imagefile::Image& image, const Region& region) {
        if ((region.row0 + region.rows) * image.stride > image.pixels.size() ||
            region.byte0 + region.bytes > image.stride)
            return false;
        std::uint8_t* bytes = kept.data();
        for (const Run& run : runs) {
            std::uint8_t* at = image.pixels.data() + (region.row0 + run.row) * image.stride + region.byte0 + run.offset;
            std::swap_ranges(at, at + run.length, bytes);
            bytes += run.length;
        }
        keepsBefore = !keepsBefore;
        return true;
    }
};

// Takes the region's bytes saved before a write (consumed: its storage becomes the kept bytes) and the
// image after it; gives the runs that differ. Runs a few bytes apart are joined so that scattered pixels
// do not cost a run each.
ChangedBytes changedBytes(const Region& region, std::vector<std::uint8_t>&& saved, const imagefile::Image& image) {
    constexpr std::size_t kJoin = 12;
    ChangedBytes out;
    std::size_t kept = 0;  // the kept bytes are moved to the front of saved: never past what is still read
    for (std::size_t r = 0; r < region.rows; ++r) {
        const std::uint8_t* was = saved.data() + r * region.bytes;
        const std::uint8_t* now = region.row(image, r);
        if (std::memcmp(was, now, region.bytes) == 0) continue;
        std::size_t c = 0;
        while (c < region.bytes) {
            while (c < region.bytes && was[c] == now[c]) ++c;
            if (c == region.bytes) break;
            std::size_t end = c + 1, same = 0;
            for (; end < region.bytes && same <= kJoin; ++end) same = was[end] == now[end] ? same + 1 : 0;
            end -= same;
            out.runs.push_back({std::uint32_t(r), std::uint32_t(c), std::uint32_t(end - c)});
            std::memmove(saved.data() + kept, was + c, end - c);
            kept += end - c;
            c = end;
        }
    }
    saved.resize(kept);
    if (kept < saved.capacity() / 2) saved.shrink_to_fit();
    out.kept = std::move(saved);
    if (out.runs.size() < out.runs.capacity() / 2) out.runs.shrink_to_fit();
    return out;
}

// Checks the call and gives the decoded image and the buffer's shape.
int prepare(DgnRaster& raster, int length, std::uint32_t colorMode, const BitmapSize& size, imagefile::Image** image,
            BufferShape* shape) {
    if (!raster.file) return hostFail(HOSTERR_RasterFileClosed);  // the file is closed
    std::string error;
    if (!ensureDecoded(*raster.file, &error)) return hostFail(HOSTERR_RasterDecode);
    if (size.width < 0 || size.height < 0) return hostFail(HOSTERR_BlockSize);
    *image = &*raster.file->image;
    if (!bufferShape(colorMode, (*image)->mode, size.width, shape)) return hostFail(HOSTERR_ColorMode);
    if (double(shape->stride) * double(size.height) > double(length)) return hostFail(HOSTERR_BufferLength);
    return SUCCESS;
}

}  // namespace

int getBlock(DgnRaster& raster, std::uint8_t* buffer, int length, PixelFormat* format, const PixelBlock& block,
             const BitmapSize& size) {
    imagefile::Image* image = nullptr;
    BufferShape shape{};
    if (const int status = prepare(raster, length, format->colorMode, size, &image, &shape); status != SUCCESS)
        return status;
    const Placement p = placeBlock(block, image->height);
    transfer(*image, raster, p, size, shape, buffer, true);
    if (image->mode == ColorMode::Palette8 || image->mode == ColorMode::Grey8) {
        format->paletteCount = image->mode == ColorMode::Palette8 ? std::max(image->paletteCount, 1) : 256;
        for (int i = 0; i < 256; ++i) std::memcpy(format->palette[i], image->palette[std::size_t(i)].data(), 3);
    }
    return SUCCESS;
}

int setBlock(DgnRaster& raster, const std::uint8_t* buffer, int length, const PixelFormat& format,
             const PixelBlock& block, const BitmapSize& size) {
    imagefile::Image* image = nullptr;
    BufferShape shape{};
    if (const int status = prepare(raster, length, format.colorMode, size, &image, &shape); status != SUCCESS)
        return status;
    const Placement p = placeBlock(block, image->height);
    const long r0 = std::max<long>(0, p.imageTop), r1 = std::min<long>(image->height, p.imageTop + p.bh);
    if (r0 >= r1 || p.x0 >= image->width || p.x0 + p.bw <= 0 || size.width == 0 || size.height == 0) return SUCCESS;

    // Keep the part of the rows the write touches, for undo.
    const long c0 = std::max<long>(0, p.x0), c1 = std::min<long>(image->width, p.x0 + p.bw);
    Region region;
    region.row0 = std::size_t(r0);
    region.rows = std::size_t(r1 - r0);
    if (image->mode == ColorMode::Mono) {
        region.byte0 = std::size_t(c0 / 8);
        region.bytes = std::size_t((c1 + 7) / 8) - region.byte0;
    } else {
        const std::size_t bpp = fileBytesPerPixel(image->mode);
        region.byte0 = std::size_t(c0) * bpp;
        region.bytes = std::size_t(c1 - c0) * bpp;
    }
    std::vector<std::uint8_t> saved = region.save(*image);
    transfer(*image, raster, p, size, shape, const_cast<std::uint8_t*>(buffer), false);
    auto changes = std::make_shared<ChangedBytes>(changedBytes(region, std::move(saved), *image));
    if (changes->empty()) return SUCCESS;  // nothing changed: no write-back, nothing to undo
    raster.file->dirty = raster.file->touched = true;
    // The rows between the first and the last that differ are noted as changed (a write-back re-codes
    // those alone where it can).
    const int first = static_cast<int>(region.row0 + changes->firstRow());
    const int last = static_cast<int>(region.row0 + changes->lastRow());
    raster.file->changed.add(first, last);
    DgnRaster* handle = &raster;
    // Undo puts the bytes before the write back, redo those after it; a step that could not be made
    // (the file gone) leaves the kept side as it was, so the next one still puts back the right bytes.
    auto swapBack = [handle, region, changes, first, last](bool undoing) {
        if (changes->keepsBefore != undoing) return;
        std::string error;
        if (!handle->file) handle->file = openFile(handle->path, &error);  // closed since: open it again
        if (!handle->file) {
            recordEvent({{"event", "messageCenter"},
                         {"priority", 10},
                         {"brief", error},
                         {"detail", "while undoing or redoing a change to the pixels of " + handle->path}});
            return;
        }
        if (!ensureDecoded(*handle->file, &error)) return;  // it says why in the message centre
        if (!changes->swap(*handle->file->image, region)) return;
        handle->file->dirty = handle->file->touched = true;
        handle->file->changed.add(first, last);
    };
    undo::record([swapBack] { swapBack(true); }, [swapBack] { swapBack(false); }, "pixels");
    return SUCCESS;
}

}  // namespace subhost::raster
