// The Windows drawing calls of the stamp on Cairo: memory device contexts, device-independent
// bitmaps, geometric pens, solid brushes and polygon regions, with GDI's pixel rules.
//
// Handles are the addresses of objects this module owns (one table per kind of handle); an
// address that is not a live object of the kind wanted is refused, never followed.
//
// Drawing. Every primitive is drawn without antialiasing into a Cairo A8 mask covering the
// primitive's box (cut to the bitmap, in bands of at most about 4 MB), and wherever the mask is set the
// bitmap gets its own pixel value for the colour: the index of the nearest colour-table entry for 1, 4
// and 8 bits, the COLORREF's blue, green and red bytes in that order for 24 and 32 bits (32 bits: then
// 0). A point (x, y) is the centre of pixel x of device row y; device row 0 is the last row in
// memory of a bitmap stored bottom row first (positive height). Cairo samples pixel centres with a
// half-open rule, so a shape from 0.5 to 7.5 covers exactly 7 pixels.
//
// Pens: geometric, width n pixels (0 counts as 1), flat, square or round end caps and round, bevel or
// mitre joins; user dash arrays in pixels start with a dash and run on across the corners of a
// polyline. Cosmetic pens are 1 pixel wide with square ends. Polygon fills the even-odd (ALTERNATE) or
// winding interior with the brush, then strokes the closed outline with the pen. Regions are kept as
// the list of polygons that made them with the operator that combined each (OR, XOR, AND, DIFF), and
// are painted by applying those operators in order to one mask.
#include <cairo.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "host/winapi.h"
#include "subhost/cairo_owned.h"

// The host's objects behind the handles.
struct GdiObject {
    virtual ~GdiObject() = default;
    bool stock = false;
};

struct FreeBits {
    void operator()(std::uint8_t* p) const { std::free(p); }
};

struct HBITMAP__ : GdiObject {
    int width = 1;
    int height = 1;  // rows
    bool bottomUp = true;
    int bitCount = 1;
    std::size_t stride = 4;
    // Zeroed bits from calloc: a large bitmap then gets fresh zero pages instead of a pass clearing them.
    std::unique_ptr<std::uint8_t, FreeBits> bits;
    std::vector<RGBQUAD> table;  // 1, 4 and 8 bits
    // A 1-bit bitmap is drawn on directly by Cairo as an A1 surface over its bits; while it is, its bytes
    // hold Cairo's bit order (first pixel in the low bit) until the next flush puts the DIB's back.
    bool cairoOrder = false;
    subhost::Surface direct;
    subhost::Context directContext;
    // The 1-bit mask that regions and masked drawing are drawn into before they reach the bits, kept
    // from one drawing to the next (grown as needed) so that each costs no surface of its own.
    subhost::Surface scratch;
    subhost::Context scratchContext;
};

struct HPEN__ : GdiObject {
    bool null = false;
    double width = 1;
    COLORREF color = 0;
    cairo_line_cap_t cap = CAIRO_LINE_CAP_ROUND;
    cairo_line_join_t join = CAIRO_LINE_JOIN_ROUND;
    std::vector<double> dashes;  // empty: solid
};

struct HBRUSH__ : GdiObject {
    bool null = false;
    COLORREF color = 0xFFFFFF;
};

struct RegionPart {
    std::vector<POINT> points;
    cairo_fill_rule_t rule = CAIRO_FILL_RULE_EVEN_ODD;
    cairo_operator_t op = CAIRO_OPERATOR_OVER;  // how the part joins the parts before it
};

struct HRGN__ : GdiObject {
    std::vector<RegionPart> parts;
};

struct HDC__ {
    HBITMAP__* bitmap = nullptr;
    HPEN__* pen = nullptr;
    HBRUSH__* brush = nullptr;
    cairo_fill_rule_t fillRule = CAIRO_FILL_RULE_EVEN_ODD;
};

namespace {

// The module's state: every live object and device context, and the stock objects a new device
// context starts with.
struct GdiState {
    std::map<const void*, std::unique_ptr<GdiObject>> objects;
    std::map<const void*, std::unique_ptr<HDC__>> contexts;
    HBITMAP__* stockBitmap = nullptr;
    HPEN__* stockPen = nullptr;
    HBRUSH__* stockBrush = nullptr;

    GdiState() {
        auto bitmap = std::make_unique<HBITMAP__>();
        bitmap->bits.reset(static_cast<std::uint8_t*>(std::calloc(4, 1)));
        bitmap->table = {{0, 0, 0, 0}, {255, 255, 255, 0}};
        stockBitmap = adopt(std::move(bitmap));
        auto pen = std::make_unique<HPEN__>();
        pen->cap = CAIRO_LINE_CAP_SQUARE;
        stockPen = adopt(std::move(pen));
        stockBrush = adopt(std::make_unique<HBRUSH__>());
        for (GdiObject* o : {static_cast<GdiObject*>(stockBitmap), static_cast<GdiObject*>(stockPen),
                             static_cast<GdiObject*>(stockBrush)})
            o->stock = true;
    }

    // Keeps object; gives its handle.
    template <typename T>
    T* adopt(std::unique_ptr<T> object) {
        T* handle = object.get();
        objects.emplace(static_cast<const void*>(handle), std::move(object));
        return handle;
    }

    // The live object of kind T behind handle; null for anything else.
    template <typename T>
    T* find(const void* handle) const {
        const auto it = objects.find(handle);
        return it == objects.end() ? nullptr : dynamic_cast<T*>(it->second.get());
    }

    HDC__* context(const void* handle) const {
        const auto it = contexts.find(handle);
        return it == contexts.end() ? nullptr : it->second.get();
    }

    bool selected(const GdiObject* object) const {
        for (const auto& [key, dc] : contexts)
            if (dc->bitmap == object || dc->pen == object || dc->brush == object) return true;
        return false;
    }
};

GdiState& gdi() {
    static GdiState state;
    return state;
}

using subhost::Context;
using subhost::Surface;

// ---- Pixel values ----

// The value a bitmap stores for color: nearest table index (first of equals) or the packed bytes.
std::uint32_t pixelValue(const HBITMAP__& bitmap, COLORREF color) {
    const int red = color & 0xFF, green = (color >> 8) & 0xFF, blue = (color >> 16) & 0xFF;
    if (bitmap.bitCount > 8) return color;
    std::uint32_t best = 0;
    long bestDistance = std::numeric_limits<long>::max();
    for (std::size_t i = 0; i < bitmap.table.size(); ++i) {
        const RGBQUAD& q = bitmap.table[i];
        const long dr = q.rgbRed - red, dg = q.rgbGreen - green, db = q.rgbBlue - blue;
        const long distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = std::uint32_t(i);
        }
    }
    return best;
}

// The first byte of device row y.
std::uint8_t* rowOf(HBITMAP__& bitmap, int y) {
    const std::size_t row = bitmap.bottomUp ? std::size_t(bitmap.height - 1 - y) : std::size_t(y);
    return bitmap.bits.get() + row * bitmap.stride;
}

// Turning device rows upside down to the memory rows of a bottom-up bitmap would also turn Cairo's
// half-open sampling rule (an edge through a pixel centre takes the pixel below it, not above); moving
// the turned rows down by the smallest fixed-point step keeps the same pixels as drawing top down.
constexpr double kFlipNudge = 1.0 / 256.0;

// Reverses the bit order of every byte of bitmap's rows (DIB order <-> Cairo's A1 order).
void reverseBits(HBITMAP__& bitmap) {
    static const std::array<std::uint8_t, 256> reversed = [] {
        std::array<std::uint8_t, 256> table{};
        for (int v = 0; v < 256; ++v) {
            int r = 0;
            for (int b = 0; b < 8; ++b)
                if (v & (1 << b)) r |= 0x80 >> b;
            table[std::size_t(v)] = std::uint8_t(r);
        }
        return table;
    }();
    std::uint8_t* p = bitmap.bits.get();
    const std::size_t bytes = bitmap.stride * std::size_t(bitmap.height);
    // Eight bytes at a time (swapping neighbouring bits, then pairs, then nibbles), the rest by table.
    std::size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        std::uint64_t x;
        std::memcpy(&x, p + i, 8);
        x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
        x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
        x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
        std::memcpy(p + i, &x, 8);
    }
    for (; i < bytes; ++i) p[i] = reversed[p[i]];
}

// True when bitmap can be drawn on directly: 1 bit per pixel on a machine whose A1 words are little-endian
// (each byte then holds 8 consecutive pixels, as in a DIB, only in reverse bit order).
bool b_directA1(const HBITMAP__& bitmap) {
    return bitmap.bitCount == 1 && !bitmap.stock && std::endian::native == std::endian::little &&
           bitmap.stride == std::size_t(cairo_format_stride_for_width(CAIRO_FORMAT_A1, bitmap.width));
}

// The Cairo context drawing directly on a 1-bit bitmap (device rows down from the top, points at pixel
// centres as for the masks); the bitmap's bits are in Cairo's order from here until dibOrder. Null when
// Cairo cannot wrap the bits.
cairo_t* directContext(HBITMAP__& bitmap) {
    if (!bitmap.directContext) {
        bitmap.direct.reset(cairo_image_surface_create_for_data(bitmap.bits.get(), CAIRO_FORMAT_A1, bitmap.width,
                                                                bitmap.height, int(bitmap.stride)));
        if (cairo_surface_status(bitmap.direct.get()) != CAIRO_STATUS_SUCCESS) {
            bitmap.direct.reset();
            return nullptr;
        }
        bitmap.directContext.reset(cairo_create(bitmap.direct.get()));
        cairo_t* cr = bitmap.directContext.get();
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
        if (bitmap.bottomUp) {
            cairo_matrix_t flip;
            cairo_matrix_init(&flip, 1, 0, 0, -1, 0, bitmap.height + kFlipNudge);
            cairo_set_matrix(cr, &flip);
        }
    }
    if (!bitmap.cairoOrder) {
        reverseBits(bitmap);
        bitmap.cairoOrder = true;
        cairo_surface_mark_dirty(bitmap.direct.get());
    }
    return bitmap.directContext.get();
}

// Puts a directly drawn bitmap's bits back in DIB order (before anything else reads or writes them).
void dibOrder(HBITMAP__& bitmap) {
    if (!bitmap.cairoOrder) return;
    cairo_surface_flush(bitmap.direct.get());
    reverseBits(bitmap);
    bitmap.cairoOrder = false;
}

// Sets up cr to paint value (0 or 1) on a 1-bit bitmap.
void directValue(cairo_t* cr, std::uint32_t value) {
    cairo_new_path(cr);
    cairo_set_operator(cr, value ? CAIRO_OPERATOR_SOURCE : CAIRO_OPERATOR_CLEAR);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
}

// Sets pixel x of row to value.
void setPixel(const HBITMAP__& bitmap, std::uint8_t* row, int x, std::uint32_t value) {
    switch (bitmap.bitCount) {
    case 1: {
        const std::uint8_t bit = std::uint8_t(0x80 >> (x & 7));
        row[x >> 3] = value ? std::uint8_t(row[x >> 3] | bit) : std::uint8_t(row[x >> 3] & ~bit);
        break;
    }
    case 4: {
        std::uint8_t& b = row[x >> 1];
        b = (x & 1) ? std::uint8_t((b & 0xF0) | (value & 0x0F)) : std::uint8_t((b & 0x0F) | ((value & 0x0F) << 4));
        break;
    }
    case 8:
        row[x] = std::uint8_t(value);
        break;
    case 24:
    case 32: {
        std::uint8_t* p = row + std::size_t(x) * (bitmap.bitCount / 8);
        p[0] = std::uint8_t(value >> 16);  // blue
        p[1] = std::uint8_t(value >> 8);   // green
        p[2] = std::uint8_t(value);        // red
        if (bitmap.bitCount == 32) p[3] = 0;
        break;
    }
    }
}

// ---- Masks ----

struct Box {
    int left, top, right, bottom;  // right and bottom excluded
};

// The pixels points can touch with a margin, cut to the bitmap; empty when they miss it.
Box boxOf(const std::vector<const std::vector<POINT>*>& polygons, double margin, const HBITMAP__& bitmap) {
    double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
    for (const auto* polygon : polygons)
        for (const POINT& p : *polygon) {
            left = std::min(left, double(p.x));
            top = std::min(top, double(p.y));
            right = std::max(right, double(p.x));
            bottom = std::max(bottom, double(p.y));
        }
    const int m = int(std::ceil(margin)) + 2;
    Box box{int(std::max(0.0, left - m)), int(std::max(0.0, top - m)),
            int(std::min(double(bitmap.width), right + m + 1)), int(std::min(double(bitmap.height), bottom + m + 1))};
    if (box.right <= box.left || box.bottom <= box.top) box = {0, 0, 0, 0};
    return box;
}

// Adds the polygon or polyline through points to cr's path (pixel centres).
void addPath(cairo_t* cr, const std::vector<POINT>& points, bool closed) {
    cairo_move_to(cr, points[0].x + 0.5, points[0].y + 0.5);
    for (std::size_t i = 1; i < points.size(); ++i) cairo_line_to(cr, points[i].x + 0.5, points[i].y + 0.5);
    if (closed) cairo_close_path(cr);
}

// The bitmap's scratch mask, at least width x rows, with those pixels cleared and its context reset;
// null when Cairo cannot make it.
cairo_t* scratchMask(HBITMAP__& bitmap, int width, int rows) {
    cairo_surface_t* have = bitmap.scratch.get();
    if (!have || cairo_image_surface_get_width(have) < width || cairo_image_surface_get_height(have) < rows) {
        const int w = std::max(width, have ? cairo_image_surface_get_width(have) : 0);
        const int h = std::max(rows, have ? cairo_image_surface_get_height(have) : 0);
        bitmap.scratchContext.reset();
        bitmap.scratch.reset(cairo_image_surface_create(CAIRO_FORMAT_A1, w, h));
        if (cairo_surface_status(bitmap.scratch.get()) != CAIRO_STATUS_SUCCESS) {
            bitmap.scratch.reset();
            return nullptr;
        }
        bitmap.scratchContext.reset(cairo_create(bitmap.scratch.get()));
        cairo_set_antialias(bitmap.scratchContext.get(), CAIRO_ANTIALIAS_NONE);
    }
    cairo_surface_t* mask = bitmap.scratch.get();
    cairo_surface_flush(mask);
    const int stride = cairo_image_surface_get_stride(mask);
    unsigned char* data = cairo_image_surface_get_data(mask);
    for (int y = 0; y < rows; ++y) std::memset(data + std::size_t(y) * stride, 0, std::size_t(width + 7) / 8);
    cairo_surface_mark_dirty(mask);
    cairo_t* cr = bitmap.scratchContext.get();
    cairo_new_path(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_set_dash(cr, nullptr, 0, 0);
    return cr;
}

// Sets (value 1) or clears (value 0) the directly drawn bits of bitmap where the scratch mask's first
// width x rows pixels are set, the mask's first row on memory row top and its first pixel on pixel left.
// Both are in Cairo's bit order: pixel x is bit x % 8 of byte x / 8.
void applyScratch(HBITMAP__& bitmap, int left, int top, int width, int rows, std::uint32_t value) {
    cairo_surface_t* mask = bitmap.scratch.get();
    cairo_surface_flush(mask);
    cairo_surface_flush(bitmap.direct.get());
    const int maskStride = cairo_image_surface_get_stride(mask);
    const unsigned char* data = cairo_image_surface_get_data(mask);
    const int shift = left & 7;
    const std::size_t bytes = std::size_t(width + 7) / 8;
    const std::size_t rowEnd = bitmap.stride;  // bytes of a memory row
    for (int y = 0; y < rows; ++y) {
        const unsigned char* m = data + std::size_t(y) * maskStride;
        std::uint8_t* row = bitmap.bits.get() + std::size_t(top + y) * bitmap.stride;
        for (std::size_t i = 0; i < bytes; ++i) {
            // The mask's last byte may hold pixels past width (left from an earlier, wider mask).
            std::uint8_t bits = m[i];
            if (i + 1 == bytes && (width & 7)) bits &= std::uint8_t((1u << (width & 7)) - 1);
            if (!bits) continue;
            const std::size_t at = std::size_t(left >> 3) + i;
            const auto low = std::uint8_t(bits << shift), high = std::uint8_t(shift ? bits >> (8 - shift) : 0);
            if (value) {
                row[at] |= low;
                if (high && at + 1 < rowEnd) row[at + 1] |= high;
            } else {
                row[at] &= std::uint8_t(~low);
                if (high && at + 1 < rowEnd) row[at + 1] &= std::uint8_t(~high);
            }
        }
    }
    cairo_surface_mark_dirty_rectangle(bitmap.direct.get(), left, top, width, rows);
}

// Runs draw(cr) on a 1-bit mask of box (device coordinates as for the masks) and paints value through it
// straight onto a 1-bit bitmap drawn on directly; false when Cairo cannot.
template <typename Draw>
bool b_paintMaskedDirect(HBITMAP__& bitmap, const Box& box, std::uint32_t value, Draw draw) {
    if (!directContext(bitmap)) return false;
    const int width = box.right - box.left, rows = box.bottom - box.top;
    const int memoryTop = bitmap.bottomUp ? bitmap.height - box.bottom : box.top;
    cairo_t* cr = scratchMask(bitmap, width, rows);
    if (!cr) return false;
    cairo_matrix_t place;
    if (bitmap.bottomUp)
        cairo_matrix_init(&place, 1, 0, 0, -1, -box.left, bitmap.height - memoryTop + kFlipNudge);
    else
        cairo_matrix_init_translate(&place, -box.left, -box.top);
    cairo_set_matrix(cr, &place);
    draw(cr);
    applyScratch(bitmap, box.left, memoryTop, width, rows, value);
    return true;
}

// Runs draw(cr) on masks covering box and writes value where each mask is set: through the scratch mask
// on a 1-bit bitmap drawn on directly, else on A8 masks band by band.
template <typename Draw>
void paintMasked(HBITMAP__& bitmap, const Box& box, std::uint32_t value, Draw draw) {
    if (box.right <= box.left || box.bottom <= box.top) return;
    if (b_directA1(bitmap) && b_paintMaskedDirect(bitmap, box, value, draw)) return;
    dibOrder(bitmap);
    const int width = box.right - box.left;
    if (width <= 0 || box.bottom <= box.top) return;
    const int band = std::max(1, std::min(box.bottom - box.top, (4 << 20) / width));
    for (int top = box.top; top < box.bottom; top += band) {
        const int rows = std::min(band, box.bottom - top);
        const Surface mask(cairo_image_surface_create(CAIRO_FORMAT_A8, width, rows));
        if (cairo_surface_status(mask.get()) != CAIRO_STATUS_SUCCESS) return;
        {
            const Context cr(cairo_create(mask.get()));
            cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_NONE);
            cairo_translate(cr.get(), -box.left, -top);
            draw(cr.get());
        }
        cairo_surface_flush(mask.get());
        const unsigned char* data = cairo_image_surface_get_data(mask.get());
        const int maskStride = cairo_image_surface_get_stride(mask.get());
        for (int y = 0; y < rows; ++y) {
            const unsigned char* m = data + std::size_t(y) * maskStride;
            std::uint8_t* row = rowOf(bitmap, top + y);
            for (int x = 0; x < width; ++x)
                if (m[x]) setPixel(bitmap, row, box.left + x, value);
        }
    }
}

// Strokes points (closed or not) with pen into dc's bitmap.
void strokeWith(HBITMAP__& bitmap, const HPEN__& pen, const std::vector<POINT>& points, bool closed) {
    if (pen.null || points.size() < 2) return;
    auto stroke = [&](cairo_t* cr) {
        cairo_set_line_width(cr, pen.width);
        cairo_set_line_cap(cr, pen.cap);
        cairo_set_line_join(cr, pen.join);
        cairo_set_dash(cr, pen.dashes.data(), int(pen.dashes.size()), 0);
        addPath(cr, points, closed);
        cairo_stroke(cr);
    };
    if (b_directA1(bitmap)) {
        if (cairo_t* cr = directContext(bitmap)) {
            directValue(cr, pixelValue(bitmap, pen.color));
            stroke(cr);
            return;
        }
    }
    const Box box = boxOf({&points}, pen.width, bitmap);
    paintMasked(bitmap, box, pixelValue(bitmap, pen.color), stroke);
}

// Fills the region's parts with color into bitmap, combining them in order.
void fillParts(HBITMAP__& bitmap, const std::vector<RegionPart>& parts, COLORREF color) {
    std::vector<const std::vector<POINT>*> polygons;
    for (const RegionPart& part : parts) polygons.push_back(&part.points);
    if (polygons.empty()) return;
    // One polygon needs no mask of its own on a 1-bit bitmap: it is filled where it lies.
    if (parts.size() == 1 && b_directA1(bitmap)) {
        if (cairo_t* cr = directContext(bitmap)) {
            directValue(cr, pixelValue(bitmap, color));
            cairo_set_fill_rule(cr, parts[0].rule);
            addPath(cr, parts[0].points, true);
            cairo_fill(cr);
            return;
        }
    }
    const Box box = boxOf(polygons, 0, bitmap);
    paintMasked(bitmap, box, pixelValue(bitmap, color), [&](cairo_t* cr) {
        for (const RegionPart& part : parts) {
            cairo_set_operator(cr, part.op);
            cairo_set_fill_rule(cr, part.rule);
            addPath(cr, part.points, true);
            cairo_fill(cr);
        }
    });
}

std::vector<POINT> pointsOf(const POINT* points, int count) { return std::vector<POINT>(points, points + count); }

// The drawable bitmap of dc, or null.
HBITMAP__* drawable(HDC dc) {
    HDC__* context = gdi().context(dc);
    return context && context->bitmap && context->bitmap->bits ? context->bitmap : nullptr;
}

// The size of a device-independent bitmap's rows and pixels; 0 for an unsupported header or a size
// beyond 2 GiB.
std::size_t dibBytes(const BITMAPINFOHEADER& h, std::size_t* stride) {
    const int bits = h.biBitCount;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB || h.biPlanes != 1 ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) || h.biWidth <= 0 || h.biHeight == 0 ||
        h.biHeight == std::numeric_limits<LONG>::min())
        return 0;
    *stride = (std::size_t(h.biWidth) * bits + 31) / 32 * 4;
    const std::size_t rows = std::size_t(std::abs(std::int64_t(h.biHeight)));
    if (rows > (std::size_t(1) << 31) / *stride) return 0;
    return *stride * rows;
}

}  // namespace

extern "C" {

HDC CreateCompatibleDC(HDC) {
    GdiState& state = gdi();
    auto dc = std::make_unique<HDC__>();
    dc->bitmap = state.stockBitmap;
    dc->pen = state.stockPen;
    dc->brush = state.stockBrush;
    HDC handle = dc.get();
    state.contexts.emplace(handle, std::move(dc));
    return handle;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD) {
    if (bits) *bits = nullptr;
    if (!info || usage != DIB_RGB_COLORS || section) return nullptr;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    std::size_t stride = 0;
    const std::size_t bytes = dibBytes(h, &stride);
    if (bytes == 0) return nullptr;
    auto bitmap = std::make_unique<HBITMAP__>();
    bitmap->width = h.biWidth;
    bitmap->height = int(std::abs(std::int64_t(h.biHeight)));
    bitmap->bottomUp = h.biHeight > 0;
    bitmap->bitCount = h.biBitCount;
    bitmap->stride = stride;
    bitmap->bits.reset(static_cast<std::uint8_t*>(std::calloc(bytes, 1)));
    if (!bitmap->bits) return nullptr;
    if (h.biBitCount <= 8) {
        const std::size_t entries = std::size_t(1) << h.biBitCount;
        const std::size_t used = h.biClrUsed ? std::min<std::size_t>(h.biClrUsed, entries) : entries;
        const auto* table = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const std::uint8_t*>(info) + h.biSize);
        bitmap->table.assign(table, table + used);
    }
    if (bits) *bits = bitmap->bits.get();
    return gdi().adopt(std::move(bitmap));
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    GdiState& state = gdi();
    HDC__* context = state.context(dc);
    if (!context) return nullptr;
    if (auto* bitmap = state.find<HBITMAP__>(object)) {
        if (context->bitmap) dibOrder(*context->bitmap);
        for (const auto& [key, other] : state.contexts)  // a bitmap sits in one device context at a time
            if (other.get() != context && other->bitmap == bitmap && !bitmap->stock) return nullptr;
        return std::exchange(context->bitmap, bitmap);
    }
    if (auto* pen = state.find<HPEN__>(object)) return std::exchange(context->pen, pen);
    if (auto* brush = state.find<HBRUSH__>(object)) return std::exchange(context->brush, brush);
    return nullptr;
}

BOOL DeleteObject(HGDIOBJ object) {
    GdiState& state = gdi();
    const auto it = state.objects.find(object);
    if (it == state.objects.end()) return 0;
    if (it->second->stock) return 1;
    if (state.selected(it->second.get())) return 0;
    if (auto* bitmap = dynamic_cast<HBITMAP__*>(it->second.get())) dibOrder(*bitmap);
    state.objects.erase(it);
    return 1;
}

BOOL DeleteDC(HDC dc) { return gdi().contexts.erase(dc) ? 1 : 0; }

UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) {
    HBITMAP__* bitmap = drawable(dc);
    if (!bitmap || !colors || bitmap->bitCount > 8 || bitmap->stock) return 0;
    const std::size_t entries = std::size_t(1) << bitmap->bitCount;
    if (start >= entries) return 0;
    const std::size_t n = std::min<std::size_t>(count, entries - start);
    if (bitmap->table.size() < start + n) bitmap->table.resize(start + n, RGBQUAD{0, 0, 0, 0});
    std::copy(colors, colors + n, bitmap->table.begin() + start);
    return UINT(n);
}

BOOL GdiFlush() {
    for (auto& [handle, object] : gdi().objects)
        if (auto* bitmap = dynamic_cast<HBITMAP__*>(object.get())) dibOrder(*bitmap);
    return 1;
}

HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* styleArray) {
    if (!brush || (brush->lbStyle != BS_SOLID && brush->lbStyle != BS_NULL)) return nullptr;
    const DWORD kind = style & PS_STYLE_MASK;
    if (kind != PS_SOLID && kind != PS_NULL && kind != PS_USERSTYLE) return nullptr;
    auto pen = std::make_unique<HPEN__>();
    pen->color = brush->lbColor;
    pen->null = kind == PS_NULL || brush->lbStyle == BS_NULL;
    const bool geometric = (style & PS_GEOMETRIC) != 0;
    if (!geometric && width != 1) return nullptr;
    pen->width = width == 0 ? 1.0 : double(std::min<DWORD>(width, 1 << 20));
    const DWORD cap = geometric ? style & PS_ENDCAP_MASK : PS_ENDCAP_SQUARE;
    pen->cap = cap == PS_ENDCAP_FLAT     ? CAIRO_LINE_CAP_BUTT
               : cap == PS_ENDCAP_SQUARE ? CAIRO_LINE_CAP_SQUARE
                                         : CAIRO_LINE_CAP_ROUND;
    const DWORD join = style & PS_JOIN_MASK;
    pen->join = join == PS_JOIN_BEVEL   ? CAIRO_LINE_JOIN_BEVEL
                : join == PS_JOIN_MITER ? CAIRO_LINE_JOIN_MITER
                                        : CAIRO_LINE_JOIN_ROUND;
    if (kind == PS_USERSTYLE) {
        if (!styleArray || styleCount == 0 || styleCount > 16) return nullptr;
        double total = 0;
        for (DWORD i = 0; i < styleCount; ++i) {
            pen->dashes.push_back(double(std::min<DWORD>(styleArray[i], 1 << 20)));
            total += pen->dashes.back();
        }
        if (total <= 0) return nullptr;
        if (styleCount == 1) pen->dashes.clear();  // one length: nothing but dash
    }
    return gdi().adopt(std::move(pen));
}

HBRUSH CreateSolidBrush(COLORREF color) {
    auto brush = std::make_unique<HBRUSH__>();
    brush->color = color & 0xFFFFFF;
    return gdi().adopt(std::move(brush));
}

int SetPolyFillMode(HDC dc, int mode) {
    HDC__* context = gdi().context(dc);
    if (!context || (mode != ALTERNATE && mode != WINDING)) return 0;
    const int before = context->fillRule == CAIRO_FILL_RULE_EVEN_ODD ? ALTERNATE : WINDING;
    context->fillRule = mode == ALTERNATE ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING;
    return before;
}

BOOL Polyline(HDC dc, const POINT* points, int count) {
    HBITMAP__* bitmap = drawable(dc);
    if (!bitmap || !points || count < 2) return 0;
    strokeWith(*bitmap, *gdi().context(dc)->pen, pointsOf(points, count), false);
    return 1;
}

BOOL Polygon(HDC dc, const POINT* points, int count) {
    HBITMAP__* bitmap = drawable(dc);
    if (!bitmap || !points || count < 2) return 0;
    const HDC__& context = *gdi().context(dc);
    const std::vector<RegionPart> parts{{pointsOf(points, count), context.fillRule, CAIRO_OPERATOR_OVER}};
    if (!context.brush->null) fillParts(*bitmap, parts, context.brush->color);
    strokeWith(*bitmap, *context.pen, parts[0].points, true);
    return 1;
}

HRGN CreatePolygonRgn(const POINT* points, int count, int mode) {
    if (!points || count < 3 || (mode != ALTERNATE && mode != WINDING)) return nullptr;
    auto region = std::make_unique<HRGN__>();
    region->parts.push_back({pointsOf(points, count),
                             mode == ALTERNATE ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING,
                             CAIRO_OPERATOR_OVER});
    return gdi().adopt(std::move(region));
}

int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode) {
    GdiState& state = gdi();
    HRGN__* d = state.find<HRGN__>(dest);
    const HRGN__* a = state.find<HRGN__>(src1);
    const HRGN__* b = mode == RGN_COPY ? a : state.find<HRGN__>(src2);
    if (!d || !a || !b) return RGN_ERROR;
    if (mode == RGN_COPY) {
        d->parts = a->parts;
        return COMPLEXREGION;
    }
    cairo_operator_t op;
    switch (mode) {
    case RGN_OR:
        op = CAIRO_OPERATOR_OVER;
        break;
    case RGN_XOR:
        op = CAIRO_OPERATOR_XOR;
        break;
    case RGN_AND:
        op = CAIRO_OPERATOR_DEST_IN;
        break;
    case RGN_DIFF:
        op = CAIRO_OPERATOR_DEST_OUT;
        break;
    default:
        return RGN_ERROR;
    }
    // The second region joins as one part only when it is one polygon; a combined second region is
    // refused (the stamp combines single polygons into its base).
    if (b->parts.size() != 1) return RGN_ERROR;
    std::vector<RegionPart> parts = a->parts;
    parts.push_back(b->parts[0]);
    parts.back().op = op;
    d->parts = std::move(parts);
    return COMPLEXREGION;
}

BOOL FillRgn(HDC dc, HRGN region, HBRUSH brush) {
    GdiState& state = gdi();
    HBITMAP__* bitmap = drawable(dc);
    const HRGN__* r = state.find<HRGN__>(region);
    const HBRUSH__* b = state.find<HBRUSH__>(brush);
    if (!bitmap || !r || !b) return 0;
    if (!b->null) fillParts(*bitmap, r->parts, b->color);
    return 1;
}

}  // extern "C"
