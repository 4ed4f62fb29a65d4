// Real scanned pages turned by known angles, for measuring the deskew library's detection: a page is
// read from a monochrome TIFF, its own skew is measured by a projection profile (independent of the
// library under test), and it is straightened and turned in one nearest-neighbour sampling. No
// GoogleTest here: the accuracy benchmark uses the same pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/winapi.h"

namespace scanpages {

// A 1-bit page, top row first, bit 1 = ink, most significant bit leftmost, rows padded to 4 bytes
// (the row layout of a packed DIB).
struct Page {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    std::vector<std::uint8_t> bits;

    bool ink(int x, int y) const { return (bits[std::size_t(y) * stride + std::size_t(x) / 8] >> (7 - x % 8)) & 1; }
};

// Takes a monochrome TIFF's path; gives its first page with ink as bit 1 whatever its photometric
// interpretation. False with the reason in *why for a file that cannot be opened or is not 1-bit.
bool readScan(const std::string& path, Page* page, std::string* why);

// Takes a page; gives the skew in degrees (positive: lines rise to the right) within +-range of its
// columns fromX up to toX (all when toX < 0), to about 0.01 degree: the angle whose row-ink projection
// has the largest sum of squares.
double profileSkew(const Page& page, double range = 5.0, int fromX = 0, int toX = -1);

// Takes a page and an angle; gives the page of the same size turned counter-clockwise as displayed by
// degrees about its centre, by inverse-mapped nearest-neighbour sampling; uncovered area is paper (0).
Page turned(const Page& page, double degrees);

// A packed 1-bit DIB of a page in a movable memory block (table black, white; bottom row first),
// as the add-on's exchange mode hands it to the library; freed on destruction.
class PageDib {
public:
    explicit PageDib(const Page& page);
    ~PageDib();
    PageDib(const PageDib&) = delete;
    PageDib& operator=(const PageDib&) = delete;
    HGLOBAL handle() const { return handle_; }

private:
    HGLOBAL handle_ = nullptr;
};

// The text pages of tests/data/scans (file names without folder).
const std::vector<std::string>& textPages();

}  // namespace scanpages
