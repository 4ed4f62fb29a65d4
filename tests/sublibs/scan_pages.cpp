#include "scan_pages.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>

namespace scanpages {
namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
constexpr int kStripPixels = 8;       // the profile counts ink in strips of one byte across
constexpr int kBinsPerRow = 4;        // profile bins per pixel row
constexpr double kCoarseStep = 0.05;  // degrees between the angles of the first sweep
constexpr double kFineStep = 0.002;   // degrees between the angles of the refining sweep

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

std::size_t strideOf(int width) { return (std::size_t(width) + 31) / 32 * 4; }

// Ink per strip and row of a part of a page: counts[strip * height + y], each 0 to 8; strip 0 is the
// page's strip first.
struct StripCounts {
    int first = 0;
    int strips = 0;
    int height = 0;
    int width = 0;
    std::vector<std::uint8_t> counts;
};

StripCounts stripCounts(const Page& page, int fromX, int toX) {
    const int first = std::clamp(fromX, 0, page.width) / kStripPixels;
    const int last = (std::clamp(toX, first * kStripPixels, page.width) + kStripPixels - 1) / kStripPixels;
    StripCounts s{first, last - first, page.height, page.width, {}};
    s.counts.resize(std::size_t(s.strips) * std::size_t(s.height));
    for (int y = 0; y < page.height; ++y) {
        const std::uint8_t* row = page.bits.data() + std::size_t(y) * page.stride + first;
        for (int k = 0; k < s.strips; ++k)
            s.counts[std::size_t(k) * std::size_t(s.height) + std::size_t(y)] = std::uint8_t(std::popcount(row[k]));
    }
    return s;
}

// The sum of squares of the page's ink projected along lines of the given skew onto the left edge:
// each strip's counts land at row y + x * tan(degrees) (x the strip's middle), in bins of a quarter row
// (so that narrow pages still measure to about 0.01 degree), each count spread over the four bins of
// one row. Every angle sees the same spread: splitting counts by how far they fall between bins would
// blur the profile at every angle but those whose shifts are whole bins, drawing the maximum to 0.
double profileScore(const StripCounts& s, double degrees, double range, std::vector<double>& bins) {
    const double t = std::tan(degrees * kRadiansPerDegree);
    const double offset = std::ceil(double(s.width) * std::tan(range * kRadiansPerDegree)) + 2;
    bins.assign((std::size_t(s.height) + std::size_t(2 * offset) + 2) * kBinsPerRow, 0.0);
    for (int k = 0; k < s.strips; ++k) {
        const double at = (((s.first + k) * kStripPixels + kStripPixels / 2.0) * t + offset) * kBinsPerRow;
        const std::uint8_t* counts = s.counts.data() + std::size_t(k) * std::size_t(s.height);
        double* to = bins.data() + std::size_t(std::lround(at));
        for (int y = 0; y < s.height; ++y, to += kBinsPerRow)
            for (int b = 0; b < kBinsPerRow; ++b) to[b] += counts[y];
    }
    double score = 0;
    for (const double b : bins) score += b * b;
    return score;
}

// The angle of the largest score from -from to to in steps of step.
double bestAngle(const StripCounts& s, double from, double to, double step, double range, std::vector<double>& bins) {
    double best = from, bestScore = -1;
    const int steps = int(std::lround((to - from) / step));
    for (int i = 0; i <= steps; ++i) {
        const double angle = from + i * step;
        const double score = profileScore(s, angle, range, bins);
        if (score > bestScore) bestScore = score, best = angle;
    }
    return best;
}

}  // namespace

bool readScan(const std::string& path, Page* page, std::string* why) {
    TIFFSetWarningHandler(nullptr);
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "r"));
    if (!tif) {
        *why = path + ": cannot be opened as a TIFF file";
        return false;
    }
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    if (bits != 1 || samples != 1 || width == 0 || height == 0 || width > 30000 || height > 30000 ||
        TIFFScanlineSize(tif.get()) != tmsize_t((width + 7) / 8)) {
        *why = path + ": not a monochrome page of at most 30000 x 30000 pixels";
        return false;
    }
    page->width = int(width);
    page->height = int(height);
    page->stride = strideOf(page->width);
    page->bits.assign(page->stride * height, 0);
    const std::size_t rowBytes = (width + 7) / 8;
    const auto tailMask = std::uint8_t(0xFF00 >> (width % 8 ? width % 8 : 8));
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = page->bits.data() + std::size_t(y) * page->stride;
        if (TIFFReadScanline(tif.get(), row, y, 0) < 0) {
            *why = path + ": row " + std::to_string(y) + " cannot be decoded";
            return false;
        }
        // Ink is black: bit 1 of a min-is-white page, bit 0 of a min-is-black one.
        if (photometric == PHOTOMETRIC_MINISBLACK)
            for (std::size_t i = 0; i < rowBytes; ++i) row[i] = std::uint8_t(~row[i]);
        row[rowBytes - 1] &= tailMask;
    }
    return true;
}

double profileSkew(const Page& page, double range, int fromX, int toX) {
    const StripCounts s = stripCounts(page, fromX, toX < 0 ? page.width : toX);
    std::vector<double> bins;
    const double coarse = bestAngle(s, -range, range, kCoarseStep, range, bins);
    return bestAngle(s, coarse - kCoarseStep, coarse + kCoarseStep, kFineStep, range, bins);
}

Page turned(const Page& page, double degrees) {
    Page out{page.width, page.height, page.stride, std::vector<std::uint8_t>(page.bits.size(), 0)};
    const double a = degrees * kRadiansPerDegree, c = std::cos(a), s = std::sin(a);
    const double cx = page.width / 2.0, cy = page.height / 2.0;
    for (int y = 0; y < page.height; ++y) {
        // Each output pixel's centre turned back clockwise lands on the source pixel it shows.
        const double dy = y + 0.5 - cy, dx0 = 0.5 - cx;
        double sx = cx + dx0 * c - dy * s, sy = cy + dx0 * s + dy * c;
        std::uint8_t* row = out.bits.data() + std::size_t(y) * out.stride;
        for (int x = 0; x < page.width; ++x, sx += c, sy += s) {
            const int ix = int(std::floor(sx)), iy = int(std::floor(sy));
            if (ix >= 0 && ix < page.width && iy >= 0 && iy < page.height && page.ink(ix, iy))
                row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
        }
    }
    return out;
}

PageDib::PageDib(const Page& page) {
    constexpr std::size_t kHeaderBytes = 40, kTableBytes = 8;
    BITMAPINFOHEADER h{};
    h.biSize = kHeaderBytes;
    h.biWidth = page.width;
    h.biHeight = page.height;
    h.biPlanes = 1;
    h.biBitCount = 1;
    h.biCompression = BI_RGB;
    const RGBQUAD table[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    handle_ = GlobalAlloc(GMEM_MOVEABLE, kHeaderBytes + kTableBytes + page.bits.size());
    auto* base = static_cast<std::uint8_t*>(GlobalLock(handle_));
    std::memcpy(base, &h, kHeaderBytes);
    std::memcpy(base + kHeaderBytes, table, kTableBytes);
    std::uint8_t* rows = base + kHeaderBytes + kTableBytes;
    for (int y = 0; y < page.height; ++y)
        std::memcpy(rows + std::size_t(page.height - 1 - y) * page.stride,
                    page.bits.data() + std::size_t(y) * page.stride, page.stride);
    GlobalUnlock(handle_);
}

PageDib::~PageDib() { GlobalFree(handle_); }

const std::vector<std::string>& textPages() {
    static const std::vector<std::string> pages = {"feyn.tif",        "witten.tif",       "pageseg1.tif",
                                                   "shearer.148.tif", "harmoniam-11.tif", "lucasta.1.300.tif",
                                                   "tickets.tif",     "table.27.tif",     "ortiz-02.tif"};
    return pages;
}

}  // namespace scanpages
