// Shared helpers of the stamp surface tests: buffers, symbologies and pixel reads of released buffers.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/mdlraster.h"
#include "stamp/bitmap.h"

namespace stamptest {

// rowBytes of width pixels at bitsPerPixel (rows packed).
inline std::size_t rowBytesOf(int width, int bitsPerPixel) { return (std::size_t(width) * bitsPerPixel + 7) / 8; }

// A working buffer of size at bitsPerPixel filled with fill.
inline std::vector<std::uint8_t> bufferOf(BitmapSize size, int bitsPerPixel, std::uint8_t fill = 0) {
    return std::vector<std::uint8_t>(rowBytesOf(size.width, bitsPerPixel) * size.height, fill);
}

// A solid symbology of width pixels in line colour (r, g, b).
inline StampSymbology solid(std::uint32_t width, std::uint8_t r = 255, std::uint8_t g = 255, std::uint8_t b = 255) {
    StampSymbology s;
    std::memset(&s, 0, sizeof s);
    s.penWidth = width;
    s.lineColor[0] = r, s.lineColor[1] = g, s.lineColor[2] = b;
    return s;
}

// The pixel value at (x, y) of a buffer of width pixels (top row first).
inline std::uint32_t pixel(const std::vector<std::uint8_t>& buffer, int width, int bitsPerPixel, int x, int y) {
    const std::uint8_t* row = buffer.data() + rowBytesOf(width, bitsPerPixel) * y;
    switch (bitsPerPixel) {
    case 1:
        return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4:
        return (x % 2) ? row[x / 2] & 0x0F : row[x / 2] >> 4;
    case 8:
        return row[x];
    default: {
        const std::uint8_t* p = row + std::size_t(x) * (bitsPerPixel / 8);
        return (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
    }
    }
}

// Lengths of the alternating runs of set and clear pixels of row y of a monochrome buffer from x = from
// (the first run is of set pixels) up to x = to (excluded).
inline std::vector<int> runsOfRow(const std::vector<std::uint8_t>& buffer, int width, int y, int from, int to) {
    std::vector<int> runs;
    std::uint32_t want = 1;
    int length = 0;
    for (int x = from; x < to; ++x) {
        if (pixel(buffer, width, 1, x, y) == want) {
            ++length;
            continue;
        }
        runs.push_back(length);
        want ^= 1;
        length = 1;
    }
    runs.push_back(length);
    return runs;
}

// Number of set pixels of column x of a monochrome buffer.
inline int setInColumn(const std::vector<std::uint8_t>& buffer, BitmapSize size, int x) {
    int n = 0;
    for (int y = 0; y < size.height; ++y) n += int(pixel(buffer, size.width, 1, x, y));
    return n;
}

}  // namespace stamptest
