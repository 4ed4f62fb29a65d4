// The host's image library: buffer sizes, polygon fills, planar <-> interleaved
// RGB, and new raster files made from buffers.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/mdlraster.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"

namespace {

namespace img = subhost::imagefile;

bool validSize(const BitmapSize* size) { return size && size->width > 0 && size->height > 0; }

// x positions where the polygon's edges cross the horizontal line y (even-odd rule, half-open edges).
void crossings(const DPoint2d* points, int count, double y, std::vector<double>& xs) {
    xs.clear();
    for (int i = 0; i < count; ++i) {
        const DPoint2d& a = points[i];
        const DPoint2d& b = points[(i + 1) % count];
        if ((a.y <= y) == (b.y <= y)) continue;
        xs.push_back(a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y));
    }
    std::sort(xs.begin(), xs.end());
}

// Calls span(from, to) for the runs of pixel columns [from, to) of row j whose
// centres are inside the polygon (or outside it, with outside set).
template <typename Span>
void forEachSpan(const DPoint2d* points, int count, int width, int j, bool outside, std::vector<double>& xs,
                 Span span) {
    crossings(points, count, j + 0.5, xs);
    // Column i is inside a pair [x0, x1) when x0 <= i + 0.5 < x1.
    auto column = [width](double x) { return std::clamp(int(std::ceil(x - 0.5)), 0, width); };
    int cursor = 0;
    for (std::size_t k = 0; k + 1 < xs.size(); k += 2) {
        const int from = column(xs[k]), to = column(xs[k + 1]);
        if (from >= to) continue;
        if (outside) {
            if (cursor < from) span(cursor, from);
        } else {
            span(from, to);
        }
        cursor = std::max(cursor, to);
    }
    if (outside && cursor < width) span(cursor, width);
}

void fillBits(std::uint8_t* row, int from, int to, bool on) {
    for (int x = from; x < to && (x & 7); ++x, ++from) {
        const std::uint8_t m = std::uint8_t(0x80 >> (x & 7));
        row[x >> 3] = on ? std::uint8_t(row[x >> 3] | m) : std::uint8_t(row[x >> 3] & ~m);
    }
    const int fullFrom = from >> 3, fullTo = to >> 3;
    if (fullTo > fullFrom) std::memset(row + fullFrom, on ? 0xFF : 0x00, std::size_t(fullTo - fullFrom));
    for (int x = std::max(from, fullTo * 8); x < to; ++x) {
        const std::uint8_t m = std::uint8_t(0x80 >> (x & 7));
        row[x >> 3] = on ? std::uint8_t(row[x >> 3] | m) : std::uint8_t(row[x >> 3] & ~m);
    }
}

std::string narrowPath(WCharCP name) {
    std::string out;
    for (const wchar_t* p = name; p && *p; ++p) out.push_back(*p < 256 ? char(*p) : '?');
    return out;
}

img::Compression compressionFor(int hostCompression, img::ColorMode mode, img::FileFormat format) {
    if (hostCompression > 0 && hostCompression <= int(img::Compression::Deflate))
        return img::Compression(hostCompression);
    if (format != img::FileFormat::Tiff) return img::Compression::None;
    return mode == img::ColorMode::Mono ? img::Compression::CcittG4 : img::Compression::Lzw;
}

int writeNew(WCharCP name, int fileFormat, img::Image& image) {
    const std::string path = narrowPath(name);
    // A new file takes a free name or replaces a regular file (the file dialog asked first); a folder,
    // device or pipe under the name is never replaced by a raster file.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        subhost::recordEvent({{"event", "messageCenter"},
                              {"priority", 10},
                              {"brief", "Unable to create raster file " + path},
                              {"detail", "it is not a regular file (a folder, device or pipe) and is not replaced"}});
        return ERROR;
    }
    const img::WriteStatus status = img::createImageFile(path, img::FileFormat(fileFormat), image);
    if (status.status == img::kStatusOk) {
        subhost::recordEvent({{"event", "fileWritten"}, {"path", path}});
        return SUCCESS;
    }
    if (status.status == img::kStatusCannotWriteFormat) return MDLERR_CANNOTWRITEFORMAT;
    subhost::recordEvent({{"event", "messageCenter"}, {"priority", 10}, {"brief", status.error}, {"detail", ""}});
    return status.status == img::kStatusNoMemory ? MDLERR_INSFMEMORY : ERROR;
}

// An image of the size whose pixels the caller overwrites whole.
bool newImage(const BitmapSize* size, img::ColorMode mode, img::Image* image) {
    if (!validSize(size)) return false;
    img::ImageResult made = img::makeImage(size->width, size->height, mode, false);
    if (!made.ok) return false;
    *image = std::move(made.image);
    return true;
}

// Reads and writes one pixel of a buffer in an image format.
struct PixelAccess {
    int format;
    std::size_t stride;
    std::size_t bpp;  // bytes per pixel for byte maps and RGB

    PixelAccess(int imageFormat, int width)
        : format(imageFormat),
          stride(imageFormat == IMAGEFORMAT_BitMap ? std::size_t(width + 7) / 8
                                                   : std::size_t(width) * (imageFormat == IMAGEFORMAT_RGB ? 3 : 1)),
          bpp(imageFormat == IMAGEFORMAT_RGB ? 3 : 1) {}

    void copy(std::uint8_t* dst, long dx, long dy, const PixelAccess& from, const std::uint8_t* src, long sx,
              long sy) const {
        if (format == IMAGEFORMAT_BitMap) {
            const bool on = (src[std::size_t(sy) * from.stride + std::size_t(sx >> 3)] >> (7 - (sx & 7))) & 1;
            std::uint8_t& b = dst[std::size_t(dy) * stride + std::size_t(dx >> 3)];
            const std::uint8_t m = std::uint8_t(0x80 >> (dx & 7));
            b = on ? std::uint8_t(b | m) : std::uint8_t(b & ~m);
            return;
        }
        std::memcpy(dst + std::size_t(dy) * stride + std::size_t(dx) * bpp,
                    src + std::size_t(sy) * from.stride + std::size_t(sx) * bpp, bpp);
    }
};

bool knownFormat(int imageFormat) {
    return imageFormat == IMAGEFORMAT_BitMap || imageFormat == IMAGEFORMAT_ByteMap || imageFormat == IMAGEFORMAT_RGB;
}

}  // namespace

extern "C" {

int mdlImage_rotate(std::uint8_t** out, BitmapSize* outSize, const std::uint8_t* image, const BitmapSize* size,
                    int imageFormat, double angle) {
    if (out == nullptr || outSize == nullptr || image == nullptr || !validSize(size) || !knownFormat(imageFormat))
        return ERROR;
    // Angles are counter-clockwise with y up, as in the design.
    const double a = angle * M_PI / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    const double w = size->width, h = size->height;
    const int ow = int(std::ceil(std::fabs(w * c) + std::fabs(h * s) - 1e-6));
    const int oh = int(std::ceil(std::fabs(w * s) + std::fabs(h * c) - 1e-6));
    const BitmapSize turned{std::max(ow, 1), std::max(oh, 1)};
    const int length = mdlImage_memorySize(&turned, imageFormat);
    if (length <= 0) return MDLERR_INSFMEMORY;
    auto* buffer = static_cast<std::uint8_t*>(std::calloc(std::size_t(length), 1));
    if (buffer == nullptr) return MDLERR_INSFMEMORY;
    const PixelAccess from(imageFormat, size->width), to(imageFormat, turned.width);
    for (long oy = 0; oy < turned.height; ++oy) {
        for (long ox = 0; ox < turned.width; ++ox) {
            const double u = ox + 0.5 - turned.width / 2.0;
            const double v = turned.height / 2.0 - (oy + 0.5);
            const double su = u * c + v * s;
            const double sv = -u * s + v * c;
            const long sx = long(std::floor(su + w / 2.0));
            const long sy = long(std::floor(h / 2.0 - sv));
            if (sx < 0 || sy < 0 || sx >= size->width || sy >= size->height) continue;
            to.copy(buffer, ox, oy, from, image, sx, sy);
        }
    }
    *out = buffer;
    *outSize = turned;
    return SUCCESS;
}

int mdlImage_mirror(std::uint8_t* image, const BitmapSize* size, int imageFormat, bool horizontal) {
    if (image == nullptr || !validSize(size) || !knownFormat(imageFormat)) return ERROR;
    const PixelAccess access(imageFormat, size->width);
    const int length = mdlImage_memorySize(size, imageFormat);
    std::vector<std::uint8_t> copy(image, image + length);
    for (long y = 0; y < size->height; ++y) {
        for (long x = 0; x < size->width; ++x) {
            const long sx = horizontal ? size->width - 1 - x : x;
            const long sy = horizontal ? y : size->height - 1 - y;
            access.copy(image, x, y, access, copy.data(), sx, sy);
        }
    }
    return SUCCESS;
}

int mdlImage_memorySize(const BitmapSize* size, int imageFormat) {
    if (!validSize(size)) return 0;
    const long long w = size->width, h = size->height;
    long long bytes = 0;
    switch (imageFormat) {
    case IMAGEFORMAT_BitMap:
        bytes = (w + 7) / 8 * h;
        break;
    case IMAGEFORMAT_ByteMap:
        bytes = w * h;
        break;
    case IMAGEFORMAT_RGB:
        bytes = w * h * 3;
        break;
    default:
        return 0;
    }
    return bytes > 0x7fffffffLL ? 0 : int(bytes);
}

int mdlImage_setMapPolygon(std::uint8_t* image, std::uint8_t*, const BitmapSize* size, int imageFormat,
                           const DPoint2d* points, int count, int outside, int value) {
    if (image == nullptr || !validSize(size) || points == nullptr || count < 3) return ERROR;
    if (imageFormat != IMAGEFORMAT_BitMap && imageFormat != IMAGEFORMAT_ByteMap) return ERROR;
    std::vector<double> xs;
    const std::size_t stride =
        imageFormat == IMAGEFORMAT_BitMap ? std::size_t(size->width + 7) / 8 : std::size_t(size->width);
    for (int j = 0; j < size->height; ++j) {
        std::uint8_t* row = image + std::size_t(j) * stride;
        forEachSpan(points, count, size->width, j, outside != 0, xs, [&](int from, int to) {
            if (imageFormat == IMAGEFORMAT_BitMap)
                fillBits(row, from, to, (value & 0xFF) != 0);
            else
                std::memset(row + from, value & 0xFF, std::size_t(to - from));
        });
    }
    return SUCCESS;
}

int mdlImage_setRGBPolygon(std::uint8_t* planes, std::uint8_t*, const BitmapSize* size, const DPoint2d* points,
                           int count, int outside, const RGBColorDef* colour) {
    if (planes == nullptr || !validSize(size) || points == nullptr || count < 3 || colour == nullptr) return ERROR;
    const std::size_t plane = std::size_t(size->width) * std::size_t(size->height);
    const std::uint8_t rgb[3] = {colour->red, colour->green, colour->blue};
    std::vector<double> xs;
    for (int j = 0; j < size->height; ++j) {
        forEachSpan(points, count, size->width, j, outside != 0, xs, [&](int from, int to) {
            for (int c = 0; c < 3; ++c)
                std::memset(planes + c * plane + std::size_t(j) * std::size_t(size->width) + std::size_t(from), rgb[c],
                            std::size_t(to - from));
        });
    }
    return SUCCESS;
}

int mdlImage_RGBToRGBSeparate(std::uint8_t* planes, const std::uint8_t* rgb, const BitmapSize* size, int) {
    if (planes == nullptr || rgb == nullptr || !validSize(size)) return ERROR;
    const std::size_t n = std::size_t(size->width) * std::size_t(size->height);
    for (std::size_t i = 0; i < n; ++i) {
        planes[i] = rgb[3 * i];
        planes[n + i] = rgb[3 * i + 1];
        planes[2 * n + i] = rgb[3 * i + 2];
    }
    return SUCCESS;
}

int mdlImage_RGBSeparateToRGB(std::uint8_t* rgb, const std::uint8_t* planes, const BitmapSize* size, int) {
    if (planes == nullptr || rgb == nullptr || !validSize(size)) return ERROR;
    const std::size_t n = std::size_t(size->width) * std::size_t(size->height);
    for (std::size_t i = 0; i < n; ++i) {
        rgb[3 * i] = planes[i];
        rgb[3 * i + 1] = planes[n + i];
        rgb[3 * i + 2] = planes[2 * n + i];
    }
    return SUCCESS;
}

int mdlImage_createFileFromBitMap(WCharCP name, int fileFormat, const BitmapSize* size, const std::uint8_t* bytes, int,
                                  int, int) {
    if (name == nullptr || bytes == nullptr) return ERROR;
    if (!img::canWriteFormat(img::FileFormat(fileFormat))) return MDLERR_CANNOTWRITEFORMAT;
    img::Image image;
    if (!newImage(size, img::ColorMode::Mono, &image)) return ERROR;
    std::memcpy(image.pixels.data(), bytes, image.pixels.size());
    // A set bit is white in TIFF files (min-is-black) and black in every other format.
    const bool tiff = fileFormat == IMAGEFILE_TIFF;
    image.photometric = tiff ? img::Photometric::MinIsBlack : img::Photometric::MinIsWhite;
    image.palette[0] = tiff ? img::Rgb8{0, 0, 0} : img::Rgb8{255, 255, 255};
    image.palette[1] = tiff ? img::Rgb8{255, 255, 255} : img::Rgb8{0, 0, 0};
    image.paletteCount = 2;
    image.compression = compressionFor(0, image.mode, img::FileFormat(fileFormat));
    return writeNew(name, fileFormat, image);
}

int mdlImage_extCreateFileFromMap(WCharCP name, int fileFormat, int colorMode, const BitmapSize* size,
                                  const std::uint8_t* bytes, const std::uint8_t* red, const std::uint8_t* green,
                                  const std::uint8_t* blue, int paletteCount, int compression, int, int) {
    if (name == nullptr || bytes == nullptr) return ERROR;
    if (!img::canWriteFormat(img::FileFormat(fileFormat))) return MDLERR_CANNOTWRITEFORMAT;
    const bool grey = colorMode == IMAGECOLOR_GreyScale || red == nullptr || green == nullptr || blue == nullptr;
    img::Image image;
    if (!newImage(size, grey ? img::ColorMode::Grey8 : img::ColorMode::Palette8, &image)) return ERROR;
    std::memcpy(image.pixels.data(), bytes, image.pixels.size());
    if (!grey) {
        const int n = std::clamp(paletteCount, 1, 256);
        for (int i = 0; i < n; ++i) image.palette[std::size_t(i)] = img::Rgb8{red[i], green[i], blue[i]};
        image.paletteCount = n;
    }
    image.compression = compressionFor(compression, image.mode, img::FileFormat(fileFormat));
    return writeNew(name, fileFormat, image);
}

int mdlImage_extCreateFileFromRGB(WCharCP name, int fileFormat, int, const BitmapSize* size, const std::uint8_t* planes,
                                  int compression, int, int) {
    if (name == nullptr || planes == nullptr) return ERROR;
    if (!img::canWriteFormat(img::FileFormat(fileFormat))) return MDLERR_CANNOTWRITEFORMAT;
    img::Image image;
    if (!newImage(size, img::ColorMode::Rgb, &image)) return ERROR;
    mdlImage_RGBSeparateToRGB(image.pixels.data(), planes, size, IMAGECOLOR_RGB);
    image.compression = compressionFor(compression, image.mode, img::FileFormat(fileFormat));
    return writeNew(name, fileFormat, image);
}

}  // extern "C"
