// The outside imaging libraries as the add-on reaches them: loaded with LoadLibraryA by their
// Windows names, entries found with GetProcAddress, bitmaps handed over as packed DIBs in movable
// memory. Pages and bitmaps the tests measure are made here.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/scoped_env.h"
#include "host/winapi.h"
#include "sublibs/recodelibs.h"

namespace recodetest {

// One loaded library; freed on destruction.
class Library {
public:
    // Loads name with PIXELMEND_LIBRARY_PATH set to the build's bin folder.
    explicit Library(const char* name);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    HMODULE module() const { return module_; }
    // The entry called name as type T; fails the test when it is missing.
    template <typename T>
    T entry(const char* name) const {
        FARPROC found = GetProcAddress(module_, name);
        EXPECT_NE(found, nullptr) << name;
        return reinterpret_cast<T>(found);
    }

private:
    HMODULE module_ = nullptr;
};

// A packed DIB in a movable memory block, built from top-first rows of rowBytes bytes; freed on
// destruction.
class Dib {
public:
    // depth bits per pixel; tableEntries colour-table entries (grey ramp, or for 1 bit black then white).
    Dib(int width, int height, int depth, int tableEntries);
    // A block holding exactly header (and table bytes, pixel bytes) as given, for malformed input.
    Dib(const BITMAPINFOHEADER& header, std::size_t tableBytes, std::size_t pixelBytes);
    ~Dib();
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;

    HGLOBAL handle() const { return handle_; }
    int width() const { return width_; }
    int height() const { return height_; }
    std::size_t rowBytes() const { return (std::size_t(width_) * std::size_t(depth_) + 7) / 8; }
    // Row y counted from the top, as displayed.
    std::uint8_t* row(int y) const;
    // Every byte of the block (header, table, padded rows).
    std::vector<std::uint8_t> bytes() const;
    // The value of pixel x, y (1, 4 or 8 bits) or its first byte (24, 32 bits).
    int pixel(int x, int y) const;
    void setPixel(int x, int y, int value);
    // Fills every byte of the pixel rows (padding included) with value.
    void fill(std::uint8_t value);

private:
    HGLOBAL handle_ = nullptr;
    std::uint8_t* base_ = nullptr;
    int width_ = 0, height_ = 0, depth_ = 0;
    std::size_t stride_ = 0, tableBytes_ = 0;
};

// A 1-bit DIB of a part of the busy drawing sheet turned by degrees (positive: lines rise to the
// right), drawn turned before it is rasterised; ink is bit value 1, paper 0, unless negative.
void drawTurnedPage(Dib& dib, double degrees, bool negative = false);

}  // namespace recodetest
