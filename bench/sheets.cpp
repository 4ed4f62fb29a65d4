// The benchmarks' A0 sheets. The busy one is drawn with Cairo on a 1-bit surface without
// antialiasing (as a scanner's threshold leaves lines: hard edges, stair steps on slopes and
// curves), then sprinkled with specks; the grid one is set bit by bit.
#include "sheets.h"

#include <cairo.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <random>

namespace pxbench {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kSpecks = 20000;

// A seeded generator whose numbers are the same with every standard library
// (the distributions of <random> are not).
struct Random {
    std::mt19937_64 engine;
    explicit Random(std::uint64_t seed) : engine(seed) {}
    double uniform() { return double(engine() >> 11) * 0x1p-53; }                      // [0, 1)
    double between(double lo, double hi) { return lo + uniform() * (hi - lo); }        // [lo, hi)
    int integer(int lo, int hi) { return lo + int(uniform() * double(hi - lo + 1)); }  // [lo, hi]
};

struct CairoDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};

void line(cairo_t* cr, double x0, double y0, double x1, double y1, double width) {
    cairo_set_line_width(cr, width);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_stroke(cr);
}

// A letter-like glyph in a cw x ch cell: two to four strokes, straight or round, as lettering has.
void glyph(cairo_t* cr, Random& random, double x, double y, double cw, double ch) {
    const int strokes = random.integer(2, 4);
    cairo_set_line_width(cr, 3);
    for (int i = 0; i < strokes; ++i) {
        switch (random.integer(0, 11)) {
        case 0:
            cairo_move_to(cr, x, y);
            cairo_line_to(cr, x, y + ch);
            break;
        case 1:
            cairo_move_to(cr, x + cw, y);
            cairo_line_to(cr, x + cw, y + ch);
            break;
        case 2:
            cairo_move_to(cr, x, y);
            cairo_line_to(cr, x + cw, y);
            break;
        case 3:
            cairo_move_to(cr, x, y + ch / 2);
            cairo_line_to(cr, x + cw, y + ch / 2);
            break;
        case 4:
            cairo_move_to(cr, x, y + ch);
            cairo_line_to(cr, x + cw, y + ch);
            break;
        case 5:
            cairo_move_to(cr, x, y + ch);
            cairo_line_to(cr, x + cw, y);
            break;
        case 6:
            cairo_move_to(cr, x + cw / 2, y);
            cairo_line_to(cr, x + cw / 2, y + ch);
            break;
        case 7:
            cairo_new_sub_path(cr);
            cairo_arc(cr, x + cw / 2, y + ch / 4, cw / 2, kPi, 2 * kPi);
            break;  // top bow
        case 8:
            cairo_new_sub_path(cr);
            cairo_arc(cr, x + cw / 2, y + ch * 3 / 4, cw / 2, 0, kPi);
            break;  // bottom bow
        case 9:
            cairo_new_sub_path(cr);
            cairo_arc(cr, x + cw / 2, y + ch / 2, cw / 2, kPi / 2, 3 * kPi / 2);
            break;  // C
        case 10:
            cairo_new_sub_path(cr);
            cairo_arc(cr, x + cw / 2, y + ch * 3 / 4, cw / 2, 0, 2 * kPi);
            break;  // o
        default:    // S-like curve
            cairo_move_to(cr, x + cw, y);
            cairo_curve_to(cr, x - cw / 2, y + ch / 3, x + cw * 1.5, y + ch * 2 / 3, x, y + ch);
            break;
        }
    }
    cairo_stroke(cr);
}

// A row of text: letters 1.5 cells apart with word spaces.
void textRow(cairo_t* cr, Random& random, double x, double y, int letters, double cw, double ch) {
    for (int i = 0; i < letters; ++i) {
        if (random.uniform() < 0.15) continue;
        glyph(cr, random, x + i * cw * 1.5, y, cw, ch);
    }
}

// Parallel strokes `spacing` apart at `angle` over the current clip, as section hatching is drawn.
void hatch(cairo_t* cr, double cx, double cy, double radius, double angle, double spacing, double width) {
    const double dx = std::cos(angle), dy = std::sin(angle);
    cairo_set_line_width(cr, width);
    for (double t = -radius; t <= radius; t += spacing) {
        const double px = cx - dy * t, py = cy + dx * t;
        cairo_move_to(cr, px - dx * radius, py - dy * radius);
        cairo_line_to(cr, px + dx * radius, py + dy * radius);
    }
    cairo_stroke(cr);
}

// A hatched section: a rectangle, circle or quadrilateral outlined and hatched (sometimes cross-hatched).
void hatchedSection(cairo_t* cr, Random& random, double x0, double y0, double x1, double y1) {
    const double w = random.between(300, 1400), h = random.between(300, 1000);
    const double x = random.between(x0, x1 - w), y = random.between(y0, y1 - h);
    const int shape = random.integer(0, 2);
    cairo_new_path(cr);
    if (shape == 0) {
        cairo_rectangle(cr, x, y, w, h);
    } else if (shape == 1) {
        cairo_arc(cr, x + w / 2, y + h / 2, std::min(w, h) / 2, 0, 2 * kPi);
    } else {
        cairo_move_to(cr, x + random.between(0, w / 3), y);
        cairo_line_to(cr, x + w, y + random.between(0, h / 3));
        cairo_line_to(cr, x + w - random.between(0, w / 3), y + h);
        cairo_line_to(cr, x, y + h - random.between(0, h / 3));
        cairo_close_path(cr);
    }
    cairo_save(cr);
    cairo_clip_preserve(cr);
    cairo_set_line_width(cr, random.integer(3, 5));
    cairo_stroke(cr);
    const double angle = random.uniform() < 0.5 ? kPi / 4 : 3 * kPi / 4;
    const double spacing = random.between(16, 36), radius = std::hypot(w, h) / 2 + 10;
    hatch(cr, x + w / 2, y + h / 2, radius, angle, spacing, 2);
    if (random.uniform() < 0.3) hatch(cr, x + w / 2, y + h / 2, radius, angle + kPi / 2, spacing, 2);
    cairo_restore(cr);
}

// A dimension: extension lines, the dimension line with filled arrowheads, and its figures above it.
void dimension(cairo_t* cr, Random& random, double x0, double y0, double x1, double y1) {
    const double len = random.between(400, 2500), x = random.between(x0, x1 - len), y = random.between(y0 + 100, y1);
    line(cr, x, y - 80, x, y + 30, 2);
    line(cr, x + len, y - 80, x + len, y + 30, 2);
    line(cr, x, y, x + len, y, 2);
    for (const double tip : {x, x + len}) {
        const double back = tip == x ? 40 : -40;
        cairo_move_to(cr, tip, y);
        cairo_line_to(cr, tip + back, y - 10);
        cairo_line_to(cr, tip + back, y + 10);
        cairo_close_path(cr);
        cairo_fill(cr);
    }
    textRow(cr, random, x + len / 2 - 90, y - 60, 5, 20, 30);
}

// A free curve (a contour, a cable, a road edge): a chain of Bezier segments.
void freeCurve(cairo_t* cr, Random& random, double x0, double y0, double x1, double y1) {
    double x = random.between(x0, x1), y = random.between(y0, y1);
    cairo_set_line_width(cr, random.integer(2, 4));
    cairo_move_to(cr, x, y);
    for (int s = random.integer(3, 7); s > 0; --s) {
        const double nx = std::clamp(x + random.between(-900, 900), x0, x1);
        const double ny = std::clamp(y + random.between(-700, 700), y0, y1);
        // Control points stay in the area, so the curve does too (a Bezier keeps to their hull).
        cairo_curve_to(cr, std::clamp(x + random.between(-300, 300), x0, x1),
                       std::clamp(y + random.between(-300, 300), y0, y1),
                       std::clamp(nx + random.between(-300, 300), x0, x1),
                       std::clamp(ny + random.between(-300, 300), y0, y1), nx, ny);
        x = nx;
        y = ny;
    }
    cairo_stroke(cr);
}

// The drawing: double border, title block with lettering, then in the drawing area straight
// lines, slanted lines, boxes, circles and arcs, free curves, hatched sections, dimensions and text.
void drawBusy(cairo_t* cr, int W, int H) {
    Random random(0x5EED'A0'D8A7'1235ULL);
    cairo_rectangle(cr, 120, 120, W - 240, H - 240);
    cairo_set_line_width(cr, 10);
    cairo_stroke(cr);
    cairo_rectangle(cr, 200, 200, W - 400, H - 400);
    cairo_set_line_width(cr, 4);
    cairo_stroke(cr);

    const double tw = W * 0.30, th = H * 0.12, tx = W - 200 - tw, ty = H - 200 - th;
    cairo_rectangle(cr, tx, ty, tw, th);
    cairo_set_line_width(cr, 6);
    cairo_stroke(cr);
    for (int i = 1; i < 5; ++i) line(cr, tx, ty + th * i / 5, tx + tw, ty + th * i / 5, 3);
    for (int i = 1; i < 4; ++i) line(cr, tx + tw * i / 4, ty + th / 5, tx + tw * i / 4, ty + th, 3);
    for (int r = 0; r < 5; ++r) textRow(cr, random, tx + 20, ty + th * r / 5 + th / 20, int(tw / 36 / 1.5) - 1, 24, 36);

    const double x0 = 260, y0 = 260, x1 = W - 260, y1 = ty - 60;
    for (int i = 0; i < 3000; ++i) {
        const double w = random.integer(2, 5), len = 200 + random.uniform() * (W * 0.25);
        if (i & 1) {
            const double x = random.between(x0, x1 - len), y = random.between(y0, y1);
            line(cr, x, y, x + len, y, w);
        } else {
            const double l = std::min(len, (y1 - y0) / 2), x = random.between(x0, x1), y = random.between(y0, y1 - l);
            line(cr, x, y, x, y + l, w);
        }
    }
    for (int i = 0; i < 700; ++i) {
        const double w = random.integer(2, 5), len = random.between(100, 850), a = random.between(0, 2 * kPi);
        const double x = random.between(x0 + 900, x1 - 900), y = random.between(y0 + 900, y1 - 900);
        line(cr, x, y, x + len * std::cos(a), y + len * std::sin(a), w);
    }
    for (int i = 0; i < 800; ++i) {
        const double rw = random.between(60, 1260), rh = random.between(60, 960);
        cairo_rectangle(cr, random.between(x0, x1 - rw), random.between(y0, y1 - rh), rw, rh);
        cairo_set_line_width(cr, random.integer(2, 5));
        cairo_stroke(cr);
    }
    for (int i = 0; i < 600; ++i) {
        const double r = random.between(20, 620);
        const double x = random.between(x0 + r, x1 - r), y = random.between(y0 + r, y1 - r);
        const double from = i % 3 == 0 ? random.between(0, 2 * kPi) : 0;
        const double sweep = i % 3 == 0 ? random.between(kPi / 4, 3 * kPi / 2) : 2 * kPi;
        cairo_new_sub_path(cr);
        cairo_arc(cr, x, y, r, from, from + sweep);
        cairo_set_line_width(cr, random.integer(2, 5));
        cairo_stroke(cr);
    }
    for (int i = 0; i < 120; ++i) freeCurve(cr, random, x0, y0, x1, y1);
    for (int i = 0; i < 50; ++i) hatchedSection(cr, random, x0, y0, x1, y1);
    for (int i = 0; i < 150; ++i) dimension(cr, random, x0, y0, x1, y1);
    for (int i = 0; i < 500; ++i) {
        const int letters = random.integer(10, 40);
        textRow(cr, random, random.between(x0, x1 - letters * 36 - 40), random.between(y0, y1 - 40), letters, 24, 36);
    }
}

bool ink(const Sheet& s, int x, int y) {
    return (s.bits[std::size_t(y) * s.stride + std::size_t(x >> 3)] >> (7 - (x & 7))) & 1;
}

void setInk(Sheet& s, int x, int y) {
    s.bits[std::size_t(y) * s.stride + std::size_t(x >> 3)] |= std::uint8_t(0x80 >> (x & 7));
}

// Specks of 1 x 1 to 3 x 3 pixels where their one-pixel surround is paper, so each stays a speck of its own.
void sprinkleSpecks(Sheet& sheet, int count) {
    Random random(0xD1B5'4A32'D192'ED03ULL);
    int placed = 0;
    for (long tries = 0; placed < count && tries < 100L * count; ++tries) {
        const int sw = random.integer(1, 3), sh = random.integer(1, 3);
        const int x = random.integer(2, sheet.width - 6), y = random.integer(2, sheet.height - 6);
        bool clear = true;
        for (int yy = y - 1; clear && yy <= y + sh; ++yy)
            for (int xx = x - 1; clear && xx <= x + sw; ++xx) clear = !ink(sheet, xx, yy);
        if (!clear) continue;
        for (int yy = y; yy < y + sh; ++yy)
            for (int xx = x; xx < x + sw; ++xx) setInk(sheet, xx, yy);
        ++placed;
    }
}

// The busy drawing in the window left, top, width x height, turned by degrees about the whole sheet's
// centre, with specks.
Sheet busyWindow(double degrees, int left, int top, int width, int height) {
    Sheet sheet;
    sheet.width = width;
    sheet.height = height;
    sheet.stride = (std::size_t(width) + 7) / 8;
    const int W = kSheetWidth, H = kSheetHeight;
    std::unique_ptr<cairo_surface_t, CairoDeleter> surface(cairo_image_surface_create(CAIRO_FORMAT_A1, width, height));
    std::unique_ptr<cairo_t, CairoDeleter> cr(cairo_create(surface.get()));
    cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgba(cr.get(), 0, 0, 0, 1);
    cairo_set_line_cap(cr.get(), CAIRO_LINE_CAP_BUTT);
    cairo_translate(cr.get(), -left, -top);
    if (degrees != 0) {
        // Rows run downward: a negative turn in Cairo's space is counter-clockwise as displayed.
        cairo_translate(cr.get(), W / 2.0, H / 2.0);
        cairo_rotate(cr.get(), -degrees * kPi / 180.0);
        cairo_translate(cr.get(), -W / 2.0, -H / 2.0);
    }
    drawBusy(cr.get(), W, H);
    cairo_surface_flush(surface.get());
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS || cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
        return {};

    // Cairo's A1 rows are 32-bit words whose least significant bit is the leftmost pixel on a
    // little-endian machine: there every byte is mirrored into the high-bit-first order.
    const unsigned char* data = cairo_image_surface_get_data(surface.get());
    const std::size_t cairoStride = std::size_t(cairo_image_surface_get_stride(surface.get()));
    sheet.bits.resize(sheet.stride * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        const unsigned char* from = data + std::size_t(y) * cairoStride;
        std::uint8_t* to = sheet.bits.data() + std::size_t(y) * sheet.stride;
        for (std::size_t i = 0; i < sheet.stride; ++i) {
            std::uint8_t b = from[i];
            if constexpr (std::endian::native == std::endian::little) {
                b = std::uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
                b = std::uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
                b = std::uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
            }
            to[i] = b;
        }
        if (width % 8) to[sheet.stride - 1] &= std::uint8_t(0xFF << (8 - width % 8));
    }
    const double share = double(width) * double(height) / (double(W) * double(H));
    sprinkleSpecks(sheet, int(std::lround(kSpecks * share)));
    return sheet;
}

void fillRow(Sheet& s, int y, int from, int to) {
    for (int x = std::max(from, 0); x < std::min(to, s.width); ++x) setInk(s, x, y);
}

// Border, a grid of thin lines 400 pixels apart, and a hatched title block.
Sheet gridSheet() {
    Sheet sheet;
    const int W = sheet.width, H = sheet.height;
    sheet.bits.assign(sheet.stride * std::size_t(H), 0);
    for (int y = 0; y < H; ++y) {
        if (y < 60 || y >= H - 60 || y % 400 < 3) {
            fillRow(sheet, y, 0, W);
            continue;
        }
        fillRow(sheet, y, 0, 60);
        fillRow(sheet, y, W - 60, W);
        for (int x = 400; x < W; x += 400) fillRow(sheet, y, x, x + 3);
        if (y > H - 1500 && y < H - 200)
            for (int x = W - 6000 + (y % 37); x < W - 300; x += 41) fillRow(sheet, y, x, x + 6 + (y % 5));
    }
    return sheet;
}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

}  // namespace

const char* sheetName(SheetKind kind) { return kind == SheetKind::Busy ? "busy" : "grid"; }

Sheet makeSheet(SheetKind kind) {
    return kind == SheetKind::Busy ? busyWindow(0, 0, 0, kSheetWidth, kSheetHeight) : gridSheet();
}

Sheet makeBusyPart(double degrees, int left, int top, int width, int height) {
    if (width <= 0 || height <= 0) return {};
    return busyWindow(degrees, left, top, width, height);
}

bool writeSheetG4(const Sheet& sheet, const std::string& path, std::string* error) {
    if (sheet.bits.size() != sheet.stride * std::size_t(sheet.height)) {
        *error = "the sheet has no pixels (drawing failed)";
        return false;
    }
    const std::string temporary = path + ".tmp-" + std::to_string(::getpid());
    bool ok = false;
    {
        std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(temporary.c_str(), "w"));
        if (!tif) {
            *error = "cannot create " + temporary;
            return false;
        }
        TIFF* t = tif.get();
        ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(sheet.width)) &&
             TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(sheet.height)) &&
             TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1) && TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) &&
             TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
             TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
             TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::uint32_t(sheet.height)) &&
             TIFFSetField(t, TIFFTAG_XRESOLUTION, float(kSheetDpi)) &&
             TIFFSetField(t, TIFFTAG_YRESOLUTION, float(kSheetDpi)) &&
             TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
             TIFFWriteEncodedStrip(t, 0, const_cast<std::uint8_t*>(sheet.bits.data()), tmsize_t(sheet.bits.size())) >=
                 0 &&
             TIFFWriteDirectory(t);
    }
    std::error_code ec;
    if (ok) std::filesystem::rename(temporary, path, ec);
    if (!ok || ec) {
        std::filesystem::remove(temporary, ec);
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace pxbench
