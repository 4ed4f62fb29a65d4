#include "recode_fixture.h"

#include <cstring>

#include "bench/sheets.h"

namespace recodetest {

Library::Library(const char* name) {
    ScopedEnv path("PIXELMEND_LIBRARY_PATH", PXMEND_BIN_DIR);
    module_ = LoadLibraryA(name);
    EXPECT_NE(module_, nullptr) << name;
}

Library::~Library() {
    if (module_) FreeLibrary(module_);
}

namespace {

BITMAPINFOHEADER headerOf(int width, int height, int depth) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = WORD(depth);
    h.biCompression = BI_RGB;
    return h;
}

}  // namespace

Dib::Dib(int width, int height, int depth, int tableEntries)
    : Dib(headerOf(width, height, depth), std::size_t(tableEntries) * 4,
          (std::size_t(width) * std::size_t(depth) + 31) / 32 * 4 * std::size_t(height)) {
    auto* table = reinterpret_cast<RGBQUAD*>(base_ + 40);
    for (int i = 0; i < tableEntries; ++i) {
        const auto level = BYTE(depth == 1 ? i * 255 : tableEntries > 1 ? i * 255 / (tableEntries - 1) : 0);
        table[i] = RGBQUAD{level, level, level, 0};
    }
}

Dib::Dib(const BITMAPINFOHEADER& header, std::size_t tableBytes, std::size_t pixelBytes)
    : width_(header.biWidth), height_(header.biHeight), depth_(header.biBitCount), tableBytes_(tableBytes) {
    stride_ = (std::size_t(std::max(width_, 0)) * std::size_t(depth_) + 31) / 32 * 4;
    handle_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + tableBytes + pixelBytes);
    base_ = static_cast<std::uint8_t*>(GlobalLock(handle_));
    std::memcpy(base_, &header, 40);
}

Dib::~Dib() {
    GlobalUnlock(handle_);
    GlobalFree(handle_);
}

std::uint8_t* Dib::row(int y) const { return base_ + 40 + tableBytes_ + std::size_t(height_ - 1 - y) * stride_; }

std::vector<std::uint8_t> Dib::bytes() const { return {base_, base_ + GlobalSize(handle_)}; }

int Dib::pixel(int x, int y) const {
    const std::uint8_t* r = row(y);
    switch (depth_) {
    case 1:
        return (r[x / 8] >> (7 - x % 8)) & 1;
    case 4:
        return (r[x / 2] >> (x % 2 ? 0 : 4)) & 0xF;
    case 8:
        return r[x];
    default:
        return r[std::size_t(x) * std::size_t(depth_ / 8)];
    }
}

void Dib::setPixel(int x, int y, int value) {
    std::uint8_t* r = row(y);
    switch (depth_) {
    case 1:
        r[x / 8] = std::uint8_t((r[x / 8] & ~(0x80 >> (x % 8))) | (value ? 0x80 >> (x % 8) : 0));
        break;
    case 4: {
        const int shift = x % 2 ? 0 : 4;
        r[x / 2] = std::uint8_t((r[x / 2] & ~(0xF << shift)) | (value & 0xF) << shift);
        break;
    }
    case 8:
        r[x] = std::uint8_t(value);
        break;
    default:
        std::memset(r + std::size_t(x) * std::size_t(depth_ / 8), value, std::size_t(depth_ / 8));
    }
}

void Dib::fill(std::uint8_t value) { std::memset(base_ + 40 + tableBytes_, value, stride_ * std::size_t(height_)); }

void drawTurnedPage(Dib& dib, double degrees, bool negative) {
    // A part of the sheet with lettering, lines, circles and hatching around its middle.
    const pxbench::Sheet sheet = pxbench::makeBusyPart(degrees, 6000, 4000, dib.width(), dib.height());
    ASSERT_EQ(sheet.bits.size(), sheet.stride * std::size_t(dib.height()));
    for (int y = 0; y < dib.height(); ++y) {
        std::uint8_t* to = dib.row(y);
        const std::uint8_t* from = sheet.bits.data() + std::size_t(y) * sheet.stride;
        for (std::size_t i = 0; i < dib.rowBytes(); ++i) to[i] = negative ? std::uint8_t(~from[i]) : from[i];
    }
}

}  // namespace recodetest
