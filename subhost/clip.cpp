// Clipping elements against the fence: whether an element lies inside, crosses or lies outside it, and
// cutting an element into the pieces inside and outside. The cutting runs in Clipper's integer plane: the
// coordinates are moved to the centre of the ranges involved and scaled to about 2^50, then back.
#include <polyclipping/clipper.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "host/mdlclip.h"
#include "host/mdlelement.h"
#include "subhost/elements.h"

using namespace subhost;
using namespace subhost::elements;

// A clip boundary: the fence's polygon (not closed) and its view.
struct ClipDescr {
    std::vector<DPoint3d> polygon;
    int view = 0;
};

namespace {

namespace cl = ClipperLib;

// Deepest nesting of cells a cut follows; how often an oversized piece may be halved.
constexpr int kMaxDepth = 64;
constexpr int kMaxHalvings = 16;

// Design coordinates to Clipper's integers and back.
struct Plane {
    double cx = 0, cy = 0, factor = 1, z = 0;

    cl::IntPoint to(const DPoint3d& p) const {
        return cl::IntPoint(cl::cInt(std::llround((p.x - cx) * factor)), cl::cInt(std::llround((p.y - cy) * factor)));
    }
    DPoint3d from(const cl::IntPoint& p) const {
        return DPoint3d{double(p.X) / factor + cx, double(p.Y) / factor + cy, z};
    }
    cl::Path path(const std::vector<DPoint3d>& points) const {
        cl::Path out;
        out.reserve(points.size());
        for (const DPoint3d& p : points) out.push_back(to(p));
        return out;
    }
    std::vector<DPoint3d> points(const cl::Path& path) const {
        std::vector<DPoint3d> out;
        out.reserve(path.size());
        for (const cl::IntPoint& p : path) out.push_back(from(p));
        return out;
    }
};

// A plane fitted to the fence and the stroked points; false when a coordinate is not finite or too large.
bool fitPlane(const std::vector<DPoint3d>& fence, const std::vector<std::vector<DPoint3d>>& strokes, Plane* plane) {
    double x0 = fence[0].x, x1 = x0, y0 = fence[0].y, y1 = y0;
    const auto grow = [&](const DPoint3d& p) {
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    };
    for (const DPoint3d& p : fence) grow(p);
    for (const auto& s : strokes)
        for (const DPoint3d& p : s) grow(p);
    const double half = std::max({(x1 - x0) / 2, (y1 - y0) / 2, 1e-9});
    if (!std::isfinite(half) || half > 1e200) return false;
    plane->cx = x0 / 2 + x1 / 2;
    plane->cy = y0 / 2 + y1 / 2;
    plane->factor = std::ldexp(1.0, 50) / half;
    return true;
}

// The symbology of element on a piece of the given type and points (closed pieces keep fill and pattern).
Element pieceOf(const Element& e, int type, std::vector<DPoint3d> points) {
    Element piece;
    piece.type = type;
    piece.points = std::move(points);
    piece.color = e.color, piece.weight = e.weight, piece.style = e.style, piece.level = e.level;
    piece.skip = e.skip;
    if (type == SHAPE_ELM || type == CELL_HEADER_ELM) {
        piece.filled = e.filled, piece.fillColor = e.fillColor, piece.hole = e.hole, piece.pattern = e.pattern;
    }
    return piece;
}

// Open pieces: lines of two points, line strings of at most MAX_VERTICES (longer ones in consecutive parts).
void addOpenPieces(const Element& e, const Plane& plane, const cl::Paths& paths, std::vector<Element>* out) {
    for (const cl::Path& path : paths) {
        const std::vector<DPoint3d> points = plane.points(path);
        if (points.size() < 2) continue;
        for (std::size_t first = 0; first + 1 < points.size(); first += MAX_VERTICES - 1) {
            const std::size_t last = std::min(points.size(), first + MAX_VERTICES);
            const int type = last - first == 2 ? LINE_ELM : LINE_STRING_ELM;
            out->push_back(pieceOf(e, type, {points.begin() + long(first), points.begin() + long(last)}));
        }
    }
}

std::vector<DPoint3d> closedPoints(const Plane& plane, const cl::Path& path) {
    std::vector<DPoint3d> points = plane.points(path);
    closeShape(points);
    return points;
}

bool fits(const cl::PolyNode& outer) {
    if (outer.Contour.size() >= std::size_t(MAX_VERTICES)) return false;
    for (const cl::PolyNode* hole : outer.Childs)
        if (hole->Contour.size() >= std::size_t(MAX_VERTICES)) return false;
    return true;
}

void addAreaPaths(const Element& e, const Plane& plane, const cl::Paths& paths, int halvings,
                  std::vector<Element>* out);

// An area of an outer contour and its holes, halved across its longer side until each contour fits.
void halve(const Element& e, const Plane& plane, const cl::PolyNode& outer, int halvings, std::vector<Element>* out) {
    cl::Paths area{outer.Contour};
    for (const cl::PolyNode* hole : outer.Childs) area.push_back(hole->Contour);
    const cl::IntRect box = [&] {
        cl::Clipper bounds;
        bounds.AddPaths(area, cl::ptSubject, true);
        return bounds.GetBounds();
    }();
    const bool wide = box.right - box.left >= box.bottom - box.top;
    const cl::cInt middle = wide ? box.left / 2 + box.right / 2 : box.top / 2 + box.bottom / 2;
    const cl::Path halves[2] = {
        wide ? cl::Path{{box.left, box.top}, {middle, box.top}, {middle, box.bottom}, {box.left, box.bottom}}
             : cl::Path{{box.left, box.top}, {box.right, box.top}, {box.right, middle}, {box.left, middle}},
        wide ? cl::Path{{middle, box.top}, {box.right, box.top}, {box.right, box.bottom}, {middle, box.bottom}}
             : cl::Path{{box.left, middle}, {box.right, middle}, {box.right, box.bottom}, {box.left, box.bottom}}};
    for (const cl::Path& half : halves) {
        cl::Clipper c;
        c.AddPaths(area, cl::ptSubject, true);
        c.AddPath(half, cl::ptClip, true);
        cl::Paths part;
        c.Execute(cl::ctIntersection, part, cl::pftEvenOdd, cl::pftNonZero);
        addAreaPaths(e, plane, part, halvings + 1, out);
    }
}

// The outer contours of the tree below node as pieces: a shape, or a grouped-hole cell of the solid shape
// and its hole shapes.
void addAreaNodes(const Element& e, const Plane& plane, const cl::PolyNode& node, int halvings,
                  std::vector<Element>* out) {
    for (const cl::PolyNode* outer : node.Childs) {
        if (!fits(*outer) && halvings < kMaxHalvings) {
            halve(e, plane, *outer, halvings, out);
        } else if (outer->Childs.empty()) {
            out->push_back(pieceOf(e, SHAPE_ELM, closedPoints(plane, outer->Contour)));
        } else {
            Element cell = pieceOf(e, CELL_HEADER_ELM, {});
            cell.name = e.type == CELL_HEADER_ELM ? e.name : std::string();
            cell.groupedHole = true;
            cell.filled = false;
            Element solid = pieceOf(e, SHAPE_ELM, closedPoints(plane, outer->Contour));
            solid.pattern.reset();
            solid.hole = false;
            cell.components.push_back(solid);
            for (const cl::PolyNode* hole : outer->Childs) {
                Element h = pieceOf(e, SHAPE_ELM, closedPoints(plane, hole->Contour));
                h.pattern.reset();
                h.filled = false;
                h.hole = true;
                cell.components.push_back(std::move(h));
            }
            cell.points = {cell.components.front().points.front()};
            out->push_back(std::move(cell));
        }
        // Islands inside the holes are areas of their own.
        for (const cl::PolyNode* hole : outer->Childs) addAreaNodes(e, plane, *hole, halvings, out);
    }
}

// Area pieces of paths (even-odd) in e's symbology.
void addAreaPaths(const Element& e, const Plane& plane, const cl::Paths& paths, int halvings,
                  std::vector<Element>* out) {
    cl::Clipper c;
    c.AddPaths(paths, cl::ptSubject, true);
    cl::PolyTree tree;
    c.Execute(cl::ctUnion, tree, cl::pftEvenOdd, cl::pftEvenOdd);
    addAreaNodes(e, plane, tree, halvings, out);
}

// Distance along path (in the clipping plane) of the path's point nearest to p.
double alongPath(const cl::Path& path, const cl::IntPoint& p) {
    double best = std::numeric_limits<double>::max(), at = 0.0, walked = 0.0;
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        const double ax = double(path[i].X), ay = double(path[i].Y);
        const double dx = double(path[i + 1].X) - ax, dy = double(path[i + 1].Y) - ay;
        const double length = std::hypot(dx, dy);
        double t = length > 0 ? ((double(p.X) - ax) * dx + (double(p.Y) - ay) * dy) / (length * length) : 0.0;
        t = std::clamp(t, 0.0, 1.0);
        const double distance = std::hypot(ax + t * dx - double(p.X), ay + t * dy - double(p.Y));
        if (distance < best) best = distance, at = walked + t * length;
        walked += length;
    }
    return at;
}

// Open pieces as they lie along subject: each in the subject's direction, in the subject's order (the
// clipper gives them in either direction and any order, and a dashed pen must start where the element does).
void orderAlong(const cl::Path& subject, cl::Paths& pieces) {
    std::vector<std::pair<double, cl::Path>> placed;
    for (cl::Path& piece : pieces) {
        if (piece.size() < 2) continue;
        double from = alongPath(subject, piece.front()), to = alongPath(subject, piece.back());
        if (from > to) {
            std::reverse(piece.begin(), piece.end());
            std::swap(from, to);
        }
        placed.emplace_back(from, std::move(piece));
    }
    std::stable_sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    pieces.clear();
    for (auto& [at, piece] : placed) pieces.push_back(std::move(piece));
}

// Pieces of one side of a cut: open subject paths give open pieces, closed ones area pieces.
void cutSide(const Element& e, const Plane& plane, const cl::Paths& subject, bool closed, const cl::Path& fence,
             cl::ClipType side, std::vector<Element>* out) {
    cl::Clipper c;
    c.AddPaths(subject, cl::ptSubject, closed);
    c.AddPath(fence, cl::ptClip, true);
    cl::PolyTree tree;
    c.Execute(side, tree, cl::pftEvenOdd, cl::pftNonZero);
    if (!closed) {
        cl::Paths open;
        cl::OpenPathsFromPolyTree(tree, open);
        if (subject.size() == 1) orderAlong(subject.front(), open);
        addOpenPieces(e, plane, open, out);
        return;
    }
    addAreaNodes(e, plane, tree, 0, out);
}

// Inside and outside pieces of a cut (either may be null: not wanted).
struct Sides {
    std::vector<Element>* inside;
    std::vector<Element>* outside;
};

void cutSubject(const Element& e, const Plane& plane, const cl::Paths& subject, bool closed, const cl::Path& fence,
                const Sides& sides) {
    if (sides.inside) cutSide(e, plane, subject, closed, fence, cl::ctIntersection, sides.inside);
    if (sides.outside) cutSide(e, plane, subject, closed, fence, cl::ctDifference, sides.outside);
}

// The area of a grouped-hole cell: its first component less the others.
cl::Paths groupedHoleArea(const Element& cell, const Plane& plane) {
    cl::Clipper c;
    for (std::size_t i = 0; i < cell.components.size(); ++i)
        c.AddPath(plane.path(stroke(cell.components[i], 0.0)), i == 0 ? cl::ptSubject : cl::ptClip, true);
    cl::Paths area;
    c.Execute(cl::ctDifference, area, cl::pftEvenOdd, cl::pftEvenOdd);
    return area;
}

// A cell of the pieces made from cell's components (its name and symbology); nothing for no pieces.
void wrapCell(const Element& cell, std::vector<Element> pieces, std::vector<Element>* out) {
    if (!out || pieces.empty()) return;
    if (cell.groupedHole && pieces.size() == 1 && pieces[0].type == CELL_HEADER_ELM) {
        pieces[0].name = cell.name;
        out->push_back(std::move(pieces[0]));
        return;
    }
    Element wrapped = cell;
    wrapped.components = std::move(pieces);
    wrapped.groupedHole = false;
    wrapped.pattern.reset();
    if (!wrapped.components.front().points.empty()) wrapped.points = {wrapped.components.front().points.front()};
    out->push_back(std::move(wrapped));
}

// Every stroked point list of what element shows as (for fitting the plane).
void strokesOf(const Element& element, const Definitions& definitions, std::vector<std::vector<DPoint3d>>* out) {
    std::vector<Element> parts;
    displayGeometry(element, definitions, &parts, nullptr);
    for (const Element& p : parts) out->push_back(stroke(p, 0.0));
}

void cut(const Element& e, const Definitions& definitions, const Plane& plane, const cl::Path& fence, int depth,
         const Sides& sides);

// A simple element cut: stroked; arcs and open kinds as open paths, shapes and ellipses as areas.
void cutSimple(const Element& e, const Plane& plane, const cl::Path& fence, const Sides& sides) {
    const std::vector<DPoint3d> points = stroke(e, 0.0);
    if (points.size() < 2) return;
    const bool closed = isClosed(e);
    Element symbology = e;
    if (!closed) symbology.filled = false, symbology.pattern.reset();
    cutSubject(symbology, plane, {plane.path(points)}, closed, fence, sides);
}

void cutCell(const Element& cell, const Definitions& definitions, const Plane& plane, const cl::Path& fence, int depth,
             const Sides& sides) {
    std::vector<Element> inside, outside;
    const Sides own{sides.inside ? &inside : nullptr, sides.outside ? &outside : nullptr};
    if (cell.groupedHole && cell.components.size() > 1) {
        Element area = cell.components.front();
        area.pattern = cell.pattern;
        area.type = CELL_HEADER_ELM;
        area.name = cell.name;
        cutSubject(area, plane, groupedHoleArea(cell, plane), true, fence, own);
    } else {
        for (const Element& c : cell.components) cut(c, definitions, plane, fence, depth + 1, own);
    }
    wrapCell(cell, std::move(inside), sides.inside);
    wrapCell(cell, std::move(outside), sides.outside);
}

void cut(const Element& e, const Definitions& definitions, const Plane& plane, const cl::Path& fence, int depth,
         const Sides& sides) {
    if (depth > kMaxDepth || e.type == RASTER_FRAME_ELM) return;
    if (e.type == CELL_HEADER_ELM) return cutCell(e, definitions, plane, fence, depth, sides);
    if (isSimple(e.type)) return cutSimple(e, plane, fence, sides);
    // Text, text nodes, dimensions, shared cells and multi-lines: what they show as.
    std::vector<Element> parts;
    displayGeometry(e, definitions, &parts, nullptr);
    for (const Element& p : parts) cutSimple(p, plane, fence, sides);
}

// ---- Inside, outside or across ----

// What parts of an element were found: strictly inside, strictly outside, on the fence's edge.
struct Where {
    bool inside = false, outside = false, edge = false;
};

// True when p lies on an edge of polygon (within the tolerance insidePolygon gives the edge).
bool onEdge(const std::vector<DPoint3d>& polygon, const DPoint3d& p) {
    for (std::size_t i = 0, n = polygon.size(); i < n; ++i) {
        const DPoint3d& a = polygon[i];
        const DPoint3d& b = polygon[(i + 1) % n];
        const double c = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
        const double scale = std::max({std::fabs(b.x - a.x), std::fabs(b.y - a.y), 1.0});
        if (std::fabs(c) <= 1e-9 * scale * scale && p.x >= std::min(a.x, b.x) - 1e-9 &&
            p.x <= std::max(a.x, b.x) + 1e-9 && p.y >= std::min(a.y, b.y) - 1e-9 && p.y <= std::max(a.y, b.y) + 1e-9)
            return true;
    }
    return false;
}

double cross(const DPoint3d& o, const DPoint3d& a, const DPoint3d& b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Where the segment a-b lies against polygon: it is split where it meets the polygon's edges and the
// middle of every part (and both ends) tested, so that crossings through corners count too.
void classifySegment(const DPoint3d& a, const DPoint3d& b, const std::vector<DPoint3d>& polygon, Where* where) {
    std::vector<double> cuts = {0.0, 1.0};
    const double dx = b.x - a.x, dy = b.y - a.y;
    for (std::size_t i = 0, n = polygon.size(); i < n; ++i) {
        const DPoint3d& p = polygon[i];
        const DPoint3d& q = polygon[(i + 1) % n];
        const double ex = q.x - p.x, ey = q.y - p.y;
        const double denom = dx * ey - dy * ex;
        if (denom != 0) {
            const double t = ((p.x - a.x) * ey - (p.y - a.y) * ex) / denom;
            const double u = ((p.x - a.x) * dy - (p.y - a.y) * dx) / denom;
            if (t > 0 && t < 1 && u >= 0 && u <= 1) cuts.push_back(t);
        } else if (dx != 0 || dy != 0) {
            // Parallel: the edge's ends where they lie on the segment's line.
            const double len = dx * dx + dy * dy;
            for (const DPoint3d* v : {&p, &q}) {
                const double t = ((v->x - a.x) * dx + (v->y - a.y) * dy) / len;
                if (t > 0 && t < 1 && std::fabs(cross(a, b, *v)) <= 1e-12 * len) cuts.push_back(t);
            }
        }
    }
    std::sort(cuts.begin(), cuts.end());
    const auto test = [&](double t) {
        const DPoint3d p{a.x + dx * t, a.y + dy * t, a.z};
        (onEdge(polygon, p) ? where->edge : insidePolygon(polygon, p) ? where->inside : where->outside) = true;
    };
    test(0.0);
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
        if (cuts[i + 1] > cuts[i]) test((cuts[i] + cuts[i + 1]) / 2);
    test(1.0);
}

Where classify(const Element& element, const Definitions& definitions, const std::vector<DPoint3d>& polygon) {
    Where where;
    std::vector<Element> parts;
    if (element.type != RASTER_FRAME_ELM) displayGeometry(element, definitions, &parts, nullptr);
    for (const Element& p : parts) {
        const std::vector<DPoint3d> points = stroke(p, 0.0);
        Where own;
        if (points.size() == 1) classifySegment(points[0], points[0], polygon, &own);
        for (std::size_t i = 0; i + 1 < points.size(); ++i) classifySegment(points[i], points[i + 1], polygon, &own);
        // A closed element round the whole fence has its outline outside, yet covers the fence.
        if (isClosed(p) && own.outside && !own.inside && points.size() > 2 && insidePolygon(points, polygon[0]))
            own.inside = true;
        where.inside |= own.inside;
        where.outside |= own.outside;
        where.edge |= own.edge;
    }
    return where;
}

// Where an element whose display range is r lies, when its range alone tells: wholly inside a convex
// polygon (every corner of the range strictly inside, off the edges), or clear of the polygon's own range.
// False when only the element's geometry can tell.
bool classifyByRange(const DRange3d& r, const std::vector<DPoint3d>& polygon, Where* where) {
    if (r.low.x > r.high.x) return false;  // shows nothing: classify says so
    DRange3d box{{polygon[0].x, polygon[0].y, 0}, {polygon[0].x, polygon[0].y, 0}};
    for (const DPoint3d& p : polygon) {
        box.low.x = std::min(box.low.x, p.x), box.low.y = std::min(box.low.y, p.y);
        box.high.x = std::max(box.high.x, p.x), box.high.y = std::max(box.high.y, p.y);
    }
    const double scale = std::max({box.high.x - box.low.x, box.high.y - box.low.y, 1.0});
    const double slack = 1e-6 * scale;
    if (r.high.x < box.low.x - slack || r.low.x > box.high.x + slack || r.high.y < box.low.y - slack ||
        r.low.y > box.high.y + slack) {
        where->outside = true;
        return true;
    }
    // Inside a convex polygon: each corner on the inner side of every edge, by more than the edge
    // tolerance, the polygon's turning sense taken from its area.
    double area = 0;
    const std::size_t n = polygon.size();
    for (std::size_t i = 0; i < n; ++i) area += cross(polygon[0], polygon[i], polygon[(i + 1) % n]);
    if (area == 0) return false;
    const double sense = area > 0 ? 1.0 : -1.0;
    const DPoint3d corners[4] = {
        {r.low.x, r.low.y, 0}, {r.high.x, r.low.y, 0}, {r.high.x, r.high.y, 0}, {r.low.x, r.high.y, 0}};
    // Convex and simple: no reflex corner, and one turn in all (a star turns twice).
    double turned = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const DPoint3d& a = polygon[i];
        const DPoint3d& b = polygon[(i + 1) % n];
        const DPoint3d& c = polygon[(i + 2) % n];
        if (sense * cross(a, b, c) < 0) return false;
        const double turn = std::atan2(cross(a, b, c), (b.x - a.x) * (c.x - b.x) + (b.y - a.y) * (c.y - b.y));
        turned += std::fabs(turn);
    }
    if (turned > 2 * M_PI + 1e-6) return false;
    for (std::size_t i = 0; i < n; ++i) {
        const DPoint3d& a = polygon[i];
        const DPoint3d& b = polygon[(i + 1) % n];
        const double length = std::hypot(b.x - a.x, b.y - a.y);
        if (length == 0) continue;
        for (const DPoint3d& c : corners)
            if (sense * cross(a, b, c) <= slack * length) return false;
    }
    where->inside = true;
    return true;
}

}  // namespace

extern "C" {

int mdlClip_getFence(ClipDescr** clip) {
    if (!clip) return ERROR;
    *clip = nullptr;
    const ElementState& st = elementState();
    if (!st.fence || st.fence->size() < 3) return ERROR;
    auto made = std::make_unique<ClipDescr>();
    made->polygon = *st.fence;
    made->view = st.fenceView;
    *clip = made.release();
    return SUCCESS;
}

void mdlClip_free(ClipDescr** clip) {
    if (!clip) return;
    std::unique_ptr<ClipDescr> owned(*clip);
    *clip = nullptr;
}

bool mdlClip_isElemInside(bool* overlap, const MSElementDescr* element, const ClipDescr* clip, int /*view*/,
                          int includeOverlaps) {
    if (overlap) *overlap = false;
    if (!element || !clip || clip->polygon.size() < 3) return false;
    Where where;
    if (element->type == RASTER_FRAME_ELM || !classifyByRange(descriptorRange(*element), clip->polygon, &where))
        where = classify(*element, definitionsOf(nullptr), clip->polygon);
    // Parts on the edge count as inside, as they do when the fence is processed.
    const bool across = where.inside && where.outside;
    if (overlap) *overlap = across;
    return across ? includeOverlaps != 0 : !where.outside && (where.inside || where.edge);
}

int mdlClip_element(MSElementDescr** inside, MSElementDescr** outside, const MSElementDescr* element,
                    DgnModelRefP model, const ClipDescr* clip, int /*view*/) {
    if (inside) *inside = nullptr;
    if (outside) *outside = nullptr;
    if (!element || !clip || clip->polygon.size() < 3 || element->type == RASTER_FRAME_ELM) return ERROR;
    const Definitions& definitions = definitionsOf(model);
    std::vector<std::vector<DPoint3d>> strokes;
    strokesOf(*element, definitions, &strokes);
    Plane plane;
    if (!fitPlane(clip->polygon, strokes, &plane)) return ERROR;
    for (const auto& s : strokes)
        if (!s.empty()) {
            plane.z = s.front().z;
            break;
        }
    std::vector<Element> in, out;
    try {
        cut(*element, definitions, plane, plane.path(clip->polygon), 0,
            Sides{inside ? &in : nullptr, outside ? &out : nullptr});
    } catch (const cl::clipperException&) {
        return ERROR;
    }
    if (inside) *inside = chainOf(std::move(in)).release();
    if (outside) *outside = chainOf(std::move(out)).release();
    return SUCCESS;
}

}  // extern "C"
