// What a view of the open design shows, drawn into a picture: the raster
// attachments in attachment order (the last one on top, the one the raster pick
// finds where rasters overlap), then the design's elements in file order, on the
// view's black background.
//
// Picture geometry. A view's rectangle is `extent` wide and high along the view's
// axes, its lower-left corner at `origin` (design coordinates); the view is
// turned by `rotation` degrees counter-clockwise. A picture whose proportions
// differ from the view's shows more of the design around the same centre, at one
// scale for both axes. A view without an extent (or a design without views)
// shows the whole design, every raster and element, with a small margin.
//
// Rasters. Each picture pixel shows the raster pixel under its centre (nearest
// neighbour). Monochrome pixels show in the attachment's rendering colours (the
// file's darker colour is the foreground); a transparent one leaves what is below.
// Where a picture pixel spans several monochrome pixels it shows ink when any of
// the pixels whose centres it holds is ink, so that thin lines of a scan survive a small picture. RGBA pixels blend by their alpha. Clip masks hide the raster inside them; a
// clip boundary hides it outside.
//
// Elements. Curves are stroked to half a picture pixel; weight w draws w + 1
// pixels wide; styles 1 to 7 are dash patterns counted in picture pixels; closed
// shapes and ellipses marked filled are filled with their fill colour when the
// view's "fill" is on (the default). Colours come from the design's colour table.
#include <algorithm>
#include <cmath>
#include <limits>

#include "subhost/elements.h"
#include "subhost/raster/raster.h"
#include "subhost/state.h"

namespace subhost {
namespace {

constexpr double kDegrees = 3.14159265358979323846 / 180.0;
constexpr int kDefaultLongSide = 1024;
constexpr double kFitMargin = 0.02;  // share of the design's range left around it by a fitted view

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

// The picture being drawn: rows top to bottom, r, g, b a pixel.
struct Canvas {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;

    std::uint8_t* at(int x, int y) { return rgb.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3; }
    void put(int x, int y, const Rgb& c) {
        std::uint8_t* p = at(x, y);
        p[0] = c[0], p[1] = c[1], p[2] = c[2];
    }
    void span(int y, int x0, int x1, const Rgb& c) {
        for (int x = x0; x < x1; ++x) put(x, y, c);
    }
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
    for (const auto& [pos, element] : elements::elementState().elements)
        for (const DPoint3d& p : elements::stroke(element.shape, 0)) points.push_back({p.x, p.y});
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

// Hidden picture pixels of an attachment from its clip boundary and masks; empty when none hides anything.
std::vector<std::uint8_t> clipCoverage(const DgnRaster& r, const Affine& toPicture, int width, int height) {
    std::vector<std::uint8_t> hidden;
    if (!r.clipBoundary && r.clipMasks.empty()) return hidden;
    const auto picturePolygon = [&](const raster::Polygon& poly) {
        std::vector<Pt> out;
        out.reserve(poly.size());
        for (const DPoint3d& p : poly) out.push_back(toPicture.apply({p.x, p.y}));
        return out;
    };
    const auto mark = [&](std::uint8_t value) {
        return [&hidden, width, value](int y, int x0, int x1) {
            std::fill(hidden.begin() + std::ptrdiff_t(y) * width + x0, hidden.begin() + std::ptrdiff_t(y) * width + x1,
                      value);
        };
    };
    hidden.assign(std::size_t(width) * std::size_t(height), r.clipBoundary ? 1 : 0);
    if (r.clipBoundary) fillSpans(picturePolygon(*r.clipBoundary), width, height, mark(0));
    for (const raster::Polygon& m : r.clipMasks) fillSpans(picturePolygon(m), width, height, mark(1));
    return hidden;
}

// Draws one attachment's pixels under the picture pixels it covers.
void drawRaster(Canvas& canvas, DgnRaster& r, const Affine& toPicture, std::vector<std::string>& notes) {
    const Affine fromDesign = designToRaster(r);
    const auto pictureToDesign = toPicture.inverse();
    const auto rasterToDesign = fromDesign.inverse();
    if (!pictureToDesign || !rasterToDesign) return;
    const Affine toRaster = fromDesign.after(*pictureToDesign);
    const Affine rasterToPicture = toPicture.after(*rasterToDesign);
    double W = r.file->info.width, H = r.file->info.height;
    std::vector<Pt> outline;
    bool inside = false;  // some pixel of the picture lies under the raster's outline
    for (Pt corner : {Pt{0, 0}, Pt{W, 0}, Pt{W, H}, Pt{0, H}}) outline.push_back(rasterToPicture.apply(corner));
    fillSpans(outline, canvas.width, canvas.height, [&](int, int, int) { inside = true; });
    if (!inside) return;  // off the picture: its pixels are not even decoded
    std::string error;
    if (!raster::ensureDecoded(*r.file, &error)) {
        notes.push_back("raster " + r.path + " not shown: " + error);
        return;
    }
    const imagefile::Image& image = *r.file->image;
    W = image.width, H = image.height;  // the pixels decide, should the header have said otherwise
    const std::vector<std::uint8_t> hidden = clipCoverage(r, toPicture, canvas.width, canvas.height);

    const Rgb pal0 = image.palette[0], pal1 = image.palette[1];
    const int foregroundBit = luminance(pal0) < luminance(pal1) ? 0 : 1;
    const Rgb fg{r.rendering.foreground[0], r.rendering.foreground[1], r.rendering.foreground[2]};
    const Rgb bg{r.rendering.background[0], r.rendering.background[1], r.rendering.background[2]};
    // Whether raster pixel (col, up) of a monochrome raster is ink.
    const auto inkAt = [&](double col, double up) {
        const std::uint8_t* row = image.pixels.data() + std::size_t(H - 1 - up) * image.stride;
        const std::size_t c = std::size_t(col);
        return ((row[c >> 3] >> (7 - (c & 7))) & 1) == foregroundBit;
    };
    // A picture smaller than the raster keeps thin monochrome lines: a picture pixel shows ink when any
    // raster pixel whose centre it holds is ink. Rasters that lie square to the picture test the pixels under it
    // row by row; turned ones test n x n points spread over it (n: raster pixels a picture pixel
    // spans, at most 16).
    const int n = std::max(1, int(within(std::ceil(std::max(std::hypot(toRaster.a, toRaster.d),
                                                            std::hypot(toRaster.b, toRaster.e))),
                                         16)));
    const bool square = std::fabs(toRaster.b) <= 1e-9 * std::fabs(toRaster.a) && std::fabs(toRaster.d) <= 1e-9 * std::fabs(toRaster.e);
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
                if (bitsHold(image.pixels.data() + std::size_t(H - 1 - up) * image.stride, std::size_t(c0), std::size_t(c1),
                             foregroundBit))
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
    fillSpans(outline, canvas.width, canvas.height, [&](int y, int x0, int x1) {
        for (int x = x0; x < x1; ++x) {
            if (!hidden.empty() && hidden[std::size_t(y) * std::size_t(canvas.width) + std::size_t(x)]) continue;
            const Pt at = toRaster.apply({x + 0.5, y + 0.5});
            const double col = std::floor(at.x), up = std::floor(at.y);
            if (!(col >= 0 && col < W && up >= 0 && up < H)) continue;
            const std::uint8_t* row = image.pixels.data() + std::size_t(H - 1 - up) * image.stride;
            const std::size_t c = std::size_t(col);
            switch (image.mode) {
            case imagefile::ColorMode::Mono: {
                const bool foreground = n == 1 ? inkAt(col, up) : inkUnder(x, y);
                if (foreground ? r.rendering.foregroundTransparent : r.rendering.backgroundTransparent) break;
                canvas.put(x, y, foreground ? fg : bg);
                break;
            }
            case imagefile::ColorMode::Palette4:
            case imagefile::ColorMode::Palette8:
                canvas.put(x, y, image.palette[row[c]]);
                break;
            case imagefile::ColorMode::Grey8:
                canvas.put(x, y, {row[c], row[c], row[c]});
                break;
            case imagefile::ColorMode::Rgb:
                canvas.put(x, y, {row[c * 3], row[c * 3 + 1], row[c * 3 + 2]});
                break;
            case imagefile::ColorMode::Rgba: {
                const std::uint8_t* s = row + c * 4;
                std::uint8_t* d = canvas.at(x, y);
                for (int k = 0; k < 3; ++k) d[k] = std::uint8_t((s[k] * s[3] + d[k] * (255 - s[3]) + 127) / 255);
                break;
            }
            case imagefile::ColorMode::Other:
                break;
            }
        }
    });
}

// ---- Elements ----

// Dash patterns of the line styles, on and off lengths in picture pixels; style 0 is solid.
const std::vector<double>& dashPattern(int style) {
    static const std::vector<double> patterns[8] = {
        {}, {2, 4}, {8, 4}, {16, 6}, {12, 4, 2, 4}, {4, 4}, {10, 4, 2, 4, 2, 4}, {16, 4, 6, 4}};
    return patterns[std::clamp(style, 0, 7)];
}

// Clips segment a-b to the rectangle [lo, hi]; the kept part as parameters t0 <= t1 of a + t (b - a), false when none.
bool clipSegment(Pt a, Pt b, Pt lo, Pt hi, double* t0, double* t1) {
    *t0 = 0, *t1 = 1;
    const double d[2] = {b.x - a.x, b.y - a.y};
    const double s[2] = {a.x, a.y};
    const double low[2] = {lo.x, lo.y}, high[2] = {hi.x, hi.y};
    for (int k = 0; k < 2; ++k) {
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

// A straight piece of line in picture coordinates, width pixels wide: single pixels stepped
// along its longer axis for width 1, else the pixels within width / 2 of it (round ends).
void drawPiece(Canvas& canvas, Pt a, Pt b, int width, const Rgb& colour) {
    if (width <= 1) {
        const double steps = std::ceil(std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y)));
        for (double i = 0; i <= steps; ++i) {
            const double t = steps > 0 ? i / steps : 0;
            const double x = std::floor(a.x + t * (b.x - a.x)), y = std::floor(a.y + t * (b.y - a.y));
            if (x >= 0 && y >= 0 && x < canvas.width && y < canvas.height) canvas.put(int(x), int(y), colour);
        }
        return;
    }
    const double r = width / 2.0;
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    const Pt dir = len > 0 ? Pt{(b.x - a.x) / len, (b.y - a.y) / len} : Pt{1, 0};
    const Pt normal{-dir.y, dir.x};
    // The outline of the swept disc: half a circle around each end (sines and cosines worked out once).
    constexpr int kArcSteps = 8;
    static const auto arc = [] {
        std::array<Pt, kArcSteps + 1> steps{};
        for (int i = 0; i <= kArcSteps; ++i)
            steps[std::size_t(i)] = {std::sin(3.14159265358979323846 * i / kArcSteps),
                                     std::cos(3.14159265358979323846 * i / kArcSteps)};
        return steps;
    }();
    std::vector<Pt> capsule;
    capsule.reserve(2 * arc.size());
    for (int end = 0; end < 2; ++end) {
        const Pt c = end == 0 ? b : a;
        const double sign = end == 0 ? r : -r;
        for (const Pt& s : arc)
            capsule.push_back({c.x + sign * (dir.x * s.x + normal.x * s.y), c.y + sign * (dir.y * s.x + normal.y * s.y)});
    }
    fillSpans(capsule, canvas.width, canvas.height, [&](int y, int x0, int x1) { canvas.span(y, x0, x1, colour); });
}

// Draws a polyline in picture coordinates with a weight and a line style; the dash pattern runs on across vertices.
void drawPolyline(Canvas& canvas, const std::vector<Pt>& points, int weight, int style, const Rgb& colour) {
    const int width = weight + 1;
    const std::vector<double>& pattern = dashPattern(style);
    double patternLength = 0;
    for (double v : pattern) patternLength += v;
    // Pieces outside the picture by more than the line's width cannot show.
    const Pt lo{-width - 1.0, -width - 1.0}, hi{canvas.width + width + 1.0, canvas.height + width + 1.0};
    double phase = 0;  // distance along the pattern where the next segment starts
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const Pt a = points[i], b = points[i + 1];
        const double len = std::hypot(b.x - a.x, b.y - a.y);
        double t0, t1;
        const bool shows = clipSegment(a, b, lo, hi, &t0, &t1);
        if (shows && pattern.empty()) {
            drawPiece(canvas, {a.x + t0 * (b.x - a.x), a.y + t0 * (b.y - a.y)},
                      {a.x + t1 * (b.x - a.x), a.y + t1 * (b.y - a.y)}, width, colour);
        } else if (shows && len > 0) {
            // Walk the visible part dash by dash, starting where the pattern stands there; distances are
            // counted from the visible start so that far-off segments keep their precision.
            const Pt start{a.x + t0 * (b.x - a.x), a.y + t0 * (b.y - a.y)};
            const Pt dir{(b.x - a.x) / len, (b.y - a.y) / len};
            const double visible = (t1 - t0) * len;
            double at = std::fmod(phase + std::fmod(t0 * len, patternLength), patternLength);
            std::size_t k = 0;
            while (k + 1 < pattern.size() && at >= pattern[k]) at -= pattern[k++];
            at = std::min(at, pattern[k]);
            for (double s = 0; s < visible;) {
                const double step = std::max(std::min(pattern[k] - at, visible - s), 0.0);
                if (k % 2 == 0 && step > 0)
                    drawPiece(canvas, {start.x + s * dir.x, start.y + s * dir.y},
                              {start.x + (s + step) * dir.x, start.y + (s + step) * dir.y}, width, colour);
                s += step;
                at = 0;
                k = (k + 1) % pattern.size();
            }
        }
        if (patternLength > 0 && std::isfinite(len)) phase = std::fmod(phase + len, patternLength);
        if (!std::isfinite(phase)) phase = 0;
    }
}

void drawElement(Canvas& canvas, const elements::Shape& shape, const Affine& toPicture, double pixelSize, bool fill) {
    const auto& table = host().design.colorTable;
    const auto colourOf = [&](int index) {
        const RGBColorDef& c = table[std::size_t(std::clamp(index, 0, 255))];
        return Rgb{c.red, c.green, c.blue};
    };
    std::vector<Pt> points;
    for (const DPoint3d& p : elements::stroke(shape, pixelSize / 2)) points.push_back(toPicture.apply({p.x, p.y}));
    const bool closed = shape.type == SHAPE_ELM || shape.type == ELLIPSE_ELM;
    if (fill && shape.filled && closed) {
        const Rgb fillColour = colourOf(shape.fillColor);
        fillSpans(points, canvas.width, canvas.height,
                  [&](int y, int x0, int x1) { canvas.span(y, x0, x1, fillColour); });
    }
    drawPolyline(canvas, points, shape.weight, shape.style, colourOf(shape.color));
}

}  // namespace

bool renderView(int view, int width, int height, ViewPicture* out, std::string* error) {
    std::string problem;
    const auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
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
    if (!viewFrame(v, &width, &height, &toPicture, &problem)) return fail("view " + std::to_string(view) + ": " + problem);

    Canvas canvas;
    canvas.width = width;
    canvas.height = height;
    canvas.rgb.assign(std::size_t(width) * std::size_t(height) * 3, 0);
    std::vector<std::string> notes;
    for (const auto& r : raster::rasterState().rasters)
        if (r->attached && r->file) drawRaster(canvas, *r, toPicture, notes);
    const double pixelSize = 1.0 / std::hypot(toPicture.a, toPicture.d);
    const bool fill = v ? v->value("fill", true) : true;
    for (const auto& [pos, element] : elements::elementState().elements)
        drawElement(canvas, element.shape, toPicture, pixelSize, fill);

    out->width = width;
    out->height = height;
    out->rgb = std::move(canvas.rgb);
    out->notes = std::move(notes);
    return true;
}

}  // namespace subhost
