// What a view of the open design shows, drawn with Cairo into a picture: the
// raster attachments in attachment order (the last one on top, the one the
// raster pick finds where rasters overlap), then the design's elements in file
// order, on the view's black background.
//
// Picture geometry. A view's rectangle is `extent` wide and high along the view's
// axes, its lower-left corner at `origin` (design coordinates); the view is
// turned by `rotation` degrees counter-clockwise. A picture whose proportions
// differ from the view's shows more of the design around the same centre, at one
// scale for both axes. A view without an extent (or a design without views)
// shows the whole design, every raster and element, with a small margin.
//
// Rasters. Each picture pixel shows the raster pixel under its centre (nearest
// neighbour), sampled straight from the decoded image into a layer the size of
// the raster's part of the picture. Monochrome pixels show in the attachment's
// rendering colours (the file's darker colour is the foreground); a transparent
// one leaves what is below. Where a picture pixel spans several monochrome pixels
// it shows ink when any of the pixels whose centres it holds is ink, so that thin
// lines of a scan survive a small picture. RGBA pixels blend by their alpha. The
// clip masks are erased from the layer, which is then laid on the picture through
// the clip boundary as a Cairo clip path.
//
// Elements. Curves are stroked to half a picture pixel and drawn as Cairo paths
// without antialiasing (a picture pixel is either the element's colour or not):
// weight n draws LineWeight<n> picture pixels wide and style n (0 to 7) with the
// dash pattern LineStyle<n>, counted in picture pixels, both from the settings
// file in use. Solid lines have round ends; dashes end square, so that they are
// exactly as long as the pattern says. Closed shapes and ellipses marked filled
// are filled with their fill colour when the view's "fill" is on (the default).
// Colours come from the design's colour table.
#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>

#include "subhost/cairo_owned.h"
#include "subhost/elements.h"
#include "subhost/raster/raster.h"
#include "subhost/safefile.h"
#include "subhost/state.h"

namespace subhost {
namespace {

constexpr double kDegrees = 3.14159265358979323846 / 180.0;
constexpr int kDefaultLongSide = 1024;
constexpr double kFitMargin = 0.02;      // share of the design's range left around it by a fitted view
constexpr double kEdgeNudge = 1.0 / 32;  // picture pixels elements are moved right and down by

using Rgb = std::array<std::uint8_t, 3>;

struct Pt {
    double x, y;
};

// x' = a x + b y + c, y' = d x + e y + f.
struct Affine {
    double a = 1, b = 0, c = 0, d = 0, e = 1, f = 0;

    Pt apply(Pt p) const { return {a * p.x + b * p.y + c, d * p.x + e * p.y + f}; }
    // This map after first.
    Affine after(const Affine& first) const {
        return {a * first.a + b * first.d, a * first.b + b * first.e, a * first.c + b * first.f + c,
                d * first.a + e * first.d, d * first.b + e * first.e, d * first.c + e * first.f + f};
    }
    // The inverse map; nullopt when the map flattens the plane.
    std::optional<Affine> inverse() const {
        const double det = a * e - b * d;
        if (!std::isfinite(det) || std::fabs(det) < 1e-300) return std::nullopt;
        Affine r{e / det, -b / det, 0, -d / det, a / det, 0};
        r.c = -(r.a * c + r.b * f);
        r.f = -(r.d * c + r.e * f);
        return r;
    }
};

// A picture drawn, not yet handed out: its surface (RGB24) and the rasters left out.
struct Drawn {
    Surface surface;
    int width = 0, height = 0;
    std::vector<std::string> notes;
};

// v limited to [0, limit]; NaN (from coordinates beyond any double) gives 0.
double within(double v, double limit) { return v > 0 ? std::min(v, limit) : 0.0; }

// Calls span(y, x0, x1) for the picture pixels whose centres lie inside the polygon
// (even-odd rule; x1 exclusive), rows clipped to [0, height) and columns to [0, width).
template <class Span>
void fillSpans(const std::vector<Pt>& polygon, int width, int height, Span span) {
    const std::size_t n = polygon.size();
    if (n < 3) return;
    double top = std::numeric_limits<double>::infinity(), bottom = -top;
    for (const Pt& p : polygon) {
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
    // Limited while still doubles, so that far-away points never overflow an int.
    const int y0 = int(within(std::floor(top), height));
    const int y1 = int(within(std::ceil(bottom), height));
    std::vector<double> xs;
    for (int y = y0; y < y1; ++y) {
        const double yc = y + 0.5;
        xs.clear();
        for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
            const Pt& a = polygon[i];
            const Pt& b = polygon[j];
            if ((a.y <= yc) != (b.y <= yc)) xs.push_back(a.x + (yc - a.y) * (b.x - a.x) / (b.y - a.y));
        }
        std::sort(xs.begin(), xs.end());
        for (std::size_t k = 0; k + 1 < xs.size(); k += 2) {
            const int x0 = int(within(std::ceil(xs[k] - 0.5), width));
            const int x1 = int(within(std::ceil(xs[k + 1] - 0.5), width));
            if (x0 < x1) span(y, x0, x1);
        }
    }
}

// The axis-aligned rectangle [lo, hi] that picture paths are cut to: Cairo keeps coordinates in
// fixed point, so points far off the picture must never reach it.
struct Window {
    Pt lo, hi;
};

// The picture of width x height grown by pad pixels on every side.
Window pictureWindow(int width, int height, double pad) { return {{-pad, -pad}, {width + pad, height + pad}}; }

// Clips segment a-b to the window; the kept part as parameters t0 <= t1 of a + t (b - a), false when none.
bool clipSegment(Pt a, Pt b, const Window& w, double* t0, double* t1) {
    *t0 = 0, *t1 = 1;
    const double d[2] = {b.x - a.x, b.y - a.y};
    const double s[2] = {a.x, a.y};
    const double low[2] = {w.lo.x, w.lo.y}, high[2] = {w.hi.x, w.hi.y};
    for (int k = 0; k < 2; ++k) {
        if (!std::isfinite(s[k]) || !std::isfinite(d[k])) return false;
        if (d[k] == 0) {
            if (s[k] < low[k] || s[k] > high[k]) return false;
            continue;
        }
        double u0 = (low[k] - s[k]) / d[k], u1 = (high[k] - s[k]) / d[k];
        if (u0 > u1) std::swap(u0, u1);
        *t0 = std::max(*t0, u0);
        *t1 = std::min(*t1, u1);
        if (*t0 > *t1) return false;
    }
    return true;
}

// The polygon cut to the window (one edge of the window at a time); inside the window it covers
// the same points as the polygon, by the even-odd rule too.
std::vector<Pt> clipPolygon(std::vector<Pt> polygon, const Window& w) {
    for (int edge = 0; edge < 4 && !polygon.empty(); ++edge) {
        // Signed distance inside the edge: >= 0 keeps the point.
        const auto inside = [&](const Pt& p) {
            switch (edge) {
            case 0:
                return p.x - w.lo.x;
            case 1:
                return w.hi.x - p.x;
            case 2:
                return p.y - w.lo.y;
            default:
                return w.hi.y - p.y;
            }
        };
        std::vector<Pt> out;
        out.reserve(polygon.size() + 4);
        for (std::size_t i = 0; i < polygon.size(); ++i) {
            const Pt& a = polygon[i];
            const Pt& b = polygon[(i + 1) % polygon.size()];
            const double da = inside(a), db = inside(b);
            if (!(std::isfinite(da) && std::isfinite(db))) return {};
            if (da >= 0) out.push_back(a);
            if ((da >= 0) != (db >= 0)) {
                const double t = da / (da - db);
                out.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)});
            }
        }
        polygon = std::move(out);
    }
    return polygon;
}

// Adds the polygon (cut to the window) to the context's path as one closed sub-path.
void polygonPath(cairo_t* cr, const std::vector<Pt>& polygon, const Window& w) {
    const std::vector<Pt> cut = clipPolygon(polygon, w);
    if (cut.size() < 3) return;
    cairo_move_to(cr, cut[0].x, cut[0].y);
    for (std::size_t i = 1; i < cut.size(); ++i) cairo_line_to(cr, cut[i].x, cut[i].y);
    cairo_close_path(cr);
}

// ---- View geometry ----

// Design point -> the view's own axes (x right, y up), about the design origin.
Affine viewAxes(double rotationDegrees) {
    const double c = std::cos(rotationDegrees * kDegrees), s = std::sin(rotationDegrees * kDegrees);
    return {c, s, 0, -s, c, 0};
}

// The attachment's design -> pixel map (pixels along its rows, y up from its origin corner).
Affine designToRaster(const DgnRaster& r) {
    const DPoint3d p0 = raster::designToPixel(r, {0, 0, 0});
    const DPoint3d px = raster::designToPixel(r, {1, 0, 0});
    const DPoint3d py = raster::designToPixel(r, {0, 1, 0});
    return {px.x - p0.x, py.x - p0.x, p0.x, px.y - p0.y, py.y - p0.y, p0.y};
}

// Every design point worth seeing: raster corners and stroked elements.
std::vector<Pt> designRange() {
    std::vector<Pt> points;
    for (const auto& r : raster::rasterState().rasters) {
        if (!r->attached || !r->file) continue;
        const double w = r->file->info.width, h = r->file->info.height;
        if (auto toDesign = designToRaster(*r).inverse())
            for (Pt corner : {Pt{0, 0}, Pt{w, 0}, Pt{0, h}, Pt{w, h}}) points.push_back(toDesign->apply(corner));
    }
    elements::forEachModelElement([&](const elements::Element& e, const elements::Definitions& definitions) {
        const DRange3d r = elements::elementRange(e, definitions);
        if (r.low.x > r.high.x) return;
        points.push_back({r.low.x, r.low.y});
        points.push_back({r.high.x, r.high.y});
    });
    return points;
}

// The design -> picture map of a view for a picture of width x height (0 x 0: the view's own
// proportions, kDefaultLongSide on the longer side); false with *error.
bool viewFrame(const nlohmann::json* view, int* width, int* height, Affine* frame, std::string* error) {
    const double rotation = view ? view->value("rotation", 0.0) : 0.0;
    const Affine axes = viewAxes(rotation);
    double left, bottom, right, top;
    if (view && view->contains("extent")) {
        const auto& e = (*view)["extent"];
        const auto& o = view->value("origin", nlohmann::json::array({0.0, 0.0, 0.0}));
        const Pt corner = axes.apply({o[0].get<double>(), o[1].get<double>()});
        left = corner.x, bottom = corner.y;
        right = left + e[0].get<double>(), top = bottom + e[1].get<double>();
        if (!(right > left) || !(top > bottom)) {
            *error = "the view's extent must be positive";
            return false;
        }
    } else {
        const std::vector<Pt> points = designRange();
        if (points.empty()) {
            *error = "the view has no extent and the design shows nothing to fit it to";
            return false;
        }
        left = bottom = std::numeric_limits<double>::infinity();
        right = top = -left;
        for (const Pt& d : points) {
            const Pt p = axes.apply(d);
            left = std::min(left, p.x), right = std::max(right, p.x);
            bottom = std::min(bottom, p.y), top = std::max(top, p.y);
        }
        const double margin = std::max({right - left, top - bottom, 1.0}) * kFitMargin;
        left -= margin, right += margin, bottom -= margin, top += margin;
    }
    const double w = right - left, h = top - bottom;
    if (!std::isfinite(w) || !std::isfinite(h)) {
        *error = "the view's range is not finite";
        return false;
    }
    if (*width == 0 && *height == 0) {
        const double longer = std::max(w, h);
        *width = std::max(1, int(std::lround(kDefaultLongSide * w / longer)));
        *height = std::max(1, int(std::lround(kDefaultLongSide * h / longer)));
    }
    const double scale = std::min(*width / w, *height / h);
    // The picture's centre sits on the view's centre.
    const double cx = (left + right) / 2, cy = (bottom + top) / 2;
    const Affine toPicture{scale, 0, *width / 2.0 - cx * scale, 0, -scale, *height / 2.0 + cy * scale};
    *frame = toPicture.after(axes);
    return true;
}

// ---- Line weights and styles ----

constexpr int kMaxWidth = 100;
constexpr int kMaxDash = 1000;
constexpr std::size_t kMaxDashes = 32;
constexpr std::uintmax_t kMaxSettingsBytes = 1u << 20;
const char* const kFactoryStyles[8] = {"1", "1,6", "6,4", "10,4", "8,4,1,4", "3,4", "7,4,1,4,1,4", "9,4,3,4"};

std::string trimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A whole decimal number (optional sign) limited to [low, high]; nullopt when text is not one.
std::optional<int> clampedNumber(const std::string& text, int low, int high) {
    const std::string t = trimBlanks(text);
    std::size_t i = (!t.empty() && (t[0] == '+' || t[0] == '-')) ? 1 : 0;
    if (i == t.size()) return std::nullopt;
    long long value = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return std::nullopt;
        value = std::min<long long>(value * 10 + (t[i] - '0'), 1ll << 40);  // no overflow however long
    }
    if (t[0] == '-') value = -value;
    return int(std::clamp<long long>(value, low, high));
}

// The dash pattern of a style text: comma-separated lengths, each limited to 1..1000, the first 32
// kept; 0 or 1 lengths give the empty (solid) pattern. nullopt when a piece is not a number.
std::optional<std::vector<double>> dashesParse(const std::string& text) {
    std::vector<double> dashes;
    if (trimBlanks(text).empty()) return dashes;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t comma = text.find(',', from);
        if (comma == std::string::npos) comma = text.size();
        const auto length = clampedNumber(text.substr(from, comma - from), 1, kMaxDash);
        if (!length) return std::nullopt;
        if (dashes.size() < kMaxDashes) dashes.push_back(*length);
        from = comma + 1;
    }
    if (dashes.size() < 2) dashes.clear();
    return dashes;
}

// The index after prefix in key ("LineWeight12" -> 12), when key is prefix and 1 or 2 digits below count.
std::optional<int> keyIndex(const std::string& key, const std::string& prefix, int count) {
    if (key.rfind(prefix, 0) != 0) return std::nullopt;
    const std::string digits = key.substr(prefix.size());
    if (digits.empty() || digits.size() > 2 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int index = std::stoi(digits);
    return index < count ? std::optional<int>(index) : std::nullopt;
}

// The settings file in use: cfg PXMEND_SETTINGS, else the user's configuration folder; empty when none.
// A variable too long for the add-on's settings name (255 characters) is passed over, as the add-on does.
std::string settingsPath() {
    std::wstring value(1024, L'\0');
    if (mdlSystem_getCfgVar(value.data(), L"PXMEND_SETTINGS", int(value.size())) == SUCCESS && value[0]) {
        const std::string path = narrow(value.c_str());
        if (path.size() < 256) return path;
    }
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/pixelmend/Pxmend.ini";
    const char* home = std::getenv("HOME");
    if (home && home[0]) return std::string(home) + "/.config/pixelmend/Pxmend.ini";
    return {};
}

LineSymbology factorySymbology() {
    LineSymbology s;
    for (int n = 0; n < 32; ++n) s.widths[n] = n + 1;
    for (int n = 0; n < 8; ++n) s.dashes[n] = *dashesParse(kFactoryStyles[n]);
    return s;
}

}  // namespace

LineSymbology lineSymbologyFromSettings() {
    LineSymbology s = factorySymbology();
    const std::string path = settingsPath();
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return s;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxSettingsBytes) return s;  // no settings file is that large
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (const auto n = keyIndex(key, "LineWeight", 32)) {
            if (const auto width = clampedNumber(value, 1, kMaxWidth)) s.widths[*n] = *width;
        } else if (const auto n = keyIndex(key, "LineStyle", 8)) {
            if (auto dashes = dashesParse(value)) s.dashes[*n] = std::move(*dashes);
        }
    }
    return s;
}

namespace {

// ---- Rasters ----

double luminance(const Rgb& c) { return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2]; }

// True when any of bits [c0, c1) of a packed row (most significant bit first) has value bit.
bool bitsHold(const std::uint8_t* row, std::size_t c0, std::size_t c1, int bit) {
    const std::uint8_t none = bit ? 0x00 : 0xFF;  // a byte without the value
    for (std::size_t c = c0; c < c1;) {
        if ((c & 7) == 0 && c + 8 <= c1) {
            if (row[c >> 3] != none) return true;
            c += 8;
            continue;
        }
        if (((row[c >> 3] >> (7 - (c & 7))) & 1) == bit) return true;
        ++c;
    }
    return false;
}

// A Cairo ARGB32 pixel (premultiplied alpha) of a colour and an opacity.
std::uint32_t argb(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t alpha = 255) {
    const auto times = [alpha](std::uint8_t v) { return std::uint32_t((v * alpha + 127) / 255); };
    return std::uint32_t(alpha) << 24 | times(r) << 16 | times(g) << 8 | times(b);
}

// An attachment's clip polygon in picture coordinates.
std::vector<Pt> picturePolygon(const raster::Polygon& poly, const Affine& toPicture) {
    std::vector<Pt> out;
    out.reserve(poly.size());
    for (const DPoint3d& p : poly) out.push_back(toPicture.apply({p.x, p.y}));
    return out;
}

// Erases the attachment's clip masks from its layer, whose top-left pixel is picture pixel (left, top):
// each mask is filled on its own, so that overlapping masks hide their overlap too, in time that grows
// with the masks' sizes rather than with their number times the picture's.
void masksErase(cairo_surface_t* layer, int left, int top, const DgnRaster& r, const Affine& toPicture,
                const Window& window) {
    if (r.clipMasks.empty()) return;
    const Context cr(cairo_create(layer));
    cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_NONE);
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_CLEAR);
    cairo_set_fill_rule(cr.get(), CAIRO_FILL_RULE_EVEN_ODD);
    cairo_translate(cr.get(), -left, -top);
    for (const raster::Polygon& m : r.clipMasks) {
        cairo_new_path(cr.get());
        polygonPath(cr.get(), picturePolygon(m, toPicture), window);
        cairo_fill(cr.get());
    }
}

// Draws one attachment's pixels under the picture pixels it covers.
void drawRaster(cairo_t* cr, int width, int height, DgnRaster& r, const Affine& toPicture,
                std::vector<std::string>& notes) {
    const Affine fromDesign = designToRaster(r);
    const auto pictureToDesign = toPicture.inverse();
    const auto rasterToDesign = fromDesign.inverse();
    if (!pictureToDesign || !rasterToDesign) return;
    const Affine toRaster = fromDesign.after(*pictureToDesign);
    const Affine rasterToPicture = toPicture.after(*rasterToDesign);
    double W = r.file->info.width, H = r.file->info.height;
    std::vector<Pt> outline;
    for (Pt corner : {Pt{0, 0}, Pt{W, 0}, Pt{W, H}, Pt{0, H}}) outline.push_back(rasterToPicture.apply(corner));
    // The picture pixels under the raster's outline, as a rectangle [left, right) x [top, bottom).
    int left = width, right = 0, top = height, bottom = 0;
    fillSpans(outline, width, height, [&](int y, int x0, int x1) {
        left = std::min(left, x0), right = std::max(right, x1);
        top = std::min(top, y), bottom = std::max(bottom, y + 1);
    });
    if (left >= right) return;  // off the picture: its pixels are not even decoded
    std::string error;
    if (!raster::ensureDecoded(*r.file, &error)) {
        notes.push_back("raster " + r.path + " not shown: " + error);
        return;
    }
    const imagefile::Image& image = *r.file->image;
    W = image.width, H = image.height;  // the pixels decide, should the header have said otherwise

    const Surface layer(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, right - left, bottom - top));
    if (cairo_surface_status(layer.get()) != CAIRO_STATUS_SUCCESS) {
        notes.push_back("raster " + r.path +
                        " not shown: " + cairo_status_to_string(cairo_surface_status(layer.get())));
        return;
    }
    cairo_surface_flush(layer.get());
    std::uint8_t* const layerData = cairo_image_surface_get_data(layer.get());
    const std::size_t layerStride = std::size_t(cairo_image_surface_get_stride(layer.get()));
    // The layer starts transparent; put() makes a pixel of it show.
    const auto put = [&](int x, int y, std::uint32_t pixel) {
        reinterpret_cast<std::uint32_t*>(layerData + std::size_t(y - top) * layerStride)[x - left] = pixel;
    };

    const Rgb pal0 = image.palette[0], pal1 = image.palette[1];
    const int foregroundBit = luminance(pal0) < luminance(pal1) ? 0 : 1;
    const auto& rendering = r.rendering;
    const std::uint32_t fg = argb(rendering.foreground[0], rendering.foreground[1], rendering.foreground[2]);
    const std::uint32_t bg = argb(rendering.background[0], rendering.background[1], rendering.background[2]);
    // Whether raster pixel (col, up) of a monochrome raster is ink.
    const auto inkAt = [&](double col, double up) {
        const std::uint8_t* row = image.pixels.data() + std::size_t(H - 1 - up) * image.stride;
        const std::size_t c = std::size_t(col);
        return ((row[c >> 3] >> (7 - (c & 7))) & 1) == foregroundBit;
    };
    // A picture smaller than the raster keeps thin monochrome lines: a picture pixel shows ink when any
    // raster pixel whose centre it holds is ink. Rasters that lie square to the picture test the pixels
    // under it row by row; turned ones test n x n points spread over it (n: raster pixels a picture pixel
    // spans, at most 16).
    const int n = std::max(
        1,
        int(within(std::ceil(std::max(std::hypot(toRaster.a, toRaster.d), std::hypot(toRaster.b, toRaster.e))), 16)));
    const bool square =
        std::fabs(toRaster.b) <= 1e-9 * std::fabs(toRaster.a) && std::fabs(toRaster.d) <= 1e-9 * std::fabs(toRaster.e);
    const auto inkUnder = [&](int x, int y) {
        if (square) {
            const double u0 = toRaster.a * x + toRaster.c, u1 = u0 + toRaster.a;
            const double v0 = toRaster.e * y + toRaster.f, v1 = v0 + toRaster.e;
            // The raster pixels whose centres the picture pixel holds: each belongs to one picture pixel.
            const double c0 = within(std::ceil(std::min(u0, u1) - 0.5), W);
            const double c1 = within(std::ceil(std::max(u0, u1) - 0.5), W);
            const double r0 = within(std::ceil(std::min(v0, v1) - 0.5), H);
            const double r1 = within(std::ceil(std::max(v0, v1) - 0.5), H);
            for (double up = r0; up < r1; ++up)
                if (bitsHold(image.pixels.data() + std::size_t(H - 1 - up) * image.stride, std::size_t(c0),
                             std::size_t(c1), foregroundBit))
                    return true;
            return false;
        }
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const Pt at = toRaster.apply({x + (i + 0.5) / n, y + (j + 0.5) / n});
                const double col = std::floor(at.x), up = std::floor(at.y);
                if (col >= 0 && col < W && up >= 0 && up < H && inkAt(col, up)) return true;
            }
        return false;
    };
    fillSpans(outline, width, height, [&](int y, int x0, int x1) {
        for (int x = x0; x < x1; ++x) {
            const Pt at = toRaster.apply({x + 0.5, y + 0.5});
            const double col = std::floor(at.x), up = std::floor(at.y);
            if (!(col >= 0 && col < W && up >= 0 && up < H)) continue;
            const std::uint8_t* row = image.pixels.data() + std::size_t(H - 1 - up) * image.stride;
            const std::size_t c = std::size_t(col);
            switch (image.mode) {
            case imagefile::ColorMode::Mono: {
                const bool foreground = n == 1 ? inkAt(col, up) : inkUnder(x, y);
                if (!(foreground ? rendering.foregroundTransparent : rendering.backgroundTransparent))
                    put(x, y, foreground ? fg : bg);
                break;
            }
            case imagefile::ColorMode::Palette4:
            case imagefile::ColorMode::Palette8: {
                const Rgb& p = image.palette[row[c]];
                put(x, y, argb(p[0], p[1], p[2]));
                break;
            }
            case imagefile::ColorMode::Grey8:
                put(x, y, argb(row[c], row[c], row[c]));
                break;
            case imagefile::ColorMode::Rgb:
                put(x, y, argb(row[c * 3], row[c * 3 + 1], row[c * 3 + 2]));
                break;
            case imagefile::ColorMode::Rgba:
                put(x, y, argb(row[c * 4], row[c * 4 + 1], row[c * 4 + 2], row[c * 4 + 3]));
                break;
            case imagefile::ColorMode::Other:
                break;
            }
        }
    });
    cairo_surface_mark_dirty(layer.get());

    const Window window = pictureWindow(width, height, 1);
    masksErase(layer.get(), left, top, r, toPicture, window);
    cairo_save(cr);
    if (r.clipBoundary) {  // only its inside shows
        cairo_new_path(cr);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        polygonPath(cr, picturePolygon(*r.clipBoundary, toPicture), window);
        cairo_clip(cr);  // an empty path hides everything
    }
    cairo_set_source_surface(cr, layer.get(), left, top);
    cairo_paint(cr);
    cairo_restore(cr);
}

// ---- Elements ----

// A piece of a polyline that lies in the window, with where the dash pattern stands at its start.
struct Run {
    std::vector<Pt> points;
    double dashOffset = 0;
};

// The parts of the polyline inside the window; patternLength (0: solid) keeps each part's dash offset
// where the whole line's pattern stands there, so that cutting never moves a dash.
std::vector<Run> visibleRuns(const std::vector<Pt>& points, const Window& window, double patternLength) {
    std::vector<Run> runs;
    double phase = 0;     // distance along the pattern where the next segment starts
    bool joined = false;  // the last run ends where the next segment starts
    if (points.size() == 1) {
        double t0, t1;
        if (clipSegment(points[0], points[0], window, &t0, &t1)) runs.push_back({points, 0});
        return runs;
    }
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const Pt a = points[i], b = points[i + 1];
        const double len = std::hypot(b.x - a.x, b.y - a.y);
        double t0, t1;
        if (clipSegment(a, b, window, &t0, &t1)) {
            const Pt start{a.x + t0 * (b.x - a.x), a.y + t0 * (b.y - a.y)};
            const Pt end{a.x + t1 * (b.x - a.x), a.y + t1 * (b.y - a.y)};
            if (!joined || t0 > 0) {
                const double offset =
                    patternLength > 0 ? std::fmod(phase + std::fmod(t0 * len, patternLength), patternLength) : 0;
                runs.push_back({{start}, offset});
            }
            runs.back().points.push_back(end);
            joined = t1 >= 1;
        } else {
            joined = false;
        }
        if (patternLength > 0 && std::isfinite(len)) phase = std::fmod(phase + len, patternLength);
    }
    return runs;
}

void setColour(cairo_t* cr, int index) {
    const RGBColorDef& c = host().design.colorTable[std::size_t(std::clamp(index, 0, 255))];
    cairo_set_source_rgb(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0);
}

void drawElement(cairo_t* cr, int width, int height, const elements::Shape& shape, const Affine& toPicture,
                 double pixelSize, bool fill, const LineSymbology& symbology) {
    std::vector<Pt> points;
    for (const DPoint3d& p : elements::stroke(shape, pixelSize / 2)) points.push_back(toPicture.apply({p.x, p.y}));
    if (points.empty()) return;
    const int lineWidth = symbology.widths[std::clamp(shape.weight, 0, 31)];
    static const std::vector<double> solid;
    const std::vector<double>& dashes = shape.style >= 0 && shape.style < 8 ? symbology.dashes[shape.style] : solid;
    double patternLength = 0;
    for (double d : dashes) patternLength += d;
    // Pieces farther off the picture than the line is wide cannot show.
    const Window window = pictureWindow(width, height, lineWidth + 2.0);

    const bool closed = shape.type == SHAPE_ELM || shape.type == ELLIPSE_ELM;
    if (fill && shape.filled && closed) {
        setColour(cr, shape.fillColor);
        cairo_new_path(cr);
        polygonPath(cr, points, window);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_fill(cr);
    }
    setColour(cr, shape.color);
    cairo_set_line_width(cr, lineWidth);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr, dashes.empty() ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
    const std::vector<Run> runs = visibleRuns(points, window, patternLength);
    // A closed outline wholly in the window joins at its first point instead of ending there twice.
    const bool loop = runs.size() == 1 && runs[0].points.size() == points.size() && points.size() > 3 &&
                      points.front().x == points.back().x && points.front().y == points.back().y;
    for (const Run& run : runs) {
        cairo_set_dash(cr, dashes.data(), int(dashes.size()), run.dashOffset);
        cairo_new_path(cr);
        cairo_move_to(cr, run.points[0].x, run.points[0].y);
        for (std::size_t i = 1; i + (loop ? 1 : 0) < run.points.size(); ++i)
            cairo_line_to(cr, run.points[i].x, run.points[i].y);
        if (loop) cairo_close_path(cr);
        if (run.points.size() == 1) cairo_line_to(cr, run.points[0].x, run.points[0].y);  // a dot
        cairo_stroke(cr);
    }
}

// Draws a filled area with holes (a grouped-hole cell of closed outlines): one even-odd fill of every
// outline in the first solid's fill colour when it is filled, then each outline in its own symbology.
void drawArea(cairo_t* cr, int width, int height, const elements::Element& area, const Affine& toPicture,
              double pixelSize, bool fill, const LineSymbology& symbology) {
    const elements::Element& base = area.components.front();
    if (fill && base.filled) {
        const Window window = pictureWindow(width, height, 2.0);
        setColour(cr, base.fillColor);
        cairo_new_path(cr);
        for (const elements::Element& c : area.components) {
            std::vector<Pt> points;
            for (const DPoint3d& p : elements::stroke(c, pixelSize / 2)) points.push_back(toPicture.apply({p.x, p.y}));
            if (points.size() > 2) polygonPath(cr, points, window);
        }
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_fill(cr);
    }
    for (const elements::Element& c : area.components)
        drawElement(cr, width, height, c, toPicture, pixelSize, false, symbology);
}

// ---- The picture ----

// Draws the view into a new RGB24 surface; nullopt with *error as renderView gives it.
std::optional<Drawn> drawView(int view, int width, int height, std::string* error) {
    std::string problem;
    const auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return std::nullopt;
    };
    const auto& design = host().design;
    if (!design.open) return fail("no design is open");
    const nlohmann::json& views = design.views;
    if (view < 0 || (std::size_t(view) >= views.size() && !(views.empty() && view == 0)))
        return fail("the design has no view " + std::to_string(view) + " (its views are 0 to " +
                    std::to_string(std::max<int>(0, int(views.size()) - 1)) + ")");
    if ((width == 0) != (height == 0) || width < 0 || height < 0 || width > kMaxPictureSide ||
        height > kMaxPictureSide || std::int64_t(width) * height > kMaxPicturePixels)
        return fail("a picture size must be 1 to " + std::to_string(kMaxPictureSide) + " pixels a side and at most " +
                    std::to_string(kMaxPicturePixels) + " pixels");
    const nlohmann::json* v = views.empty() ? nullptr : &views[std::size_t(view)];
    Affine toPicture;
    if (!viewFrame(v, &width, &height, &toPicture, &problem))
        return fail("view " + std::to_string(view) + ": " + problem);

    Drawn drawn;
    drawn.width = width;
    drawn.height = height;
    drawn.surface.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    if (cairo_surface_status(drawn.surface.get()) != CAIRO_STATUS_SUCCESS)
        return fail(std::string("no picture of that size: ") +
                    cairo_status_to_string(cairo_surface_status(drawn.surface.get())));
    const Context cr(cairo_create(drawn.surface.get()));
    cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgb(cr.get(), 0, 0, 0);
    cairo_paint(cr.get());
    for (const auto& r : raster::rasterState().rasters)
        if (r->attached && r->file) drawRaster(cr.get(), width, height, *r, toPicture, drawn.notes);
    const double pixelSize = 1.0 / std::hypot(toPicture.a, toPicture.d);
    const bool fill = v ? v->value("fill", true) : true;
    const LineSymbology symbology = lineSymbologyFromSettings();
    // Without antialiasing a pixel whose centre lies exactly on a line's edge would go one way or the other by
    // Cairo's rule; nudged by a fraction of a pixel, a line along pixel edges takes the pixels right of and below
    // it (the pixels it starts), as counting down to whole pixels does.
    cairo_translate(cr.get(), kEdgeNudge, kEdgeNudge);
    // Every kind is drawn as the simple elements it expands to: cells' components, text outlines, dimension
    // and multi-line geometry, hatch lines; the active model's elements first, then the references'.
    std::vector<elements::Element> parts;
    elements::forEachModelElement([&](const elements::Element& e, const elements::Definitions& definitions) {
        if (!elements::shownInView(e, view)) return;
        parts.clear();
        elements::displayGeometry(e, definitions, &parts, &drawn.notes);
        for (const elements::Element& part : parts) {
            if (part.type == CELL_HEADER_ELM && !part.components.empty())
                drawArea(cr.get(), width, height, part, toPicture, pixelSize, fill, symbology);
            else
                drawElement(cr.get(), width, height, part, toPicture, pixelSize, fill, symbology);
        }
    });
    cairo_surface_flush(drawn.surface.get());
    return drawn;
}

}  // namespace

bool renderView(int view, int width, int height, ViewPicture* out, std::string* error) {
    std::optional<Drawn> drawn = drawView(view, width, height, error);
    if (!drawn) return false;
    const std::uint8_t* data = cairo_image_surface_get_data(drawn->surface.get());
    const std::size_t stride = std::size_t(cairo_image_surface_get_stride(drawn->surface.get()));
    out->width = drawn->width;
    out->height = drawn->height;
    out->rgb.resize(std::size_t(drawn->width) * std::size_t(drawn->height) * 3);
    std::uint8_t* to = out->rgb.data();
    for (int y = 0; y < drawn->height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + std::size_t(y) * stride);
        for (int x = 0; x < drawn->width; ++x, to += 3) {
            to[0] = std::uint8_t(row[x] >> 16), to[1] = std::uint8_t(row[x] >> 8), to[2] = std::uint8_t(row[x]);
        }
    }
    out->notes = std::move(drawn->notes);
    return true;
}

bool renderViewToPng(const std::string& pngPath, int view, int width, int height, std::vector<std::string>* notes,
                     std::string* error, int* drawnWidth, int* drawnHeight) {
    std::optional<Drawn> drawn = drawView(view, width, height, error);
    if (!drawn) return false;
    if (notes) *notes = std::move(drawn->notes);
    std::error_code ec;
    std::string problem;
    if (std::filesystem::is_directory(pngPath, ec)) {
        problem = "it is a folder";
    } else if (auto temp = safefile::TempFile::create(pngPath, &problem)) {
        const cairo_status_t status = cairo_surface_write_to_png(drawn->surface.get(), temp->path().c_str());
        if (status != CAIRO_STATUS_SUCCESS)
            problem = std::string("Cairo: ") + cairo_status_to_string(status);
        else
            temp->commit(&problem);
    }
    if (!problem.empty()) {
        if (error) *error = pngPath + ": the picture cannot be written: " + problem;
        return false;
    }
    if (drawnWidth) *drawnWidth = drawn->width;
    if (drawnHeight) *drawnHeight = drawn->height;
    return true;
}

bool renderViewToPng(const std::string& pngPath, int view, int width, int height, std::vector<std::string>* notes,
                     std::string* error) {
    return renderViewToPng(pngPath, view, width, height, notes, error, nullptr, nullptr);
}

}  // namespace subhost
