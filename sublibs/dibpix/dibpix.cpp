// The packed DIB of the outside imaging libraries, as Leptonica images.
#include "dibpix.h"

#include <cstring>
#include <limits>
#include <utility>

namespace dibpix {
namespace {

constexpr std::size_t kHeaderBytes = 40;

bool depthTaken(int depth) { return depth == 1 || depth == 4 || depth == 8 || depth == 24 || depth == 32; }

// The DIB's colour table as a Leptonica colour map of all 1 << depth entries (entries the table
// lacks are black), or null.
PIXCMAP* colormapOf(const LockedDib& dib) {
    PIXCMAP* cmap = pixcmapCreate(dib.depth);
    if (!cmap) return nullptr;
    for (int i = 0; i < (1 << dib.depth); ++i) {
        const RGBQUAD q = i < dib.tableEntries ? dib.table[i] : RGBQUAD{0, 0, 0, 0};
        pixcmapAddColor(cmap, q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
    return cmap;
}

// Grey levels of a DIB of 4 or more bits: through its colour table, as stored grey levels, or as
// the luminance of colour pixels.
PixPtr greyOf(const LockedDib& dib) {
    PixPtr raw = pixFromDib(dib);
    if (!raw) return nullptr;
    if (dib.depth >= 24) return PixPtr(pixConvertRGBToLuminance(raw.get()));
    if (dib.tableEntries > 0) {
        PIXCMAP* cmap = colormapOf(dib);
        if (!cmap || pixSetColormap(raw.get(), cmap) != 0) return nullptr;
        return PixPtr(pixRemoveColormap(raw.get(), REMOVE_CMAP_TO_GRAYSCALE));
    }
    if (dib.depth == 4) return PixPtr(pixConvert4To8(raw.get(), 0));
    return raw;
}

}  // namespace

LockedDib::~LockedDib() {
    if (handle_) GlobalUnlock(handle_);
}

bool LockedDib::open(HGLOBAL handle, std::string* why) {
    const std::size_t size = GlobalSize(handle);
    auto* base = static_cast<std::uint8_t*>(size ? GlobalLock(handle) : nullptr);
    if (!base) {
        *why = "the bitmap handle is not a memory block";
        return false;
    }
    handle_ = handle;
    BITMAPINFOHEADER h;
    if (size < kHeaderBytes) {
        *why = "the bitmap block is smaller than its header";
        return false;
    }
    std::memcpy(&h, base, kHeaderBytes);
    if (h.biSize != kHeaderBytes || h.biPlanes != 1 || h.biCompression != BI_RGB) {
        *why = "the bitmap header is not a 40-byte uncompressed one-plane header";
        return false;
    }
    if (h.biWidth <= 0 || h.biHeight <= 0) {
        *why = "the bitmap is empty or not stored bottom row first";
        return false;
    }
    if (!depthTaken(h.biBitCount)) {
        *why = "a bitmap of " + std::to_string(h.biBitCount) + " bits per pixel is not taken (1, 4, 8, 24 or 32)";
        return false;
    }
    width = h.biWidth;
    height = h.biHeight;
    depth = h.biBitCount;
    stride = (std::size_t(width) * std::size_t(depth) + 31) / 32 * 4;
    const std::size_t pixelBytes = stride * std::size_t(height);
    if (pixelBytes / stride != std::size_t(height) || pixelBytes > size - kHeaderBytes) {
        *why = "the bitmap's rows do not fit in its memory block";
        return false;
    }
    // The colour table is whatever lies between the header and the rows: 1 bit always has one,
    // 4 and 8 bits may (a palette) or may not (grey levels), 24 and 32 bits have none.
    const std::size_t tableBytes = size - kHeaderBytes - pixelBytes;
    const std::size_t most = depth <= 8 ? (std::size_t(1) << depth) * 4 : 0;
    if (tableBytes % 4 != 0 || tableBytes > most || (depth == 1 && tableBytes == 0)) {
        *why = "the bitmap's colour table does not fit its depth";
        return false;
    }
    tableEntries = int(tableBytes / 4);
    table = reinterpret_cast<const RGBQUAD*>(base + kHeaderBytes);
    bits = base + kHeaderBytes + tableBytes;
    if (std::size_t(width) > std::size_t(std::numeric_limits<l_int32>::max()) / 32) {
        *why = "the bitmap is too wide";
        return false;
    }
    return true;
}

PixPtr pixFromDib(const LockedDib& dib) {
    const int pixDepth = dib.depth == 24 ? 32 : dib.depth;
    PixPtr pix(pixCreate(dib.width, dib.height, pixDepth));
    if (!pix) return nullptr;
    l_uint32* data = pixGetData(pix.get());
    const int wpl = pixGetWpl(pix.get());
    if (dib.depth <= 8) {
        for (int y = 0; y < dib.height; ++y)
            std::memcpy(data + std::size_t(y) * std::size_t(wpl), dib.row(y), dib.rowBytes());
        pixEndianByteSwap(pix.get());  // bytes in stored order -> pixels from the high bits of each word
        pixSetPadBits(pix.get(), 0);
        return pix;
    }
    const int bytes = dib.depth / 8;
    for (int y = 0; y < dib.height; ++y) {
        const std::uint8_t* from = dib.row(y);
        l_uint32* to = data + std::size_t(y) * std::size_t(wpl);
        for (int x = 0; x < dib.width; ++x, from += bytes) {
            const l_uint32 alpha = bytes == 4 ? from[3] : 0;
            to[x] = l_uint32(from[2]) << L_RED_SHIFT | l_uint32(from[1]) << L_GREEN_SHIFT |
                    l_uint32(from[0]) << L_BLUE_SHIFT | alpha << L_ALPHA_SHIFT;
        }
    }
    return pix;
}

void pixToDib(PIX* pix, const LockedDib& dib) {
    const l_uint32* data = pixGetData(pix);
    const int wpl = pixGetWpl(pix);
    if (dib.depth <= 8) {
        pixEndianByteSwap(pix);
        const std::size_t full = std::size_t(dib.width) * std::size_t(dib.depth) / 8;
        const int tailBits = int(std::size_t(dib.width) * std::size_t(dib.depth) % 8);
        const std::uint8_t tailMask = std::uint8_t(0xFF00 >> tailBits);
        for (int y = 0; y < dib.height; ++y) {
            const auto* from = reinterpret_cast<const std::uint8_t*>(data + std::size_t(y) * std::size_t(wpl));
            std::uint8_t* to = dib.row(y);
            std::memcpy(to, from, full);
            if (tailBits) to[full] = std::uint8_t((from[full] & tailMask) | (to[full] & ~tailMask));
        }
        pixEndianByteSwap(pix);
        return;
    }
    const int bytes = dib.depth / 8;
    for (int y = 0; y < dib.height; ++y) {
        const l_uint32* from = data + std::size_t(y) * std::size_t(wpl);
        std::uint8_t* to = dib.row(y);
        for (int x = 0; x < dib.width; ++x, to += bytes) {
            to[0] = std::uint8_t(from[x] >> L_BLUE_SHIFT);
            to[1] = std::uint8_t(from[x] >> L_GREEN_SHIFT);
            to[2] = std::uint8_t(from[x] >> L_RED_SHIFT);
            if (bytes == 4) to[3] = std::uint8_t(from[x] >> L_ALPHA_SHIFT);
        }
    }
}

PixPtr inkOf(const LockedDib& dib) {
    PixPtr ink;
    if (dib.depth == 1) {
        ink = pixFromDib(dib);
    } else {
        PixPtr grey = greyOf(dib);
        if (!grey) return nullptr;
        l_int32 threshold = 128;
        if (pixSplitDistributionFgBg(grey.get(), 0.1f, 1, &threshold, nullptr, nullptr, nullptr) != 0) threshold = 128;
        ink.reset(pixThresholdToBinary(grey.get(), threshold));
    }
    if (!ink) return nullptr;
    l_int32 count = 0;
    pixCountPixels(ink.get(), &count, nullptr);
    if (double(count) * 2 > double(dib.width) * double(dib.height)) pixInvert(ink.get(), ink.get());
    return ink;
}

std::int64_t Sessions::open() {
    auto session = std::make_unique<std::string>();
    const auto handle = static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(session.get()));
    sessions_.emplace(handle, std::move(session));
    return handle;
}

bool Sessions::known(std::int64_t handle) const { return sessions_.contains(handle); }

bool Sessions::close(std::int64_t handle) { return sessions_.erase(handle) > 0; }

void Sessions::refuse(std::int64_t handle, std::string why) {
    const auto it = sessions_.find(handle);
    (it == sessions_.end() ? unknown_ : *it->second) = std::move(why);
}

const char* Sessions::lastError(std::int64_t handle) const {
    const auto it = sessions_.find(handle);
    return it == sessions_.end() ? unknown_.c_str() : it->second->c_str();
}

void Sessions::clear(std::int64_t handle) {
    const auto it = sessions_.find(handle);
    if (it != sessions_.end()) it->second->clear();
}

void silenceLeptonica() { setMsgSeverity(L_SEVERITY_NONE); }

}  // namespace dibpix
