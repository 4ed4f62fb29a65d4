// The stamp's drawing surface (see stamp/bitmap.h).
#include "stamp/bitmap.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
StampBitmap pv__bitmap = {};
}

namespace {

struct StampRegion {
    std::vector<POINT> points;
    int hole = 0;
    StampSymbology symbology{};
};

// The module's state: the regions of the cell being stamped, the surface's height and mode kept from
// j_bitmapInit for the release, and the ring of number texts.
struct StampState {
    std::vector<StampRegion> regions;   // at most k_stampRegionCapacity
    std::vector<StampRegion> overflow;  // further outlines, stroked only
    std::uint32_t height = 0;
    int drawingMode = 0;
    std::array<std::array<char, 32>, 8> numbers{};
    int numberIndex = 0;
};

StampState& state() {
    static StampState s;
    return s;
}

constexpr std::uint32_t k_headerBytes = sizeof(BITMAPINFOHEADER);

// A colour (red, green, blue) as the drawing calls take it: red in the COLORREF's blue place.
COLORREF colorOf(const std::uint8_t rgb[3]) { return (COLORREF(rgb[0]) << 16) | (COLORREF(rgb[1]) << 8) | rgb[2]; }

// rowBytes and stride of width pixels at bitsPerPixel; false for an unsupported depth.
bool b_rowSizes(int bitsPerPixel, std::uint64_t width, std::uint64_t* rowBytes, std::uint64_t* stride) {
    switch (bitsPerPixel) {
    case 1:
        *rowBytes = (width + 7) / 8, *stride = (width + 31) / 8 / 4 * 4;
        return true;
    case 4:
        *rowBytes = (width + 1) / 2, *stride = (width + 7) / 2 / 4 * 4;
        return true;
    case 8:
        *rowBytes = width, *stride = (width + 3) / 4 * 4;
        return true;
    case 24:
        *rowBytes = 3 * width, *stride = 3 * (width + 1) / 4 * 4;
        return true;
    case 32:
        *rowBytes = 4 * width, *stride = 4 * width;
        return true;
    default:
        return false;
    }
}

// The colour table of a surface: 2 entries black and white at 1 bit; 16 or 256 from palette at 4 and 8
// bits (drawing order: red in the blue place; exchange order: blue, green, red), in drawing mode a grey
// ramp without a palette; none otherwise.
std::vector<RGBQUAD> colourTable(int bitsPerPixel, const std::uint8_t* palette, bool drawing) {
    if (bitsPerPixel == 1) return {{0, 0, 0, 0}, {255, 255, 255, 0}};
    if (bitsPerPixel != 4 && bitsPerPixel != 8) return {};
    const int entries = 1 << bitsPerPixel;
    std::vector<RGBQUAD> table;
    if (!palette && !drawing) return table;
    for (int i = 0; i < entries; ++i) {
        if (!palette) {
            const auto grey = std::uint8_t(i * 255 / (entries - 1));
            table.push_back({grey, grey, grey, 0});
        } else {
            const std::uint8_t* t = palette + 3 * i;
            table.push_back(drawing ? RGBQUAD{t[0], t[1], t[2], 0} : RGBQUAD{t[2], t[1], t[0], 0});
        }
    }
    return table;
}

BITMAPINFOHEADER headerOf(const BitmapSize& size, int bitsPerPixel) {
    BITMAPINFOHEADER h{};
    h.biSize = k_headerBytes;
    h.biWidth = size.width;
    h.biHeight = size.height;
    h.biPlanes = 1;
    h.biBitCount = WORD(bitsPerPixel);
    h.biCompression = BI_RGB;
    return h;
}

// Copies buffer rows into the surface (top buffer row to the last surface row).
void v_rowsIn(const std::uint8_t* buffer, std::uint32_t height) {
    for (std::uint32_t r = 0; r < height; ++r)
        std::memcpy(pv__bitmap.bits + std::size_t(height - 1 - r) * pv__bitmap.stride,
                    buffer + std::size_t(r) * pv__bitmap.rowBytes, pv__bitmap.rowBytes);
}

// Makes the packed bitmap in a locked memory block; false when there is no memory.
bool b_exchangeSurface(const BITMAPINFOHEADER& header, const std::vector<RGBQUAD>& table, std::uint32_t height) {
    const std::size_t tableBytes = table.size() * sizeof(RGBQUAD);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                                k_headerBytes + tableBytes + std::size_t(pv__bitmap.stride) * height);
    auto* bytes = block ? static_cast<std::uint8_t*>(GlobalLock(block)) : nullptr;
    if (!bytes) {
        if (block) GlobalFree(block);
        return false;
    }
    std::memcpy(bytes, &header, k_headerBytes);
    if (tableBytes) std::memcpy(bytes + k_headerBytes, table.data(), tableBytes);
    pv__bitmap.surface = block;
    pv__bitmap.bits = bytes + k_headerBytes + tableBytes;
    std::memset(pv__bitmap.bits, 0, std::size_t(pv__bitmap.stride) * height);
    return true;
}

// Makes the bitmap section in a memory device context; false when either cannot be made.
bool b_drawingSurface(const BITMAPINFOHEADER& header, const std::vector<RGBQUAD>& table) {
    std::vector<std::uint8_t> info(k_headerBytes + table.size() * sizeof(RGBQUAD));
    std::memcpy(info.data(), &header, k_headerBytes);
    if (!table.empty()) std::memcpy(info.data() + k_headerBytes, table.data(), table.size() * sizeof(RGBQUAD));
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return false;
    void* bits = nullptr;
    HBITMAP section =
        CreateDIBSection(dc, reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!section || !bits) {
        if (section) DeleteObject(section);
        DeleteDC(dc);
        return false;
    }
    pv__bitmap.memoryDC = dc;
    pv__bitmap.surface = section;
    pv__bitmap.bits = static_cast<std::uint8_t*>(bits);
    return true;
}

// An object selected into the surface's device context for one drawing call: selects the one before
// back and deletes the object when it goes.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), object_(object), previous_(SelectObject(dc, object)) {}
    ~Selection() {
        if (previous_) SelectObject(dc_, previous_);
        if (object_) DeleteObject(object_);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ object_;
    HGDIOBJ previous_;
};

bool b_drawable() { return pv__bitmap.memoryDC && pv__bitmap.surface; }

// The region of an outline (even-odd); null for fewer than 3 points.
HRGN regionOf(const StampRegion& region) {
    return CreatePolygonRgn(region.points.data(), int(region.points.size()), ALTERNATE);
}

// Fills the table's regions (entry 0 the base, holes by exclusive or, solids by union) in color.
void v_fillRegions(const std::vector<StampRegion>& regions, COLORREF color) {
    HRGN combined = regionOf(regions[0]);
    if (!combined) return;
    for (std::size_t i = 1; i < regions.size(); ++i) {
        HRGN part = regionOf(regions[i]);
        if (!part) continue;
        CombineRgn(combined, combined, part, regions[i].hole ? RGN_XOR : RGN_OR);
        DeleteObject(part);
    }
    HBRUSH brush = CreateSolidBrush(color);
    if (brush) FillRgn(pv__bitmap.memoryDC, combined, brush);
    if (brush) DeleteObject(brush);
    DeleteObject(combined);
}

}  // namespace

HPEN pv_stampPen(const StampSymbology* symbology) {
    static const StampSymbology k_plain{};
    const StampSymbology& s = symbology ? *symbology : k_plain;
    LOGBRUSH brush{BS_SOLID, colorOf(s.lineColor), 0};
    const std::uint32_t count = s.dashCount <= 32 ? s.dashCount : 32;
    if (count >= 2) {
        DWORD dashes[32];
        for (std::uint32_t i = 0; i < count; ++i) dashes[i] = s.dashes[i];
        return ExtCreatePen(PS_GEOMETRIC | PS_ENDCAP_FLAT | PS_USERSTYLE, s.penWidth, &brush, count, dashes);
    }
    return ExtCreatePen(PS_GEOMETRIC | PS_ENDCAP_FLAT | PS_SOLID, s.penWidth, &brush, 0, nullptr);
}

extern "C" {

int j_bitmapInit(const std::uint8_t* buffer, const BitmapSize* size, int bitsPerPixel, const std::uint8_t* palette,
                 int drawingMode) {
    std::uint64_t rowBytes = 0, stride = 0;
    if (!b_rowSizes(bitsPerPixel, 0, &rowBytes, &stride)) return 1;
    if (!buffer || !size || size->width <= 0 || size->height <= 0) return 2;
    b_rowSizes(bitsPerPixel, std::uint64_t(size->width), &rowBytes, &stride);
    if (stride * std::uint64_t(size->height) > (std::uint64_t(1) << 31)) return 2;
    v_bitmapRelease(nullptr, nullptr, 0);  // a surface left over from an init without release goes first
    pv__bitmap = StampBitmap{nullptr, std::uint32_t(rowBytes), std::uint32_t(stride), nullptr, nullptr, nullptr};
    const BITMAPINFOHEADER header = headerOf(*size, bitsPerPixel);
    const std::vector<RGBQUAD> table = colourTable(bitsPerPixel, palette, drawingMode != 0);
    const auto height = std::uint32_t(size->height);
    if (!(drawingMode ? b_drawingSurface(header, table) : b_exchangeSurface(header, table, height))) return 2;
    state().height = height;
    state().drawingMode = drawingMode;
    v_rowsIn(buffer, height);
    if (drawingMode) {
        pv__bitmap.previousObject = SelectObject(pv__bitmap.memoryDC, pv__bitmap.surface);
        if (!table.empty()) SetDIBColorTable(pv__bitmap.memoryDC, 0, UINT(table.size()), table.data());
    }
    return 0;
}

void v_bitmapRelease(std::uint8_t* buffer, const BitmapSize* size, int) {
    if (!pv__bitmap.surface) return;
    // The height and mode the surface was made with, whatever the caller passes now.
    const std::uint32_t height = state().height;
    GdiFlush();  // drawing may still be pending on the bits
    if (buffer && size)
        for (std::uint32_t r = 0; r < height; ++r)
            std::memcpy(buffer + std::size_t(r) * pv__bitmap.rowBytes,
                        pv__bitmap.bits + std::size_t(height - 1 - r) * pv__bitmap.stride, pv__bitmap.rowBytes);
    if (state().drawingMode) {
        SelectObject(pv__bitmap.memoryDC, pv__bitmap.previousObject);
        DeleteObject(pv__bitmap.surface);
        DeleteDC(pv__bitmap.memoryDC);
    } else {
        GlobalUnlock(pv__bitmap.surface);
        GlobalFree(pv__bitmap.surface);
    }
    pv__bitmap.bits = nullptr;
    pv__bitmap.previousObject = nullptr;
    pv__bitmap.surface = nullptr;
    pv__bitmap.memoryDC = nullptr;
}

void v_stampDrawLine(const POINT* from, const POINT* to) {
    if (!b_drawable() || !from || !to) return;
    const LOGBRUSH brush{BS_SOLID, 0xFFFFFF, 0};
    {
        const Selection pen(pv__bitmap.memoryDC, ExtCreatePen(PS_GEOMETRIC | PS_SOLID, 2, &brush, 0, nullptr));
        const POINT line[2] = {*from, *to};
        Polyline(pv__bitmap.memoryDC, line, 2);
    }
}

void v_stampDrawLineString(const POINT* points, int count, const StampSymbology* symbology) {
    if (!b_drawable() || !points || count < 2) return;
    {
        const Selection pen(pv__bitmap.memoryDC, pv_stampPen(symbology));
        Polyline(pv__bitmap.memoryDC, points, count);
    }
}

void v_stampDrawPolygon(const POINT* points, int count, const StampSymbology* symbology) {
    if (!b_drawable() || !points || count < 2 || !symbology) return;
    {
        const Selection pen(pv__bitmap.memoryDC, pv_stampPen(symbology));
        const Selection brush(
            pv__bitmap.memoryDC,
            CreateSolidBrush(colorOf(symbology->fillFlag ? symbology->fillColor : symbology->backColor)));
        Polygon(pv__bitmap.memoryDC, points, count);
    }
}

void v_stampCreateRegion(const POINT* points, int count, const StampSymbology* symbology, int hole) {
    if (!points || count <= 0 || !symbology) return;
    StampState& s = state();
    auto& table = s.regions.size() < std::size_t(k_stampRegionCapacity) ? s.regions : s.overflow;
    table.push_back({std::vector<POINT>(points, points + count), hole, *symbology});
}

void v_stampDrawRegions(const StampSymbology* fillSymbology) {
    StampState& s = state();
    if (s.regions.empty()) return;
    if (b_drawable() && fillSymbology) v_fillRegions(s.regions, colorOf(fillSymbology->fillColor));
    for (const auto* table : {&s.regions, &s.overflow})
        for (const StampRegion& region : *table)
            v_stampDrawLineString(region.points.data(), int(region.points.size()), &region.symbology);
    s.regions.clear();
    s.overflow.clear();
}

const char* pc_numberFmt(std::uint32_t n) {
    StampState& s = state();
    s.numberIndex = (s.numberIndex + 1) % int(s.numbers.size());
    char* text = s.numbers[std::size_t(s.numberIndex)].data();
    const int size = int(s.numbers[0].size());
    char digits[16];
    std::snprintf(digits, sizeof digits, "%lu", static_cast<unsigned long>(n));
    char fraction[8];
    const bool formatted = GetNumberFormatA(LOCALE_USER_DEFAULT, 0, digits, nullptr, text, size) > 0;
    const bool knowsDigits = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDIGITS, fraction, sizeof fraction) > 0;
    const std::size_t cut = knowsDigits ? std::size_t(std::atoi(fraction)) : 0;
    const std::size_t length = formatted ? std::strlen(text) : 0;
    // No decimals: the separator and the fractional digits go; a failed or too short text gives the digits.
    if (!formatted || (cut > 0 && length <= cut + 1) || cut > 16)
        std::snprintf(text, std::size_t(size), "%s", digits);
    else if (cut > 0)
        text[length - cut - 1] = '\0';
    return text;
}

}  // extern "C"
