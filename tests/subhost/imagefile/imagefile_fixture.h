// Helpers for the raster codec tests: a scratch folder, deterministic test
// pictures, and files written straight through libtiff and libpng so that the
// codecs are checked against files they did not write themselves.
#pragma once

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "subhost/imagefile/imagefile.h"

namespace imagefile_test {

namespace fs = std::filesystem;
using namespace subhost::imagefile;

// A folder of its own for each test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "pxm-imagefile-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

private:
    fs::path dir_;
};

inline std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A picture in `mode` with pixels that depend on position and seed; monochrome
// gets line work (runs of set bits) so that fax codings have something to do,
// and its row padding stays clear. Palettes are filled with distinct colours.
inline Image picture(ColorMode mode, int width, int height, unsigned seed = 1) {
    ImageResult made = makeImage(width, height, mode);
    EXPECT_TRUE(made.ok) << made.error;
    Image image = std::move(made.image);
    std::uint32_t state = seed * 2654435761u + 12345u;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) * image.stride;
        if (mode == ColorMode::Mono) {
            for (int x = 0; x < width; ++x) {
                bool ink = (x % 17 < 3) || (y % 13 == 0) || ((x + y) % 29 < 2) || (next() % 97 == 0);
                if (ink) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        } else {
            int limit = mode == ColorMode::Palette4 ? 16 : 256;
            for (std::size_t i = 0; i < image.stride; ++i) row[i] = static_cast<std::uint8_t>(next() % limit);
        }
    }
    if (mode == ColorMode::Palette4 || mode == ColorMode::Palette8) {
        for (int i = 0; i < image.paletteCount; ++i)
            image.palette[static_cast<std::size_t>(i)] =
                Rgb8{static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(255 - i),
                     static_cast<std::uint8_t>(i * 31)};
    }
    image.resolution = Resolution{300, 200, ResolutionUnit::Inch};
    return image;
}

// How the reference TIFF is laid out.
struct TiffShape {
    std::uint16_t compression = COMPRESSION_NONE;
    Photometric photometric = Photometric::MinIsWhite;
    bool tiled = false;
    std::uint32_t tileSize = 32;
    std::uint32_t rowsPerStrip = 8;
    std::uint16_t predictor = 1;
    std::uint32_t group3Options = 0;
    std::uint16_t fillOrder = FILLORDER_MSB2LSB;
};

// Writes `image` (not 4-bit) with libtiff alone, scanline or tile at a time.
inline bool writeTiffWithLibtiff(const std::string& path, const Image& image, const TiffShape& shape) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    std::uint16_t spp = image.mode == ColorMode::Rgb ? 3 : image.mode == ColorMode::Rgba ? 4 : 1;
    std::uint16_t bps = image.mode == ColorMode::Mono ? 1 : image.mode == ColorMode::Palette4 ? 4 : 8;
    std::uint16_t photometric =
        image.mode == ColorMode::Mono
            ? (shape.photometric == Photometric::MinIsBlack ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE)
        : image.mode == ColorMode::Palette8 || image.mode == ColorMode::Palette4 ? PHOTOMETRIC_PALETTE
        : image.mode == ColorMode::Grey8                                         ? PHOTOMETRIC_MINISBLACK
                                                                                 : PHOTOMETRIC_RGB;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bps);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, shape.compression);
    TIFFSetField(tif, TIFFTAG_FILLORDER, shape.fillOrder);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 200.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (shape.predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, shape.predictor);
    if (shape.group3Options) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, shape.group3Options);
    if (image.mode == ColorMode::Rgba) {
        std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    std::vector<std::uint16_t> r(256), g(256), b(256);
    if (photometric == PHOTOMETRIC_PALETTE) {
        for (std::size_t i = 0; i < 256; ++i) {
            r[i] = static_cast<std::uint16_t>(image.palette[i][0] * 257);
            g[i] = static_cast<std::uint16_t>(image.palette[i][1] * 257);
            b[i] = static_cast<std::uint16_t>(image.palette[i][2] * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    // Rows as the file stores them (4-bit packed two a byte).
    std::size_t fileRow =
        image.mode == ColorMode::Palette4 ? (static_cast<std::size_t>(image.width) + 1) / 2 : image.stride;
    auto fileRowAt = [&](int y, std::vector<std::uint8_t>& out) {
        out.assign(fileRow, 0);
        const std::uint8_t* src = image.pixels.data() + static_cast<std::size_t>(y) * image.stride;
        if (image.mode != ColorMode::Palette4) {
            std::copy(src, src + image.stride, out.begin());
            return;
        }
        for (int x = 0; x < image.width; ++x)
            out[static_cast<std::size_t>(x) / 2] |= static_cast<std::uint8_t>(src[x] << ((x & 1) ? 0 : 4));
    };
    bool ok = true;
    std::vector<std::uint8_t> row;
    if (shape.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, shape.tileSize);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, shape.tileSize);
        std::size_t tileRow = image.mode == ColorMode::Palette4
                                  ? shape.tileSize / 2
                                  : rowBytes(image.mode, static_cast<int>(shape.tileSize));
        std::vector<std::uint8_t> tile(static_cast<std::size_t>(TIFFTileSize(tif)));
        for (std::uint32_t ty = 0; ty < static_cast<std::uint32_t>(image.height); ty += shape.tileSize)
            for (std::uint32_t tx = 0; tx < static_cast<std::uint32_t>(image.width); tx += shape.tileSize) {
                std::fill(tile.begin(), tile.end(), 0);
                std::size_t skip =
                    image.mode == ColorMode::Palette4 ? tx / 2 : rowBytes(image.mode, static_cast<int>(tx));
                for (std::uint32_t y = ty; y < ty + shape.tileSize && y < static_cast<std::uint32_t>(image.height);
                     ++y) {
                    fileRowAt(static_cast<int>(y), row);
                    std::size_t n = std::min(tileRow, fileRow - skip);
                    std::copy(row.begin() + static_cast<std::ptrdiff_t>(skip),
                              row.begin() + static_cast<std::ptrdiff_t>(skip + n),
                              tile.begin() + static_cast<std::ptrdiff_t>((y - ty) * tileRow));
                }
                ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) >= 0;
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, shape.rowsPerStrip);
        for (int y = 0; y < image.height && ok; ++y) {
            fileRowAt(y, row);
            ok = TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0) >= 0;
        }
    }
    TIFFClose(tif);
    return ok;
}

// Reads a file's rows with libtiff alone (scanline interface, strips only) as the file stores them.
inline subhost::imagefile::PixelBytes readRowsWithLibtiff(const std::string& path) {
    subhost::imagefile::PixelBytes out;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return out;
    std::uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(tif)));
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif, row.data(), y, 0) < 0) return {};
        out.insert(out.end(), row.begin(), row.end());
    }
    TIFFClose(tif);
    return out;
}

// Writes rows of `bitDepth`/`colorType` with libpng alone; palette optional.
inline bool writePngWithLibpng(const std::string& path, int width, int height, int bitDepth, int colorType,
                               const std::vector<std::vector<std::uint8_t>>& rows,
                               const std::vector<png_color>& palette = {}, bool interlaced = false) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::vector<png_bytep> pointers;  // made before setjmp, so a longjmp skips no destructor
    for (const auto& r : rows) pointers.push_back(const_cast<png_bytep>(r.data()));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), bitDepth, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_set_pHYs(png, info, 11811, 11811, PNG_RESOLUTION_METER);  // 300 dpi
    png_write_info(png, info);
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return true;
}

// The image's rows as separate vectors (for libpng).
inline std::vector<std::vector<std::uint8_t>> rowsOf(const Image& image) {
    std::vector<std::vector<std::uint8_t>> rows;
    for (int y = 0; y < image.height; ++y) {
        auto begin = image.pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * image.stride);
        rows.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(image.stride));
    }
    return rows;
}

}  // namespace imagefile_test
