// Helpers for the G4 coder tests: drawing-like monochrome pictures and rows no coder likes, and
// G4 TIFF files written, read and decoded through libtiff alone, the reference for every check.
#pragma once

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imagefile_fixture.h"
#include "subhost/imagefile/g4.h"

namespace g4_test {

using namespace imagefile_test;
namespace g4 = subhost::imagefile::g4;

// Packed monochrome rows, top row first.
struct Bits {
    int width = 0, height = 0;
    std::size_t stride = 0;
    std::vector<std::uint8_t> data;
    Bits(int w, int h) : width(w), height(h), stride((static_cast<std::size_t>(w) + 7) / 8), data(stride * h) {}
    void set(int x, int y, bool ink = true) {
        std::uint8_t& b = data[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x / 8)];
        const auto bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
        b = ink ? (b | bit) : (b & ~bit);
    }
    void box(int x0, int y0, int x1, int y1, bool ink = true) {
        for (int y = std::max(y0, 0); y < std::min(y1, height); ++y)
            for (int x = std::max(x0, 0); x < std::min(x1, width); ++x) set(x, y, ink);
    }
    g4::Rows rows() const { return g4::Rows{data.data(), stride, width}; }
};

// A drawing as scans are: a border, a grid of lines, slanted lines, rows of glyph-like marks,
// hatching and specks; wide enough for white runs past 2560.
inline Bits drawing(int width, int height, unsigned seed) {
    Bits b(width, height);
    std::uint32_t state = seed * 747796405u + 2891336453u;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    b.box(0, 0, width, 3);
    b.box(0, height - 3, width, height);
    b.box(0, 0, 3, height);
    b.box(width - 3, 0, width, height);
    for (int y = 40; y < height; y += 97) b.box(3, y, width * 2 / 3, y + 2);
    for (int i = 0; i < 12; ++i) {
        const int x0 = static_cast<int>(next() % static_cast<unsigned>(width));
        for (int y = 0; y < height; ++y) b.set((x0 + y * (i + 1) / 5) % width, y);
    }
    for (int y = height / 4; y + 12 < height * 3 / 4; y += 30)
        for (int x = width / 3; x + 10 < width - 5; x += 14)
            if (next() % 5) b.box(x, y, x + 2 + static_cast<int>(next() % 8), y + 4 + static_cast<int>(next() % 8));
    for (int y = height / 2; y < height / 2 + 60 && y < height; ++y)
        for (int x = 5; x < width / 4; x += 6) b.set(x + y % 6, y);
    for (int i = 0; i < width * height / 4000; ++i)
        b.set(static_cast<int>(next() % static_cast<unsigned>(width)),
              static_cast<int>(next() % static_cast<unsigned>(height)));
    for (int i = 0; i < width * height / 4000; ++i) {
        const int x = static_cast<int>(next() % static_cast<unsigned>(width));
        const int y = static_cast<int>(next() % static_cast<unsigned>(height));
        b.box(x, y, x + 1 + static_cast<int>(next() % 3), y + 1 + static_cast<int>(next() % 3));
    }
    return b;
}

// How a reference file is written by libtiff.
struct FileSettings {
    std::uint32_t rowsPerStrip = 0;  // 0: one strip
    std::uint16_t fillOrder = FILLORDER_MSB2LSB;
    bool withT6Options = false;
    std::uint32_t t6Options = 0;
};

// Takes a path and rows, writes a min-is-white G4 TIFF through libtiff's own encoder, with a
// description and a resolution that a write-back must keep.
inline void writeLibtiffG4(const std::string& path, const Bits& b, const FileSettings& fs = {}) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    const std::uint32_t rps = fs.rowsPerStrip ? fs.rowsPerStrip : static_cast<std::uint32_t>(b.height);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, b.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, b.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_FILLORDER, fs.fillOrder);
    if (fs.withT6Options) TIFFSetField(tif, TIFFTAG_GROUP4OPTIONS, fs.t6Options);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 400.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 400.0f);
    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "sheet 7 of 9");
    for (std::uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
        const std::size_t first = static_cast<std::size_t>(s) * rps;
        const std::size_t rows = std::min<std::size_t>(rps, static_cast<std::size_t>(b.height) - first);
        ASSERT_GE(TIFFWriteEncodedStrip(tif, s, const_cast<std::uint8_t*>(b.data.data() + first * b.stride),
                                        static_cast<tmsize_t>(rows * b.stride)),
                  0);
    }
    TIFFClose(tif);
}

// What libtiff makes of a G4 file: its pixels, its strips' bytes as stored, and whether its
// decoder warned or failed.
struct LibtiffView {
    bool ok = false;
    bool warned = false;
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<std::vector<std::uint8_t>> strips;
    std::uint16_t fillOrder = 0;
    std::uint32_t t6Options = 0;
    bool hasT6Options = false;
    std::string description;
};

inline int noteWarning(TIFF*, void* user, const char*, const char*, va_list) {
    *static_cast<bool*>(user) = true;
    return 1;
}

inline LibtiffView libtiffRead(const std::string& path) {
    LibtiffView v;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetWarningHandlerExtR(options, noteWarning, &v.warned);
    TIFFOpenOptionsSetErrorHandlerExtR(options, noteWarning, &v.warned);
    TIFF* tif = TIFFOpenExt(path.c_str(), "r", options);
    TIFFOpenOptionsFree(options);
    if (!tif) return v;
    std::uint32_t w = 0, h = 0, rps = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &v.fillOrder);
    v.hasT6Options = TIFFGetField(tif, TIFFTAG_GROUP4OPTIONS, &v.t6Options) != 0;
    const char* text = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) && text) v.description = text;
    v.width = static_cast<int>(w);
    v.height = static_cast<int>(h);
    const std::size_t stride = (w + 7) / 8;
    v.pixels.assign(stride * h, 0);
    v.ok = true;
    rps = std::min(std::max<std::uint32_t>(rps, 1), h);
    for (std::uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
        const std::size_t first = static_cast<std::size_t>(s) * rps;
        if (first >= h) break;
        const std::size_t rows = std::min<std::size_t>(rps, h - first);
        const tmsize_t want = static_cast<tmsize_t>(rows * stride);
        if (TIFFReadEncodedStrip(tif, s, v.pixels.data() + first * stride, want) != want) v.ok = false;
        std::vector<std::uint8_t> raw(static_cast<std::size_t>(TIFFGetStrileByteCount(tif, s)));
        TIFFReadRawStrip(tif, s, raw.data(), static_cast<tmsize_t>(raw.size()));
        v.strips.push_back(std::move(raw));
    }
    TIFFClose(tif);
    v.ok = v.ok && !v.warned;
    return v;
}

// Takes a decoded image, gives its rows without the bytes past each row (its stride may be wider).
inline std::vector<std::uint8_t> packedRows(const Image& image) {
    const std::size_t bytes = (static_cast<std::size_t>(image.width) + 7) / 8;
    std::vector<std::uint8_t> out;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) * image.stride;
        out.insert(out.end(), row, row + bytes);
    }
    return out;
}

}  // namespace g4_test
