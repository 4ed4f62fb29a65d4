// Pixel transfer between a caller's buffer and an attachment's decoded image.
//
// Blocks are in pixel coordinates with y up from the raster's origin (lower-left)
// corner; buffers hold the block's rows from its top row to its bottom row.
// Pixels of the block outside the raster are left as they are in the buffer on
// reads and ignored on writes. A buffer whose size differs from the block's is
// fitted into the block by nearest neighbour (how scaled copies land).
//
// Monochrome read-back rule: a returned bit is 1 where the pixel shows in the
// darker of the rendering's two colours. The foreground pixels of a monochrome
// file are those of its darker colour (the ink of an ordinary scan, whichever bit
// value the file uses for it); they show in the rendering's foreground colour, the
// others in its background colour. So the returned bit is "is foreground",
// inverted when the rendering's foreground is the lighter colour. Writes use the
// same rule backwards, so that a block written and read back under one rendering
// comes back unchanged. The attachment's test switches make writes land inverted
// (all bits, or the bits of every second row) to stand in for hosts that do.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "subhost/raster/raster.h"
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

double luminance(const std::uint8_t* rgb) {
    return 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
}

// True when a set file bit reads back as 0 under the attachment's rendering.
bool readInverts(const DgnRaster& raster, const imagefile::Image& image) {
    const bool foregroundLighter = luminance(raster.rendering.foreground) > luminance(raster.rendering.background);
    const bool zeroIsDark = luminance(image.palette[0].data()) < luminance(image.palette[1].data());
    return foregroundLighter != zeroIsDark;
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

bool getBit(const std::uint8_t* row, long x) {
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

void setBit(std::uint8_t* row, long x, bool on) {
    const std::uint8_t m = std::uint8_t(0x80 >> (x & 7));
    row[x >> 3] = on ? std::uint8_t(row[x >> 3] | m) : std::uint8_t(row[x >> 3] & ~m);
}

std::size_t fileBytesPerPixel(ColorMode mode) {
    return mode == ColorMode::Rgba ? 4 : mode == ColorMode::Rgb ? 3 : 1;
}

// Where a block lands in the image: its integer origin and size, and the image rows.
struct Placement {
    long x0, y0;      // block's lower-left pixel
    long bw, bh;      // block size in pixels
    long imageTop;    // image row of the block's top row (may be outside the image)
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

// Block pixel (column, row from the top) of buffer pixel (bx, by).
long fitIndex(long b, long bufferSide, long blockSide) {
    if (bufferSide == blockSide) return b;
    return long((double(b) + 0.5) * double(blockSide) / double(bufferSide));
}

// Transfer rows [rowFrom, rowTo) of the buffer; read copies image -> buffer, write buffer -> image.
void transfer(imagefile::Image& image, const DgnRaster& raster, const Placement& p, const BitmapSize& size,
              const BufferShape& shape, std::uint8_t* buffer, bool read) {
    const long W = image.width, H = image.height;
    const bool same = size.width == p.bw && size.height == p.bh;
    const bool inv = readInverts(raster, image);
    const std::size_t fileBpp = fileBytesPerPixel(image.mode);
    for (long by = 0; by < size.height; ++by) {
        const long ir = p.imageTop + fitIndex(by, size.height, p.bh);
        if (ir < 0 || ir >= H) continue;
        std::uint8_t* imageRow = image.pixels.data() + std::size_t(ir) * image.stride;
        std::uint8_t* bufRow = buffer + std::size_t(by) * shape.stride;
        bool flip = inv;
        if (!read) flip = flip != (raster.invertMonoWrites != (raster.mixedMonoWrites && (by & 1)));
        const std::uint8_t xorMask = flip ? 0xFF : 0x00;
        if (same) {
            const long c0 = std::max<long>(0, p.x0), c1 = std::min<long>(W, p.x0 + p.bw);
            if (c0 >= c1) continue;
            const long b0 = c0 - p.x0, n = c1 - c0;
            if (shape.layout == Layout::Bits) {
                if (read) copyBits(imageRow, image.stride, c0, bufRow, b0, n, xorMask);
                else copyBits(bufRow, shape.stride, b0, imageRow, c0, n, xorMask);
            } else if (shape.layout == Layout::Bytes) {
                if (read) std::memcpy(bufRow + b0, imageRow + c0, std::size_t(n));
                else std::memcpy(imageRow + c0, bufRow + b0, std::size_t(n));
            } else if (fileBpp == 3) {
                if (read) std::memcpy(bufRow + b0 * 3, imageRow + c0 * 3, std::size_t(n) * 3);
                else std::memcpy(imageRow + c0 * 3, bufRow + b0 * 3, std::size_t(n) * 3);
            } else {
                for (long i = 0; i < n; ++i) {
                    std::uint8_t* px = imageRow + (c0 + i) * 4;
                    std::uint8_t* bp = bufRow + (b0 + i) * 3;
                    if (read) std::memcpy(bp, px, 3);
                    else std::memcpy(px, bp, 3);
                }
            }
            continue;
        }
        for (long bx = 0; bx < size.width; ++bx) {
            const long ic = p.x0 + fitIndex(bx, size.width, p.bw);
            if (ic < 0 || ic >= W) continue;
            switch (shape.layout) {
            case Layout::Bits:
                if (read) setBit(bufRow, bx, getBit(imageRow, ic) != flip);
                else setBit(imageRow, ic, getBit(bufRow, bx) != flip);
                break;
            case Layout::Bytes:
                if (read) bufRow[bx] = imageRow[ic];
                else imageRow[ic] = bufRow[bx];
                break;
            case Layout::Rgb:
                if (read) std::memcpy(bufRow + bx * 3, imageRow + ic * long(fileBpp), 3);
                else std::memcpy(imageRow + ic * long(fileBpp), bufRow + bx * 3, 3);
                break;
            }
        }
    }
}

// A rectangle of an image's bytes: rows [row0, row0 + rows), bytes [byte0, byte0 + bytes) of each.
struct Region {
    std::size_t row0 = 0, rows = 0, byte0 = 0, bytes = 0;

    std::vector<std::uint8_t> save(const imagefile::Image& image) const {
        std::vector<std::uint8_t> out(rows * bytes);
        for (std::size_t r = 0; r < rows; ++r)
            std::memcpy(out.data() + r * bytes, image.pixels.data() + (row0 + r) * image.stride + byte0, bytes);
        return out;
    }
    bool restore(imagefile::Image& image, const std::vector<std::uint8_t>& saved) const {
        if ((row0 + rows) * image.stride > image.pixels.size() || byte0 + bytes > image.stride) return false;
        for (std::size_t r = 0; r < rows; ++r)
            std::memcpy(image.pixels.data() + (row0 + r) * image.stride + byte0, saved.data() + r * bytes, bytes);
        return true;
    }
};

int fail(int error) {
    rasterState().lastError = error;
    return ERROR;
}

// Checks the call and gives the decoded image and the buffer's shape.
int prepare(DgnRaster& raster, int length, std::uint32_t colorMode, const BitmapSize& size, imagefile::Image** image,
            BufferShape* shape) {
    if (!raster.file) return fail(1);  // the file is closed
    std::string error;
    if (!ensureDecoded(*raster.file, &error)) return fail(2);
    if (size.width < 0 || size.height < 0) return fail(3);
    *image = &*raster.file->image;
    if (!bufferShape(colorMode, (*image)->mode, size.width, shape)) return fail(4);
    if (double(shape->stride) * double(size.height) > double(length)) return fail(5);
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
    auto before = std::make_shared<std::vector<std::uint8_t>>(region.save(*image));
    transfer(*image, raster, p, size, shape, const_cast<std::uint8_t*>(buffer), false);
    auto after = std::make_shared<std::vector<std::uint8_t>>(region.save(*image));
    if (*before == *after) return SUCCESS;  // nothing changed: no write-back, nothing to undo
    raster.file->dirty = true;
    DgnRaster* handle = &raster;
    auto restore = [handle, region](const std::vector<std::uint8_t>& saved) {
        std::string error;
        if (!handle->file) handle->file = openFile(handle->path, &error);  // closed since: open it again
        if (!handle->file || !ensureDecoded(*handle->file, &error)) return;
        if (region.restore(*handle->file->image, saved)) handle->file->dirty = true;
    };
    undo::record([restore, before] { restore(*before); }, [restore, after] { restore(*after); }, "pixels");
    return SUCCESS;
}

}  // namespace subhost::raster
